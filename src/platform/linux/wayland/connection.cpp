#include "platform/linux/wayland/connection.h"

#include "platform/linux/common/socket.h"
#include "platform/linux/wayland/protocols.h"
#include "platform/linux/wayland/toplevel_handle.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

namespace focusprobe::platform::wayland {
namespace {

// A keymap is tens of kilobytes; anything past this is not one.
constexpr std::uint32_t keymapMaxBytes = 4U << 20U;

void ignoreKeyboardEnter(
    void* /*data*/, wl_keyboard* /*keyboard*/, std::uint32_t /*serial*/, wl_surface* /*surface*/, wl_array* /*keys*/)
{
}
void ignoreKeyboardLeave(void* /*data*/, wl_keyboard* /*keyboard*/, std::uint32_t /*serial*/, wl_surface* /*surface*/)
{
}
void ignoreKeyboardKey(void* /*data*/, wl_keyboard* /*keyboard*/, std::uint32_t /*serial*/, std::uint32_t /*time*/,
    std::uint32_t /*key*/, std::uint32_t /*state*/)
{
}
void ignoreKeyboardModifiers(void* /*data*/, wl_keyboard* /*keyboard*/, std::uint32_t /*serial*/,
    std::uint32_t /*depressed*/, std::uint32_t /*latched*/, std::uint32_t /*locked*/, std::uint32_t /*group*/)
{
}
void ignoreRepeatInfo(void* /*data*/, wl_keyboard* /*keyboard*/, std::int32_t /*rate*/, std::int32_t /*delay*/) { }

} // namespace

std::optional<std::string> waylandSocketPath()
{
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0') {
        return std::nullopt;
    }
    if (*name == '/') {
        return std::string(name);
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        return std::nullopt;
    }
    return std::string(runtime) + "/" + name;
}

std::unique_ptr<WaylandConnection> WaylandConnection::open(const std::string& socketPath, const Deadline& deadline)
{
    return probe(socketPath, deadline).connection;
}

CompositorProbe WaylandConnection::probe(const std::string& socketPath, const Deadline& deadline)
{
    // The library reports protocol errors on standard error, which stays the host's.
    wl_log_set_handler_client([](const char* /*format*/, va_list /*args*/) {});
    const int fd = desktop::connectLocalSocket(socketPath, false, deadline).release();
    if (fd < 0) {
        // A refused or missing socket fails at once; one whose listen queue stays full is tried
        // until the deadline, and is a compositor that accepts nobody.
        const bool spent = desktop::expired(deadline, desktop::DeadlineClock::now());
        return {spent ? CompositorAnswer::silent : CompositorAnswer::none, nullptr};
    }
    // Takes the descriptor over, also when it fails.
    wl_display* display = wl_display_connect_to_fd(fd);
    if (display == nullptr) {
        return {CompositorAnswer::silent, nullptr};
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display));
    // A socket that accepts but where no compositor answers is a session whose compositor stalls.
    if (!connection->discover(deadline)) {
        return {CompositorAnswer::silent, nullptr};
    }
    return {CompositorAnswer::answered, std::move(connection)};
}

WaylandConnection::WaylandConnection(wl_display* display) : display_(display) { }

WaylandConnection::~WaylandConnection()
{
    if (virtualKeyboard_ != nullptr) {
        wl_proxy_marshal_flags(virtualKeyboard_, virtualkeyboard::destroyOpcode, nullptr,
            wl_proxy_get_version(virtualKeyboard_), WL_MARSHAL_FLAG_DESTROY);
        wl_display_flush(display_);
    }
    if (virtualKeyboardManager_ != nullptr) {
        wl_proxy_destroy(virtualKeyboardManager_);
    }
    if (fakeInput_ != nullptr) {
        wl_proxy_destroy(fakeInput_);
    }
    plasmaWindows_.clear();
    if (plasmaManagement_ != nullptr) {
        wl_proxy_destroy(plasmaManagement_);
    }
    for (const auto& handle : toplevels_) {
        wl_proxy_destroy(handle->proxy);
    }
    if (toplevelManager_ != nullptr) {
        wl_proxy_destroy(toplevelManager_);
    }
    if (keyboard_ != nullptr) {
        wl_keyboard_destroy(keyboard_);
    }
    if (seat_ != nullptr) {
        wl_seat_destroy(seat_);
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    wl_display_disconnect(display_);
}

void WaylandConnection::onGlobal(
    void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version)
{
    auto* self = static_cast<WaylandConnection*>(data);
    const std::string_view kind(interface);
    if (kind.substr(0, 8) == "org_kde_") {
        self->kdeInterfaces_ = true;
    }
    if (kind == "wl_seat" && self->seat_ == nullptr) {
        static const wl_seat_listener seatListener{onCapabilities, onSeatName};
        self->seat_ = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min<std::uint32_t>(version, 5)));
        wl_seat_add_listener(self->seat_, &seatListener, self);
    } else if (kind == "zwlr_foreign_toplevel_manager_v1" && !self->toplevelManagerName_) {
        // Bound only when asked for: binding makes the compositor send the whole list.
        self->toplevelManagerName_ = name;
        self->toplevelManagerVersion_ = version;
    } else if (kind == "org_kde_plasma_window_management" && !self->plasmaManagementName_) {
        // Bound only when asked for, as the wlroots list is.
        self->plasmaManagementName_ = name;
        self->plasmaManagementVersion_ = version;
    } else if (kind == "org_kde_kwin_fake_input" && !self->fakeInputName_) {
        // Bound only when keys are to be pressed: no other command has a use for it.
        self->fakeInputName_ = name;
        self->fakeInputVersion_ = version;
    } else if (kind == "zwp_virtual_keyboard_manager_v1" && self->virtualKeyboardManager_ == nullptr) {
        self->virtualKeyboardManager_
            = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &virtualKeyboardManagerInterface, 1));
    }
}

void WaylandConnection::onGlobalRemove(void* /*data*/, wl_registry* /*registry*/, std::uint32_t /*name*/) { }

void WaylandConnection::onCapabilities(void* data, wl_seat* /*seat*/, std::uint32_t capabilities)
{
    static_cast<WaylandConnection*>(data)->capabilities_ = capabilities;
}

void WaylandConnection::onSeatName(void* /*data*/, wl_seat* /*seat*/, const char* /*name*/) { }

void WaylandConnection::onKeymap(
    void* data, wl_keyboard* /*keyboard*/, std::uint32_t format, std::int32_t fd, std::uint32_t size)
{
    auto* self = static_cast<WaylandConnection*>(data);
    self->keymapArrived_ = true;
    if (format == keymapFormatXkbV1 && size > 0 && size <= keymapMaxBytes && fd >= 0) {
        // Read, not mapped: a file shorter than the size claimed (or cut short later by the
        // compositor, which shares it) would make a mapping's pages past its end a SIGBUS.
        std::string text(size, '\0');
        std::size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        if (got > 0) {
            text.resize(::strnlen(text.data(), got));
            self->keymap_ = std::move(text);
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

bool WaylandConnection::discover(const Deadline& deadline)
{
    if (discovered_) {
        return !failed_;
    }
    discovered_ = true;
    static const wl_registry_listener registryListener{onGlobal, onGlobalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registryListener, this);
    // The first round trip lists the globals, the second brings the seat's capabilities.
    failed_ = !roundtrip(deadline) || (seat_ != nullptr && !roundtrip(deadline));
    return !failed_;
}

bool WaylandConnection::seatHasKeyboard(const Deadline& deadline)
{
    return discover(deadline) && capabilities_ && (*capabilities_ & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
}

std::optional<std::string> WaylandConnection::keymap(const Deadline& deadline)
{
    if (keyboard_ == nullptr && seatHasKeyboard(deadline)) {
        static const wl_keyboard_listener keyboardListener{onKeymap, ignoreKeyboardEnter, ignoreKeyboardLeave,
            ignoreKeyboardKey, ignoreKeyboardModifiers, ignoreRepeatInfo};
        keyboard_ = wl_seat_get_keyboard(seat_);
        wl_keyboard_add_listener(keyboard_, &keyboardListener, this);
        // The compositor sends the keymap in answer to the request itself.
        if (!roundtrip(deadline)) {
            failed_ = true;
        }
    }
    return keymap_;
}

bool WaylandConnection::sync(const Deadline& deadline)
{
    return roundtrip(deadline);
}

bool WaylandConnection::roundtrip(const Deadline& deadline)
{
    if (wl_display_get_error(display_) != 0) {
        return false;
    }
    static const wl_callback_listener doneListener{
        [](void* data, wl_callback* /*callback*/, std::uint32_t /*serial*/) { *static_cast<bool*>(data) = true; }};
    bool done = false;
    wl_callback* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &doneListener, &done);
    const bool answered = dispatchUntil(done, deadline);
    wl_callback_destroy(callback);
    return answered;
}

bool WaylandConnection::dispatchUntil(const bool& done, const Deadline& deadline)
{
    const int fd = wl_display_get_fd(display_);
    while (!done) {
        if (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) {
                return false;
            }
            continue;
        }
        // Send what is queued; a full socket buffer is waited out within the deadline.
        while (wl_display_flush(display_) < 0) {
            if (errno != EAGAIN || !desktop::waitForEvents(fd, POLLOUT, deadline)) {
                wl_display_cancel_read(display_);
                return false;
            }
        }
        if (!desktop::waitForEvents(fd, POLLIN, deadline)) {
            wl_display_cancel_read(display_);
            return false;
        }
        if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) {
            return false;
        }
    }
    return wl_display_get_error(display_) == 0;
}

} // namespace focusprobe::platform::wayland
