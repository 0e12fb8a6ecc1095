#pragma once

#include "platform/linux/common/deadline.h"
#include "platform/platform.h"

#include <memory>

namespace focusprobe::platform {

// The Wayland + AT-SPI desktop backend, within the command's budget; nothing when WAYLAND_DISPLAY
// names no socket anybody listens at. A compositor that accepts and then does not answer within
// the first part of the budget still makes this a Wayland session: the backend then reads the
// accessibility tree and presses no key.
std::unique_ptr<Backend> makeWaylandBackend(const desktop::Deadline& deadline);

} // namespace focusprobe::platform
