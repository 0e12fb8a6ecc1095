#pragma once

#include <cstdint>

struct wl_interface;

// KDE's own protocols, declared from plasma-wayland-protocols' descriptions: the requests and
// events the library marshals, and the numbers used with them. KWin offers them only to the
// programs a desktop entry names.
namespace focusprobe::platform::wayland {

// org_kde_kwin_fake_input: keys need version 4.
extern const wl_interface fakeInputInterface;

namespace fakeinput {
inline constexpr std::uint32_t keyboardVersion = 4;
inline constexpr std::uint32_t authenticateOpcode = 0;
inline constexpr std::uint32_t keyboardKeyOpcode = 10;
} // namespace fakeinput

// org_kde_plasma_window_management and org_kde_plasma_window (KWin's window list), bound at
// version 16, whose events end with resource_name_changed.
extern const wl_interface plasmaWindowManagementInterface;
extern const wl_interface plasmaWindowInterface;

namespace plasmawindow {
inline constexpr std::uint32_t managementVersion = 16;
inline constexpr std::uint32_t getWindowOpcode = 1; // of the manager
inline constexpr std::uint32_t destroyOpcode = 8;
inline constexpr std::uint32_t destroyVersion = 4;
inline constexpr std::uint32_t stateActive = 1;
} // namespace plasmawindow

} // namespace focusprobe::platform::wayland
