#include "platform/linux/keys/layout_data.h"
#include "platform/linux/wayland/keymap.h"

#include <gtest/gtest.h>

#include <string>

namespace focusprobe::platform::wayland {
namespace {

// The key code the layout's unshifted level types "v" on, scanning as the key-code lookup does.
std::optional<std::uint16_t> keyTypingV(const desktop::LayoutKeys& keys)
{
    for (std::uint16_t code = 0; code < desktop::layoutKeyCount; ++code) {
        if ((keys[code].levels[0] | 0x20U) == U'v') {
            return code;
        }
    }
    return std::nullopt;
}

struct LayoutCase {
    const char* name;
    const char* layout;
    const char* variant;
    std::uint32_t layouts;
    // Per layout: where "v" is, and whether it types a to z.
    std::array<std::optional<std::uint16_t>, 2> vKey;
    std::array<bool, 2> asciiCapable;
};

class KeymapLayouts : public testing::TestWithParam<LayoutCase> { };

// The seat's keymap comes as text: the layouts are read from that text, as a client receives it.
TEST_P(KeymapLayouts, ReadFromTheKeymapText)
{
    const auto& param = GetParam();
    const Keymap built = keymapFromNames(param.layout, param.variant);
    ASSERT_NE(built, nullptr);
    const Keymap keymap = compileKeymap(keymapText(built.get()));
    ASSERT_NE(keymap, nullptr);
    ASSERT_EQ(layoutCount(keymap.get()), param.layouts);
    for (std::uint32_t layout = 0; layout < param.layouts; ++layout) {
        const auto keys = layoutKeys(keymap.get(), layout);
        EXPECT_EQ(keyTypingV(keys), param.vKey[layout]) << "layout " << layout;
        EXPECT_EQ(isAsciiCapable(keys), param.asciiCapable[layout]) << "layout " << layout;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, KeymapLayouts,
    testing::Values(LayoutCase{"us", "us", nullptr, 1, {9, std::nullopt}, {true, false}},
        LayoutCase{"dvorak", "us", "dvorak", 1, {47, std::nullopt}, {true, false}},
        // Russian first: its V position types a Cyrillic letter; the us layout has v there.
        LayoutCase{"ru_us", "ru,us", nullptr, 2, {std::nullopt, 9}, {false, true}}),
    [](const testing::TestParamInfo<LayoutCase>& testCase) { return std::string(testCase.param.name); });

TEST(WaylandKeymap, ShiftLevelAndDeadKeys)
{
    const Keymap keymap = keymapFromNames("us", "intl");
    ASSERT_NE(keymap, nullptr);
    const auto keys = layoutKeys(keymap.get(), 0);
    EXPECT_EQ(keys[9].levels[0], U'v');
    EXPECT_EQ(keys[9].levels[1], U'V');
    // The quote key (39) of us-intl is a dead acute: its spacing character, marked dead.
    EXPECT_EQ(keys[39].levels[0], U'\u00B4' | desktop::deadKeyBit);
}

// Keys go to the compositor as Linux input-event codes, found by position.
TEST(WaylandKeymap, EvdevCodesByPosition)
{
    const Keymap dvorak = keymapFromNames("us", "dvorak");
    ASSERT_NE(dvorak, nullptr);
    EXPECT_EQ(evdevKeyCode(dvorak.get(), 9), 47U); // the V position is KEY_V whatever it types
    EXPECT_EQ(evdevKeyCode(dvorak.get(), 47), 52U); // the period position, KEY_DOT
    EXPECT_EQ(evdevKeyCode(dvorak.get(), 55), 29U); // Command is Control here: KEY_LEFTCTRL
    EXPECT_EQ(evdevKeyCode(dvorak.get(), 56), 42U); // KEY_LEFTSHIFT
    EXPECT_EQ(evdevKeyCode(dvorak.get(), 0xFF), std::nullopt);
}

TEST(WaylandKeymap, WhatIsNoKeymap)
{
    EXPECT_EQ(compileKeymap(""), nullptr);
    // Quietly: standard error is the host's.
    testing::internal::CaptureStderr();
    EXPECT_EQ(compileKeymap("xkb_keymap { this is not one"), nullptr);
    EXPECT_EQ(keymapFromNames("no-such-layout", nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(layoutCount(nullptr), 0U);
    EXPECT_EQ(evdevKeyCode(nullptr, 9), std::nullopt);
    EXPECT_EQ(keymapText(nullptr), "");
    EXPECT_EQ(keyTypingV(layoutKeys(nullptr, 0)), std::nullopt);
}

} // namespace
} // namespace focusprobe::platform::wayland
