#pragma once

#include "platform/linux/x11/connection.h"

#include <cstdint>
#include <optional>

// The keyboard as XKB tells it: the keymap with its key names, and the current group and locks.
namespace focusprobe::platform::desktop {

// The core keyboard's map with its key names, read with XKB in one round trip.
std::optional<Keymap> readKeymap(XConnection& connection);

struct XkbState {
    int group = 0; // the effective group
    std::uint8_t lockedModifiers = 0;
};
std::optional<XkbState> readXkbState(XConnection& connection);

} // namespace focusprobe::platform::desktop
