#include "platform/linux/keys/mac_keys.h"

#include <algorithm>
#include <array>

namespace focusprobe::platform::desktop {
namespace {

struct KeyPosition {
    std::uint16_t macKeyCode;
    std::string_view xkbName;
};

// ANSI positions. The shortcut modifier is Command on a Mac and Control here, so the Command
// keys sit on LCTL/RCTL and the Mac Control keys on the Super keys beside them.
constexpr auto keyPositions = std::to_array<KeyPosition>({
    {0, "AC01"},
    {1, "AC02"},
    {2, "AC03"},
    {3, "AC04"},
    {4, "AC06"},
    {5, "AC05"},
    {6, "AB01"},
    {7, "AB02"},
    {8, "AB03"},
    {9, "AB04"},
    {10, "LSGT"},
    {11, "AB05"},
    {12, "AD01"},
    {13, "AD02"},
    {14, "AD03"},
    {15, "AD04"},
    {16, "AD06"},
    {17, "AD05"},
    {18, "AE01"},
    {19, "AE02"},
    {20, "AE03"},
    {21, "AE04"},
    {22, "AE06"},
    {23, "AE05"},
    {24, "AE12"},
    {25, "AE09"},
    {26, "AE07"},
    {27, "AE11"},
    {28, "AE08"},
    {29, "AE10"},
    {30, "AD12"},
    {31, "AD09"},
    {32, "AD07"},
    {33, "AD11"},
    {34, "AD08"},
    {35, "AD10"},
    {36, "RTRN"},
    {37, "AC09"},
    {38, "AC07"},
    {39, "AC11"},
    {40, "AC08"},
    {41, "AC10"},
    {42, "BKSL"},
    {43, "AB08"},
    {44, "AB10"},
    {45, "AB06"},
    {46, "AB07"},
    {47, "AB09"},
    {48, "TAB"},
    {49, "SPCE"},
    {50, "TLDE"},
    {51, "BKSP"},
    {53, "ESC"},
    {mackey::rightCommand, "RCTL"},
    {mackey::command, "LCTL"},
    {mackey::shift, "LFSH"},
    {mackey::capsLock, "CAPS"},
    {mackey::option, "LALT"},
    {mackey::control, "LWIN"},
    {mackey::rightShift, "RTSH"},
    {mackey::rightOption, "RALT"},
    {mackey::rightControl, "RWIN"},
    {64, "FK17"},
    {65, "KPDL"},
    {67, "KPMU"},
    {69, "KPAD"},
    {71, "NMLK"},
    {72, "VOL+"},
    {73, "VOL-"},
    {74, "MUTE"},
    {75, "KPDV"},
    {76, "KPEN"},
    {78, "KPSU"},
    {79, "FK18"},
    {80, "FK19"},
    {81, "KPEQ"},
    {82, "KP0"},
    {83, "KP1"},
    {84, "KP2"},
    {85, "KP3"},
    {86, "KP4"},
    {87, "KP5"},
    {88, "KP6"},
    {89, "KP7"},
    {90, "FK20"},
    {91, "KP8"},
    {92, "KP9"},
    {93, "AE13"},
    {94, "AB11"},
    {95, "KPCO"},
    {96, "FK05"},
    {97, "FK06"},
    {98, "FK07"},
    {99, "FK03"},
    {100, "FK08"},
    {101, "FK09"},
    {103, "FK11"},
    {105, "FK13"},
    {106, "FK16"},
    {107, "FK14"},
    {109, "FK10"},
    {111, "FK12"},
    {113, "FK15"},
    {114, "INS"},
    {115, "HOME"},
    {116, "PGUP"},
    {117, "DELE"},
    {118, "FK04"},
    {119, "END"},
    {120, "FK02"},
    {121, "PGDN"},
    {122, "FK01"},
    {123, "LEFT"},
    {124, "RGHT"},
    {125, "DOWN"},
    {126, "UP"},
});

// Names some keymaps use for the same positions.
constexpr auto keyAliases = std::to_array<KeyPosition>({
    {mackey::control, "LMTA"},
    {mackey::rightControl, "RMTA"},
    {mackey::rightOption, "ALGR"},
    {mackey::rightCommand, "RCTR"},
});

struct ModifierBits {
    std::uint16_t key;
    std::uint64_t deviceIndependent;
    std::uint64_t deviceDependent;
};

// NX_DEVICE*KEYMASK bits alongside the device-independent ones.
constexpr auto modifierBits = std::to_array<ModifierBits>({
    {mackey::control, flag::control, 0x1},
    {mackey::shift, flag::shift, 0x2},
    {mackey::rightShift, flag::shift, 0x4},
    {mackey::command, flag::command, 0x8},
    {mackey::rightCommand, flag::command, 0x10},
    {mackey::option, flag::option, 0x20},
    {mackey::rightOption, flag::option, 0x40},
    {mackey::rightControl, flag::control, 0x2000},
    {mackey::function, flag::function, 0},
});

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

std::optional<std::string_view> xkbNameForMacKeyCode(std::uint16_t macKeyCode)
{
    const auto* found = std::find_if(keyPositions.begin(), keyPositions.end(),
        [&](const KeyPosition& position) { return position.macKeyCode == macKeyCode; });
    if (found == keyPositions.end()) {
        return std::nullopt;
    }
    return found->xkbName;
}

std::optional<std::uint16_t> macKeyCodeForXkbName(std::string_view xkbName)
{
    for (const auto& table : {std::span<const KeyPosition>(keyPositions), std::span<const KeyPosition>(keyAliases)}) {
        const auto found = std::find_if(
            table.begin(), table.end(), [&](const KeyPosition& position) { return position.xkbName == xkbName; });
        if (found != table.end()) {
            return found->macKeyCode;
        }
    }
    return std::nullopt;
}

bool isModifierKey(std::uint16_t macKeyCode)
{
    return macKeyCode >= mackey::rightCommand && macKeyCode <= mackey::function;
}

std::uint64_t modifierFlags(std::span<const std::uint16_t> downModifierKeys, bool capsLocked)
{
    std::uint64_t flags = capsLocked ? flag::capsLock : 0;
    for (const std::uint16_t key : downModifierKeys) {
        for (const auto& bits : modifierBits) {
            if (bits.key == key) {
                flags |= bits.deviceIndependent | bits.deviceDependent;
            }
        }
    }
    return flags;
}

std::vector<std::uint16_t> modifierKeysForFlags(std::uint64_t flags)
{
    struct Choice {
        std::uint64_t deviceIndependent;
        std::uint16_t left;
        std::uint64_t leftBit;
        std::uint16_t right;
        std::uint64_t rightBit;
    };
    constexpr auto choices = std::to_array<Choice>({
        {flag::command, mackey::command, 0x8, mackey::rightCommand, 0x10},
        {flag::shift, mackey::shift, 0x2, mackey::rightShift, 0x4},
        {flag::option, mackey::option, 0x20, mackey::rightOption, 0x40},
        {flag::control, mackey::control, 0x1, mackey::rightControl, 0x2000},
    });
    std::vector<std::uint16_t> keys;
    for (const auto& choice : choices) {
        if ((flags & choice.deviceIndependent) == 0) {
            continue;
        }
        const bool rightOnly = (flags & choice.rightBit) != 0 && (flags & choice.leftBit) == 0;
        keys.push_back(rightOnly ? choice.right : choice.left);
    }
    return keys;
}

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

std::optional<char32_t> deadKeySpacingCharacter(std::uint32_t keysym)
{
    // XK_dead_grave (0xfe50) onwards, in keysym order.
    constexpr auto spacing = std::to_array<char32_t>({U'`', 0xB4, U'^', U'~', 0xAF, 0x2D8, 0x2D9, 0xA8, 0x2DA, 0x2DD,
        0x2C7, 0xB8, 0x2DB, 0x37A, 0x309B, 0x309C, U'.', 0x2DE});
    constexpr std::uint32_t firstDeadKey = 0xFE50;
    constexpr std::uint32_t lastDeadKey = 0xFE93;
    if (keysym < firstDeadKey || keysym > lastDeadKey) {
        return std::nullopt;
    }
    const std::uint32_t index = keysym - firstDeadKey;
    return index < spacing.size() ? spacing[index] : U'\uFFFD';
}

} // namespace focusprobe::platform::desktop
