#pragma once

#include "platform/events.h"

#include <cstdint>
#include <set>

namespace focusprobe::platform::desktop {

// What the X11 and Wayland event posting share: event sources and key events as counted
// objects of our own, the flag word set on an event, and which modifiers it asks to be held.
// Each desktop says only how a key is pressed.
class KeyEventPosting : public EventPosting {
public:
    // Neither an X server nor a compositor holds another device's events back for a client.
    void setLocalEventsFilterDuringSuppressionState(
        const EventSource& /*source*/, std::uint32_t /*filter*/, std::int32_t /*state*/) final
    {
    }
    void setFlags(const Event& event, std::uint64_t flags) final;
    void retain(RawRef ref) final;
    void release(RawRef ref) final;

protected:
    KeyEventPosting() = default;
    KeyEventPosting(const KeyEventPosting&) = default;
    KeyEventPosting& operator=(const KeyEventPosting&) = default;
    ~KeyEventPosting() = default;

    struct KeyEvent {
        int refs = 1;
        std::uint16_t macKey = 0;
        bool down = false;
        std::uint64_t flags = 0;
    };

    EventSource makeSource();
    Event makeKeyEvent(std::uint16_t macKey, bool down);
    // The posted event's own record; null for an empty event.
    static const KeyEvent* keyEvent(const Event& event) { return static_cast<const KeyEvent*>(event.get()); }
};

// The modifier keys (Mac key codes) the event's flag word asks to be held, the event's own key
// aside.
std::set<std::uint16_t> wantedModifiers(std::uint16_t macKey, std::uint64_t flags);

} // namespace focusprobe::platform::desktop
