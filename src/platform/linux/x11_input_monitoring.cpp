#include "platform/linux/x11_input_monitoring.h"

#include "platform/linux/counted.h"
#include "platform/linux/tables.h"
#include "platform/linux/x11_connection.h"

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <string>
#include <vector>

// Xlib's macros (Status, None, Bool...) come last so they cannot touch the headers above.
#include "platform/linux/x11_key_positions.h"
#include <X11/extensions/XInput2.h>

namespace focusprobe::platform::desktop {
namespace {

class XInputMonitoring final : public InputMonitoring {
public:
    XInputMonitoring(const char* displayName, PollLoop& loop) : displayName_(displayName), loop_(loop) { }

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

    // A connection of its own, so that no other request reads its events into Xlib's queue
    // behind the loop's back.
    bool connect()
    {
        if (display_) {
            return true;
        }
        DisplayPtr display(XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str()));
        if (!display || !hasInputExtensions(display.get())) {
            return false;
        }
        int event = 0;
        int error = 0;
        if (XQueryExtension(display.get(), "XInputExtension", &xiOpcode_, &event, &error) == False) {
            return false;
        }
        std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
        XISetMask(bits.data(), XI_RawKeyPress);
        XISetMask(bits.data(), XI_RawKeyRelease);
        XISetMask(bits.data(), XI_RawButtonPress);
        XIEventMask mask{XIAllMasterDevices, static_cast<int>(bits.size()), bits.data()};
        if (XISelectEvents(display.get(), DefaultRootWindow(display.get()), &mask, 1) != Success) {
            return false;
        }
        positions_ = std::make_unique<KeyPositions>(display.get());
        // Modifiers already held when the monitor starts count as down.
        std::array<char, 32> keys{};
        XQueryKeymap(display.get(), keys.data());
        for (unsigned code = 8; code < 256; ++code) {
            const auto mac = positions_->macKeyCode(code);
            if ((static_cast<unsigned char>(keys[code / 8]) & (1U << (code % 8))) != 0 && mac && isModifierKey(*mac)
                && *mac != mackey::capsLock) {
                modifiersDown_.insert(*mac);
            }
        }
        XSync(display.get(), False);
        display_ = std::move(display);
        loop_.watchDescriptor(ConnectionNumber(display_.get()), [this] { drain(); });
        return true;
    }

    bool capsLocked()
    {
        XkbStateRec state{};
        return XkbGetState(display_.get(), XkbUseCoreKbd, &state) == Success && (state.locked_mods & LockMask) != 0;
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
        Display* display = display_.get();
        while (XPending(display) > 0) {
            XEvent event{};
            XNextEvent(display, &event);
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != xiOpcode_
                || XGetEventData(display, cookie) == False) {
                continue;
            }
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            const int type = cookie->evtype;
            const auto detail = static_cast<unsigned>(raw->detail);
            XFreeEventData(display, cookie);
            if (type == XI_RawButtonPress) {
                if (detail == 1) {
                    deliver(eventmask::leftMouseDown, InputEvent{});
                } else if (detail == 3) {
                    deliver(eventmask::rightMouseDown, InputEvent{});
                }
                continue;
            }
            const auto mac = positions_->macKeyCode(detail);
            const bool press = type == XI_RawKeyPress;
            if (mac && isModifierKey(*mac)) {
                if (*mac != mackey::capsLock) {
                    if (press) {
                        modifiersDown_.insert(*mac);
                    } else {
                        modifiersDown_.erase(*mac);
                    }
                } else if (!press) {
                    continue; // Caps Lock changes the flags when it goes down only
                }
                const std::vector<std::uint16_t> held(modifiersDown_.begin(), modifiersDown_.end());
                deliver(eventmask::flagsChanged, InputEvent{*mac, modifierFlags(held, capsLocked())});
            } else if (press) {
                deliver(eventmask::keyDown, InputEvent{mac.value_or(0xFFFF), 0});
            }
        }
    }

    std::string displayName_;
    PollLoop& loop_;
    DisplayPtr display_;
    int xiOpcode_ = 0;
    std::unique_ptr<KeyPositions> positions_;
    std::set<std::uint16_t> modifiersDown_;
    std::vector<Object*> monitors_;
};

} // namespace

PiecePtr<InputMonitoring> makeXInputMonitoring(const char* displayName, PollLoop& loop)
{
    return makePiece<XInputMonitoring, InputMonitoring>(displayName, loop);
}

} // namespace focusprobe::platform::desktop
