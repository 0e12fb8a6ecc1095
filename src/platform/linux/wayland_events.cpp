#include "platform/linux/wayland_events.h"

#include "platform/linux/common/deadline.h"
#include "platform/linux/dbus/desktop_buses.h"
#include "platform/linux/dbus/mutter_remote_desktop.h"
#include "platform/linux/dbus/remote_desktop_portal.h"
#include "platform/linux/keys/key_events.h"
#include "platform/linux/keys/mac_keys.h"
#include "platform/linux/wayland/connection.h"
#include "platform/linux/wayland/keymap.h"
#include "platform/linux/wayland/seat.h"
#include "platform/posix/posix_process.h"

#include <memory>
#include <set>
#include <string>

#include <xkbcommon/xkbcommon.h>

namespace focusprobe::platform {
namespace {

using desktop::Deadline;
using desktop::DesktopBuses;
using wayland::WaylandConnection;
using wayland::WaylandSeat;

// A keyboard the seat announces for the first time is asked for by applications only then, so
// its first key can be lost: a Shift tap and this pause go first.
constexpr std::chrono::milliseconds newKeyboardSettle{200};

// Who KWin's fake input is told is pressing keys, and why.
constexpr const char* fakeInputApplication = "focusprobe";
constexpr const char* fakeInputReason = "Paste into the focused window";

// Keys go to the seat through the compositor's virtual-keyboard protocol (wlroots), else KWin's
// fake input (KDE Plasma, for a program its desktop entry grants it), else Mutter's
// remote-desktop session (GNOME), else the desktop portal's (KDE Plasma without the grant);
// elsewhere there is no way and no event source.
class WaylandEvents final : public desktop::KeyEventPosting {
public:
    WaylandEvents(WaylandSeat& seat, DesktopBuses& buses, PosixProcess& process)
        : seat_(seat), buses_(buses), process_(process)
    {
    }

    // A key of ours still down when the command ends (its deadline cut the sequence short) would
    // stay down for the user: KWin keeps a fake-input key pressed after its client has gone.
    ~WaylandEvents()
    {
        for (auto held = ours_.rbegin(); held != ours_.rend(); ++held) {
            press(*held, false);
        }
        if (WaylandConnection* connection = seat_.connection();
            connection != nullptr && !ours_.empty() && (virtualKeyboard_ || fakeInput_)) {
            connection->sync(seat_.deadline());
        }
    }
    WaylandEvents(const WaylandEvents&) = delete;
    WaylandEvents& operator=(const WaylandEvents&) = delete;

    EventSource createEventSource(std::int32_t /*stateID*/) override
    {
        if (!injectorReady()) {
            return {};
        }
        return makeSource();
    }

    Event createKeyboardEvent(const EventSource& source, std::uint16_t virtualKey, bool keyDown) override
    {
        if (!source || !wayland::evdevKeyCode(positions_.get(), virtualKey)) {
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
        const std::set<std::uint16_t> wanted = desktop::wantedModifiers(object->macKey, object->flags);
        // Only this keyboard's own keys count: a virtual keyboard's modifiers are its own, and
        // Mutter's session cannot see what another device holds.
        for (auto held = ours_.begin(); held != ours_.end();) {
            if (*held != object->macKey && desktop::isModifierKey(*held) && !wanted.contains(*held)) {
                press(*held, false);
                held = ours_.erase(held);
            } else {
                ++held;
            }
        }
        for (const std::uint16_t mac : wanted) {
            if (ours_.insert(mac).second) {
                press(mac, true);
            }
        }
        press(object->macKey, object->down);
        if (object->down) {
            ours_.insert(object->macKey);
        } else {
            ours_.erase(object->macKey);
        }
        if (virtualKeyboard_ || fakeInput_) {
            seat_.connection()->sync(seat_.deadline());
        }
    }

private:
    struct StateDeleter {
        void operator()(xkb_state* state) const { xkb_state_unref(state); }
    };

    bool injectorReady()
    {
        if (tried_) {
            return virtualKeyboard_ || fakeInput_ || remote_ || portal_;
        }
        tried_ = true;
        const Deadline& deadline = seat_.deadline();
        // A compositor that does not answer routes no key anywhere: keys pressed through another
        // way (an X display beside it) would reach a window that is not in front.
        WaylandConnection* connection = seat_.connection();
        if (connection == nullptr) {
            return false;
        }
        const bool seatHadKeyboard = connection->seatHasKeyboard(deadline);
        // Keys are pressed by position in the seat's own keymap, so a key types what it types
        // for the user; a seat without one gets the default US keymap.
        std::string text;
        if (const auto& seatKeymap = seat_.keymapText(); seatKeymap && seat_.keymap() != nullptr) {
            text = *seatKeymap;
            positions_ = wayland::compileKeymap(text);
        } else {
            positions_ = wayland::keymapFromNames("us", nullptr);
            text = positions_ ? wayland::keymapText(positions_.get()) : std::string();
        }
        if (!positions_ || text.empty()) {
            return false;
        }
        if (connection->offersVirtualKeyboard(deadline)) {
            virtualKeyboard_ = connection->createVirtualKeyboard(text, deadline);
            state_.reset(xkb_state_new(positions_.get()));
            virtualKeyboard_ = virtualKeyboard_ && state_;
        } else if (connection->offersFakeInput(deadline)) {
            fakeInput_ = connection->startFakeInput(fakeInputApplication, fakeInputReason, deadline);
        } else if (desktop::DBusConnection* session = buses_.session()) {
            remote_ = wayland::MutterRemoteDesktop::start(*session);
            // Only on KWin: other desktops' portals ask the user in a dialog first, which a
            // helper that must answer at once cannot wait for (KDE's 5.27 backend does not ask).
            if (!remote_ && connection->isKWin(deadline)) {
                portal_ = wayland::RemoteDesktopPortal::start(*session);
            }
        }
        if (!virtualKeyboard_ && !fakeInput_ && !remote_ && !portal_) {
            return false;
        }
        if (!seatHadKeyboard) {
            press(desktop::mackey::shift, true);
            press(desktop::mackey::shift, false);
            if (virtualKeyboard_ || fakeInput_) {
                connection->sync(deadline);
            }
            const auto pause = desktop::stepTimeoutNow(deadline, newKeyboardSettle);
            if (pause.count() > 0) {
                process_.sleepMicroseconds(static_cast<std::uint32_t>(pause.count()));
            }
        }
        return true;
    }

    void press(std::uint16_t macKey, bool down)
    {
        const auto code = wayland::evdevKeyCode(positions_.get(), macKey);
        if (!code) {
            return;
        }
        if (remote_) {
            remote_->keycode(*code, down);
            return;
        }
        if (portal_) {
            portal_->keycode(*code, down);
            return;
        }
        // KWin presses the key on its own seat, whose keymap and modifier state it keeps.
        if (fakeInput_) {
            seat_.connection()->fakeKey(*code, down);
            return;
        }
        // The compositor takes the modifier state from the client, not from the keys: it is
        // sent with every key that changes it.
        WaylandConnection* connection = seat_.connection();
        const auto changed = xkb_state_update_key(state_.get(), *code + 8, down ? XKB_KEY_DOWN : XKB_KEY_UP);
        connection->virtualKey(*code, down);
        if ((changed & XKB_STATE_MODS_DEPRESSED) != 0) {
            connection->virtualModifiers(xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_DEPRESSED));
        }
    }

    WaylandSeat& seat_;
    DesktopBuses& buses_;
    PosixProcess& process_;
    bool tried_ = false;
    bool virtualKeyboard_ = false;
    bool fakeInput_ = false;
    wayland::Keymap positions_;
    std::unique_ptr<xkb_state, StateDeleter> state_;
    std::unique_ptr<wayland::MutterRemoteDesktop> remote_;
    std::unique_ptr<wayland::RemoteDesktopPortal> portal_;
    std::set<std::uint16_t> ours_;
};

} // namespace

namespace wayland {

desktop::PiecePtr<EventPosting> makeWaylandEvents(
    WaylandSeat& seat, desktop::DesktopBuses& buses, PosixProcess& process)
{
    return desktop::makePiece<WaylandEvents, EventPosting>(seat, buses, process);
}

} // namespace wayland
} // namespace focusprobe::platform
