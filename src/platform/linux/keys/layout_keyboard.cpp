#include "platform/linux/keys/layout_keyboard.h"

#include "platform/linux/common/ownership.h"

#include <vector>

namespace focusprobe::platform::desktop {
namespace {

struct Source {
    int refs = 1;
    std::vector<std::byte> data;
};

} // namespace

std::optional<std::span<const std::byte>> LayoutDataKeyboard::unicodeKeyLayoutData(const InputSource& source)
{
    const auto* layout = static_cast<const Source*>(source.get());
    if (layout == nullptr) {
        return std::nullopt;
    }
    return std::span<const std::byte>(layout->data);
}

OSStatus LayoutDataKeyboard::translateKey(const std::byte* layoutData, std::uint16_t virtualKeyCode,
    std::uint16_t keyAction, std::uint32_t modifierKeyState, std::uint32_t /*keyboardType*/,
    std::uint32_t keyTranslateOptions, std::uint32_t& deadKeyState, std::size_t maxStringLength,
    std::size_t& actualStringLength, char16_t* unicodeString)
{
    return translateWithLayout(layoutData, virtualKeyCode, keyAction, modifierKeyState, keyTranslateOptions,
        deadKeyState, maxStringLength, actualStringLength, unicodeString);
}

void LayoutDataKeyboard::retain(RawRef ref)
{
    retainCounted<Source>(ref);
}

void LayoutDataKeyboard::release(RawRef ref)
{
    releaseCounted<Source>(ref);
}

InputSource LayoutDataKeyboard::makeSource(const LayoutKeys& keys)
{
    auto* source = new Source();
    source->data = encodeLayout(keys);
    return InputSource::adopt(*this, source);
}

} // namespace focusprobe::platform::desktop
