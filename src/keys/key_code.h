#pragma once

#include "context/context.h"
#include "platform/keyboard.h"

#include <cstdint>

namespace focusprobe {

// The ANSI V key, answered when no layout says where "v" is.
inline constexpr std::uint16_t fallbackVKeyCode = 9;

// The virtual key code that types "v" (or "V") with Command held: the current keyboard layout
// first, then the current ASCII-capable one, else the fallback. Reads the layouts afresh each call.
std::uint16_t keyCodeTypingV(platform::KeyboardLayouts& keyboard);

// `paste-keycode`: the key code in decimal.
int runPasteKeycode(Context& context);

} // namespace focusprobe
