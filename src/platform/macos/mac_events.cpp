#include "platform/macos/mac_events.h"

#include <CoreGraphics/CoreGraphics.h>

namespace focusprobe::platform::macos {
namespace {

CGEventSourceRef cgSource(const EventSource& source)
{
    return static_cast<CGEventSourceRef>(const_cast<void*>(source.get()));
}

CGEventRef cgEvent(const Event& event)
{
    return static_cast<CGEventRef>(const_cast<void*>(event.get()));
}

} // namespace

EventSource MacEventPosting::createEventSource(std::int32_t stateID)
{
    return EventSource::adopt(*this, CGEventSourceCreate(static_cast<CGEventSourceStateID>(stateID)));
}

Event MacEventPosting::createKeyboardEvent(const EventSource& source, std::uint16_t virtualKey, bool keyDown)
{
    return Event::adopt(*this, CGEventCreateKeyboardEvent(cgSource(source), virtualKey, keyDown));
}

void MacEventPosting::setLocalEventsFilterDuringSuppressionState(
    const EventSource& source, std::uint32_t filter, std::int32_t state)
{
    if (source) {
        CGEventSourceSetLocalEventsFilterDuringSuppressionState(
            cgSource(source), static_cast<CGEventFilterMask>(filter), static_cast<CGEventSuppressionState>(state));
    }
}

void MacEventPosting::setFlags(const Event& event, std::uint64_t flags)
{
    if (event) {
        CGEventSetFlags(cgEvent(event), static_cast<CGEventFlags>(flags));
    }
}

void MacEventPosting::post(std::uint32_t tapLocation, const Event& event)
{
    if (event) {
        CGEventPost(static_cast<CGEventTapLocation>(tapLocation), cgEvent(event));
    }
}

} // namespace focusprobe::platform::macos
