#include "platform/linux/keys/key_events.h"

#include "platform/linux/common/ownership.h"
#include "platform/linux/keys/mac_keys.h"

namespace focusprobe::platform::desktop {

void KeyEventPosting::setFlags(const Event& event, std::uint64_t flags)
{
    if (auto* object = static_cast<KeyEvent*>(const_cast<void*>(event.get()))) {
        object->flags = flags;
    }
}

void KeyEventPosting::retain(RawRef ref)
{
    retainCounted<KeyEvent>(ref);
}

void KeyEventPosting::release(RawRef ref)
{
    releaseCounted<KeyEvent>(ref);
}

EventSource KeyEventPosting::makeSource()
{
    return EventSource::adopt(*this, new KeyEvent());
}

Event KeyEventPosting::makeKeyEvent(std::uint16_t macKey, bool down)
{
    auto* event = new KeyEvent();
    event->macKey = macKey;
    event->down = down;
    return Event::adopt(*this, event);
}

std::set<std::uint16_t> wantedModifiers(std::uint16_t macKey, std::uint64_t flags)
{
    std::set<std::uint16_t> wanted;
    for (const std::uint16_t mac : modifierKeysForFlags(flags)) {
        if (mac != macKey) {
            wanted.insert(mac);
        }
    }
    return wanted;
}

} // namespace focusprobe::platform::desktop
