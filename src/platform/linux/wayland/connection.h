#pragma once

#include "platform/linux/common/deadline.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_keyboard;
struct wl_proxy;

namespace focusprobe::platform::wayland {

using desktop::Deadline;

// The socket WAYLAND_DISPLAY names (a path, or a name in XDG_RUNTIME_DIR); nothing when unset.
std::optional<std::string> waylandSocketPath();

// A window as a wlroots compositor lists it to clients (wlr-foreign-toplevel-management).
struct Toplevel {
    std::string title;
    std::string appId;
    bool activated = false;
};

class WaylandConnection;

// What was found at the socket WAYLAND_DISPLAY names.
enum class CompositorAnswer {
    none, // nothing listens there
    silent, // something listens but no compositor answered before the deadline
    answered,
};

struct CompositorProbe {
    CompositorAnswer answer = CompositorAnswer::none;
    std::unique_ptr<WaylandConnection> connection; // only when answered
};

// One client connection to the compositor: the first seat, its keyboard's keymap and, where the
// compositor offers them, the virtual-keyboard manager and the window list. Every wait ends at
// the caller's deadline; the compositor's messages are read only as far as they are needed.
// The seat and registry are here; the virtual keyboard and the window list have files of their own.

class WaylandConnection {
public:
    // Nothing when no compositor answers at the socket before the deadline.
    static std::unique_ptr<WaylandConnection> open(const std::string& socketPath, const Deadline& deadline);
    // The same, telling a socket nobody listens at from one where a compositor stalls.
    static CompositorProbe probe(const std::string& socketPath, const Deadline& deadline);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    // True when the seat announced a keyboard (before any of ours).
    bool seatHasKeyboard(const Deadline& deadline);
    // The seat keyboard's keymap text, as the compositor sends it to every client.
    std::optional<std::string> keymap(const Deadline& deadline);
    bool offersVirtualKeyboard(const Deadline& deadline);

    // A virtual keyboard on the seat with this keymap; false when the compositor refuses.
    bool createVirtualKeyboard(const std::string& keymapText, const Deadline& deadline);
    // Gives the virtual keyboard another keymap.
    bool uploadKeymap(const std::string& keymapText, const Deadline& deadline);
    void virtualKey(std::uint32_t evdevKey, bool down);
    void virtualModifiers(std::uint32_t depressed);
    // KWin's fake input, offered only to the programs KWin has granted it (KDE Plasma).
    bool offersFakeInput(const Deadline& deadline);
    // Whether the compositor is KWin: it offers every client interfaces of KDE's own.
    bool isKWin(const Deadline& deadline);
    // Binds it and says who is asking; false when the compositor does not answer.
    bool startFakeInput(const std::string& application, const std::string& reason, const Deadline& deadline);
    void fakeKey(std::uint32_t evdevKey, bool down);
    // The windows the compositor lists, where it offers the list (wlroots desktops); nothing
    // where it does not.
    std::optional<std::vector<Toplevel>> toplevels(const Deadline& deadline);
    // KWin's window list, where KWin grants it (KDE Plasma); nothing where it does not.
    std::optional<std::vector<Toplevel>> plasmaWindows(const Deadline& deadline);

    // Sends what is queued and waits until the compositor has handled it.
    bool sync(const Deadline& deadline);

private:
    explicit WaylandConnection(wl_display* display);
    bool discover(const Deadline& deadline);
    bool roundtrip(const Deadline& deadline);
    bool dispatchUntil(const bool& done, const Deadline& deadline);

    static void onGlobal(
        void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version);
    static void onGlobalRemove(void* data, wl_registry* registry, std::uint32_t name);
    static void onCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
    static void onSeatName(void* data, wl_seat* seat, const char* name);
    struct ToplevelHandle;
    static void onToplevel(void* data, wl_proxy* manager, wl_proxy* handle);
    static void onToplevelsFinished(void* data, wl_proxy* manager);
    struct PlasmaWindow;
    static void destroyPlasmaWindow(PlasmaWindow* window);
    static void onPlasmaWindow(void* data, wl_proxy* manager, std::uint32_t id);
    static void onKeymap(void* data, wl_keyboard* keyboard, std::uint32_t format, std::int32_t fd, std::uint32_t size);

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    wl_proxy* virtualKeyboardManager_ = nullptr;
    wl_proxy* virtualKeyboard_ = nullptr;
    std::optional<std::uint32_t> fakeInputName_;
    std::uint32_t fakeInputVersion_ = 0;
    bool kdeInterfaces_ = false;
    wl_proxy* fakeInput_ = nullptr;
    std::optional<std::uint32_t> toplevelManagerName_;
    std::uint32_t toplevelManagerVersion_ = 0;
    wl_proxy* toplevelManager_ = nullptr;
    std::vector<std::unique_ptr<ToplevelHandle>> toplevels_;
    std::optional<std::uint32_t> plasmaManagementName_;
    std::uint32_t plasmaManagementVersion_ = 0;
    wl_proxy* plasmaManagement_ = nullptr;
    std::vector<std::uint32_t> plasmaWindowIds_;
    std::vector<std::unique_ptr<PlasmaWindow, void (*)(PlasmaWindow*)>> plasmaWindows_;
    std::optional<std::uint32_t> capabilities_;
    bool keymapArrived_ = false;
    std::optional<std::string> keymap_;
    std::uint32_t clock_ = 0;
    bool discovered_ = false;
    bool failed_ = false;
};

} // namespace focusprobe::platform::wayland
