#include "platform/linux/x11_workspace.h"

#include "platform/linux/atspi/accessibility.h"
#include "platform/linux/dbus/desktop_buses.h"

#include <systemd/sd-bus.h>

#include <string>
#include <vector>

namespace focusprobe::platform::desktop {
namespace {

// The most client windows looked through for a process's window.
constexpr std::size_t clientWindowLimit = 4096;

class X11Workspace final : public Workspace {
public:
    X11Workspace(XConnection& display, AtspiAccessibility& accessibility, DesktopBuses& buses)
        : display_(display), accessibility_(accessibility), buses_(buses)
    {
    }

    std::optional<RunningApplication> frontmostApplication() override
    {
        std::optional<XWindowId> window;
        std::optional<std::int32_t> pid;
        if (const auto active
            = readProperty(display_, display_.root(), display_.atom(KnownAtom::activeWindow), xatom::window)) {
            window = windowFromProperty(*active);
        }
        // The window's three properties go out together: one wait instead of three.
        WindowProperties properties;
        if (window) {
            properties = requestWindowProperties(*window);
            if (const auto value = display_.property(properties.pid)) {
                pid = processIdFromProperty(*value);
            }
        }
        if (!pid) {
            // No window manager that says: the application whose frame is active.
            pid = accessibility_.pidWithActiveFrame();
            if (!pid) {
                return std::nullopt;
            }
            if (window) {
                display_.discard(properties.applicationId);
                display_.discard(properties.wmClass);
            }
            window = clientWindowOf(*pid);
            if (window) {
                properties = requestWindowProperties(*window);
            }
        }
        RunningApplication app;
        app.processIdentifier = *pid;
        WindowClass windowClass;
        if (window) {
            if (const auto value = display_.property(properties.applicationId)) {
                app.bundleIdentifier = textFromProperty(*value);
            }
            if (const auto value = display_.property(properties.wmClass)) {
                windowClass = windowClassFromText(textFromProperty(*value).value_or(""));
            }
        }
        if (!app.bundleIdentifier) {
            app.bundleIdentifier = windowClass.className;
        }
        app.localizedName = accessibility_.applicationName(*pid);
        if (!app.localizedName) {
            app.localizedName = windowClass.instance;
        }
        return app;
    }

    bool isVoiceOverEnabled() override { return screenReaderEnabled(buses_); }

private:
    struct WindowProperties {
        unsigned pid = 0;
        unsigned applicationId = 0;
        unsigned wmClass = 0;
    };

    WindowProperties requestWindowProperties(XWindowId window)
    {
        WindowProperties requests;
        requests.pid = display_.requestProperty(window, display_.atom(KnownAtom::wmPid), xatom::cardinal);
        requests.applicationId
            = display_.requestProperty(window, display_.atom(KnownAtom::gtkApplicationId), xatom::any);
        requests.wmClass = display_.requestProperty(window, xatom::wmClass, xatom::string);
        return requests;
    }

    std::optional<XWindowId> clientWindowOf(std::int32_t pid)
    {
        const auto list = readProperty(display_, display_.root(), display_.atom(KnownAtom::clientList), xatom::window);
        if (!list) {
            return std::nullopt;
        }
        const std::vector<std::uint32_t> windows = cardinals(*list, clientWindowLimit);
        std::vector<unsigned> requests;
        requests.reserve(windows.size());
        for (const std::uint32_t window : windows) {
            requests.push_back(display_.requestProperty(window, display_.atom(KnownAtom::wmPid), xatom::cardinal));
        }
        std::optional<XWindowId> found;
        // Every reply is taken, the ones after the match too, so none is left waiting.
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const auto value = display_.property(requests[i]);
            if (!found && value && processIdFromProperty(*value) == pid) {
                found = windows[i];
            }
        }
        return found;
    }

    XConnection& display_;
    AtspiAccessibility& accessibility_;
    DesktopBuses& buses_;
};

} // namespace

PiecePtr<Workspace> makeX11Workspace(XConnection& display, AtspiAccessibility& accessibility, DesktopBuses& buses)
{
    return makePiece<X11Workspace, Workspace>(display, accessibility, buses);
}

} // namespace focusprobe::platform::desktop
