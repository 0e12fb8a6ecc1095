#pragma once

#include "platform/linux/common/deadline.h"
#include "platform/linux/common/ownership.h"
#include "platform/linux/x11/connection.h"
#include "platform/speech.h"

namespace focusprobe::platform::desktop {

// Announcements through speech-dispatcher's own protocol, every step within the command's
// deadline; the speaking window is an override-redirect X window, or none without a display.
PiecePtr<Speech> makeSpeechDispatcherSpeech(XConnection* display, const Deadline& deadline);

} // namespace focusprobe::platform::desktop
