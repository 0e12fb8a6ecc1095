#include "platform/linux/keys/layout_data.h"

#include <cstring>

namespace focusprobe::platform::desktop {
namespace {

constexpr std::array<char, 4> magic{'F', 'P', 'K', 'L'};
constexpr std::uint16_t version = 1;
constexpr std::size_t headerSize = 8;

constexpr OSStatus noErr = 0;
constexpr OSStatus paramErr = -50;
constexpr OSStatus outputBufferTooSmall = -25340; // kUCOutputBufferTooSmall

constexpr std::uint16_t actionDown = 0;
constexpr std::uint16_t actionUp = 1;
constexpr std::uint16_t actionAutoKey = 2;
constexpr std::uint16_t actionDisplay = 3;

constexpr std::uint32_t shiftBit = 1U << 1U;
constexpr std::uint32_t capsBit = 1U << 2U;
constexpr std::uint32_t optionBit = 1U << 3U;
constexpr std::uint32_t noDeadKeysOption = 1U; // kUCKeyTranslateNoDeadKeysMask

void putWord(std::vector<std::byte>& out, std::uint32_t word)
{
    for (unsigned shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::byte>((word >> shift) & 0xFFU));
    }
}

std::uint32_t wordAt(const std::byte* data)
{
    std::uint32_t word = 0;
    for (unsigned i = 0; i < 4; ++i) {
        word |= std::to_integer<std::uint32_t>(data[i]) << (8U * i);
    }
    return word;
}

bool isAsciiLetter(char32_t c)
{
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
}

} // namespace

std::vector<std::byte> encodeLayout(const LayoutKeys& keys)
{
    std::vector<std::byte> out;
    out.reserve(headerSize + keys.size() * 16);
    for (const char c : magic) {
        out.push_back(static_cast<std::byte>(c));
    }
    out.push_back(static_cast<std::byte>(version & 0xFFU));
    out.push_back(static_cast<std::byte>(version >> 8U));
    out.push_back(static_cast<std::byte>(keys.size() & 0xFFU));
    out.push_back(static_cast<std::byte>(keys.size() >> 8U));
    for (const auto& key : keys) {
        for (const char32_t level : key.levels) {
            putWord(out, level);
        }
    }
    return out;
}

OSStatus translateWithLayout(const std::byte* layoutData, std::uint16_t virtualKeyCode, std::uint16_t keyAction,
    std::uint32_t modifierKeyState, std::uint32_t keyTranslateOptions, std::uint32_t& deadKeyState,
    std::size_t maxStringLength, std::size_t& actualStringLength, char16_t* unicodeString)
{
    actualStringLength = 0;
    if (layoutData == nullptr || std::memcmp(layoutData, magic.data(), magic.size()) != 0) {
        return paramErr;
    }
    const auto keyCount
        = std::to_integer<std::size_t>(layoutData[6]) | (std::to_integer<std::size_t>(layoutData[7]) << 8U);
    if (keyAction > actionDisplay) {
        return paramErr;
    }
    if (keyAction == actionUp || virtualKeyCode >= keyCount) {
        return noErr;
    }
    const std::byte* key = layoutData + headerSize + static_cast<std::size_t>(virtualKeyCode) * 16;
    const bool shift = (modifierKeyState & shiftBit) != 0;
    const bool option = (modifierKeyState & optionBit) != 0;
    std::size_t level = (option ? 2U : 0U) + (shift ? 1U : 0U);
    char32_t symbol = wordAt(key + level * 4);
    if ((modifierKeyState & capsBit) != 0 && !shift && isAsciiLetter(symbol)) {
        symbol = wordAt(key + (level + 1) * 4);
    }
    if ((symbol & deadKeyBit) != 0) {
        symbol &= ~deadKeyBit;
        const bool deadKeysOn = (keyTranslateOptions & noDeadKeysOption) == 0 && keyAction != actionDisplay;
        if (deadKeysOn && deadKeyState == 0) {
            // The next key is typed on its own: composing needs the input method's tables.
            deadKeyState = static_cast<std::uint32_t>(symbol) | 1U;
            return noErr;
        }
    }
    if (keyAction == actionDown || keyAction == actionAutoKey) {
        deadKeyState = 0;
    }
    if (symbol == 0) {
        return noErr;
    }
    std::array<char16_t, 2> units{};
    std::size_t count = 1;
    if (symbol >= 0x10000 && symbol <= 0x10FFFF) {
        const char32_t offset = symbol - 0x10000;
        units[0] = static_cast<char16_t>(0xD800 + (offset >> 10U));
        units[1] = static_cast<char16_t>(0xDC00 + (offset & 0x3FFU));
        count = 2;
    } else if (symbol < 0x10000) {
        units[0] = static_cast<char16_t>(symbol);
    } else {
        return noErr;
    }
    if (count > maxStringLength || unicodeString == nullptr) {
        return outputBufferTooSmall;
    }
    for (std::size_t i = 0; i < count; ++i) {
        unicodeString[i] = units[i];
    }
    actualStringLength = count;
    return noErr;
}

} // namespace focusprobe::platform::desktop
