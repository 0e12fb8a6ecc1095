#pragma once

#include "context/globals.h"
#include "platform/platform.h"

namespace focusprobe {

// What every flow works with: the platform and the process-wide globals.
struct Context {
    platform::Platform platform;
    Globals& globals;
};

} // namespace focusprobe
