#pragma once

#include "platform/keyboard.h"
#include "platform/linux/keys/layout_data.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace focusprobe::platform::desktop {

// What the X11 and Wayland keyboards share: their input sources hold layout data of our own
// (encodeLayout), read by translateWithLayout as UCKeyTranslate reads a Mac's. Each keyboard
// says only which layouts are current.
class LayoutDataKeyboard : public KeyboardLayouts {
public:
    std::optional<std::span<const std::byte>> unicodeKeyLayoutData(const InputSource& source) final;
    // An ANSI keyboard; the layout data does not depend on it.
    std::uint8_t keyboardType() final { return 40; }
    OSStatus translateKey(const std::byte* layoutData, std::uint16_t virtualKeyCode, std::uint16_t keyAction,
        std::uint32_t modifierKeyState, std::uint32_t keyboardType, std::uint32_t keyTranslateOptions,
        std::uint32_t& deadKeyState, std::size_t maxStringLength, std::size_t& actualStringLength,
        char16_t* unicodeString) final;
    void retain(RawRef ref) final;
    void release(RawRef ref) final;

protected:
    LayoutDataKeyboard() = default;
    LayoutDataKeyboard(const LayoutDataKeyboard&) = default;
    LayoutDataKeyboard& operator=(const LayoutDataKeyboard&) = default;
    ~LayoutDataKeyboard() = default;

    // A source holding these keys' layout data, counted from the caller's one reference.
    InputSource makeSource(const LayoutKeys& keys);
};

} // namespace focusprobe::platform::desktop
