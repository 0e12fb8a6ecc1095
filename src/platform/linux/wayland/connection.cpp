#include "platform/linux/wayland/connection.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-client.h>

namespace focusprobe::platform::wayland {
namespace {

// The virtual-keyboard protocol (zwp_virtual_keyboard_unstable_v1) comes with no Debian package,
// so its two interfaces are declared here from the protocol's published description.
extern const wl_interface virtualKeyboardInterface;

// Not const: the library takes the table through a pointer to non-const.
std::array<const wl_interface*, 6> protocolTypes{
    nullptr, nullptr, nullptr, nullptr, &wl_seat_interface, &virtualKeyboardInterface};

const std::array<wl_message, 4> virtualKeyboardRequests{{
    {"keymap", "uhu", protocolTypes.data()},
    {"key", "uuu", protocolTypes.data()},
    {"modifiers", "uuuu", protocolTypes.data()},
    {"destroy", "", protocolTypes.data()},
}};

const wl_interface virtualKeyboardInterface{"zwp_virtual_keyboard_v1", 1,
    static_cast<int>(virtualKeyboardRequests.size()), virtualKeyboardRequests.data(), 0, nullptr};

const std::array<wl_message, 1> managerRequests{{{"create_virtual_keyboard", "on", protocolTypes.data() + 4}}};

const wl_interface virtualKeyboardManagerInterface{
    "zwp_virtual_keyboard_manager_v1", 1, static_cast<int>(managerRequests.size()), managerRequests.data(), 0, nullptr};

// The window list of wlroots desktops (wlr-foreign-toplevel-management-unstable-v1), also from its
// published description; bound at version 2, whose events end with "closed".
extern const wl_interface toplevelHandleInterface;

std::array<const wl_interface*, 6> toplevelTypes{
    nullptr, &wl_seat_interface, &wl_surface_interface, nullptr, &wl_output_interface, &toplevelHandleInterface};

const std::array<wl_message, 10> toplevelHandleRequests{{
    {"set_maximized", "", toplevelTypes.data()},
    {"unset_maximized", "", toplevelTypes.data()},
    {"set_minimized", "", toplevelTypes.data()},
    {"unset_minimized", "", toplevelTypes.data()},
    {"activate", "o", toplevelTypes.data() + 1},
    {"close", "", toplevelTypes.data()},
    {"set_rectangle", "oiiii", toplevelTypes.data() + 2},
    {"destroy", "", toplevelTypes.data()},
    {"set_fullscreen", "2?o", toplevelTypes.data() + 4},
    {"unset_fullscreen", "2", toplevelTypes.data()},
}};

const std::array<wl_message, 8> toplevelHandleEvents{{
    {"title", "s", toplevelTypes.data()},
    {"app_id", "s", toplevelTypes.data()},
    {"output_enter", "o", toplevelTypes.data() + 4},
    {"output_leave", "o", toplevelTypes.data() + 4},
    {"state", "a", toplevelTypes.data()},
    {"done", "", toplevelTypes.data()},
    {"closed", "", toplevelTypes.data()},
    {"parent", "3?o", toplevelTypes.data() + 5},
}};

const wl_interface toplevelHandleInterface{"zwlr_foreign_toplevel_handle_v1", 3,
    static_cast<int>(toplevelHandleRequests.size()), toplevelHandleRequests.data(),
    static_cast<int>(toplevelHandleEvents.size()), toplevelHandleEvents.data()};

const std::array<wl_message, 1> toplevelManagerRequests{{{"stop", "", toplevelTypes.data()}}};
const std::array<wl_message, 2> toplevelManagerEvents{{
    {"toplevel", "n", toplevelTypes.data() + 5},
    {"finished", "", toplevelTypes.data()},
}};

const wl_interface toplevelManagerInterface{"zwlr_foreign_toplevel_manager_v1", 3,
    static_cast<int>(toplevelManagerRequests.size()), toplevelManagerRequests.data(),
    static_cast<int>(toplevelManagerEvents.size()), toplevelManagerEvents.data()};

constexpr std::uint32_t toplevelManagerVersion = 2;
constexpr std::uint32_t toplevelHandleDestroyOpcode = 7;
constexpr std::uint32_t toplevelStateActivated = 2;
// A desktop lists tens of windows; past this many the rest are not read, and a title is cut.
constexpr std::size_t toplevelLimit = 512;
constexpr std::size_t toplevelTextLimit = 4096;

constexpr std::uint32_t createVirtualKeyboardOpcode = 0;
constexpr std::uint32_t keymapOpcode = 0;
constexpr std::uint32_t keyOpcode = 1;
constexpr std::uint32_t modifiersOpcode = 2;
constexpr std::uint32_t destroyOpcode = 3;
constexpr std::uint32_t keymapFormatXkbV1 = 1;

// A keymap is tens of kilobytes; anything past this is not one.
constexpr std::uint32_t keymapMaxBytes = 4U << 20U;

// No single wait on the compositor is capped below what the command has left.
constexpr std::chrono::microseconds stepCap{desktop::commandBudget};

bool waitFor(int fd, short events, const Deadline& deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, desktop::pollMilliseconds(desktop::stepTimeoutNow(deadline, stepCap)));
        if (ready > 0) {
            return (entry.revents & events) != 0;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

int connectSocket(const std::string& path, const Deadline& deadline)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return -1;
    }
    std::copy(path.begin(), path.end(), std::begin(address.sun_path));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets API's own cast
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return fd;
    }
    if ((errno == EAGAIN || errno == EINPROGRESS) && waitFor(fd, POLLOUT, deadline)) {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
            return fd;
        }
    }
    ::close(fd);
    return -1;
}

std::uint32_t millisecondsNow()
{
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

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

std::string boundedText(const char* text)
{
    return text == nullptr ? std::string() : std::string(text, ::strnlen(text, toplevelTextLimit));
}

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
    // The library reports protocol errors on standard error, which stays the host's.
    wl_log_set_handler_client([](const char* /*format*/, va_list /*args*/) {});
    const int fd = connectSocket(socketPath, deadline);
    if (fd < 0) {
        return nullptr;
    }
    // Takes the descriptor over, also when it fails.
    wl_display* display = wl_display_connect_to_fd(fd);
    if (display == nullptr) {
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display));
    // A socket that accepts but where no compositor answers is no session.
    if (!connection->discover(deadline)) {
        return nullptr;
    }
    return connection;
}

// One listed window, with the listener the library calls for its events.
struct WaylandConnection::ToplevelHandle {
    wl_proxy* proxy = nullptr;
    Toplevel toplevel;
    bool closed = false;

    static void onTitle(void* data, wl_proxy* /*handle*/, const char* title)
    {
        static_cast<ToplevelHandle*>(data)->toplevel.title = boundedText(title);
    }
    static void onAppId(void* data, wl_proxy* /*handle*/, const char* appId)
    {
        static_cast<ToplevelHandle*>(data)->toplevel.appId = boundedText(appId);
    }
    static void onOutput(void* /*data*/, wl_proxy* /*handle*/, wl_proxy* /*output*/) { }
    static void onState(void* data, wl_proxy* /*handle*/, wl_array* states)
    {
        bool activated = false;
        const auto* words = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
            activated = activated || words[i] == toplevelStateActivated;
        }
        static_cast<ToplevelHandle*>(data)->toplevel.activated = activated;
    }
    static void onDone(void* /*data*/, wl_proxy* /*handle*/) { }
    static void onClosed(void* data, wl_proxy* /*handle*/) { static_cast<ToplevelHandle*>(data)->closed = true; }

    struct Listener {
        void (*title)(void*, wl_proxy*, const char*);
        void (*appId)(void*, wl_proxy*, const char*);
        void (*outputEnter)(void*, wl_proxy*, wl_proxy*);
        void (*outputLeave)(void*, wl_proxy*, wl_proxy*);
        void (*state)(void*, wl_proxy*, wl_array*);
        void (*done)(void*, wl_proxy*);
        void (*closed)(void*, wl_proxy*);
    };
    static constexpr Listener listener{onTitle, onAppId, onOutput, onOutput, onState, onDone, onClosed};
};

WaylandConnection::WaylandConnection(wl_display* display) : display_(display) { }

WaylandConnection::~WaylandConnection()
{
    if (virtualKeyboard_ != nullptr) {
        wl_proxy_marshal_flags(
            virtualKeyboard_, destroyOpcode, nullptr, wl_proxy_get_version(virtualKeyboard_), WL_MARSHAL_FLAG_DESTROY);
        wl_display_flush(display_);
    }
    if (virtualKeyboardManager_ != nullptr) {
        wl_proxy_destroy(virtualKeyboardManager_);
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
    if (kind == "wl_seat" && self->seat_ == nullptr) {
        static const wl_seat_listener seatListener{onCapabilities, onSeatName};
        self->seat_ = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min<std::uint32_t>(version, 5)));
        wl_seat_add_listener(self->seat_, &seatListener, self);
    } else if (kind == "zwlr_foreign_toplevel_manager_v1" && !self->toplevelManagerName_) {
        // Bound only when asked for: binding makes the compositor send the whole list.
        self->toplevelManagerName_ = name;
        self->toplevelManagerVersion_ = version;
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
    if (format == keymapFormatXkbV1 && size > 0 && size <= keymapMaxBytes) {
        // Since version 7 the compositor may hand out one read-only mapping to every client.
        void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) {
            const auto* text = static_cast<const char*>(mapped);
            self->keymap_ = std::string(text, ::strnlen(text, size));
            ::munmap(mapped, size);
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

void WaylandConnection::onToplevel(void* data, wl_proxy* /*manager*/, wl_proxy* handle)
{
    auto* self = static_cast<WaylandConnection*>(data);
    if (self->toplevels_.size() >= toplevelLimit) {
        wl_proxy_marshal_flags(
            handle, toplevelHandleDestroyOpcode, nullptr, wl_proxy_get_version(handle), WL_MARSHAL_FLAG_DESTROY);
        return;
    }
    auto entry = std::make_unique<ToplevelHandle>();
    entry->proxy = handle;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the library's listener convention
    wl_proxy_add_listener(handle,
        reinterpret_cast<void (**)(void)>(const_cast<ToplevelHandle::Listener*>(&ToplevelHandle::listener)),
        entry.get());
    self->toplevels_.push_back(std::move(entry));
}

void WaylandConnection::onToplevelsFinished(void* /*data*/, wl_proxy* /*manager*/) { }

std::optional<std::vector<Toplevel>> WaylandConnection::toplevels(const Deadline& deadline)
{
    if (!discover(deadline) || !toplevelManagerName_) {
        return std::nullopt;
    }
    if (toplevelManager_ == nullptr) {
        struct ManagerListener {
            void (*toplevel)(void*, wl_proxy*, wl_proxy*);
            void (*finished)(void*, wl_proxy*);
        };
        static constexpr ManagerListener managerListener{onToplevel, onToplevelsFinished};
        toplevelManager_ = static_cast<wl_proxy*>(wl_registry_bind(registry_, *toplevelManagerName_,
            &toplevelManagerInterface, std::min(toplevelManagerVersion_, toplevelManagerVersion)));
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the library's listener convention
        wl_proxy_add_listener(
            toplevelManager_, reinterpret_cast<void (**)(void)>(const_cast<ManagerListener*>(&managerListener)), this);
        // The list comes in answer to the binding; each window's details follow its announcement.
        if (!roundtrip(deadline) || !roundtrip(deadline)) {
            failed_ = true;
            return std::nullopt;
        }
    }
    std::vector<Toplevel> list;
    for (const auto& handle : toplevels_) {
        if (!handle->closed) {
            list.push_back(handle->toplevel);
        }
    }
    return list;
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

bool WaylandConnection::offersVirtualKeyboard(const Deadline& deadline)
{
    return discover(deadline) && virtualKeyboardManager_ != nullptr && seat_ != nullptr;
}

bool WaylandConnection::createVirtualKeyboard(const std::string& keymapText, const Deadline& deadline)
{
    if (!offersVirtualKeyboard(deadline) || virtualKeyboard_ != nullptr) {
        return false;
    }
    virtualKeyboard_ = wl_proxy_marshal_flags(virtualKeyboardManager_, createVirtualKeyboardOpcode,
        &virtualKeyboardInterface, wl_proxy_get_version(virtualKeyboardManager_), 0, seat_, nullptr);
    return virtualKeyboard_ != nullptr && uploadKeymap(keymapText, deadline);
}

bool WaylandConnection::uploadKeymap(const std::string& keymapText, const Deadline& deadline)
{
    if (virtualKeyboard_ == nullptr) {
        return false;
    }
    const int fd = ::memfd_create("focusprobe-keymap", MFD_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // The compositor maps size bytes and reads a NUL-terminated text.
    const std::size_t size = keymapText.size() + 1;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, keymapText.c_str() + written, size - written);
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    wl_proxy_marshal_flags(virtualKeyboard_, keymapOpcode, nullptr, wl_proxy_get_version(virtualKeyboard_), 0,
        keymapFormatXkbV1, fd, static_cast<std::uint32_t>(size));
    ::close(fd);
    // A compositor that refuses the keyboard ends the connection with a protocol error.
    return sync(deadline);
}

void WaylandConnection::virtualKey(std::uint32_t evdevKey, bool down)
{
    if (virtualKeyboard_ == nullptr) {
        return;
    }
    // One clock for all of this keyboard's requests, never going back.
    clock_ = std::max(clock_ + 1, millisecondsNow());
    wl_proxy_marshal_flags(virtualKeyboard_, keyOpcode, nullptr, wl_proxy_get_version(virtualKeyboard_), 0, clock_,
        evdevKey, down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void WaylandConnection::virtualModifiers(std::uint32_t depressed)
{
    if (virtualKeyboard_ == nullptr) {
        return;
    }
    wl_proxy_marshal_flags(
        virtualKeyboard_, modifiersOpcode, nullptr, wl_proxy_get_version(virtualKeyboard_), 0, depressed, 0U, 0U, 0U);
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
            if (errno != EAGAIN || !waitFor(fd, POLLOUT, deadline)) {
                wl_display_cancel_read(display_);
                return false;
            }
        }
        if (!waitFor(fd, POLLIN, deadline)) {
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
