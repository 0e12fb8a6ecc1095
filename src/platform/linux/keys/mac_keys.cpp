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

} // namespace focusprobe::platform::desktop
