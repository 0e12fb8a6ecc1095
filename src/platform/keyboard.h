#pragma once

#include "platform/ref.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace focusprobe::platform {

using InputSource = Ref<struct InputSourceTag>;
using OSStatus = std::int32_t;

// Text Input Sources and Unicode key translation.
class KeyboardLayouts : public RefCounter {
public:
    virtual InputSource copyCurrentKeyboardLayoutInputSource() = 0;
    virtual InputSource copyCurrentASCIICapableKeyboardLayoutInputSource() = 0;

    // The source's Unicode key-layout data, read in place: valid while the source is held.
    virtual std::optional<std::span<const std::byte>> unicodeKeyLayoutData(const InputSource& source) = 0;

    // LMGetKbdType.
    virtual std::uint8_t keyboardType() = 0;

    // UCKeyTranslate, argument for argument.
    virtual OSStatus translateKey(const std::byte* layoutData, std::uint16_t virtualKeyCode, std::uint16_t keyAction,
        std::uint32_t modifierKeyState, std::uint32_t keyboardType, std::uint32_t keyTranslateOptions,
        std::uint32_t& deadKeyState, std::size_t maxStringLength, std::size_t& actualStringLength,
        char16_t* unicodeString)
        = 0;

protected:
    KeyboardLayouts() = default;
    KeyboardLayouts(const KeyboardLayouts&) = default;
    KeyboardLayouts& operator=(const KeyboardLayouts&) = default;
    ~KeyboardLayouts() = default;
};

} // namespace focusprobe::platform
