#pragma once

#include "platform/linux/common/ownership.h"
#include "platform/linux/x11/connection.h"
#include "platform/speech.h"

namespace focusprobe::platform::desktop {

// Announcements through speech-dispatcher, loaded only when one is made; the speaking window is
// an override-redirect X window, or none without a display.
PiecePtr<Speech> makeSpeechDispatcherSpeech(XConnection* display);

} // namespace focusprobe::platform::desktop
