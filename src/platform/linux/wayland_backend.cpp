#include "platform/linux/wayland_backend.h"

#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/counted.h"
#include "platform/linux/deadline.h"
#include "platform/linux/desktop_buses.h"
#include "platform/linux/layout_data.h"
#include "platform/linux/speechd_speech.h"
#include "platform/linux/tables.h"
#include "platform/linux/wayland_app_id.h"
#include "platform/linux/wayland_connection.h"
#include "platform/linux/wayland_keymap.h"
#include "platform/linux/wayland_remote_desktop.h"
#include "platform/posix/poll_loop.h"
#include "platform/posix/posix_process.h"

#include <systemd/sd-bus.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

namespace focusprobe::platform {
namespace {

using desktop::AtspiAccessibility;
using desktop::Deadline;
using desktop::DesktopBuses;
using wayland::WaylandConnection;

using desktop::releaseCounted;
using desktop::retainCounted;

// A keyboard the seat announces for the first time is asked for by applications only then, so
// its first key can be lost: a Shift tap and this pause go first.
constexpr std::chrono::milliseconds newKeyboardSettle{200};

// How long a compositor has to answer the first round trips.
constexpr std::chrono::milliseconds probeBudget{2000};

std::optional<std::string> readSmallFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    // /proc files of a process are small; a peer cannot make this one large.
    constexpr std::size_t limit = std::size_t{64} * 1024;
    std::string text(limit, '\0');
    file.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text;
}

std::optional<std::string> readLink(const std::string& path)
{
    std::array<char, 4096> buffer{};
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        return std::nullopt;
    }
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

// The compositor connection and the keymap, opened once per command and shared by the keyboard
// layouts and the posted events.
class WaylandSeat {
public:
    WaylandSeat(std::unique_ptr<WaylandConnection> connection, const Deadline& deadline)
        : connection_(std::move(connection)), deadline_(deadline)
    {
    }

    WaylandConnection& connection() { return *connection_; }
    [[nodiscard]] const Deadline& deadline() const { return deadline_; }

    // The seat's keymap text as the compositor hands it out.
    const std::optional<std::string>& keymapText()
    {
        if (!keymapRead_) {
            keymapRead_ = true;
            keymapText_ = connection_->keymap(deadline_);
        }
        return keymapText_;
    }

    // The seat's keymap, compiled once.
    xkb_keymap* keymap()
    {
        if (!compiled_) {
            compiled_ = true;
            if (const auto& text = keymapText()) {
                keymap_ = wayland::compileKeymap(*text);
            }
        }
        return keymap_.get();
    }

private:
    std::unique_ptr<WaylandConnection> connection_;
    Deadline deadline_;
    bool keymapRead_ = false;
    std::optional<std::string> keymapText_;
    bool compiled_ = false;
    wayland::Keymap keymap_;
};

bool screenReaderEnabled(DesktopBuses& buses)
{
    desktop::DBusConnection* session = buses.session();
    if (session == nullptr) {
        return false;
    }
    auto call = session->newCall("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get");
    if (!call || sd_bus_message_append(call.get(), "ss", "org.a11y.Status", "ScreenReaderEnabled") < 0) {
        return false;
    }
    const auto reply = session->call(call);
    int enabled = 0;
    return reply && sd_bus_message_enter_container(reply.get(), 'v', "b") >= 0
        && sd_bus_message_read(reply.get(), "b", &enabled) > 0 && enabled != 0;
}

// --- Workspace -----------------------------------------------------------------------------------

// wlroots desktops list their windows, the active one with its title: the application with a
// frame of that name is the frontmost one, also where no frame shows the active state
// (Chromium). Elsewhere (GNOME tells an ordinary client nothing of other windows), and where no
// frame has that name, it is the application whose frame the accessibility tree shows active.
class WaylandWorkspace final : public Workspace {
public:
    WaylandWorkspace(WaylandSeat& seat, AtspiAccessibility& accessibility, DesktopBuses& buses)
        : seat_(seat), accessibility_(accessibility), buses_(buses)
    {
    }

    std::optional<RunningApplication> frontmostApplication() override
    {
        std::optional<wayland::Toplevel> active;
        if (const auto toplevels = seat_.connection().toplevels(seat_.deadline())) {
            for (const auto& toplevel : *toplevels) {
                if (toplevel.activated) {
                    active = toplevel;
                    break;
                }
            }
        }
        std::optional<std::int32_t> pid;
        bool compositorNamed = false;
        if (active && !active->title.empty()) {
            pid = accessibility_.pidWithFrameNamed(active->title);
            compositorNamed = pid.has_value();
        }
        if (!pid) {
            pid = accessibility_.pidWithActiveFrame();
        }
        if (!pid) {
            return std::nullopt;
        }
        const std::string proc = "/proc/" + std::to_string(*pid);
        const auto exePath = readLink(proc + "/exe");
        const auto comm = readSmallFile(proc + "/comm");
        const auto executable = wayland::executableName(exePath, comm);
        // The id a GApplication owns on the bus is the one every desktop (and X11) sees; the
        // compositor's application id stands in for applications that own none.
        std::optional<std::string> ownId = exportedApplicationId(*pid);
        if (!ownId && compositorNamed && !active->appId.empty()) {
            ownId = active->appId;
        }
        std::optional<std::string> desktopId;
        if (const auto cgroup = readSmallFile(proc + "/cgroup")) {
            desktopId = wayland::desktopFileId(*cgroup);
        }
        RunningApplication app;
        app.processIdentifier = *pid;
        app.bundleIdentifier = wayland::chooseApplicationId(ownId, desktopId, executable);
        // Names are cut as identifiers are: the frontmost line must stay one line.
        if (const auto name = accessibility_.applicationName(*pid)) {
            app.localizedName = wayland::singleLine(*name, wayland::applicationIdMaxBytes);
        }
        if (!app.localizedName && executable) {
            app.localizedName = wayland::singleLine(*executable, wayland::applicationIdMaxBytes);
        }
        return app;
    }

    bool isVoiceOverEnabled() override { return screenReaderEnabled(buses_); }

private:
    // A GApplication owns its application id on the session bus.
    std::optional<std::string> exportedApplicationId(std::int32_t pid)
    {
        desktop::DBusConnection* session = buses_.session();
        if (session == nullptr) {
            return std::nullopt;
        }
        const auto reply = session->call(
            session->newCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListNames"));
        char** names = nullptr;
        if (!reply || sd_bus_message_read_strv(reply.get(), &names) < 0 || names == nullptr) {
            return std::nullopt;
        }
        std::vector<std::string> all;
        for (char** name = names; *name != nullptr; ++name) {
            all.emplace_back(*name);
            std::free(*name); // NOLINT(cppcoreguidelines-no-malloc): sd-bus hands out malloc'ed strings
        }
        std::free(names); // NOLINT(cppcoreguidelines-no-malloc)
        for (const auto& candidate : wayland::applicationIdCandidates(all)) {
            auto call = session->newCall(
                "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixProcessID");
            if (!call || sd_bus_message_append(call.get(), "s", candidate.c_str()) < 0) {
                continue;
            }
            const auto owner = session->call(call);
            std::uint32_t ownerPid = 0;
            if (owner && sd_bus_message_read(owner.get(), "u", &ownerPid) > 0
                && static_cast<std::int32_t>(ownerPid) == pid) {
                return candidate;
            }
        }
        return std::nullopt;
    }

    WaylandSeat& seat_;
    AtspiAccessibility& accessibility_;
    DesktopBuses& buses_;
};

// --- Keyboard layouts ----------------------------------------------------------------------------

// The layouts of the seat's keymap. An unfocused client is told the keymap but not which layout
// is active, so the current layout is the keymap's first.
class WaylandKeyboard final : public KeyboardLayouts {
public:
    explicit WaylandKeyboard(WaylandSeat& seat) : seat_(seat) { }

    InputSource copyCurrentKeyboardLayoutInputSource() override
    {
        xkb_keymap* keymap = seat_.keymap();
        if (keymap == nullptr || wayland::layoutCount(keymap) == 0) {
            return {};
        }
        return makeSource(wayland::layoutKeys(keymap, 0));
    }

    InputSource copyCurrentASCIICapableKeyboardLayoutInputSource() override
    {
        xkb_keymap* keymap = seat_.keymap();
        if (keymap == nullptr) {
            return {};
        }
        const std::uint32_t layouts = wayland::layoutCount(keymap);
        for (std::uint32_t layout = 0; layout < layouts; ++layout) {
            auto keys = wayland::layoutKeys(keymap, layout);
            if (wayland::isAsciiCapable(keys)) {
                return makeSource(keys);
            }
        }
        return {};
    }

    std::optional<std::span<const std::byte>> unicodeKeyLayoutData(const InputSource& source) override
    {
        const auto* layout = static_cast<const Source*>(source.get());
        if (layout == nullptr) {
            return std::nullopt;
        }
        return std::span<const std::byte>(layout->data);
    }

    // An ANSI keyboard; the layout data does not depend on it.
    std::uint8_t keyboardType() override { return 40; }

    OSStatus translateKey(const std::byte* layoutData, std::uint16_t virtualKeyCode, std::uint16_t keyAction,
        std::uint32_t modifierKeyState, std::uint32_t /*keyboardType*/, std::uint32_t keyTranslateOptions,
        std::uint32_t& deadKeyState, std::size_t maxStringLength, std::size_t& actualStringLength,
        char16_t* unicodeString) override
    {
        return desktop::translateWithLayout(layoutData, virtualKeyCode, keyAction, modifierKeyState,
            keyTranslateOptions, deadKeyState, maxStringLength, actualStringLength, unicodeString);
    }

    void retain(RawRef ref) override { retainCounted<Source>(ref); }
    void release(RawRef ref) override { releaseCounted<Source>(ref); }

private:
    struct Source {
        int refs = 1;
        std::vector<std::byte> data;
    };

    InputSource makeSource(const desktop::LayoutKeys& keys)
    {
        auto* source = new Source();
        source->data = desktop::encodeLayout(keys);
        return InputSource::adopt(*this, source);
    }

    WaylandSeat& seat_;
};

// --- Synthetic keyboard events -------------------------------------------------------------------

// Keys go to the seat through the compositor's virtual-keyboard protocol (wlroots), else through
// Mutter's remote-desktop session (GNOME); elsewhere there is no way and no event source.
class WaylandEvents final : public EventPosting {
public:
    WaylandEvents(WaylandSeat& seat, DesktopBuses& buses, PosixProcess& process)
        : seat_(seat), buses_(buses), process_(process)
    {
    }

    EventSource createEventSource(std::int32_t /*stateID*/) override
    {
        if (!injectorReady()) {
            return {};
        }
        return EventSource::adopt(*this, new Object());
    }

    Event createKeyboardEvent(const EventSource& source, std::uint16_t virtualKey, bool keyDown) override
    {
        if (!source || !wayland::evdevKeyCode(positions_.get(), virtualKey)) {
            return {};
        }
        auto* event = new Object();
        event->macKey = virtualKey;
        event->down = keyDown;
        return Event::adopt(*this, event);
    }

    // The compositor holds no other device's events back for a client.
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
        std::set<std::uint16_t> wanted;
        for (const std::uint16_t mac : desktop::modifierKeysForFlags(object->flags)) {
            if (mac != object->macKey) {
                wanted.insert(mac);
            }
        }
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
        if (virtualKeyboard_) {
            seat_.connection().sync(seat_.deadline());
        }
    }

    void retain(RawRef ref) override { retainCounted<Object>(ref); }
    void release(RawRef ref) override { releaseCounted<Object>(ref); }

private:
    struct Object {
        int refs = 1;
        std::uint16_t macKey = 0;
        bool down = false;
        std::uint64_t flags = 0;
    };

    struct StateDeleter {
        void operator()(xkb_state* state) const { xkb_state_unref(state); }
    };

    bool injectorReady()
    {
        if (tried_) {
            return virtualKeyboard_ || remote_;
        }
        tried_ = true;
        const Deadline& deadline = seat_.deadline();
        WaylandConnection& connection = seat_.connection();
        const bool seatHadKeyboard = connection.seatHasKeyboard(deadline);
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
        if (connection.offersVirtualKeyboard(deadline)) {
            virtualKeyboard_ = connection.createVirtualKeyboard(text, deadline);
            state_.reset(xkb_state_new(positions_.get()));
            virtualKeyboard_ = virtualKeyboard_ && state_;
        } else if (desktop::DBusConnection* session = buses_.session()) {
            remote_ = wayland::MutterRemoteDesktop::start(*session);
        }
        if (!virtualKeyboard_ && !remote_) {
            return false;
        }
        if (!seatHadKeyboard) {
            press(desktop::mackey::shift, true);
            press(desktop::mackey::shift, false);
            if (virtualKeyboard_) {
                connection.sync(deadline);
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
        // The compositor takes the modifier state from the client, not from the keys: it is
        // sent with every key that changes it.
        WaylandConnection& connection = seat_.connection();
        const auto changed = xkb_state_update_key(state_.get(), *code + 8, down ? XKB_KEY_DOWN : XKB_KEY_UP);
        connection.virtualKey(*code, down);
        if ((changed & XKB_STATE_MODS_DEPRESSED) != 0) {
            connection.virtualModifiers(xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_DEPRESSED));
        }
    }

    WaylandSeat& seat_;
    DesktopBuses& buses_;
    PosixProcess& process_;
    bool tried_ = false;
    bool virtualKeyboard_ = false;
    wayland::Keymap positions_;
    std::unique_ptr<xkb_state, StateDeleter> state_;
    std::unique_ptr<wayland::MutterRemoteDesktop> remote_;
    std::set<std::uint16_t> ours_;
};

// --- Global input monitors -----------------------------------------------------------------------

// No Wayland compositor lets an ordinary client watch the keys other clients receive.
class NoInputMonitoring final : public InputMonitoring {
public:
    Monitor addGlobalMonitor(std::uint64_t /*eventMask*/, InputEventHandler /*handler*/) override { return {}; }
    void removeMonitor(const Monitor& /*monitor*/) override { }
    void retain(RawRef /*ref*/) override { }
    void release(RawRef /*ref*/) override { }
};

// --- The backend ---------------------------------------------------------------------------------

class WaylandBackend final : public Backend {
public:
    WaylandBackend(std::unique_ptr<WaylandConnection> connection, const Deadline& deadline)
        : deadline_(deadline), busDeadline_(desktop::withReserve(deadline_, desktop::displayReserve)),
          seat_(std::move(connection), deadline_), buses_(busDeadline_, [] { return std::optional<std::string>(); }),
          accessibility_(buses_, [] { return true; }), workspace_(seat_, accessibility_, buses_), keyboard_(seat_),
          events_(seat_, buses_, process_), speech_(desktop::makeSpeechDispatcherSpeech(nullptr))
    {
    }

    Platform platform() override
    {
        return Platform{accessibility_, workspace_, process_, keyboard_, events_, *speech_, input_, loop_};
    }

private:
    Deadline deadline_;
    // As on X11: a hung application leaves the compositor time for the requests that follow.
    Deadline busDeadline_;
    WaylandSeat seat_;
    PollLoop loop_;
    DesktopBuses buses_;
    AtspiAccessibility accessibility_;
    WaylandWorkspace workspace_;
    PosixProcess process_;
    WaylandKeyboard keyboard_;
    WaylandEvents events_;
    desktop::PiecePtr<Speech> speech_;
    NoInputMonitoring input_;
};

} // namespace

std::unique_ptr<Backend> makeWaylandBackend()
{
    const auto socket = wayland::waylandSocketPath();
    if (!socket) {
        return nullptr;
    }
    // The budget starts with the process's first blocking step. A compositor that has not
    // answered within the first part of it is taken for absent, so the X display (XWayland) or
    // the headless answer still comes in time.
    const auto now = desktop::DeadlineClock::now();
    const Deadline deadline = desktop::deadlineAfter(now);
    auto connection = WaylandConnection::open(*socket, desktop::deadlineAfter(now, probeBudget));
    if (!connection) {
        return nullptr;
    }
    return std::make_unique<WaylandBackend>(std::move(connection), deadline);
}

} // namespace focusprobe::platform
