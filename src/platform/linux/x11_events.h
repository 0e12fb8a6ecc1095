#pragma once

#include "platform/events.h"
#include "platform/linux/common/ownership.h"
#include "platform/linux/x11/connection.h"

namespace focusprobe::platform::desktop {

// Synthetic key events through XTest.
PiecePtr<EventPosting> makeXTestEvents(XConnection& connection);

} // namespace focusprobe::platform::desktop
