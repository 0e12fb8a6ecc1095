#pragma once

#include "platform/input_monitoring.h"
#include "platform/linux/x11/key_positions.h"

#include <array>
#include <cstdint>
#include <optional>
#include <set>

namespace focusprobe::platform::desktop {

// What the monitors know of the keyboard between events: the modifier keys held (by Mac key code)
// and Caps Lock's lock. Kept from the events alone, so that no event waits on a question to the
// server.
struct RawInputState {
    std::set<std::uint16_t> modifiersDown;
    bool capsLocked = false;
};

// An event as a global monitor gets it, with the mask bit of its kind.
struct MonitorEvent {
    std::uint64_t maskBit = 0;
    InputEvent event;
};

// The state when monitoring starts: the modifier keys down in QueryKeymap's bitmap (Caps Lock
// aside: its key being down says nothing of its lock) and the lock from XKB's locked modifiers.
RawInputState initialInputState(
    const KeyPositions& positions, const std::array<std::uint8_t, 32>& keysDown, std::uint8_t lockedModifiers);

// XKB's state notification: the locked modifiers now.
void takeLockedModifiers(RawInputState& state, std::uint8_t lockedModifiers);

// A raw key press or release: a flags-changed event for a modifier key, a key-down for any other
// key going down, nothing for other releases or for Caps Lock going up.
std::optional<MonitorEvent> rawKeyEvent(
    RawInputState& state, const KeyPositions& positions, unsigned keycode, bool press);

// The display server's time in milliseconds, which wraps every 49.7 days, as seconds that keep
// growing across the wrap.
struct ServerClock {
    std::optional<std::uint32_t> last;
    std::uint64_t wraps = 0;
};
double serverSeconds(ServerClock& clock, std::uint32_t milliseconds);

// A raw button press: buttons 1 and 3 are the left and right mouse buttons; others are not watched.
std::optional<MonitorEvent> rawButtonEvent(unsigned button);

} // namespace focusprobe::platform::desktop
