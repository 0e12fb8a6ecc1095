#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace focusprobe::platform::desktop {
class DBusConnection;
}

namespace focusprobe::platform::wayland {

// A keyboard-only session of the desktop portal's RemoteDesktop (org.freedesktop.portal.Desktop
// on the session bus): the way KDE Plasma lets a program KWin has not granted its fake input
// press keys. Closed again when let go.
class RemoteDesktopPortal {
public:
    // Nothing when the session bus has no portal, it refuses the session, or the user declines.
    static std::unique_ptr<RemoteDesktopPortal> start(desktop::DBusConnection& session);
    ~RemoteDesktopPortal();
    RemoteDesktopPortal(const RemoteDesktopPortal&) = delete;
    RemoteDesktopPortal& operator=(const RemoteDesktopPortal&) = delete;

    // A key by its Linux input-event code, through the compositor's own keymap.
    bool keycode(std::uint32_t evdevKey, bool down);

private:
    RemoteDesktopPortal(desktop::DBusConnection& session, std::string handle);
    desktop::DBusConnection& session_;
    std::string handle_;
};

// The object path of the request the portal answers with its Response signal: derived from the
// caller's unique name and the token it chose. Nothing for a name that is not a unique name.
std::optional<std::string> portalRequestPath(const std::string& uniqueName, const std::string& token);

} // namespace focusprobe::platform::wayland
