#include "platform/linux/atspi/roles.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <vector>

namespace focusprobe::platform::desktop {
namespace {

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

} // namespace
} // namespace focusprobe::platform::desktop
