#pragma once

#include "platform/keyboard.h"
#include "platform/linux/common/ownership.h"
#include "platform/linux/x11/connection.h"

namespace focusprobe::platform::desktop {

// Keyboard layouts from the XKB keymap's groups, translated with the layout data of our own.
PiecePtr<KeyboardLayouts> makeX11Keyboard(XConnection& connection);

} // namespace focusprobe::platform::desktop
