#pragma once

#include "platform/ref.h"

#include <cstdint>

namespace focusprobe::platform {

using EventSource = Ref<struct EventSourceTag>;
using Event = Ref<struct EventTag>;

// Quartz event services: synthetic keyboard events.
class EventPosting : public RefCounter {
public:
    virtual EventSource createEventSource(std::int32_t stateID) = 0;
    virtual Event createKeyboardEvent(const EventSource& source, std::uint16_t virtualKey, bool keyDown) = 0;
    virtual void setLocalEventsFilterDuringSuppressionState(
        const EventSource& source, std::uint32_t filter, std::int32_t state)
        = 0;
    virtual void setFlags(const Event& event, std::uint64_t flags) = 0;
    virtual void post(std::uint32_t tapLocation, const Event& event) = 0;

protected:
    EventPosting() = default;
    EventPosting(const EventPosting&) = default;
    EventPosting& operator=(const EventPosting&) = default;
    ~EventPosting() = default;
};

} // namespace focusprobe::platform
