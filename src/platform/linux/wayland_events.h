#pragma once

#include "platform/events.h"
#include "platform/linux/common/ownership.h"

namespace focusprobe::platform {
class PosixProcess;
}
namespace focusprobe::platform::desktop {
class DesktopBuses;
}

namespace focusprobe::platform::wayland {

class WaylandSeat;

// Keys posted through the compositor's virtual keyboard, or through Mutter's remote desktop.
desktop::PiecePtr<EventPosting> makeWaylandEvents(
    WaylandSeat& seat, desktop::DesktopBuses& buses, PosixProcess& process);

} // namespace focusprobe::platform::wayland
