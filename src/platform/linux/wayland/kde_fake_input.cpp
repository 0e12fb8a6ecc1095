#include "platform/linux/wayland/connection.h"

#include "platform/linux/wayland/kde_protocols.h"

#include <wayland-client.h>

// KWin's fake input (KDE Plasma): keys pressed on KWin's own seat, through its keymap and
// modifier state.
namespace focusprobe::platform::wayland {

bool WaylandConnection::isKWin(const Deadline& deadline)
{
    return discover(deadline) && kdeInterfaces_;
}

bool WaylandConnection::offersFakeInput(const Deadline& deadline)
{
    return discover(deadline) && fakeInputName_ && fakeInputVersion_ >= fakeinput::keyboardVersion;
}

bool WaylandConnection::startFakeInput(
    const std::string& application, const std::string& reason, const Deadline& deadline)
{
    if (!offersFakeInput(deadline) || fakeInput_ != nullptr) {
        return false;
    }
    fakeInput_ = static_cast<wl_proxy*>(
        wl_registry_bind(registry_, *fakeInputName_, &fakeInputInterface, fakeinput::keyboardVersion));
    if (fakeInput_ == nullptr) {
        return false;
    }
    // KWin drops the keys of a client that has not said who it is.
    wl_proxy_marshal_flags(fakeInput_, fakeinput::authenticateOpcode, nullptr, wl_proxy_get_version(fakeInput_), 0,
        application.c_str(), reason.c_str());
    return sync(deadline);
}

void WaylandConnection::fakeKey(std::uint32_t evdevKey, bool down)
{
    if (fakeInput_ == nullptr) {
        return;
    }
    wl_proxy_marshal_flags(fakeInput_, fakeinput::keyboardKeyOpcode, nullptr, wl_proxy_get_version(fakeInput_), 0,
        evdevKey, down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

} // namespace focusprobe::platform::wayland
