#include "platform/linux/x11/connection.h"
#include "platform/linux/x11/xcb_xkb.h"

#include <X11/Xauth.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace focusprobe::platform::desktop {
namespace {

using std::chrono::microseconds;

// No single step of the connection may take longer than the whole budget.
constexpr microseconds stepCap = commandBudget;
// A local socket whose listen queue is full refuses at once; it is tried again this often.
constexpr std::chrono::milliseconds fullQueueRetry{10};
// Properties are read up to this many 4-byte units: 16 KiB of text, 4,096 windows.
constexpr std::uint32_t propertyUnits = 4096;
constexpr std::uint16_t familyLocal = 256; // FamilyLocal of Xauth
constexpr std::uint16_t familyInternet = 0;
constexpr std::uint16_t familyInternet6 = 6;

constexpr std::array<const char*, static_cast<std::size_t>(KnownAtom::count)> atomNames{
    "_NET_ACTIVE_WINDOW", "_NET_WM_PID", "_GTK_APPLICATION_ID", "_NET_CLIENT_LIST", "AT_SPI_BUS"};

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) { }
    ~Socket()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) { }
    Socket& operator=(Socket&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    [[nodiscard]] int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

bool waitWritable(int fd, const Deadline& deadline)
{
    for (;;) {
        const auto timeout = stepTimeoutNow(deadline, stepCap);
        if (timeout == microseconds::zero()) {
            return false;
        }
        pollfd ready{fd, POLLOUT, 0};
        const int got = ::poll(&ready, 1, pollMilliseconds(timeout));
        if (got > 0) {
            int error = 0;
            socklen_t length = sizeof error;
            return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        if (got < 0 && errno != EINTR) {
            return false;
        }
    }
}

// A connect that gives up at the deadline. The socket is non-blocking from here on; XCB wants it
// so anyway.
bool connectBefore(int fd, const sockaddr* address, socklen_t length, const Deadline& deadline)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    for (;;) {
        if (::connect(fd, address, length) == 0) {
            return true;
        }
        if (errno == EINPROGRESS) {
            return waitWritable(fd, deadline);
        }
        if (errno != EAGAIN && errno != EINTR) {
            return false;
        }
        // A full listen queue: a server that accepts nobody. Try again while the budget lasts.
        const auto timeout = stepTimeoutNow(deadline, fullQueueRetry);
        if (timeout == microseconds::zero()) {
            return false;
        }
        std::this_thread::sleep_for(timeout);
    }
}

Socket connectLocal(const DisplayName& display, const Deadline& deadline)
{
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(display.number);
    // The abstract name first, as the X libraries do, then the socket file.
    for (const bool abstract : {true, false}) {
        Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (socket.get() < 0) {
            return {};
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::size_t offset = abstract ? 1 : 0;
        if (path.size() + offset >= sizeof address.sun_path) {
            return {};
        }
        std::memcpy(address.sun_path + offset, path.data(), path.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
        if (connectBefore(socket.get(), reinterpret_cast<const sockaddr*>(&address), length, deadline)) {
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

struct AuthDeleter {
    void operator()(Xauth* auth) const { XauDisposeAuth(auth); }
};

// The cookie the user's authority file holds for this display, looked up as the X libraries do:
// by this host's name for a local or loopback peer, by the peer's address otherwise.
std::unique_ptr<Xauth, AuthDeleter> findAuthority(int fd, const DisplayName& display)
{
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        return nullptr;
    }
    std::uint16_t family = familyLocal;
    std::string address;
    if (peer.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(peer);
        if (ntohl(in.sin_addr.s_addr) >> 24U != IN_LOOPBACKNET) {
            family = familyInternet;
            address.assign(reinterpret_cast<const char*>(&in.sin_addr), sizeof in.sin_addr);
        }
    } else if (peer.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(peer);
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            const auto* v4 = reinterpret_cast<const char*>(&in6.sin6_addr) + 12;
            if (static_cast<unsigned char>(v4[0]) != IN_LOOPBACKNET) {
                family = familyInternet;
                address.assign(v4, 4);
            }
        } else if (!IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr)) {
            family = familyInternet6;
            address.assign(reinterpret_cast<const char*>(&in6.sin6_addr), sizeof in6.sin6_addr);
        }
    }
    if (family == familyLocal) {
        std::array<char, 256> host{};
        if (::gethostname(host.data(), host.size() - 1) != 0) {
            return nullptr;
        }
        address = host.data();
    }
    const std::string number = std::to_string(display.number);
    std::array<char*, 1> names{const_cast<char*>("MIT-MAGIC-COOKIE-1")};
    std::array<int, 1> nameLengths{static_cast<int>(std::strlen(names[0]))};
    return std::unique_ptr<Xauth, AuthDeleter>(XauGetBestAuthByAddr(family, static_cast<unsigned short>(address.size()),
        address.data(), static_cast<unsigned short>(number.size()), number.data(), static_cast<int>(names.size()),
        names.data(), nameLengths.data()));
}

// The socket whose setup the alarm cuts short. Read in the signal handler, hence a lock-free atomic.
std::atomic<int> socketInSetup{-1};

void cutSetupShort(int /*signal*/)
{
    if (const int fd = socketInSetup.load(); fd >= 0) {
        ::shutdown(fd, SHUT_RDWR); // async-signal-safe
    }
}

// XCB's connection setup waits for the server with no limit. Should the deadline come first, a
// one-shot alarm shuts the socket down under it, and the setup fails instead of waiting for ever.
// The alarm is unblocked for the setup, whatever mask the process was started with; the handler
// stays installed afterwards, so an alarm that fires just as the setup ends does no harm.
class SetupAlarm {
public:
    SetupAlarm(int fd, const Deadline& deadline)
    {
        struct sigaction action { };
        action.sa_handler = cutSetupShort;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGALRM, &action, nullptr);
        socketInSetup.store(fd);
        sigset_t alarm;
        ::sigemptyset(&alarm);
        ::sigaddset(&alarm, SIGALRM);
        ::sigprocmask(SIG_UNBLOCK, &alarm, &savedMask_);
        // A whole budget already spent still fires, at once.
        const auto left = std::max(remaining(deadline, DeadlineClock::now()), microseconds(1));
        itimerval timer{};
        timer.it_value.tv_sec = static_cast<time_t>(left.count() / 1'000'000);
        timer.it_value.tv_usec = static_cast<suseconds_t>(left.count() % 1'000'000);
        ::setitimer(ITIMER_REAL, &timer, nullptr);
    }
    ~SetupAlarm()
    {
        const itimerval off{};
        ::setitimer(ITIMER_REAL, &off, nullptr);
        socketInSetup.store(-1);
        ::sigprocmask(SIG_SETMASK, &savedMask_, nullptr);
    }
    SetupAlarm(const SetupAlarm&) = delete;
    SetupAlarm& operator=(const SetupAlarm&) = delete;

private:
    sigset_t savedMask_{};
};

// XCB writes the server's reason for refusing a connection (a wrong cookie, say) to standard
// error. Nothing of this program may go there: for the setup, standard error is /dev/null.
class SilencedStandardError {
public:
    SilencedStandardError() : saved_(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1))
    {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
    }
    ~SilencedStandardError()
    {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
        }
    }
    SilencedStandardError(const SilencedStandardError&) = delete;
    SilencedStandardError& operator=(const SilencedStandardError&) = delete;

private:
    int saved_;
};

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

std::optional<Keymap> readKeymap(XConnection& connection)
{
    if (!connection.extensions().xkb) {
        return std::nullopt;
    }
    xcb_connection_t* c = connection.get();
    const auto use = xcb_xkb_use_extension(c, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION);
    const auto map = xcb_xkb_get_map(
        c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_MAP_PART_KEY_SYMS, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const auto names = xcb_xkb_get_names(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_NAME_DETAIL_KEY_NAMES);
    const auto used = connection.wait<xcb_xkb_use_extension_reply_t>(use);
    const auto mapReply = connection.wait<xcb_xkb_get_map_reply_t>(map);
    const auto namesReply = connection.wait<xcb_xkb_get_names_reply_t>(names);
    Keymap keymap;
    if (!used || used->supported == 0 || !mapReply || !namesReply || !readKeySymbols(replyBytes(mapReply.get()), keymap)
        || !readKeyNames(replyBytes(namesReply.get()), keymap)) {
        return std::nullopt;
    }
    return keymap;
}

std::optional<XkbState> readXkbState(XConnection& connection)
{
    if (!connection.extensions().xkb) {
        return std::nullopt;
    }
    xcb_connection_t* c = connection.get();
    // Every XKB request needs the extension switched on first; doing it again costs nothing.
    const auto use = xcb_xkb_use_extension(c, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION);
    const auto state = xcb_xkb_get_state(c, XCB_XKB_ID_USE_CORE_KBD);
    const auto used = connection.wait<xcb_xkb_use_extension_reply_t>(use);
    const auto reply = connection.wait<xcb_xkb_get_state_reply_t>(state);
    if (!used || used->supported == 0 || !reply) {
        return std::nullopt;
    }
    return XkbState{reply->group, reply->lockedMods};
}

} // namespace focusprobe::platform::desktop
