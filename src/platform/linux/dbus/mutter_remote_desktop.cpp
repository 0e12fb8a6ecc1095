#include "platform/linux/dbus/mutter_remote_desktop.h"

#include "platform/linux/dbus/connection.h"

#include <systemd/sd-bus.h>

namespace focusprobe::platform::wayland {
namespace {

constexpr const char* service = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* sessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";

} // namespace

std::unique_ptr<MutterRemoteDesktop> MutterRemoteDesktop::start(desktop::DBusConnection& session)
{
    const auto created
        = session.call(session.newCall(service, "/org/gnome/Mutter/RemoteDesktop", service, "CreateSession"));
    const char* path = nullptr;
    if (!created || sd_bus_message_read(created.get(), "o", &path) <= 0 || path == nullptr) {
        return nullptr;
    }
    std::unique_ptr<MutterRemoteDesktop> remote(new MutterRemoteDesktop(session, path));
    if (!session.call(session.newCall(service, remote->path_, sessionInterface, "Start"))) {
        return nullptr;
    }
    return remote;
}

MutterRemoteDesktop::MutterRemoteDesktop(desktop::DBusConnection& session, std::string path)
    : session_(session), path_(std::move(path))
{
}

MutterRemoteDesktop::~MutterRemoteDesktop()
{
    // Mutter also ends the session when this connection closes; stopping it says so at once.
    session_.call(session_.newCall(service, path_, sessionInterface, "Stop"));
}

bool MutterRemoteDesktop::keycode(std::uint32_t evdevKey, bool down)
{
    auto call = session_.newCall(service, path_, sessionInterface, "NotifyKeyboardKeycode");
    if (!call || sd_bus_message_append(call.get(), "ub", evdevKey, static_cast<int>(down)) < 0) {
        return false;
    }
    return static_cast<bool>(session_.call(call));
}

} // namespace focusprobe::platform::wayland
