#pragma once

#include "platform/platform.h"

#include <memory>

namespace focusprobe::platform {

// The X11 + AT-SPI desktop backend; nothing when no X display can be opened.
std::unique_ptr<Backend> makeX11Backend();

} // namespace focusprobe::platform
