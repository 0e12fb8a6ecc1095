#pragma once

// Test double of the Text Input Sources (HIToolbox), LMGetKbdType and UCKeyTranslate (CarbonCore)
// that the macOS backend uses, with the SDK's names and signatures. See fake_frameworks.h.

#include <ApplicationServices/ApplicationServices.h>

using TISInputSourceRef = struct TISInputSourceOpaque*;
// Opaque here: the fake's layout data is its own text format (fakes/fake_keyboard.h).
struct UCKeyboardLayout;

enum : UInt16 { kUCKeyActionDown = 0, kUCKeyActionUp = 1, kUCKeyActionAutoKey = 2, kUCKeyActionDisplay = 3 };
enum : OptionBits { kUCKeyTranslateNoDeadKeysMask = 1 };

extern "C" {

extern const CFStringRef kTISPropertyUnicodeKeyLayoutData;

CFTypeID TISInputSourceGetTypeID(void);
TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource(void) CF_RETURNS_RETAINED;
TISInputSourceRef TISCopyCurrentASCIICapableKeyboardLayoutInputSource(void) CF_RETURNS_RETAINED;
void* TISGetInputSourceProperty(TISInputSourceRef inputSource, CFStringRef propertyKey);
UInt8 LMGetKbdType(void);
OSStatus UCKeyTranslate(const UCKeyboardLayout* keyLayoutPtr, UInt16 virtualKeyCode, UInt16 keyAction,
    UInt32 modifierKeyState, UInt32 keyboardType, OptionBits keyTranslateOptions, UInt32* deadKeyState,
    UniCharCount maxStringLength, UniCharCount* actualStringLength, UniChar unicodeString[]);

} // extern "C"
