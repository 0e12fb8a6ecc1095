// Text Input Sources, LMGetKbdType and UCKeyTranslate over World's scripted layouts.

#include "fakes/fake_keyboard.h"
#include "registry.h"

#include <array>
#include <string_view>

namespace focusprobe::testing::frameworks {
namespace {

constexpr OSStatus paramErr = -50;

Object propertyKeyObject{StringBody{u"TISPropertyUnicodeKeyLayoutData"}, 1, true};

TISInputSourceRef copySource(const std::optional<InputSourceScript>& script)
{
    if (!script) {
        return nullptr;
    }
    CFDataRef layout = nullptr;
    if (script->layout) {
        layout = CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(script->layout->data()),
            static_cast<CFIndex>(script->layout->size()));
    }
    // The source owns its layout data; it goes when the source goes.
    return as<TISInputSourceRef>(world().registry().make(InputSourceBody{script->label, layout}));
}

} // namespace

std::vector<Object*> textInputConstants()
{
    return {&propertyKeyObject};
}

} // namespace focusprobe::testing::frameworks

using namespace focusprobe::testing::frameworks;

extern "C" {

const CFStringRef kTISPropertyUnicodeKeyLayoutData = as<CFStringRef>(&propertyKeyObject);

CFTypeID TISInputSourceGetTypeID(void)
{
    return typeIdOf<InputSourceBody>();
}

TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource(void)
{
    return copySource(world().currentLayout);
}

TISInputSourceRef TISCopyCurrentASCIICapableKeyboardLayoutInputSource(void)
{
    return copySource(world().asciiCapableLayout);
}

void* TISGetInputSourceProperty(TISInputSourceRef inputSource, CFStringRef propertyKey)
{
    const auto* source = world().registry().use<InputSourceBody>(inputSource, "TISGetInputSourceProperty");
    world().registry().use<StringBody>(propertyKey, "TISGetInputSourceProperty");
    if (source == nullptr || propertyKey != kTISPropertyUnicodeKeyLayoutData) {
        return nullptr;
    }
    // The Get rule: the source keeps its reference.
    return const_cast<void*>(static_cast<const void*>(source->layout));
}

UInt8 LMGetKbdType(void)
{
    return world().keyboardType;
}

OSStatus UCKeyTranslate(const UCKeyboardLayout* keyLayoutPtr, UInt16 virtualKeyCode, UInt16 keyAction,
    UInt32 modifierKeyState, UInt32 /*keyboardType*/, OptionBits keyTranslateOptions, UInt32* deadKeyState,
    UniCharCount maxStringLength, UniCharCount* actualStringLength, UniChar unicodeString[])
{
    World& w = world();
    Registry& registry = w.registry();
    if (keyLayoutPtr == nullptr || deadKeyState == nullptr || actualStringLength == nullptr
        || unicodeString == nullptr) {
        registry.nullUse("UCKeyTranslate");
        return paramErr;
    }
    // The layout must be read in place, from the start of data an input source still holds.
    const Object* data = registry.dataHolding(keyLayoutPtr);
    if (data == nullptr || static_cast<const void*>(std::get<DataBody>(data->body).bytes.data()) != keyLayoutPtr) {
        registry.badArgument("UCKeyTranslate", "a layout pointer to no layout data's start");
        return paramErr;
    }
    if (data->retainCount == 0) {
        registry.useAfterRelease("UCKeyTranslate", *data);
        return paramErr;
    }
    ++w.translations;
    const auto& bytes = std::get<DataBody>(data->body).bytes;
    const std::string_view layout(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::uint32_t deadKeys = *deadKeyState;
    std::size_t produced = 0;
    std::array<char16_t, 16> typed{};
    const OSStatus status = focusprobe::testing::layouts::translate(layout, virtualKeyCode, keyAction, modifierKeyState,
        keyTranslateOptions, deadKeys, std::min<std::size_t>(maxStringLength, typed.size()), produced, typed.data());
    *deadKeyState = deadKeys;
    *actualStringLength = produced;
    std::copy_n(typed.begin(), produced, unicodeString);
    return status;
}

} // extern "C"
