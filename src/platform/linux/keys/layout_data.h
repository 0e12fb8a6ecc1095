#pragma once

#include "platform/keyboard.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The "Unicode key-layout data" this backend hands out for an XKB group, and the key translation
// that reads it with UCKeyTranslate's arguments and meaning.
namespace focusprobe::platform::desktop {

inline constexpr std::size_t layoutKeyCount = 128;

// What one key position types on the four shift levels (none, Shift, AltGr, AltGr+Shift). A
// dead key holds its code point with deadKeyBit set; 0 is no character.
struct KeyLevels {
    std::array<char32_t, 4> levels{};
};
inline constexpr char32_t deadKeyBit = 0x80000000U;

using LayoutKeys = std::array<KeyLevels, layoutKeyCount>;

// Header "FPKL", version, key count, then each key's four levels as little-endian 32-bit words.
std::vector<std::byte> encodeLayout(const LayoutKeys& keys);

// UCKeyTranslate over data made by encodeLayout. modifierKeyState is the event-record modifier
// word shifted right by 8: bit 0 Command, 1 Shift, 2 Caps Lock, 3 Option, 4 Control. Command and
// Control do not change the level, as a shortcut is matched on the unshifted symbols.
OSStatus translateWithLayout(const std::byte* layoutData, std::uint16_t virtualKeyCode, std::uint16_t keyAction,
    std::uint32_t modifierKeyState, std::uint32_t keyTranslateOptions, std::uint32_t& deadKeyState,
    std::size_t maxStringLength, std::size_t& actualStringLength, char16_t* unicodeString);

} // namespace focusprobe::platform::desktop
