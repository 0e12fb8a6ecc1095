#pragma once

#include "platform/events.h"
#include "platform/macos/cf_ref.h"

namespace focusprobe::platform::macos {

// Quartz event services (CoreGraphics); sources and events are CF objects.
class MacEventPosting final : public CFCounted<EventPosting> {
public:
    EventSource createEventSource(std::int32_t stateID) override;
    Event createKeyboardEvent(const EventSource& source, std::uint16_t virtualKey, bool keyDown) override;
    void setLocalEventsFilterDuringSuppressionState(
        const EventSource& source, std::uint32_t filter, std::int32_t state) override;
    void setFlags(const Event& event, std::uint64_t flags) override;
    void post(std::uint32_t tapLocation, const Event& event) override;
};

} // namespace focusprobe::platform::macos
