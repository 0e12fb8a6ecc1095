#include "platform/headless/headless_backend.h"
#include "platform/linux/wayland_backend.h"
#include "platform/linux/x11_backend.h"

namespace focusprobe::platform {

std::unique_ptr<Backend> openBackend()
{
    // A Wayland session answers for itself even where XWayland also offers an X display.
    if (auto wayland = makeWaylandBackend()) {
        return wayland;
    }
    if (auto desktop = makeX11Backend()) {
        return desktop;
    }
    return makeHeadlessBackend();
}

} // namespace focusprobe::platform
