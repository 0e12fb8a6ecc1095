#pragma once

#include "platform/linux/common/ownership.h"
#include "platform/workspace.h"

namespace focusprobe::platform::desktop {
class AtspiAccessibility;
class DesktopBuses;
} // namespace focusprobe::platform::desktop

namespace focusprobe::platform::wayland {

class WaylandSeat;

// The frontmost application from the accessibility tree (and, on wlroots desktops, the
// compositor's window list); the screen reader's state from the accessibility bus's status.
desktop::PiecePtr<Workspace> makeWaylandWorkspace(
    WaylandSeat& seat, desktop::AtspiAccessibility& accessibility, desktop::DesktopBuses& buses);

} // namespace focusprobe::platform::wayland
