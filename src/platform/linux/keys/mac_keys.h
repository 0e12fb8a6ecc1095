#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// The program's macOS key vocabulary and its translation to the XKB one, shared by the X11 and
// Wayland keyboards: key positions, modifier flags and event masks. Pure data and functions.
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

} // namespace focusprobe::platform::desktop
