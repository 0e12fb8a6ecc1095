#include "platform/macos/mac_keyboard.h"

#include <Carbon/Carbon.h>

#include <vector>

namespace focusprobe::platform::macos {

InputSource MacKeyboardLayouts::copyCurrentKeyboardLayoutInputSource()
{
    return InputSource::adopt(*this, TISCopyCurrentKeyboardLayoutInputSource());
}

InputSource MacKeyboardLayouts::copyCurrentASCIICapableKeyboardLayoutInputSource()
{
    return InputSource::adopt(*this, TISCopyCurrentASCIICapableKeyboardLayoutInputSource());
}

std::optional<std::span<const std::byte>> MacKeyboardLayouts::unicodeKeyLayoutData(const InputSource& source)
{
    if (!source) {
        return std::nullopt;
    }
    // Borrowed from the source (a Get call), so the bytes live as long as the caller holds it.
    const void* property = TISGetInputSourceProperty(
        static_cast<TISInputSourceRef>(const_cast<void*>(source.get())), kTISPropertyUnicodeKeyLayoutData);
    if (property == nullptr || CFGetTypeID(property) != CFDataGetTypeID()) {
        return std::nullopt;
    }
    const auto data = static_cast<CFDataRef>(property);
    const auto* bytes = reinterpret_cast<const std::byte*>(CFDataGetBytePtr(data));
    const auto length = static_cast<std::size_t>(CFDataGetLength(data));
    if (bytes == nullptr) {
        return std::span<const std::byte>();
    }
    return std::span<const std::byte>(bytes, length);
}

std::uint8_t MacKeyboardLayouts::keyboardType()
{
    return LMGetKbdType();
}

OSStatus MacKeyboardLayouts::translateKey(const std::byte* layoutData, std::uint16_t virtualKeyCode,
    std::uint16_t keyAction, std::uint32_t modifierKeyState, std::uint32_t keyboardType,
    std::uint32_t keyTranslateOptions, std::uint32_t& deadKeyState, std::size_t maxStringLength,
    std::size_t& actualStringLength, char16_t* unicodeString)
{
    UInt32 deadKeys = deadKeyState;
    UniCharCount produced = 0;
    std::vector<UniChar> buffer(maxStringLength, 0);
    const OSStatus status
        = UCKeyTranslate(reinterpret_cast<const UCKeyboardLayout*>(layoutData), virtualKeyCode, keyAction,
            modifierKeyState, keyboardType, keyTranslateOptions, &deadKeys, maxStringLength, &produced, buffer.data());
    deadKeyState = deadKeys;
    actualStringLength = produced;
    for (std::size_t i = 0; i < produced && i < maxStringLength; ++i) {
        unicodeString[i] = static_cast<char16_t>(buffer[i]);
    }
    return status;
}

} // namespace focusprobe::platform::macos
