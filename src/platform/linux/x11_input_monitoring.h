#pragma once

#include "platform/input_monitoring.h"
#include "platform/linux/common/deadline.h"
#include "platform/linux/common/ownership.h"
#include "platform/posix/poll_loop.h"

namespace focusprobe::platform::desktop {

// Global key and button monitors from XInput 2 raw events, on a display connection of their own
// watched by the poll loop. Losing that connection ends the loop with loopFailedStatus.
PiecePtr<InputMonitoring> makeXInputMonitoring(const Deadline& deadline, PollLoop& loop);

} // namespace focusprobe::platform::desktop
