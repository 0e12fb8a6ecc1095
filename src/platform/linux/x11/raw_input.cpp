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
        return MonitorEvent{eventmask::keyDown, InputEvent{mac.value_or(0xFFFF), 0, std::nullopt}};
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
    return MonitorEvent{eventmask::flagsChanged, InputEvent{*mac, modifierFlags(held, state.capsLocked), std::nullopt}};
}

double serverSeconds(ServerClock& clock, std::uint32_t milliseconds)
{
    constexpr std::uint32_t halfRange = 0x80000000U;
    if (clock.last && milliseconds < *clock.last && *clock.last - milliseconds >= halfRange) {
        ++clock.wraps;
    }
    // A time a little behind the last (events of two devices) neither wraps nor moves it back;
    // one from just before the wrap belongs to the round before.
    std::uint64_t round = clock.wraps;
    if (!clock.last || static_cast<std::uint32_t>(milliseconds - *clock.last) < halfRange) {
        clock.last = milliseconds;
    } else if (milliseconds > *clock.last && round > 0) {
        --round;
    }
    constexpr double millisecondsPerSecond = 1000.0;
    constexpr double wrapMilliseconds = 4294967296.0;
    return (static_cast<double>(round) * wrapMilliseconds + milliseconds) / millisecondsPerSecond;
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
