#pragma once

#include "platform/keyboard.h"
#include "platform/macos/cf_ref.h"

namespace focusprobe::platform::macos {

// Text Input Sources and UCKeyTranslate (Carbon); input sources are CF objects.
class MacKeyboardLayouts final : public CFCounted<KeyboardLayouts> {
public:
    InputSource copyCurrentKeyboardLayoutInputSource() override;
    InputSource copyCurrentASCIICapableKeyboardLayoutInputSource() override;
    std::optional<std::span<const std::byte>> unicodeKeyLayoutData(const InputSource& source) override;
    std::uint8_t keyboardType() override;
    OSStatus translateKey(const std::byte* layoutData, std::uint16_t virtualKeyCode, std::uint16_t keyAction,
        std::uint32_t modifierKeyState, std::uint32_t keyboardType, std::uint32_t keyTranslateOptions,
        std::uint32_t& deadKeyState, std::size_t maxStringLength, std::size_t& actualStringLength,
        char16_t* unicodeString) override;
};

} // namespace focusprobe::platform::macos
