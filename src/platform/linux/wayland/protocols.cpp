#include "platform/linux/wayland/protocols.h"

#include <array>

#include <wayland-client.h>

namespace focusprobe::platform::wayland {

// zwp_virtual_keyboard_unstable_v1. The library takes the type tables through a pointer to
// non-const; nothing writes them.
static std::array<const wl_interface*, 6> protocolTypes{
    nullptr, nullptr, nullptr, nullptr, &wl_seat_interface, &virtualKeyboardInterface};

static const std::array<wl_message, 4> virtualKeyboardRequests{{
    {"keymap", "uhu", protocolTypes.data()},
    {"key", "uuu", protocolTypes.data()},
    {"modifiers", "uuuu", protocolTypes.data()},
    {"destroy", "", protocolTypes.data()},
}};

const wl_interface virtualKeyboardInterface{"zwp_virtual_keyboard_v1", 1,
    static_cast<int>(virtualKeyboardRequests.size()), virtualKeyboardRequests.data(), 0, nullptr};

static const std::array<wl_message, 1> managerRequests{{{"create_virtual_keyboard", "on", protocolTypes.data() + 4}}};

const wl_interface virtualKeyboardManagerInterface{
    "zwp_virtual_keyboard_manager_v1", 1, static_cast<int>(managerRequests.size()), managerRequests.data(), 0, nullptr};

// wlr-foreign-toplevel-management-unstable-v1.
static std::array<const wl_interface*, 6> toplevelTypes{
    nullptr, &wl_seat_interface, &wl_surface_interface, nullptr, &wl_output_interface, &toplevelHandleInterface};

static const std::array<wl_message, 10> toplevelHandleRequests{{
    {"set_maximized", "", toplevelTypes.data()},
    {"unset_maximized", "", toplevelTypes.data()},
    {"set_minimized", "", toplevelTypes.data()},
    {"unset_minimized", "", toplevelTypes.data()},
    {"activate", "o", toplevelTypes.data() + 1},
    {"close", "", toplevelTypes.data()},
    {"set_rectangle", "oiiii", toplevelTypes.data() + 2},
    {"destroy", "", toplevelTypes.data()},
    {"set_fullscreen", "2?o", toplevelTypes.data() + 4},
    {"unset_fullscreen", "2", toplevelTypes.data()},
}};

static const std::array<wl_message, 8> toplevelHandleEvents{{
    {"title", "s", toplevelTypes.data()},
    {"app_id", "s", toplevelTypes.data()},
    {"output_enter", "o", toplevelTypes.data() + 4},
    {"output_leave", "o", toplevelTypes.data() + 4},
    {"state", "a", toplevelTypes.data()},
    {"done", "", toplevelTypes.data()},
    {"closed", "", toplevelTypes.data()},
    {"parent", "3?o", toplevelTypes.data() + 5},
}};

const wl_interface toplevelHandleInterface{"zwlr_foreign_toplevel_handle_v1", 3,
    static_cast<int>(toplevelHandleRequests.size()), toplevelHandleRequests.data(),
    static_cast<int>(toplevelHandleEvents.size()), toplevelHandleEvents.data()};

static const std::array<wl_message, 1> toplevelManagerRequests{{{"stop", "", toplevelTypes.data()}}};
static const std::array<wl_message, 2> toplevelManagerEvents{{
    {"toplevel", "n", toplevelTypes.data() + 5},
    {"finished", "", toplevelTypes.data()},
}};

const wl_interface toplevelManagerInterface{"zwlr_foreign_toplevel_manager_v1", 3,
    static_cast<int>(toplevelManagerRequests.size()), toplevelManagerRequests.data(),
    static_cast<int>(toplevelManagerEvents.size()), toplevelManagerEvents.data()};

} // namespace focusprobe::platform::wayland
