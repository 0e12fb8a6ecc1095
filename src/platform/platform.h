#pragma once

#include "platform/accessibility.h"
#include "platform/event_loop.h"
#include "platform/events.h"
#include "platform/input_monitoring.h"
#include "platform/keyboard.h"
#include "platform/process.h"
#include "platform/speech.h"
#include "platform/workspace.h"

#include <memory>

namespace focusprobe::platform {

// Everything a flow may ask of the operating system.
struct Platform {
    Accessibility& accessibility;
    Workspace& workspace;
    Process& process;
    KeyboardLayouts& keyboard;
    EventPosting& events;
    Speech& speech;
    InputMonitoring& input;
    EventLoop& loop;
};

// A backend owns the objects behind a Platform for the life of the process.
class Backend {
public:
    virtual ~Backend() = default;
    virtual Platform platform() = 0;
};

// The backend this build and this machine support.
std::unique_ptr<Backend> openBackend();

} // namespace focusprobe::platform
