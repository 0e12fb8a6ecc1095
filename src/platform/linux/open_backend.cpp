#include "platform/headless/headless_backend.h"
#include "platform/linux/x11_backend.h"

namespace focusprobe::platform {

std::unique_ptr<Backend> openBackend()
{
    if (auto desktop = makeX11Backend()) {
        return desktop;
    }
    return makeHeadlessBackend();
}

} // namespace focusprobe::platform
