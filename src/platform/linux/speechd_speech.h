#pragma once

#include "platform/linux/piece.h"
#include "platform/linux/x11_connection.h"
#include "platform/speech.h"

namespace focusprobe::platform::desktop {

// Announcements through speech-dispatcher, loaded only when one is made; the speaking window is
// an override-redirect X window.
PiecePtr<Speech> makeSpeechDispatcherSpeech(XConnection& connection);

} // namespace focusprobe::platform::desktop
