#pragma once

#include "platform/linux/common/deadline.h"
#include "platform/platform.h"

#include <memory>

namespace focusprobe::platform {

// The X11 + AT-SPI desktop backend, within what is left of the command's budget; nothing when no
// X display can be opened.
std::unique_ptr<Backend> makeX11Backend(const desktop::Deadline& deadline);

} // namespace focusprobe::platform
