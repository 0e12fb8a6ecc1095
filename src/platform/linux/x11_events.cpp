#include "platform/linux/x11_events.h"

#include "platform/linux/counted.h"
#include "platform/linux/tables.h"

#include <array>
#include <memory>
#include <set>

// Xlib's macros (Status, None, Bool...) come last so they cannot touch the headers above.
#include "platform/linux/x11_key_positions.h"
#include <X11/extensions/XTest.h>

namespace focusprobe::platform::desktop {
namespace {

class XTestEvents final : public EventPosting {
public:
    explicit XTestEvents(Display* display) : display_(display) { }

    EventSource createEventSource(std::int32_t /*stateID*/) override { return EventSource::adopt(*this, new Object()); }

    Event createKeyboardEvent(const EventSource& source, std::uint16_t virtualKey, bool keyDown) override
    {
        if (!source) {
            return {};
        }
        const auto code = positions().xKeyCode(virtualKey);
        if (!code) {
            return {};
        }
        auto* event = new Object();
        event->macKey = virtualKey;
        event->xKeyCode = *code;
        event->down = keyDown;
        return Event::adopt(*this, event);
    }

    // Local hardware events cannot be held back by a client of the X server.
    void setLocalEventsFilterDuringSuppressionState(
        const EventSource& /*source*/, std::uint32_t /*filter*/, std::int32_t /*state*/) override
    {
    }

    void setFlags(const Event& event, std::uint64_t flags) override
    {
        if (auto* object = static_cast<Object*>(const_cast<void*>(event.get()))) {
            object->flags = flags;
        }
    }

    void post(std::uint32_t /*tapLocation*/, const Event& event) override
    {
        const auto* object = static_cast<const Object*>(event.get());
        if (object == nullptr) {
            return;
        }
        const KeyPositions& keys = positions();
        std::set<unsigned> wanted;
        for (const std::uint16_t mac : modifierKeysForFlags(object->flags)) {
            if (const auto code = keys.xKeyCode(mac); code && *code != object->xKeyCode) {
                wanted.insert(*code);
            }
        }
        // The posted key carries exactly the flag word's modifiers: others the user holds are let
        // go now and pressed again once the sequence is over.
        std::array<char, 32> down{};
        XQueryKeymap(display_, down.data());
        for (unsigned code = 8; code < 256; ++code) {
            const bool isDown = (static_cast<unsigned char>(down[code / 8]) & (1U << (code % 8))) != 0;
            const auto mac = keys.macKeyCode(code);
            if (!isDown || !mac || !isModifierKey(*mac) || code == object->xKeyCode || wanted.contains(code)) {
                continue;
            }
            XTestFakeKeyEvent(display_, code, False, CurrentTime);
            if (ours_.erase(code) == 0) {
                suspended_.insert(code);
            }
        }
        for (const unsigned code : wanted) {
            if ((static_cast<unsigned char>(down[code / 8]) & (1U << (code % 8))) == 0) {
                XTestFakeKeyEvent(display_, code, True, CurrentTime);
                ours_.insert(code);
            }
        }
        XTestFakeKeyEvent(display_, object->xKeyCode, object->down ? True : False, CurrentTime);
        if (object->down) {
            ours_.insert(object->xKeyCode);
        } else {
            ours_.erase(object->xKeyCode);
        }
        if (ours_.empty()) {
            for (const unsigned code : suspended_) {
                XTestFakeKeyEvent(display_, code, True, CurrentTime);
            }
            suspended_.clear();
        }
        XSync(display_, False);
    }

    void retain(RawRef ref) override { retainCounted<Object>(ref); }
    void release(RawRef ref) override { releaseCounted<Object>(ref); }

private:
    struct Object {
        int refs = 1;
        std::uint16_t macKey = 0;
        unsigned xKeyCode = 0;
        bool down = false;
        std::uint64_t flags = 0;
    };

    const KeyPositions& positions()
    {
        if (!positions_) {
            positions_ = std::make_unique<KeyPositions>(display_);
        }
        return *positions_;
    }

    Display* display_;
    std::unique_ptr<KeyPositions> positions_;
    std::set<unsigned> ours_;
    std::set<unsigned> suspended_;
};

} // namespace

PiecePtr<EventPosting> makeXTestEvents(XDisplay* display)
{
    return makePiece<XTestEvents, EventPosting>(display);
}

} // namespace focusprobe::platform::desktop
