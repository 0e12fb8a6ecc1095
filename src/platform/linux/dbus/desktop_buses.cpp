#include "platform/linux/dbus/desktop_buses.h"

#include "platform/linux/dbus/peer_address.h"

#include <systemd/sd-bus.h>

#include <utility>

namespace focusprobe::platform::desktop {

DesktopBuses::DesktopBuses(const Deadline& deadline, std::function<std::optional<std::string>()> addressFromDisplay)
    : deadline_(deadline), addressFromDisplay_(std::move(addressFromDisplay))
{
}

DBusConnection* DesktopBuses::session()
{
    if (!sessionTried_) {
        sessionTried_ = true;
        session_ = DBusConnection::openSession(deadline_);
    }
    return session_.get();
}

DBusConnection* DesktopBuses::accessibility()
{
    if (accessibilityTried_) {
        return accessibility_.get();
    }
    accessibilityTried_ = true;
    // The display's root property saves a round trip through the session bus. Any client of the
    // display may write it, and whoever owns the bus launcher's name may answer, so either
    // address counts only when it names this user's own local socket.
    if (const auto address = addressFromDisplay_(); address && isOwnLocalBusAddress(*address)) {
        accessibility_ = DBusConnection::open(*address, deadline_);
    }
    if (!accessibility_) {
        if (DBusConnection* sessionBus = session()) {
            const auto reply
                = sessionBus->call(sessionBus->newCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
            const char* address = nullptr;
            if (reply && sd_bus_message_read(reply.get(), "s", &address) > 0 && address != nullptr
                && isOwnLocalBusAddress(address)) {
                accessibility_ = DBusConnection::open(address, deadline_);
            }
        }
    }
    return accessibility_.get();
}

bool screenReaderEnabled(DesktopBuses& buses)
{
    DBusConnection* session = buses.session();
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

} // namespace focusprobe::platform::desktop
