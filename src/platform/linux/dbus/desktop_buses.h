#pragma once

#include "platform/linux/common/deadline.h"
#include "platform/linux/dbus/connection.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace focusprobe::platform::desktop {

// Reaches the session bus and the accessibility bus, each connected on first use.
class DesktopBuses {
public:
    // addressFromDisplay reads the accessibility bus address the display publishes, if any.
    // Finding the address, connecting and authenticating all end at the deadline.
    DesktopBuses(const Deadline& deadline, std::function<std::optional<std::string>()> addressFromDisplay);
    DBusConnection* accessibility();
    DBusConnection* session();

private:
    Deadline deadline_;
    std::function<std::optional<std::string>()> addressFromDisplay_;
    std::unique_ptr<DBusConnection> accessibility_;
    std::unique_ptr<DBusConnection> session_;
    bool accessibilityTried_ = false;
    bool sessionTried_ = false;
};

// The screen reader's state as the accessibility bus's status tells it; false when it cannot be read.
bool screenReaderEnabled(DesktopBuses& buses);

} // namespace focusprobe::platform::desktop
