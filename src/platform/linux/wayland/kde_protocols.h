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

} // namespace focusprobe::platform::wayland
