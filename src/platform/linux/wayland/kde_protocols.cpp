#include "platform/linux/wayland/kde_protocols.h"

#include <array>

#include <wayland-client.h>

namespace focusprobe::platform::wayland {

// org_kde_kwin_fake_input. The library takes the type tables through a pointer to non-const;
// nothing writes them.
static std::array<const wl_interface*, 3> fakeInputTypes{nullptr, nullptr, nullptr};

static const std::array<wl_message, 11> fakeInputRequests{{
    {"authenticate", "ss", fakeInputTypes.data()},
    {"pointer_motion", "ff", fakeInputTypes.data()},
    {"button", "uu", fakeInputTypes.data()},
    {"axis", "uf", fakeInputTypes.data()},
    {"touch_down", "2uff", fakeInputTypes.data()},
    {"touch_motion", "2uff", fakeInputTypes.data()},
    {"touch_up", "2u", fakeInputTypes.data()},
    {"touch_cancel", "2", fakeInputTypes.data()},
    {"touch_frame", "2", fakeInputTypes.data()},
    {"pointer_motion_absolute", "3ff", fakeInputTypes.data()},
    {"keyboard_key", "4uu", fakeInputTypes.data()},
}};

const wl_interface fakeInputInterface{
    "org_kde_kwin_fake_input", 4, static_cast<int>(fakeInputRequests.size()), fakeInputRequests.data(), 0, nullptr};

// org_kde_plasma_window_management and org_kde_plasma_window.
static std::array<const wl_interface*, 7> plasmaTypes{
    nullptr, nullptr, nullptr, nullptr, &wl_surface_interface, &plasmaWindowInterface, &wl_output_interface};

static const std::array<wl_message, 3> managementRequests{{
    {"show_desktop", "u", plasmaTypes.data()},
    {"get_window", "nu", plasmaTypes.data() + 5},
    {"get_window_by_uuid", "12ns", plasmaTypes.data() + 5},
}};

static const std::array<wl_message, 5> managementEvents{{
    {"show_desktop_changed", "u", plasmaTypes.data()},
    {"window", "u", plasmaTypes.data()},
    {"stacking_order_changed", "11a", plasmaTypes.data()},
    {"stacking_order_uuid_changed", "12s", plasmaTypes.data()},
    {"window_with_uuid", "13us", plasmaTypes.data()},
}};

const wl_interface plasmaWindowManagementInterface{"org_kde_plasma_window_management", 16,
    static_cast<int>(managementRequests.size()), managementRequests.data(), static_cast<int>(managementEvents.size()),
    managementEvents.data()};

static const std::array<wl_message, 16> plasmaWindowRequests{{
    {"set_state", "uu", plasmaTypes.data()},
    {"set_virtual_desktop", "u", plasmaTypes.data()},
    {"set_minimized_geometry", "ouuuu", plasmaTypes.data() + 4},
    {"unset_minimized_geometry", "o", plasmaTypes.data() + 4},
    {"highlight", "", plasmaTypes.data()},
    {"close", "", plasmaTypes.data()},
    {"request_move", "3", plasmaTypes.data()},
    {"request_resize", "3", plasmaTypes.data()},
    {"destroy", "4", plasmaTypes.data()},
    {"get_icon", "7h", plasmaTypes.data()},
    {"request_enter_virtual_desktop", "8s", plasmaTypes.data()},
    {"request_enter_new_virtual_desktop", "8", plasmaTypes.data()},
    {"request_leave_virtual_desktop", "8s", plasmaTypes.data()},
    {"request_enter_activity", "14s", plasmaTypes.data()},
    {"request_leave_activity", "14s", plasmaTypes.data()},
    {"send_to_output", "15o", plasmaTypes.data() + 6},
}};

static const std::array<wl_message, 17> plasmaWindowEvents{{
    {"title_changed", "s", plasmaTypes.data()},
    {"app_id_changed", "s", plasmaTypes.data()},
    {"state_changed", "u", plasmaTypes.data()},
    {"virtual_desktop_changed", "i", plasmaTypes.data()},
    {"themed_icon_name_changed", "s", plasmaTypes.data()},
    {"unmapped", "", plasmaTypes.data()},
    {"initial_state", "4", plasmaTypes.data()},
    {"parent_window", "5?o", plasmaTypes.data() + 5},
    {"geometry", "6iiuu", plasmaTypes.data()},
    {"icon_changed", "7", plasmaTypes.data()},
    {"pid_changed", "u", plasmaTypes.data()},
    {"virtual_desktop_entered", "8s", plasmaTypes.data()},
    {"virtual_desktop_left", "8s", plasmaTypes.data()},
    {"application_menu", "10ss", plasmaTypes.data()},
    {"activity_entered", "14s", plasmaTypes.data()},
    {"activity_left", "14s", plasmaTypes.data()},
    {"resource_name_changed", "16s", plasmaTypes.data()},
}};

const wl_interface plasmaWindowInterface{"org_kde_plasma_window", 16, static_cast<int>(plasmaWindowRequests.size()),
    plasmaWindowRequests.data(), static_cast<int>(plasmaWindowEvents.size()), plasmaWindowEvents.data()};

} // namespace focusprobe::platform::wayland
