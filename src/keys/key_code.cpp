#include "keys/key_code.h"

#include "context/output.h"

#include <array>
#include <optional>
#include <span>
#include <string>

namespace focusprobe {
namespace {

// Key codes above this are never tried.
constexpr std::uint16_t lastScannedKeyCode = 127;
constexpr std::uint16_t keyActionDown = 0; // kUCKeyActionDown
// cmdKey in the translation's modifier encoding (event-record bits shifted right by 8), so layouts
// that switch key maps under Command are honoured.
constexpr std::uint32_t commandModifierState = 1;
// Dead-key processing stays on: a dead key then yields nothing and cannot match.
constexpr std::uint32_t translateOptions = 0;
constexpr std::size_t bufferCapacity = 4;

// Exactly one unit, "v" or "V": OR-ing in 0x20 folds the upper case onto the lower.
bool typesV(platform::OSStatus status, std::size_t length, char16_t unit)
{
    return status == 0 && length == 1 && (unit | 0x20U) == 0x76U;
}

std::optional<std::uint16_t> scanLayout(platform::KeyboardLayouts& keyboard, std::span<const std::byte> layout)
{
    if (layout.empty()) {
        return std::nullopt;
    }
    for (std::uint16_t keyCode = 0; keyCode <= lastScannedKeyCode; ++keyCode) {
        // Fresh state per key, so a dead key never colours the key after it.
        std::uint32_t deadKeyState = 0;
        std::array<char16_t, bufferCapacity> buffer{};
        std::size_t length = 0;
        const std::uint32_t keyboardType = keyboard.keyboardType();
        const platform::OSStatus status = keyboard.translateKey(layout.data(), keyCode, keyActionDown,
            commandModifierState, keyboardType, translateOptions, deadKeyState, buffer.size(), length, buffer.data());
        if (typesV(status, length, buffer[0])) {
            return keyCode;
        }
    }
    return std::nullopt;
}

} // namespace

std::uint16_t keyCodeTypingV(platform::KeyboardLayouts& keyboard)
{
    // Both are obtained up front and held to the end: the layout data is read in place.
    const std::array sources{
        keyboard.copyCurrentKeyboardLayoutInputSource(),
        keyboard.copyCurrentASCIICapableKeyboardLayoutInputSource(),
    };
    for (const platform::InputSource& source : sources) {
        if (!source) {
            continue;
        }
        const auto layout = keyboard.unicodeKeyLayoutData(source);
        if (!layout) {
            continue;
        }
        if (const auto keyCode = scanLayout(keyboard, *layout)) {
            return *keyCode;
        }
    }
    return fallbackVKeyCode;
}

int runPasteKeycode(Context& context)
{
    printLine(context.platform.process, std::to_string(keyCodeTypingV(context.platform.keyboard)));
    return 0;
}

} // namespace focusprobe
