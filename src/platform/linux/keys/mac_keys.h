#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// The fixed translations between the program's macOS vocabulary and the X11 / AT-SPI one. Pure
// data and functions, so they are tested without a display.
namespace focusprobe::platform::desktop {

// --- Key positions -------------------------------------------------------------------------

// The XKB key name ("AB04") of the physical key that carries this macOS virtual key code.
std::optional<std::string_view> xkbNameForMacKeyCode(std::uint16_t macKeyCode);
// The macOS virtual key code of the key at this XKB position.
std::optional<std::uint16_t> macKeyCodeForXkbName(std::string_view xkbName);

// The macOS key codes of the modifier keys.
namespace mackey {
inline constexpr std::uint16_t rightCommand = 54;
inline constexpr std::uint16_t command = 55;
inline constexpr std::uint16_t shift = 56;
inline constexpr std::uint16_t capsLock = 57;
inline constexpr std::uint16_t option = 58;
inline constexpr std::uint16_t control = 59;
inline constexpr std::uint16_t rightShift = 60;
inline constexpr std::uint16_t rightOption = 61;
inline constexpr std::uint16_t rightControl = 62;
inline constexpr std::uint16_t function = 63;
} // namespace mackey

bool isModifierKey(std::uint16_t macKeyCode);

// --- Modifier flags (NSEventModifierFlags / CGEventFlags bits) -----------------------------

namespace flag {
inline constexpr std::uint64_t capsLock = 0x10000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t function = 0x800000;
} // namespace flag

// The flag word of a flags-changed event, given the modifier keys held down and the locked Caps
// Lock state: the device-independent bit of each held modifier plus its left/right bit.
std::uint64_t modifierFlags(std::span<const std::uint16_t> downModifierKeys, bool capsLocked);

// The modifier keys a posted event's flag word asks to be held, one key per device-independent
// bit; the right-hand key when only its device-dependent bit is given.
std::vector<std::uint16_t> modifierKeysForFlags(std::uint64_t flags);

// --- Event masks (bit n = NSEvent type n) ---------------------------------------------------

namespace eventmask {
inline constexpr std::uint64_t leftMouseDown = 1U << 1U;
inline constexpr std::uint64_t rightMouseDown = 1U << 3U;
inline constexpr std::uint64_t keyDown = 1U << 10U;
inline constexpr std::uint64_t flagsChanged = 1U << 12U;
} // namespace eventmask

// --- AT-SPI roles and states -----------------------------------------------------------------

// Bit n stands for AtspiStateType n, as GetState's two 32-bit words give them.
using StateSet = std::uint64_t;

namespace state {
inline constexpr int active = 1;
inline constexpr int editable = 7;
inline constexpr int focusable = 11;
inline constexpr int focused = 12;
inline constexpr int multiLine = 17;
inline constexpr int selected = 23;
inline constexpr int showing = 25;
inline constexpr int singleLine = 26;
} // namespace state

StateSet stateSetFromWords(std::span<const std::uint32_t> words);
inline bool hasState(StateSet states, int bit)
{
    return ((states >> static_cast<unsigned>(bit)) & 1U) != 0;
}

// The role string the program uses for an AT-SPI role (AtspiRole number) in these states.
// Only the roles for which roleDependsOnStates holds look at the states.
std::string_view axRoleFor(std::uint32_t atspiRole, StateSet states);
bool roleDependsOnStates(std::uint32_t atspiRole);

bool isTextEntryAxRole(std::string_view role);

// Roles whose children a composer walk never reads (buttons, labels, menus...): reading ahead
// stops there. Only a hint for speed; a read that was not sent ahead is sent when asked.
bool isWalkLeafRole(std::string_view role);

// --- Keysyms ---------------------------------------------------------------------------------

// The spacing character a dead keysym stands for (dead_acute gives U+00B4), or nothing when the
// keysym is not a dead key.
std::optional<char32_t> deadKeySpacingCharacter(std::uint32_t keysym);

} // namespace focusprobe::platform::desktop
