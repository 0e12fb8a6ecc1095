#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// AT-SPI's roles and states in the program's terms: which role string an element gets, and the
// state bits read. Pure data and functions.
namespace focusprobe::platform::desktop {

// Bit n stands for AtspiStateType n, as GetState's two 32-bit words give them.
using StateSet = std::uint64_t;

namespace state {
inline constexpr int active = 1;
inline constexpr int editable = 7;
inline constexpr int focusable = 11;
inline constexpr int focused = 12;
inline constexpr int multiLine = 17;
inline constexpr int selected = 23;
inline constexpr int showing = 25;
inline constexpr int singleLine = 26;
inline constexpr int visible = 30;
} // namespace state

StateSet stateSetFromWords(std::span<const std::uint32_t> words);
inline bool hasState(StateSet states, int bit)
{
    return ((states >> static_cast<unsigned>(bit)) & 1U) != 0;
}

// The role string the program uses for an AT-SPI role (AtspiRole number) in these states.
// Only the roles for which roleDependsOnStates holds look at the states.
std::string_view axRoleFor(std::uint32_t atspiRole, StateSet states);
bool roleDependsOnStates(std::uint32_t atspiRole);

bool isTextEntryAxRole(std::string_view role);

// Roles whose children a composer walk never reads (buttons, labels, menus...): reading ahead
// stops there. Only a hint for speed; a read that was not sent ahead is sent when asked.
bool isWalkLeafRole(std::string_view role);

} // namespace focusprobe::platform::desktop
