#pragma once

#include "platform/platform.h"

#include <memory>

namespace focusprobe::platform {

// The Wayland + AT-SPI desktop backend; nothing when WAYLAND_DISPLAY names no live compositor.
std::unique_ptr<Backend> makeWaylandBackend();

} // namespace focusprobe::platform
