#pragma once

#include "platform/platform.h"

#include <memory>

namespace focusprobe::platform {

// For a machine without a supported desktop session: no frontmost application, not trusted, no
// keyboard layouts, screen reader off, no event monitors. Every answer is the truthful one for
// such a machine.
std::unique_ptr<Backend> makeHeadlessBackend();

} // namespace focusprobe::platform
