#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace focusprobe::platform::desktop {
class DBusConnection;
}

namespace focusprobe::platform::wayland {

// A remote-desktop session of Mutter (org.gnome.Mutter.RemoteDesktop on the session bus), the
// one way GNOME lets a client press keys. Stopped again when let go.
class MutterRemoteDesktop {
public:
    // Nothing when the session bus has no such service or it refuses the session.
    static std::unique_ptr<MutterRemoteDesktop> start(desktop::DBusConnection& session);
    ~MutterRemoteDesktop();
    MutterRemoteDesktop(const MutterRemoteDesktop&) = delete;
    MutterRemoteDesktop& operator=(const MutterRemoteDesktop&) = delete;

    // A key by its Linux input-event code, through Mutter's own keymap and modifier state.
    bool keycode(std::uint32_t evdevKey, bool down);

private:
    MutterRemoteDesktop(desktop::DBusConnection& session, std::string path);
    desktop::DBusConnection& session_;
    std::string path_;
};

} // namespace focusprobe::platform::wayland
