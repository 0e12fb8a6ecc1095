#include "platform/linux/x11/raw_input.h"

#include "platform/linux/keys/mac_keys.h"

#include <vector>

namespace focusprobe::platform::desktop {
namespace {

// The core protocol's Lock modifier: Caps Lock.
constexpr std::uint8_t lockMask = 1U << 1U;
// X keycodes start at 8.
constexpr unsigned firstKeycode = 8;

} // namespace

RawInputState initialInputState(
    const KeyPositions& positions, const std::array<std::uint8_t, 32>& keysDown, std::uint8_t lockedModifiers)
{
    RawInputState state;
    for (unsigned code = firstKeycode; code < keysDown.size() * 8; ++code) {
        const auto mac = positions.macKeyCode(code);
        if ((keysDown[code / 8] & (1U << (code % 8))) != 0 && mac && isModifierKey(*mac) && *mac != mackey::capsLock) {
            state.modifiersDown.insert(*mac);
        }
    }
    takeLockedModifiers(state, lockedModifiers);
    return state;
}

void takeLockedModifiers(RawInputState& state, std::uint8_t lockedModifiers)
{
    state.capsLocked = (lockedModifiers & lockMask) != 0;
}

std::optional<MonitorEvent> rawKeyEvent(
    RawInputState& state, const KeyPositions& positions, unsigned keycode, bool press)
{
    const auto mac = positions.macKeyCode(keycode);
    if (!mac || !isModifierKey(*mac)) {
        if (!press) {
            return std::nullopt;
        }
        return MonitorEvent{eventmask::keyDown, InputEvent{mac.value_or(0xFFFF), 0}};
    }
    if (*mac == mackey::capsLock) {
        if (!press) {
            return std::nullopt; // Caps Lock changes the flags when it goes down only
        }
        // The server tells the new lock just after the key; until then a press turns it over.
        state.capsLocked = !state.capsLocked;
    } else if (press) {
        state.modifiersDown.insert(*mac);
    } else {
        state.modifiersDown.erase(*mac);
    }
    const std::vector<std::uint16_t> held(state.modifiersDown.begin(), state.modifiersDown.end());
    return MonitorEvent{eventmask::flagsChanged, InputEvent{*mac, modifierFlags(held, state.capsLocked)}};
}

std::optional<MonitorEvent> rawButtonEvent(unsigned button)
{
    if (button == 1) {
        return MonitorEvent{eventmask::leftMouseDown, InputEvent{}};
    }
    if (button == 3) {
        return MonitorEvent{eventmask::rightMouseDown, InputEvent{}};
    }
    return std::nullopt;
}

} // namespace focusprobe::platform::desktop
