#include "platform/linux/atspi/roles.h"

#include <algorithm>
#include <array>

namespace focusprobe::platform::desktop {
namespace {

struct RoleEntry {
    std::uint32_t atspiRole;
    std::string_view axRole;
};

// AtspiRole numbers. Text roles, combo boxes and page tabs depend on states and are handled in
// axRoleFor. No role whose element can hold content maps into the composer walk's skip set
// (static text, image, button, menu bar, menu, menu item, toolbar, scroll bar, link, check box,
// radio button, slider, pop-up button): panels, fillers, scroll panes, viewports, sections,
// groupings, tab lists and captions, which hold the content, are the neutral group. The toolbar
// is skipped as it is on a Mac, and a label stays static text: entering every label costs a
// toolkit's walk a call each, for the rare web form whose label wraps its input.
constexpr auto roleTable = std::to_array<RoleEntry>({
    {2, "AXWindow"}, // alert
    {7, "AXCheckBox"}, // check box
    {8, "AXMenuItem"}, // check menu item
    {16, "AXWindow"}, // dialog
    {23, "AXWindow"}, // frame
    {26, "AXImage"}, // icon
    {27, "AXImage"}, // image
    {29, "AXStaticText"}, // label: a leaf in the toolkits; a web label wrapping its input is not entered
    {31, "AXList"}, // list
    {33, "AXMenu"}, // menu
    {34, "AXMenuBar"}, // menu bar
    {35, "AXMenuItem"}, // menu item
    {38, "AXTabGroup"}, // page tab list
    {41, "AXMenu"}, // popup menu
    {42, "AXProgressIndicator"}, {43, "AXButton"}, // push button
    {44, "AXRadioButton"}, // radio button
    {45, "AXMenuItem"}, // radio menu item
    {48, "AXScrollBar"}, // scroll bar
    {49, "AXScrollArea"}, // scroll pane
    {51, "AXSlider"}, // slider
    {52, "AXIncrementor"}, // spin button
    {55, "AXTable"}, // table
    {56, "AXCell"}, // table cell
    {59, "AXMenuItem"}, // tearoff menu item
    {62, "AXCheckBox"}, // toggle button: a Mac toggle is a check box
    {63, "AXToolbar"}, // tool bar
    {64, "AXHelpTag"}, // tool tip
    {65, "AXOutline"}, // tree
    {66, "AXOutline"}, // tree table
    {69, "AXWindow"}, // window
    {75, "AXApplication"}, // application
    {83, "AXHeading"}, // heading
    {88, "AXLink"}, // link
    {95, "AXWebArea"}, // document web
    {98, "AXList"}, // list box
    {116, "AXStaticText"}, // static
    {129, "AXMenuButton"}, // push button menu
});

constexpr std::uint32_t roleText = 61;
constexpr std::uint32_t roleEntry = 79;
constexpr std::uint32_t rolePasswordText = 40;
constexpr std::uint32_t roleTerminal = 60;
constexpr std::uint32_t roleComboBox = 11;
constexpr std::uint32_t rolePageTab = 37;

} // namespace

StateSet stateSetFromWords(std::span<const std::uint32_t> words)
{
    StateSet states = 0;
    for (std::size_t i = 0; i < words.size() && i < 2; ++i) {
        states |= static_cast<StateSet>(words[i]) << (32U * i);
    }
    return states;
}

std::string_view axRoleFor(std::uint32_t atspiRole, StateSet states)
{
    switch (atspiRole) {
    case roleText:
    case roleEntry:
    case rolePasswordText:
        return hasState(states, state::multiLine) ? "AXTextArea" : "AXTextField";
    case roleTerminal:
        return "AXTextArea";
    case roleComboBox:
        // GTK's combo box with an entry is not editable itself: the entry is its child.
        return hasState(states, state::editable) ? "AXComboBox" : "AXGroup";
    case rolePageTab:
        // A notebook page's content lives under its tab. The current page is walked like any
        // group; the others are tab buttons, as on a Mac, where hidden pages are not in the tree.
        return hasState(states, state::selected) ? "AXGroup" : "AXRadioButton";
    default:
        break;
    }
    const auto* found = std::find_if(
        roleTable.begin(), roleTable.end(), [&](const RoleEntry& entry) { return entry.atspiRole == atspiRole; });
    return found == roleTable.end() ? "AXGroup" : found->axRole;
}

bool roleDependsOnStates(std::uint32_t atspiRole)
{
    return atspiRole == roleText || atspiRole == roleEntry || atspiRole == rolePasswordText || atspiRole == roleComboBox
        || atspiRole == rolePageTab;
}

bool isTextEntryAxRole(std::string_view role)
{
    return role == "AXTextField" || role == "AXTextArea" || role == "AXComboBox";
}

bool isWalkLeafRole(std::string_view role)
{
    constexpr auto leaves
        = std::to_array<std::string_view>({"AXStaticText", "AXImage", "AXButton", "AXMenuBar", "AXMenu", "AXMenuItem",
            "AXToolbar", "AXScrollBar", "AXLink", "AXCheckBox", "AXRadioButton", "AXSlider", "AXPopUpButton"});
    return std::find(leaves.begin(), leaves.end(), role) != leaves.end();
}

} // namespace focusprobe::platform::desktop
