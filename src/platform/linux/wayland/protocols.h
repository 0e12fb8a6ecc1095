#pragma once

#include <cstdint>

struct wl_interface;

// The protocols beyond the core that no Debian package describes, declared from their published
// descriptions: the requests and events the library marshals, and the numbers used with them.
namespace focusprobe::platform::wayland {

// zwp_virtual_keyboard_unstable_v1 (wlroots desktops).
extern const wl_interface virtualKeyboardInterface;
extern const wl_interface virtualKeyboardManagerInterface;

namespace virtualkeyboard {
inline constexpr std::uint32_t createOpcode = 0; // of the manager
inline constexpr std::uint32_t keymapOpcode = 0;
inline constexpr std::uint32_t keyOpcode = 1;
inline constexpr std::uint32_t modifiersOpcode = 2;
inline constexpr std::uint32_t destroyOpcode = 3;
} // namespace virtualkeyboard

// wlr-foreign-toplevel-management-unstable-v1 (the window list of wlroots desktops), bound at
// version 2, whose events end with "closed".
extern const wl_interface toplevelHandleInterface;
extern const wl_interface toplevelManagerInterface;

namespace toplevel {
inline constexpr std::uint32_t managerVersion = 2;
inline constexpr std::uint32_t handleDestroyOpcode = 7;
inline constexpr std::uint32_t stateActivated = 2;
} // namespace toplevel

// wl_keyboard's keymap format of XKB's text keymaps.
inline constexpr std::uint32_t keymapFormatXkbV1 = 1;

} // namespace focusprobe::platform::wayland
