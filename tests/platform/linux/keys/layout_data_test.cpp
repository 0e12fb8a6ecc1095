#include "platform/linux/keys/layout_data.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace focusprobe::platform::desktop {
namespace {

constexpr std::uint32_t commandState = 1;
constexpr std::uint32_t shiftState = 2;
constexpr std::uint32_t capsState = 4;
constexpr std::uint32_t optionState = 8;
constexpr std::uint32_t controlState = 16;

struct Result {
    OSStatus status;
    std::u16string text;
    std::uint32_t deadKeyState;
};

Result translate(const std::vector<std::byte>& data, std::uint16_t key, std::uint32_t modifiers,
    std::uint16_t action = 0, std::uint32_t options = 0, std::uint32_t deadKeyState = 0, std::size_t capacity = 4)
{
    std::array<char16_t, 4> buffer{};
    std::size_t length = 99;
    const OSStatus status = translateWithLayout(
        data.data(), key, action, modifiers, options, deadKeyState, capacity, length, buffer.data());
    return {status, std::u16string(buffer.data(), length), deadKeyState};
}

// A Dvorak-like layout: v on the period key (47), a dead acute on key 39, a letter outside the
// Basic Multilingual Plane on key 50.
std::vector<std::byte> sampleLayout()
{
    LayoutKeys keys{};
    keys[47].levels = {U'v', U'V', U'\u2193', 0};
    keys[9].levels = {U'k', U'K', 0, 0};
    keys[39].levels = {U'\u00B4' | deadKeyBit, U'"', 0, 0};
    keys[50].levels = {U'\U0001D400', 0, 0, 0};
    keys[18].levels = {U'1', U'!', 0, 0};
    return encodeLayout(keys);
}

struct KeyCase {
    std::uint16_t key;
    std::uint32_t modifiers;
    std::u16string text;
};

TEST(LayoutData, TranslatesByLevel)
{
    const auto data = sampleLayout();
    const std::array<KeyCase, 10> cases{{
        {47, commandState, u"v"}, // Command keeps the unshifted symbol, as shortcuts match it
        {47, 0, u"v"}, {47, controlState, u"v"}, {47, shiftState, u"V"}, {47, commandState | shiftState, u"V"},
        {47, optionState, u"\u2193"}, {47, capsState, u"V"}, // Caps Lock shifts letters
        {18, capsState, u"1"}, // and nothing else
        {9, commandState, u"k"}, {50, 0, u"\U0001D400"}, // a surrogate pair: two code units
    }};
    for (const auto& c : cases) {
        const Result result = translate(data, c.key, c.modifiers);
        EXPECT_EQ(result.status, 0) << c.key;
        EXPECT_EQ(result.text, c.text) << c.key << " modifiers " << c.modifiers;
    }
}

TEST(LayoutData, KeysWithoutSymbolsAndOutOfRangeKeysTypeNothing)
{
    const auto data = sampleLayout();
    EXPECT_EQ(translate(data, 9, optionState).text, u"");
    EXPECT_EQ(translate(data, 100, 0).text, u"");
    const Result beyond = translate(data, 200, 0);
    EXPECT_EQ(beyond.status, 0);
    EXPECT_EQ(beyond.text, u"");
    EXPECT_EQ(translate(data, 47, 0, /*action up*/ 1).text, u"");
}

TEST(LayoutData, DeadKeysTypeNothingUntilTheNextKey)
{
    const auto data = sampleLayout();
    const Result dead = translate(data, 39, 0);
    EXPECT_EQ(dead.status, 0);
    EXPECT_EQ(dead.text, u"");
    EXPECT_NE(dead.deadKeyState, 0U);
    const Result next = translate(data, 47, 0, 0, 0, dead.deadKeyState);
    EXPECT_EQ(next.text, u"v");
    EXPECT_EQ(next.deadKeyState, 0U);
    // With dead keys switched off the key types its spacing character.
    EXPECT_EQ(translate(data, 39, 0, 0, /*kUCKeyTranslateNoDeadKeysMask*/ 1).text, u"\u00B4");
    EXPECT_EQ(translate(data, 39, shiftState).text, u"\"");
}

TEST(LayoutData, RejectsForeignDataAndSmallBuffers)
{
    const auto data = sampleLayout();
    EXPECT_EQ(translate(data, 50, 0, 0, 0, 0, 1).status, -25340);
    EXPECT_EQ(translate(data, 47, 0, /*no such action*/ 7).status, -50);
    std::vector<std::byte> foreign(data.size(), std::byte{0});
    const Result result = translate(foreign, 47, 0);
    EXPECT_EQ(result.status, -50);
    EXPECT_EQ(result.text, u"");
}

TEST(LayoutData, EncodingHasAHeaderAndFourWordsPerKey)
{
    const auto data = encodeLayout(LayoutKeys{});
    ASSERT_EQ(data.size(), 8 + layoutKeyCount * 16);
    EXPECT_EQ(static_cast<char>(data[0]), 'F');
    EXPECT_EQ(static_cast<char>(data[3]), 'L');
    EXPECT_EQ(std::to_integer<int>(data[6]), 128);
}

} // namespace
} // namespace focusprobe::platform::desktop
