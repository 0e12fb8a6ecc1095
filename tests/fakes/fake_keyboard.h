#pragma once

#include "fakes/call_log.h"
#include "platform/keyboard.h"

namespace focusprobe::testing {

// Keyboard layouts of the fake desktop. (Starts with no layouts at all.)
class FakeKeyboard final : public platform::KeyboardLayouts {
public:
    explicit FakeKeyboard(CallLog& log) : log_(log) { }
    platform::InputSource copyCurrentKeyboardLayoutInputSource() override { return {}; }
    platform::InputSource copyCurrentASCIICapableKeyboardLayoutInputSource() override { return {}; }
    std::optional<std::span<const std::byte>> unicodeKeyLayoutData(const platform::InputSource&) override
    {
        return std::nullopt;
    }
    std::uint8_t keyboardType() override { return 0; }
    platform::OSStatus translateKey(const std::byte*, std::uint16_t, std::uint16_t, std::uint32_t, std::uint32_t,
        std::uint32_t, std::uint32_t&, std::size_t, std::size_t& length, char16_t*) override
    {
        length = 0;
        return -50;
    }
    void retain(platform::RawRef) override { }
    void release(platform::RawRef) override { }

private:
    [[maybe_unused]] CallLog& log_;
};

} // namespace focusprobe::testing
