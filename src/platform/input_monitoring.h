#pragma once

#include "platform/ref.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace focusprobe::platform {

using Monitor = Ref<struct MonitorTag>;

// What a monitor handler is told of an event. Only flags-changed events fill in the key and flags.
struct InputEvent {
    std::uint16_t keyCode = 0;
    std::uint64_t modifierFlags = 0;
    // When the event happened, in seconds on the event source's own clock (the display server's
    // time, the event's timestamp), where the source stamps its events. Only differences count.
    std::optional<double> timestamp;
};

using InputEventHandler = std::function<void(const InputEvent&)>;

// Global input monitors (NSEvent addGlobalMonitorForEventsMatchingMask:handler:). Handlers run on
// the main thread, one at a time. Letting go of a token does not remove its monitor.
class InputMonitoring : public RefCounter {
public:
    // Empty when the monitor cannot be installed.
    virtual Monitor addGlobalMonitor(std::uint64_t eventMask, InputEventHandler handler) = 0;
    virtual void removeMonitor(const Monitor& monitor) = 0;

protected:
    InputMonitoring() = default;
    InputMonitoring(const InputMonitoring&) = default;
    InputMonitoring& operator=(const InputMonitoring&) = default;
    ~InputMonitoring() = default;
};

} // namespace focusprobe::platform
