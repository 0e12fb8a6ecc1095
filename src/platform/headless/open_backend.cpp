#include "platform/headless/headless_backend.h"

namespace focusprobe::platform {

std::unique_ptr<Backend> openBackend()
{
    return makeHeadlessBackend();
}

} // namespace focusprobe::platform
