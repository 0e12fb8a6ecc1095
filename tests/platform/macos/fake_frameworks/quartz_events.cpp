// Quartz event services over World: events retain their source, posts are recorded.

#include "registry.h"

using namespace focusprobe::testing::frameworks;

extern "C" {

CFTypeID CGEventSourceGetTypeID(void)
{
    return typeIdOf<EventSourceBody>();
}

CFTypeID CGEventGetTypeID(void)
{
    return typeIdOf<EventBody>();
}

CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID)
{
    if (world().failEventSource) {
        return nullptr;
    }
    return as<CGEventSourceRef>(world().registry().make(EventSourceBody{stateID}));
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown)
{
    World& w = world();
    // A NULL source is allowed: the event then comes from no source.
    if (source != nullptr && w.registry().use<EventSourceBody>(source, "CGEventCreateKeyboardEvent") == nullptr) {
        return nullptr;
    }
    if (++w.keyboardEventsCreated == w.failKeyboardEvent) {
        return nullptr;
    }
    if (source != nullptr) {
        CFRetain(source);
    }
    return as<CGEventRef>(w.registry().make(EventBody{source, virtualKey, keyDown, 0}));
}

void CGEventSourceSetLocalEventsFilterDuringSuppressionState(
    CGEventSourceRef source, CGEventFilterMask filter, CGEventSuppressionState state)
{
    if (world().registry().use<EventSourceBody>(source, "CGEventSourceSetLocalEventsFilterDuringSuppressionState")
        != nullptr) {
        world().filters.emplace_back(filter, state);
    }
}

void CGEventSetFlags(CGEventRef event, CGEventFlags flags)
{
    if (auto* body = world().registry().use<EventBody>(event, "CGEventSetFlags")) {
        body->flags = flags;
    }
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event)
{
    if (const auto* body = world().registry().use<EventBody>(event, "CGEventPost")) {
        world().posted.push_back(PostedEvent{tap, body->keyCode, body->keyDown, body->flags});
    }
}

} // extern "C"
