#pragma once

#include "platform/linux/common/ownership.h"
#include "platform/linux/x11/connection.h"
#include "platform/workspace.h"

namespace focusprobe::platform::desktop {

class AtspiAccessibility;
class DesktopBuses;

// The frontmost application from the window manager's properties, with the accessibility tree
// to fall back on; the screen reader's state from the accessibility bus's status.
PiecePtr<Workspace> makeX11Workspace(XConnection& display, AtspiAccessibility& accessibility, DesktopBuses& buses);

} // namespace focusprobe::platform::desktop
