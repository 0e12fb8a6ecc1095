#include "platform/linux/keys/mac_keys.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <vector>

namespace focusprobe::platform::desktop {
namespace {

struct PositionCase {
    std::uint16_t macKeyCode;
    std::string_view xkbName;
};

TEST(KeyPositions, KnownPositionsTranslateBothWays)
{
    const std::array<PositionCase, 12> cases{{
        {9, "AB04"}, // V on ANSI; X keycode 55 on an evdev keymap
        {47, "AB09"}, // the period key, where Dvorak puts v
        {0, "AC01"},
        {12, "AD01"},
        {50, "TLDE"},
        {36, "RTRN"},
        {49, "SPCE"},
        {mackey::command, "LCTL"}, // the shortcut modifier is Control here
        {mackey::rightCommand, "RCTL"},
        {mackey::option, "LALT"},
        {mackey::rightOption, "RALT"},
        {mackey::shift, "LFSH"},
    }};
    for (const auto& c : cases) {
        EXPECT_EQ(xkbNameForMacKeyCode(c.macKeyCode), c.xkbName) << c.macKeyCode;
        EXPECT_EQ(macKeyCodeForXkbName(c.xkbName), c.macKeyCode) << c.xkbName;
    }
}

TEST(KeyPositions, EveryMappedKeyCodeRoundTripsAndNamesAreUnique)
{
    std::set<std::string_view> names;
    int mapped = 0;
    for (std::uint16_t code = 0; code < 128; ++code) {
        const auto name = xkbNameForMacKeyCode(code);
        if (!name) {
            continue;
        }
        ++mapped;
        EXPECT_TRUE(names.insert(*name).second) << "two key codes on " << *name;
        EXPECT_EQ(macKeyCodeForXkbName(*name), code) << *name;
    }
    // Every letter, digit, punctuation and modifier key of an ANSI keyboard has a position.
    EXPECT_GE(mapped, 100);
}

TEST(KeyPositions, AliasesAndUnknownNames)
{
    EXPECT_EQ(macKeyCodeForXkbName("ALGR"), mackey::rightOption);
    EXPECT_EQ(macKeyCodeForXkbName("LMTA"), mackey::control);
    EXPECT_EQ(macKeyCodeForXkbName("I372"), std::nullopt);
    EXPECT_EQ(macKeyCodeForXkbName(""), std::nullopt);
    EXPECT_EQ(xkbNameForMacKeyCode(52), std::nullopt); // no key on an ANSI keyboard
    EXPECT_EQ(xkbNameForMacKeyCode(200), std::nullopt);
}

TEST(KeyPositions, ModifierKeysAreExactlyTheModifierCodes)
{
    for (std::uint16_t code = 0; code < 128; ++code) {
        EXPECT_EQ(isModifierKey(code), code >= 54 && code <= 63) << code;
    }
}

struct FlagsCase {
    std::vector<std::uint16_t> down;
    bool capsLocked;
    std::uint64_t flags;
};

TEST(ModifierFlags, FromHeldKeysAndCapsLock)
{
    const std::array<FlagsCase, 9> cases{{
        {{}, false, 0},
        {{}, true, flag::capsLock},
        {{mackey::rightOption}, false, flag::option | 0x40},
        {{mackey::option}, false, flag::option | 0x20},
        {{mackey::command}, false, 0x100008},
        {{mackey::rightCommand}, false, flag::command | 0x10},
        {{mackey::shift, mackey::rightShift}, false, flag::shift | 0x2 | 0x4},
        {{mackey::control}, true, flag::control | 0x1 | flag::capsLock},
        {{mackey::rightControl, mackey::rightOption}, false, flag::control | 0x2000 | flag::option | 0x40},
    }};
    for (const auto& c : cases) {
        EXPECT_EQ(modifierFlags(c.down, c.capsLocked), c.flags) << std::hex << c.flags;
    }
}

TEST(ModifierFlags, FlagWordsNameTheKeysToHold)
{
    using Keys = std::vector<std::uint16_t>;
    EXPECT_EQ(modifierKeysForFlags(0), Keys{});
    EXPECT_EQ(modifierKeysForFlags(0x100008), Keys{mackey::command});
    EXPECT_EQ(modifierKeysForFlags(flag::command), Keys{mackey::command});
    EXPECT_EQ(modifierKeysForFlags(flag::command | 0x10), Keys{mackey::rightCommand});
    EXPECT_EQ(modifierKeysForFlags(flag::command | 0x18), Keys{mackey::command});
    EXPECT_EQ(modifierKeysForFlags(flag::command | flag::shift | 0x4), (Keys{mackey::command, mackey::rightShift}));
    EXPECT_EQ(modifierKeysForFlags(flag::option | flag::control), (Keys{mackey::option, mackey::control}));
    // Caps Lock and device bits alone ask for no key.
    EXPECT_EQ(modifierKeysForFlags(flag::capsLock | 0x8), Keys{});
}

TEST(ModifierFlags, TheFlagsOfAHeldKeyAskForThatKey)
{
    for (const std::uint16_t key : {mackey::command, mackey::rightCommand, mackey::shift, mackey::rightShift,
             mackey::option, mackey::rightOption, mackey::control, mackey::rightControl}) {
        const std::array<std::uint16_t, 1> down{key};
        EXPECT_EQ(modifierKeysForFlags(modifierFlags(down, false)), std::vector<std::uint16_t>{key}) << key;
    }
}

} // namespace
} // namespace focusprobe::platform::desktop
