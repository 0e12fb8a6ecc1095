#include "platform/linux/x11/connection.h"

#include "platform/linux/common/socket.h"
#include "platform/linux/x11/authority.h"
#include "platform/linux/x11/connection_setup.h"
#include "platform/linux/x11/xcb_xkb.h"

#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <utility>

namespace focusprobe::platform::desktop {
namespace {

using std::chrono::microseconds;

// No single step of the connection may take longer than the whole budget.
constexpr microseconds stepCap = commandBudget;
// Properties are read up to this many 4-byte units: 16 KiB of text, 4,096 windows.
constexpr std::uint32_t propertyUnits = 4096;

constexpr std::array<const char*, static_cast<std::size_t>(KnownAtom::count)> atomNames{
    "_NET_ACTIVE_WINDOW", "_NET_WM_PID", "_GTK_APPLICATION_ID", "_NET_CLIENT_LIST", "AT_SPI_BUS", "_NET_WM_NAME"};

Socket connectLocal(const DisplayName& display, const Deadline& deadline)
{
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(display.number);
    // The abstract name first, as the X libraries do, then the socket file.
    for (const bool abstract : {true, false}) {
        if (Socket socket = connectLocalSocket(path, abstract, deadline); socket.get() >= 0) {
            return socket;
        }
    }
    return {};
}

Socket connectTcp(const DisplayName& display, const Deadline& deadline)
{
    constexpr int firstPort = 6000;
    addrinfo hints{};
    hints.ai_family = display.protocol == "inet" ? AF_INET : display.protocol == "inet6" ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string host = display.host.empty() ? "localhost" : display.host;
    if (::getaddrinfo(host.c_str(), std::to_string(firstPort + display.number).c_str(), &hints, &found) != 0) {
        return {};
    }
    Socket connected;
    for (const addrinfo* at = found; at != nullptr && connected.get() < 0; at = at->ai_next) {
        Socket socket(::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol));
        if (socket.get() >= 0 && connectBefore(socket.get(), at->ai_addr, at->ai_addrlen, deadline)) {
            const int on = 1;
            ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            connected = std::move(socket);
        }
    }
    ::freeaddrinfo(found);
    return connected;
}

} // namespace

void ReplyFree::operator()(void* reply) const
{
    std::free(reply); // NOLINT(cppcoreguidelines-no-malloc): XCB allocates replies with malloc
}

std::unique_ptr<XConnection> XConnection::open(const Deadline& deadline)
{
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        return nullptr;
    }
    const auto display = parseDisplayName(name);
    if (!display) {
        return nullptr;
    }
    Socket socket = isLocalDisplay(*display) ? connectLocal(*display, deadline) : connectTcp(*display, deadline);
    if (socket.get() < 0) {
        return nullptr;
    }
    const auto authority = findAuthority(socket.get(), *display);
    xcb_auth_info_t auth{};
    if (authority) {
        auth.namelen = authority->name_length;
        auth.name = authority->name;
        auth.datalen = authority->data_length;
        auth.data = authority->data;
    }
    xcb_connection_t* connection = nullptr;
    {
        const SilencedStandardError silenced;
        const SetupAlarm alarm(socket.get(), deadline);
        // XCB owns the descriptor from here on, failed setups included.
        connection = xcb_connect_to_fd(socket.release(), authority ? &auth : nullptr);
    }
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int skip = display->screen; skip > 0 && screens.rem > 0; --skip) {
        xcb_screen_next(&screens);
    }
    if (screens.rem <= 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<XConnection>(new XConnection(connection, screens.data->root, deadline));
}

XConnection::XConnection(xcb_connection_t* connection, XWindowId root, const Deadline& deadline)
    : connection_(connection), root_(root), deadline_(deadline)
{
}

XConnection::~XConnection()
{
    xcb_disconnect(connection_);
}

int XConnection::fd() const
{
    return xcb_get_file_descriptor(connection_);
}

bool XConnection::broken() const
{
    return xcb_connection_has_error(connection_) != 0;
}

bool XConnection::await(unsigned sequence, Reply<void>& reply)
{
    xcb_flush(connection_);
    for (;;) {
        void* answer = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(connection_, sequence, &answer, &error) != 0) {
            const Reply<void> errorReply(error);
            reply.reset(answer);
            dropEvents();
            return error == nullptr && !broken();
        }
        const auto timeout = stepTimeoutNow(deadline_, stepCap);
        if (timeout == microseconds::zero() || broken()) {
            xcb_discard_reply(connection_, sequence);
            return false;
        }
        pollfd ready{fd(), POLLIN, 0};
        ::poll(&ready, 1, pollMilliseconds(timeout));
    }
}

Reply<void> XConnection::waitForReply(unsigned sequence)
{
    Reply<void> reply;
    await(sequence, reply);
    return reply;
}

bool XConnection::waitForCompletion(unsigned sequence)
{
    Reply<void> reply;
    return await(sequence, reply);
}

bool XConnection::sync()
{
    return wait<xcb_get_input_focus_reply_t>(xcb_get_input_focus(connection_)) != nullptr;
}

void XConnection::dropEvents()
{
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
        ReplyFree()(event);
    }
}

XAtomId XConnection::atom(KnownAtom which)
{
    if (!atoms_) {
        std::array<xcb_intern_atom_cookie_t, atomNames.size()> cookies{};
        for (std::size_t i = 0; i < atomNames.size(); ++i) {
            cookies[i]
                = xcb_intern_atom(connection_, 1, static_cast<std::uint16_t>(std::strlen(atomNames[i])), atomNames[i]);
        }
        atoms_.emplace();
        for (std::size_t i = 0; i < atomNames.size(); ++i) {
            const auto reply = wait<xcb_intern_atom_reply_t>(cookies[i]);
            (*atoms_)[i] = reply ? reply->atom : XAtomId{XCB_ATOM_NONE};
        }
    }
    return (*atoms_)[static_cast<std::size_t>(which)];
}

const XExtensions& XConnection::extensions()
{
    if (extensions_) {
        return *extensions_;
    }
    extensions_.emplace();
    for (xcb_extension_t* extension : {&xcb_xkb_id, &xcb_input_id, &xcb_test_id}) {
        xcb_prefetch_extension_data(connection_, extension);
    }
    // Once the server has answered a later request, the answers above are in and reading them
    // cannot block; before that it could, without limit.
    if (!sync()) {
        return *extensions_;
    }
    const auto* xkb = xcb_get_extension_data(connection_, &xcb_xkb_id);
    const auto* xinput = xcb_get_extension_data(connection_, &xcb_input_id);
    const auto* xtest = xcb_get_extension_data(connection_, &xcb_test_id);
    extensions_->xkb = xkb != nullptr && xkb->present != 0;
    extensions_->xkbFirstEvent = xkb != nullptr ? xkb->first_event : 0;
    extensions_->xinput = xinput != nullptr && xinput->present != 0;
    extensions_->xinputOpcode = xinput != nullptr ? xinput->major_opcode : 0;
    extensions_->xtest = xtest != nullptr && xtest->present != 0;
    return *extensions_;
}

unsigned XConnection::requestProperty(XWindowId window, XAtomId property, XAtomId type)
{
    return xcb_get_property(connection_, 0, window, property, type, 0, propertyUnits).sequence;
}

std::optional<PropertyValue> XConnection::property(unsigned sequence)
{
    const auto reply = wait<xcb_get_property_reply_t>(xcb_get_property_cookie_t{sequence});
    if (!reply || reply->type == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    PropertyValue value;
    value.type = reply->type;
    value.format = reply->format;
    value.cut = reply->bytes_after != 0;
    const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
    // The value's length as the reply's own length field bounds it, whatever the header claims.
    const std::size_t available = replyBytes(reply.get()).size() - sizeof(xcb_get_property_reply_t);
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    value.bytes.assign(data, std::min(length, available));
    return value;
}

void XConnection::discard(unsigned sequence)
{
    xcb_discard_reply(connection_, sequence);
}

std::span<const std::byte> replyBytes(const void* reply)
{
    // Every reply has 32 bytes before the ones its length field counts.
    constexpr std::size_t headerBytes = 32;
    const auto* header = static_cast<const xcb_generic_reply_t*>(reply);
    return {static_cast<const std::byte*>(reply), headerBytes + std::size_t{header->length} * 4};
}

std::optional<PropertyValue> readProperty(XConnection& connection, XWindowId window, XAtomId property, XAtomId type)
{
    if (property == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    return connection.property(connection.requestProperty(window, property, type));
}

bool hasInputExtensions(XConnection& connection)
{
    const XExtensions& extensions = connection.extensions();
    if (!extensions.xtest || !extensions.xinput) {
        return false;
    }
    const auto version
        = connection.wait<xcb_input_xi_query_version_reply_t>(xcb_input_xi_query_version(connection.get(), 2, 0));
    return version && version->major_version >= 2;
}

} // namespace focusprobe::platform::desktop
