#include "platform/linux/x11_workspace.h"

#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/desktop_buses.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <string>
#include <vector>

// Xlib's macros (Status, None, Bool...) come last so they cannot touch the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace focusprobe::platform::desktop {
namespace {

class X11Workspace final : public Workspace {
public:
    X11Workspace(Display* display, AtspiAccessibility& accessibility, DesktopBuses& buses)
        : display_(display), accessibility_(accessibility), buses_(buses)
    {
    }

    std::optional<RunningApplication> frontmostApplication() override
    {
        const ::Window root = DefaultRootWindow(display_);
        std::optional<::Window> window;
        std::optional<std::int32_t> pid;
        if (const auto active = cardinalProperty(display_, root, "_NET_ACTIVE_WINDOW", XA_WINDOW);
            active && *active != 0) {
            window = static_cast<::Window>(*active);
            if (const auto windowPid = cardinalProperty(display_, *window, "_NET_WM_PID", XA_CARDINAL)) {
                pid = static_cast<std::int32_t>(*windowPid);
            }
        }
        if (!pid) {
            // No window manager that says: the application whose frame is active.
            pid = accessibility_.pidWithActiveFrame();
            if (!pid) {
                return std::nullopt;
            }
            window = clientWindowOf(*pid);
        }
        RunningApplication app;
        app.processIdentifier = *pid;
        std::optional<std::string> instance;
        if (window) {
            app.bundleIdentifier = textProperty(display_, *window, "_GTK_APPLICATION_ID", AnyPropertyType);
            if (const auto wmClass = textProperty(display_, *window, "WM_CLASS", XA_STRING)) {
                // "instance\0class\0"
                const auto split = wmClass->find('\0');
                instance = wmClass->substr(0, split);
                if (split != std::string::npos && !app.bundleIdentifier) {
                    const std::string rest = wmClass->substr(split + 1);
                    app.bundleIdentifier = rest.substr(0, rest.find('\0'));
                }
            }
        }
        if (app.bundleIdentifier && app.bundleIdentifier->empty()) {
            app.bundleIdentifier.reset();
        }
        app.localizedName = accessibility_.applicationName(*pid);
        if (!app.localizedName && instance && !instance->empty()) {
            app.localizedName = instance;
        }
        return app;
    }

    bool isVoiceOverEnabled() override
    {
        DBusConnection* session = buses_.session();
        if (session == nullptr) {
            return false;
        }
        auto call = session->newCall("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get");
        if (!call || sd_bus_message_append(call.get(), "ss", "org.a11y.Status", "ScreenReaderEnabled") < 0) {
            return false;
        }
        const auto reply = session->call(call);
        int enabled = 0;
        return reply && sd_bus_message_enter_container(reply.get(), 'v', "b") >= 0
            && sd_bus_message_read(reply.get(), "b", &enabled) > 0 && enabled != 0;
    }

private:
    std::optional<::Window> clientWindowOf(std::int32_t pid)
    {
        int format = 0;
        unsigned long count = 0;
        const auto list
            = windowProperty(display_, DefaultRootWindow(display_), "_NET_CLIENT_LIST", XA_WINDOW, format, count);
        if (!list || format != 32) {
            return std::nullopt;
        }
        for (unsigned long i = 0; i < count; ++i) {
            unsigned long window = 0;
            std::copy_n(list->begin() + static_cast<std::ptrdiff_t>(i * sizeof window), sizeof window,
                reinterpret_cast<unsigned char*>(&window));
            const auto windowPid = cardinalProperty(display_, window, "_NET_WM_PID", XA_CARDINAL);
            if (windowPid && static_cast<std::int32_t>(*windowPid) == pid) {
                return static_cast<::Window>(window);
            }
        }
        return std::nullopt;
    }

    Display* display_;
    AtspiAccessibility& accessibility_;
    DesktopBuses& buses_;
};

} // namespace

PiecePtr<Workspace> makeX11Workspace(XDisplay* display, AtspiAccessibility& accessibility, DesktopBuses& buses)
{
    return makePiece<X11Workspace, Workspace>(display, accessibility, buses);
}

} // namespace focusprobe::platform::desktop
