#pragma once

#include "fakes/call_log.h"
#include "platform/keyboard.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace focusprobe::testing {

// Layout data of the fake is text, one key per line:
//
//   <key code> <what the key types> <what it types with Command>
//
// A product is the UTF-8 characters typed, "none", "dead:<accent>" for a dead key, or
// "fail:<characters>" for a translation that reports an error yet leaves the characters behind.
// A later line for the same key code replaces an earlier one; keys not listed type nothing.
namespace layouts {

// Key codes 0 to 50 in the arrangement of an ANSI keyboard, one character per key code, a space
// for a key with no character: "asdfhgzxcv bqwe..." puts "v" on key code 9.
std::string fromRows(std::u32string_view plain, std::u32string_view withCommand);
std::string withKey(std::string layout, std::uint16_t keyCode, std::string_view plain, std::string_view withCommand);

std::string usAnsi();
std::string dvorak(); // "v" on key code 47
std::string dvorakQwertyCommand(); // Dvorak, but QWERTY while Command is held
std::string ukrainian(); // Cyrillic with and without Command
std::string usWithDeadKey(); // key code 8 is a dead circumflex under Command, just before "v"
std::string dvorakCapitalV(); // key code 47 types "V" under Command
std::string dvorakVWithMark(); // key code 47 types "v" and a combining mark under Command
std::string dvorakTwoVKeys(); // key codes 40 and 47 both type "v" under Command
std::string ukrainianVAbove127(); // the only "v" is on key code 160

// UCKeyTranslate over layout text, argument for argument: what the key types given the dead-key
// state, and status 0, paramErr (-50) or kUCOutputBufferTooSmall.
platform::OSStatus translate(std::string_view layout, std::uint16_t virtualKeyCode, std::uint16_t keyAction,
    std::uint32_t modifierKeyState, std::uint32_t keyTranslateOptions, std::uint32_t& deadKeyState,
    std::size_t maxStringLength, std::size_t& actualStringLength, char16_t* unicodeString);

} // namespace layouts

// Keyboard layouts of the fake desktop. Starts with no input sources at all.
class FakeKeyboard final : public platform::KeyboardLayouts {
public:
    // What one of the two copy calls hands out: no source, a source without layout data, or a
    // source with these layout bytes (possibly none).
    struct Source {
        std::string label;
        std::optional<std::string> layoutData;
    };

    // The arguments of one translateKey call, the in/out ones as they came in.
    struct Translation {
        std::string layout; // label of the source whose data was passed, "?" for other bytes
        std::uint16_t keyCode = 0;
        std::uint16_t keyAction = 0;
        std::uint32_t modifierKeyState = 0;
        std::uint32_t keyboardType = 0;
        std::uint32_t keyTranslateOptions = 0;
        std::uint32_t deadKeyState = 0;
        std::size_t maxStringLength = 0;
        std::size_t actualStringLength = 0;
        std::u16string buffer; // the first maxStringLength units (at most 16)
        long keyboardTypeReadsSoFar = 0;
    };

    explicit FakeKeyboard(CallLog& log) : log_(log) { }

    std::optional<Source> current;
    std::optional<Source> asciiCapable;
    // Each read of the keyboard type answers the next value from here, so a stale value shows.
    std::uint8_t firstKeyboardType = 40;

    std::vector<Translation> translations;
    long keyboardTypeReads = 0;

    [[nodiscard]] long liveReferences() const;
    [[nodiscard]] long overReleases() const { return overReleases_; }
    // Layout data read, or translated with, after its source was released.
    [[nodiscard]] long staleUses() const { return staleUses_; }

    platform::InputSource copyCurrentKeyboardLayoutInputSource() override;
    platform::InputSource copyCurrentASCIICapableKeyboardLayoutInputSource() override;
    std::optional<std::span<const std::byte>> unicodeKeyLayoutData(const platform::InputSource& source) override;
    std::uint8_t keyboardType() override;
    platform::OSStatus translateKey(const std::byte* layoutData, std::uint16_t virtualKeyCode, std::uint16_t keyAction,
        std::uint32_t modifierKeyState, std::uint32_t keyboardType, std::uint32_t keyTranslateOptions,
        std::uint32_t& deadKeyState, std::size_t maxStringLength, std::size_t& actualStringLength,
        char16_t* unicodeString) override;
    void retain(platform::RawRef ref) override;
    void release(platform::RawRef ref) override;

private:
    struct Object {
        Source source;
        long references = 0;
    };

    platform::InputSource copy(const std::optional<Source>& source, std::string_view call);
    Object& object(platform::RawRef raw);
    const Object* objectWithData(const std::byte* data) const;

    CallLog& log_;
    std::deque<Object> objects_;
    long overReleases_ = 0;
    long staleUses_ = 0;
};

} // namespace focusprobe::testing
