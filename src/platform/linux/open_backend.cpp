#include "platform/headless/headless_backend.h"
#include "platform/linux/common/deadline.h"
#include "platform/linux/wayland_backend.h"
#include "platform/linux/x11_backend.h"

namespace focusprobe::platform {

std::unique_ptr<Backend> openBackend()
{
    // One budget for the whole command, from its first blocking step: what the compositor's
    // probe leaves is what the X display gets.
    const auto deadline = desktop::deadlineAfter(desktop::DeadlineClock::now());
    // A Wayland session answers for itself even where XWayland also offers an X display.
    if (auto wayland = makeWaylandBackend(deadline)) {
        return wayland;
    }
    if (auto desktop = makeX11Backend(deadline)) {
        return desktop;
    }
    return makeHeadlessBackend();
}

} // namespace focusprobe::platform
