#include "platform/linux/x11_input_monitoring.h"

#include "platform/linux/common/ownership.h"
#include "platform/linux/x11/connection.h"
#include "platform/linux/x11/key_positions.h"
#include "platform/linux/x11/keymap_reads.h"
#include "platform/linux/x11/raw_input.h"
#include "platform/linux/x11/xcb_xkb.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

namespace focusprobe::platform::desktop {
namespace {

class XInputMonitoring final : public InputMonitoring {
public:
    XInputMonitoring(const Deadline& deadline, PollLoop& loop) : deadline_(deadline), loop_(loop) { }
    ~XInputMonitoring()
    {
        // The list's own references; the tokens' holders have let theirs go by now.
        for (Object* monitor : monitors_) {
            release(monitor);
        }
    }
    XInputMonitoring(const XInputMonitoring&) = delete;
    XInputMonitoring& operator=(const XInputMonitoring&) = delete;

    Monitor addGlobalMonitor(std::uint64_t eventMask, InputEventHandler handler) override
    {
        if (!connect()) {
            return {};
        }
        auto* monitor = new Object();
        monitor->mask = eventMask;
        monitor->handler = std::move(handler);
        monitors_.push_back(monitor);
        ++monitor->refs; // the list's own reference
        return Monitor::adopt(*this, monitor);
    }

    void removeMonitor(const Monitor& monitor) override
    {
        const auto found = std::find(monitors_.begin(), monitors_.end(), monitor.get());
        if (found != monitors_.end()) {
            Object* object = *found;
            monitors_.erase(found);
            release(object);
        }
    }

    void retain(RawRef ref) override { retainCounted<Object>(ref); }
    void release(RawRef ref) override { releaseCounted<Object>(ref); }

private:
    struct Object {
        int refs = 1;
        std::uint64_t mask = 0;
        InputEventHandler handler;
    };

    // A connection of its own, so that replies awaited elsewhere never read its events into
    // XCB's queue behind the loop's back. Set up within the command's budget; once watched, it
    // is only ever read as far as the socket has data, so the loop never blocks on the server.
    bool connect()
    {
        if (display_) {
            return true;
        }
        auto display = XConnection::open(deadline_);
        if (!display || !hasInputExtensions(*display)) {
            return false;
        }
        xcb_connection_t* c = display->get();
        struct {
            xcb_input_event_mask_t head;
            std::uint32_t bits;
        } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
            XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE
                | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS};
        const unsigned selected = xcb_input_xi_select_events_checked(c, display->root(), 1, &mask.head).sequence;
        // Caps Lock's state comes with the events, so no event waits on a question to the server.
        const auto keymap = readKeymap(*display);
        std::uint8_t lockedModifiers = 0;
        if (keymap) {
            xcb_xkb_select_events_details_t details{};
            details.affectState = XCB_XKB_STATE_PART_MODIFIER_LOCK;
            details.stateDetails = XCB_XKB_STATE_PART_MODIFIER_LOCK;
            xcb_xkb_select_events_aux(
                c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_EVENT_TYPE_STATE_NOTIFY, 0, 0, 0, 0, &details);
            if (const auto state = readXkbState(*display)) {
                lockedModifiers = state->lockedModifiers;
            }
        }
        const auto held = display->wait<xcb_query_keymap_reply_t>(xcb_query_keymap(c));
        if (!held || !display->waitForCompletion(selected)) {
            return false;
        }
        positions_ = KeyPositions(keymap.value_or(Keymap{}));
        std::array<std::uint8_t, 32> keysDown{};
        std::copy(std::begin(held->keys), std::end(held->keys), keysDown.begin());
        state_ = initialInputState(positions_, keysDown, lockedModifiers);
        extensions_ = display->extensions();
        display_ = std::move(display);
        loop_.watchDescriptor(display_->fd(), [this] { drain(); });
        return true;
    }

    void deliver(std::uint64_t maskBit, const InputEvent& event)
    {
        // A handler may add or remove monitors; walk a snapshot that keeps each one alive.
        std::vector<Monitor> snapshot;
        for (Object* monitor : monitors_) {
            if ((monitor->mask & maskBit) != 0) {
                snapshot.push_back(Monitor::retain(*this, monitor));
            }
        }
        for (const Monitor& monitor : snapshot) {
            static_cast<const Object*>(monitor.get())->handler(event);
        }
    }

    void drain()
    {
        xcb_connection_t* c = display_->get();
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const Reply<xcb_generic_event_t> owned(event);
            handle(*event);
        }
        if (display_->broken()) {
            // The server is gone or cut the connection: no input can be monitored any more.
            loop_.terminate(loopFailedStatus);
        }
    }

    void handle(const xcb_generic_event_t& event)
    {
        const unsigned type = event.response_type & 0x7FU;
        if (extensions_.xkb && type == extensions_.xkbFirstEvent) {
            const auto& xkb = reinterpret_cast<const xcb_xkb_state_notify_event_t&>(event);
            if (xkb.xkbType == XCB_XKB_STATE_NOTIFY) {
                takeLockedModifiers(state_, xkb.lockedMods);
            }
            return;
        }
        const auto& generic = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
        if (type != XCB_GE_GENERIC || generic.extension != extensions_.xinputOpcode) {
            return;
        }
        const auto& raw = reinterpret_cast<const xcb_input_raw_key_press_event_t&>(event);
        std::optional<MonitorEvent> monitored;
        if (generic.event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
            monitored = rawButtonEvent(raw.detail);
        } else if (generic.event_type == XCB_INPUT_RAW_KEY_PRESS || generic.event_type == XCB_INPUT_RAW_KEY_RELEASE) {
            monitored = rawKeyEvent(state_, positions_, raw.detail, generic.event_type == XCB_INPUT_RAW_KEY_PRESS);
        }
        if (monitored) {
            // The server's own time: the hold of a tap does not depend on when we read it.
            monitored->event.timestamp = serverSeconds(serverClock_, raw.time);
            deliver(monitored->maskBit, monitored->event);
        }
    }

    Deadline deadline_;
    PollLoop& loop_;
    std::unique_ptr<XConnection> display_;
    XExtensions extensions_;
    KeyPositions positions_;
    RawInputState state_;
    ServerClock serverClock_;
    std::vector<Object*> monitors_;
};
} // namespace

PiecePtr<InputMonitoring> makeXInputMonitoring(const Deadline& deadline, PollLoop& loop)
{
    return makePiece<XInputMonitoring, InputMonitoring>(deadline, loop);
}

} // namespace focusprobe::platform::desktop
