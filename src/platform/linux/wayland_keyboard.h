#pragma once

#include "platform/keyboard.h"
#include "platform/linux/common/ownership.h"

namespace focusprobe::platform::wayland {

class WaylandSeat;

// The seat's keymap, as the compositor hands it to every client, is the current layout.
desktop::PiecePtr<KeyboardLayouts> makeWaylandKeyboard(WaylandSeat& seat);

} // namespace focusprobe::platform::wayland
