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

StateSet states(std::initializer_list<int> bits)
{
    StateSet set = 0;
    for (const int bit : bits) {
        set |= StateSet{1} << static_cast<unsigned>(bit);
    }
    return set;
}

struct RoleCase {
    std::uint32_t atspiRole;
    StateSet states;
    std::string_view axRole;
};

// AtspiRole numbers: text 61, entry 79, password text 40, combo box 11, push button 43, label 29.
TEST(Roles, TableAndStateDependentRoles)
{
    const std::array<RoleCase, 25> cases{{
        {61, states({state::editable, state::singleLine}), "AXTextField"}, // a GTK 3 entry
        {61, states({state::singleLine}), "AXTextField"}, // read-only entry
        {61, states({state::editable, state::multiLine}), "AXTextArea"}, // a GTK text view
        {79, states({state::editable, state::singleLine}), "AXTextField"}, // a web input
        {79, states({state::editable, state::multiLine}), "AXTextArea"}, // a web textarea
        {40, states({state::editable}), "AXTextField"},
        {60, 0, "AXTextArea"},
        {11, states({state::editable}), "AXComboBox"},
        {11, 0, "AXGroup"}, // holds a menu, and GTK's entry when it has one
        {37, states({state::selected}), "AXGroup"}, // the current notebook page
        {37, 0, "AXRadioButton"}, // another page's tab
        {43, 0, "AXButton"},
        {29, 0, "AXStaticText"},
        {81, 0, "AXGroup"}, // a caption may hold a table's controls
        {116, 0, "AXStaticText"},
        {27, 0, "AXImage"},
        {34, 0, "AXMenuBar"},
        {33, 0, "AXMenu"},
        {35, 0, "AXMenuItem"},
        {63, 0, "AXToolbar"},
        {48, 0, "AXScrollBar"},
        {88, 0, "AXLink"},
        {7, 0, "AXCheckBox"},
        {44, 0, "AXRadioButton"},
        {51, 0, "AXSlider"},
    }};
    for (const auto& c : cases) {
        EXPECT_EQ(axRoleFor(c.atspiRole, c.states), c.axRole) << c.atspiRole;
    }
}

TEST(Roles, NeutralGroupForEverythingElse)
{
    // section (a contenteditable div), panel, filler, paragraph, an unknown number
    for (const std::uint32_t role : {85U, 39U, 20U, 73U, 9999U}) {
        EXPECT_EQ(axRoleFor(role, states({state::editable})), "AXGroup") << role;
    }
    EXPECT_EQ(axRoleFor(23, 0), "AXWindow");
    EXPECT_EQ(axRoleFor(75, 0), "AXApplication");
}

// Only pop-up buttons have no AT-SPI counterpart left: a non-editable combo box may hold an entry.
TEST(Roles, EveryRoleTheProgramNamesIsReachable)
{
    const std::array<std::string_view, 15> named{"AXStaticText", "AXImage", "AXButton", "AXMenuBar", "AXMenu",
        "AXMenuItem", "AXToolbar", "AXScrollBar", "AXLink", "AXCheckBox", "AXRadioButton", "AXSlider", "AXTextField",
        "AXTextArea", "AXComboBox"};
    std::set<std::string_view> produced;
    for (std::uint32_t role = 0; role < 200; ++role) {
        for (const StateSet set : {StateSet{0}, states({state::editable}), states({state::multiLine})}) {
            produced.insert(axRoleFor(role, set));
        }
    }
    for (const auto role : named) {
        EXPECT_TRUE(produced.contains(role)) << role;
    }
}

// Roles whose elements hold other elements on AT-SPI: none may land in the composer walk's skip
// set, whatever the states, or the walk never looks inside.
TEST(Roles, ContainersAreNeverSkipped)
{
    // caption, combo box, page tab (selected), page tab list, panel, filler, scroll pane,
    // viewport, section, grouping, form, document web, frame, list, table, tree, split pane
    constexpr auto containers
        = std::to_array<std::uint32_t>({81, 11, 38, 39, 20, 49, 68, 85, 99, 87, 95, 23, 31, 55, 65, 53});
    const std::set<std::string_view> skipped{"AXStaticText", "AXImage", "AXButton", "AXMenuBar", "AXMenu", "AXMenuItem",
        "AXToolbar", "AXScrollBar", "AXLink", "AXCheckBox", "AXRadioButton", "AXSlider", "AXPopUpButton"};
    for (const std::uint32_t role : containers) {
        for (const StateSet set : {StateSet{0}, states({state::selected}), states({state::showing})}) {
            EXPECT_FALSE(skipped.contains(axRoleFor(role, set))) << role;
            EXPECT_FALSE(isWalkLeafRole(axRoleFor(role, set))) << role;
        }
    }
    EXPECT_FALSE(skipped.contains(axRoleFor(37, states({state::selected, state::showing}))));
}

TEST(Roles, TextEntryRolesAreExactlyThree)
{
    EXPECT_TRUE(isTextEntryAxRole("AXTextField"));
    EXPECT_TRUE(isTextEntryAxRole("AXTextArea"));
    EXPECT_TRUE(isTextEntryAxRole("AXComboBox"));
    EXPECT_FALSE(isTextEntryAxRole("AXPopUpButton"));
    EXPECT_FALSE(isTextEntryAxRole("axtextfield"));
}

TEST(States, WordsBecomeBitsInOrder)
{
    const std::array<std::uint32_t, 2> words{1U << 7U, 1U << 9U};
    const StateSet set = stateSetFromWords(words);
    EXPECT_TRUE(hasState(set, state::editable));
    EXPECT_TRUE(hasState(set, 41));
    EXPECT_FALSE(hasState(set, state::focused));
    EXPECT_EQ(stateSetFromWords(std::span<const std::uint32_t>{}), 0U);
}

TEST(Keysyms, DeadKeysGiveTheirSpacingCharacter)
{
    EXPECT_EQ(deadKeySpacingCharacter(0xFE50), U'`');
    EXPECT_EQ(deadKeySpacingCharacter(0xFE51), U'\u00B4');
    EXPECT_EQ(deadKeySpacingCharacter(0xFE57), U'\u00A8');
    EXPECT_EQ(deadKeySpacingCharacter(0xFE93), U'\uFFFD');
    EXPECT_EQ(deadKeySpacingCharacter(0x76), std::nullopt);
    EXPECT_EQ(deadKeySpacingCharacter(0xFE94), std::nullopt);
}

} // namespace
} // namespace focusprobe::platform::desktop
