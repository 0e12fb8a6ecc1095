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

} // namespace focusprobe::platform::wayland
