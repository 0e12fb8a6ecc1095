#include "platform/linux/x11_events.h"

#include "platform/linux/keys/key_events.h"
#include "platform/linux/keys/mac_keys.h"
#include "platform/linux/x11/key_positions.h"
#include "platform/linux/x11/keymap_reads.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <memory>
#include <set>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace focusprobe::platform::desktop {
namespace {

class XTestEvents final : public KeyEventPosting {
public:
    explicit XTestEvents(XConnection& connection) : connection_(connection) { }

    EventSource createEventSource(std::int32_t /*stateID*/) override { return makeSource(); }

    Event createKeyboardEvent(const EventSource& source, std::uint16_t virtualKey, bool keyDown) override
    {
        if (!source || !positions().xKeyCode(virtualKey)) {
            return {};
        }
        return makeKeyEvent(virtualKey, keyDown);
    }

    void post(std::uint32_t /*tapLocation*/, const Event& event) override
    {
        const KeyEvent* object = keyEvent(event);
        if (object == nullptr) {
            return;
        }
        if (!connection_.extensions().xtest) {
            return;
        }
        const KeyPositions& keys = positions();
        const auto ownCode = keys.xKeyCode(object->macKey);
        if (!ownCode) {
            return;
        }
        const unsigned xKeyCode = *ownCode;
        std::set<unsigned> wanted;
        for (const std::uint16_t mac : wantedModifiers(object->macKey, object->flags)) {
            if (const auto code = keys.xKeyCode(mac); code && *code != xKeyCode) {
                wanted.insert(*code);
            }
        }
        // The posted key carries exactly the flag word's modifiers: others the user holds are let
        // go now and pressed again once the sequence is over.
        std::array<std::uint8_t, 32> down{};
        if (const auto keymap = connection_.wait<xcb_query_keymap_reply_t>(xcb_query_keymap(connection_.get()))) {
            std::copy(std::begin(keymap->keys), std::end(keymap->keys), down.begin());
        }
        for (unsigned code = 8; code < 256; ++code) {
            const bool isDown = (down[code / 8] & (1U << (code % 8))) != 0;
            const auto mac = keys.macKeyCode(code);
            if (!isDown || !mac || !isModifierKey(*mac) || code == xKeyCode || wanted.contains(code)) {
                continue;
            }
            fake(code, false);
            if (ours_.erase(code) == 0) {
                suspended_.insert(code);
            }
        }
        for (const unsigned code : wanted) {
            if ((down[code / 8] & (1U << (code % 8))) == 0) {
                fake(code, true);
                ours_.insert(code);
            }
        }
        fake(xKeyCode, object->down);
        if (object->down) {
            ours_.insert(xKeyCode);
        } else {
            ours_.erase(xKeyCode);
        }
        if (ours_.empty()) {
            for (const unsigned code : suspended_) {
                fake(code, true);
            }
            suspended_.clear();
        }
        // Handled by the server before the caller's next step, as a posted event is on a Mac.
        connection_.sync();
    }

private:
    const KeyPositions& positions()
    {
        if (!positions_) {
            positions_ = std::make_unique<KeyPositions>(readKeymap(connection_).value_or(Keymap{}));
        }
        return *positions_;
    }

    void fake(unsigned code, bool down)
    {
        xcb_test_fake_input(connection_.get(), down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, static_cast<std::uint8_t>(code),
            XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }

    XConnection& connection_;
    std::unique_ptr<KeyPositions> positions_;
    std::set<unsigned> ours_;
    std::set<unsigned> suspended_;
};

} // namespace

PiecePtr<EventPosting> makeXTestEvents(XConnection& connection)
{
    return makePiece<XTestEvents, EventPosting>(connection);
}

} // namespace focusprobe::platform::desktop
