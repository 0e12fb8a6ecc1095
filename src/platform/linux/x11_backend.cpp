#include "platform/linux/x11_backend.h"

#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/layout_data.h"
#include "platform/linux/tables.h"
#include "platform/posix/poll_loop.h"
#include "platform/posix/posix_process.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// Xlib's macros (Status, None, Bool...) come last so they cannot touch the headers above.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <dlfcn.h>
#include <libspeechd.h>
#include <xkbcommon/xkbcommon.h>

namespace focusprobe::platform {
namespace {

// The objects this backend hands out as references carry their own count, starting at the
// creator's one.
template <class T> void retainCounted(RawRef ref)
{
    ++static_cast<T*>(const_cast<void*>(ref))->refs;
}

template <class T> void releaseCounted(RawRef ref)
{
    auto* object = static_cast<T*>(const_cast<void*>(ref));
    if (--object->refs == 0) {
        delete object;
    }
}

using desktop::AtspiAccessibility;
using desktop::DesktopBuses;

// --- X helpers -----------------------------------------------------------------------------------

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Atoms are looked up once per process: the frontmost application is read more than once.
Atom knownAtom(Display* display, const char* name)
{
    static std::map<std::string, Atom, std::less<>> atoms;
    if (const auto found = atoms.find(std::string_view(name)); found != atoms.end()) {
        return found->second;
    }
    const Atom atom = XInternAtom(display, name, True);
    if (atom != None) {
        atoms.emplace(name, atom);
    }
    return atom;
}

std::optional<std::vector<unsigned char>> windowProperty(
    Display* display, ::Window window, const char* name, Atom type, int& format, unsigned long& count)
{
    const Atom property = knownAtom(display, name);
    if (property == None) {
        return std::nullopt;
    }
    Atom actualType = None;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(
            display, window, property, 0, 4096, False, type, &actualType, &format, &count, &remaining, &data)
            != Success
        || data == nullptr) {
        return std::nullopt;
    }
    const std::size_t bytes = count * (format == 32 ? sizeof(long) : static_cast<std::size_t>(format) / 8);
    std::vector<unsigned char> copy(data, data + bytes);
    XFree(data);
    if (actualType == None) {
        return std::nullopt;
    }
    return copy;
}

std::optional<unsigned long> cardinalProperty(Display* display, ::Window window, const char* name, Atom type)
{
    int format = 0;
    unsigned long count = 0;
    const auto data = windowProperty(display, window, name, type, format, count);
    if (!data || format != 32 || count == 0) {
        return std::nullopt;
    }
    unsigned long value = 0;
    std::copy_n(data->begin(), sizeof value, reinterpret_cast<unsigned char*>(&value));
    return value;
}

std::optional<std::string> textProperty(Display* display, ::Window window, const char* name, Atom type)
{
    int format = 0;
    unsigned long count = 0;
    const auto data = windowProperty(display, window, name, type, format, count);
    if (!data || format != 8) {
        return std::nullopt;
    }
    return std::string(data->begin(), data->end());
}

bool hasInputExtensions(Display* display)
{
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) == False) {
        return false;
    }
    int opcode = 0;
    if (XQueryExtension(display, "XInputExtension", &opcode, &eventBase, &errorBase) == False) {
        return false;
    }
    int xiMajor = 2;
    int xiMinor = 0;
    return XIQueryVersion(display, &xiMajor, &xiMinor) == Success;
}

// The keymap's key names by X keycode, so positions translate both ways.
class KeyPositions {
public:
    explicit KeyPositions(Display* display)
    {
        XkbDescPtr desc = XkbGetMap(display, XkbKeySymsMask | XkbKeyTypesMask, XkbUseCoreKbd);
        if (desc == nullptr) {
            return;
        }
        if (XkbGetNames(display, XkbKeyNamesMask | XkbKeyAliasesMask, desc) == Success && desc->names != nullptr) {
            for (int code = desc->min_key_code; code <= desc->max_key_code; ++code) {
                const std::string name(
                    desc->names->keys[code].name, strnlen(desc->names->keys[code].name, XkbKeyNameLength));
                if (const auto mac = desktop::macKeyCodeForXkbName(name)) {
                    // The first keycode carrying a position wins; later duplicates are aliases.
                    macToX_.try_emplace(*mac, static_cast<unsigned>(code));
                    xToMac_.try_emplace(static_cast<unsigned>(code), *mac);
                }
            }
        }
        desc_ = desc;
    }
    ~KeyPositions()
    {
        if (desc_ != nullptr) {
            XkbFreeKeyboard(desc_, XkbAllComponentsMask, True);
        }
    }
    KeyPositions(const KeyPositions&) = delete;
    KeyPositions& operator=(const KeyPositions&) = delete;

    [[nodiscard]] std::optional<unsigned> xKeyCode(std::uint16_t macKeyCode) const
    {
        const auto found = macToX_.find(macKeyCode);
        return found == macToX_.end() ? std::nullopt : std::optional<unsigned>(found->second);
    }
    [[nodiscard]] std::optional<std::uint16_t> macKeyCode(unsigned xKeyCode) const
    {
        const auto found = xToMac_.find(xKeyCode);
        return found == xToMac_.end() ? std::nullopt : std::optional<std::uint16_t>(found->second);
    }

    // The keysym on this key in the group at the level, with XKB's wrapping of missing groups.
    [[nodiscard]] KeySym keysym(unsigned xKeyCode, int group, int level) const
    {
        if (desc_ == nullptr || xKeyCode < desc_->min_key_code || xKeyCode > desc_->max_key_code) {
            return NoSymbol;
        }
        const int groups = XkbKeyNumGroups(desc_, xKeyCode);
        if (groups == 0) {
            return NoSymbol;
        }
        const int effective = group % groups;
        if (level >= XkbKeyGroupWidth(desc_, xKeyCode, effective)) {
            return NoSymbol;
        }
        return XkbKeySymEntry(desc_, xKeyCode, level, effective);
    }

private:
    XkbDescPtr desc_ = nullptr;
    std::map<std::uint16_t, unsigned> macToX_;
    std::map<unsigned, std::uint16_t> xToMac_;
};

// --- Workspace -----------------------------------------------------------------------------------

class X11Workspace final : public Workspace {
public:
    X11Workspace(Display* display, AtspiAccessibility& accessibility, DesktopBuses& buses)
        : display_(display), accessibility_(accessibility), buses_(buses)
    {
    }

    std::optional<RunningApplication> frontmostApplication() override
    {
        const ::Window root = DefaultRootWindow(display_);
        std::optional<::Window> window;
        std::optional<std::int32_t> pid;
        if (const auto active = cardinalProperty(display_, root, "_NET_ACTIVE_WINDOW", XA_WINDOW);
            active && *active != 0) {
            window = static_cast<::Window>(*active);
            if (const auto windowPid = cardinalProperty(display_, *window, "_NET_WM_PID", XA_CARDINAL)) {
                pid = static_cast<std::int32_t>(*windowPid);
            }
        }
        if (!pid) {
            // No window manager that says: the application whose frame is active.
            pid = accessibility_.pidWithActiveFrame();
            if (!pid) {
                return std::nullopt;
            }
            window = clientWindowOf(*pid);
        }
        RunningApplication app;
        app.processIdentifier = *pid;
        std::optional<std::string> instance;
        if (window) {
            app.bundleIdentifier = textProperty(display_, *window, "_GTK_APPLICATION_ID", AnyPropertyType);
            if (const auto wmClass = textProperty(display_, *window, "WM_CLASS", XA_STRING)) {
                // "instance\0class\0"
                const auto split = wmClass->find('\0');
                instance = wmClass->substr(0, split);
                if (split != std::string::npos && !app.bundleIdentifier) {
                    const std::string rest = wmClass->substr(split + 1);
                    app.bundleIdentifier = rest.substr(0, rest.find('\0'));
                }
            }
        }
        if (app.bundleIdentifier && app.bundleIdentifier->empty()) {
            app.bundleIdentifier.reset();
        }
        app.localizedName = accessibility_.applicationName(*pid);
        if (!app.localizedName && instance && !instance->empty()) {
            app.localizedName = instance;
        }
        return app;
    }

    bool isVoiceOverEnabled() override
    {
        desktop::DBusConnection* session = buses_.session();
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

private:
    std::optional<::Window> clientWindowOf(std::int32_t pid)
    {
        int format = 0;
        unsigned long count = 0;
        const auto list
            = windowProperty(display_, DefaultRootWindow(display_), "_NET_CLIENT_LIST", XA_WINDOW, format, count);
        if (!list || format != 32) {
            return std::nullopt;
        }
        for (unsigned long i = 0; i < count; ++i) {
            unsigned long window = 0;
            std::copy_n(list->begin() + static_cast<std::ptrdiff_t>(i * sizeof window), sizeof window,
                reinterpret_cast<unsigned char*>(&window));
            const auto windowPid = cardinalProperty(display_, window, "_NET_WM_PID", XA_CARDINAL);
            if (windowPid && static_cast<std::int32_t>(*windowPid) == pid) {
                return static_cast<::Window>(window);
            }
        }
        return std::nullopt;
    }

    Display* display_;
    AtspiAccessibility& accessibility_;
    DesktopBuses& buses_;
};

// --- Keyboard layouts ----------------------------------------------------------------------------

class X11Keyboard final : public KeyboardLayouts {
public:
    explicit X11Keyboard(Display* display) : display_(display) { }

    InputSource copyCurrentKeyboardLayoutInputSource() override
    {
        const auto group = currentGroup();
        return group ? makeSource(*group) : InputSource();
    }

    InputSource copyCurrentASCIICapableKeyboardLayoutInputSource() override
    {
        const auto group = currentGroup();
        if (!group) {
            return {};
        }
        const KeyPositions positions(display_);
        if (isAsciiCapable(positions, *group)) {
            return makeSource(*group);
        }
        for (int other = 0; other < XkbNumKbdGroups; ++other) {
            if (other != *group && isAsciiCapable(positions, other)) {
                return makeSource(other);
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

    std::optional<int> currentGroup()
    {
        XkbStateRec state{};
        if (XkbGetState(display_, XkbUseCoreKbd, &state) != Success) {
            return std::nullopt;
        }
        return static_cast<int>(state.group);
    }

    static char32_t characterOf(KeySym keysym)
    {
        if (keysym == NoSymbol) {
            return 0;
        }
        if (const auto dead = desktop::deadKeySpacingCharacter(static_cast<std::uint32_t>(keysym))) {
            return *dead | desktop::deadKeyBit;
        }
        return xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(keysym));
    }

    static bool isAsciiCapable(const KeyPositions& positions, int group)
    {
        std::set<char32_t> letters;
        for (std::uint16_t mac = 0; mac < desktop::layoutKeyCount; ++mac) {
            if (const auto code = positions.xKeyCode(mac)) {
                const char32_t c = characterOf(positions.keysym(*code, group, 0));
                if (c >= U'a' && c <= U'z') {
                    letters.insert(c);
                }
            }
        }
        return letters.size() == 26;
    }

    InputSource makeSource(int group)
    {
        const KeyPositions positions(display_);
        desktop::LayoutKeys keys{};
        for (std::uint16_t mac = 0; mac < desktop::layoutKeyCount; ++mac) {
            if (const auto code = positions.xKeyCode(mac)) {
                for (int level = 0; level < 4; ++level) {
                    keys[mac].levels[static_cast<std::size_t>(level)]
                        = characterOf(positions.keysym(*code, group, level));
                }
            }
        }
        auto* source = new Source();
        source->data = desktop::encodeLayout(keys);
        return InputSource::adopt(*this, source);
    }

    Display* display_;
};

// --- Synthetic keyboard events -------------------------------------------------------------------

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
        for (const std::uint16_t mac : desktop::modifierKeysForFlags(object->flags)) {
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
            if (!isDown || !mac || !desktop::isModifierKey(*mac) || code == object->xKeyCode || wanted.contains(code)) {
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

// --- Global input monitors -----------------------------------------------------------------------

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
            if ((static_cast<unsigned char>(keys[code / 8]) & (1U << (code % 8))) != 0 && mac
                && desktop::isModifierKey(*mac) && *mac != desktop::mackey::capsLock) {
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
                    deliver(desktop::eventmask::leftMouseDown, InputEvent{});
                } else if (detail == 3) {
                    deliver(desktop::eventmask::rightMouseDown, InputEvent{});
                }
                continue;
            }
            const auto mac = positions_->macKeyCode(detail);
            const bool press = type == XI_RawKeyPress;
            if (mac && desktop::isModifierKey(*mac)) {
                if (*mac != desktop::mackey::capsLock) {
                    if (press) {
                        modifiersDown_.insert(*mac);
                    } else {
                        modifiersDown_.erase(*mac);
                    }
                } else if (!press) {
                    continue; // Caps Lock changes the flags when it goes down only
                }
                const std::vector<std::uint16_t> held(modifiersDown_.begin(), modifiersDown_.end());
                deliver(desktop::eventmask::flagsChanged, InputEvent{*mac, desktop::modifierFlags(held, capsLocked())});
            } else if (press) {
                deliver(desktop::eventmask::keyDown, InputEvent{mac.value_or(0xFFFF), 0});
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

// --- Speech --------------------------------------------------------------------------------------

class SpeechDispatcherSpeech final : public Speech {
public:
    explicit SpeechDispatcherSpeech(Display* display) : display_(display) { }
    ~SpeechDispatcherSpeech()
    {
        if (connection_ != nullptr) {
            close_(connection_);
        }
    }
    SpeechDispatcherSpeech(const SpeechDispatcherSpeech&) = delete;
    SpeechDispatcherSpeech& operator=(const SpeechDispatcherSpeech&) = delete;

    std::optional<std::string> readFileAsUTF8(std::string_view path) override
    {
        std::ifstream file{std::string(path), std::ios::binary};
        if (!file) {
            return std::nullopt;
        }
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (file.bad() || !isValidUtf8(text)) {
            return std::nullopt;
        }
        return text;
    }

    // There is no script runner here; the window path speaks instead.
    Script createScript(std::string_view /*source*/) override { return {}; }
    std::optional<std::string> executeScript(const Script& /*script*/) override
    {
        return std::string("no script runner");
    }

    Window createWindow(
        Rect contentRect, std::uint64_t /*styleMask*/, std::uint64_t /*backing*/, bool /*defer*/) override
    {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        const ::Window window = XCreateWindow(display_, DefaultRootWindow(display_), static_cast<int>(contentRect.x),
            static_cast<int>(contentRect.y), static_cast<unsigned>(std::max(contentRect.width, 1.0)),
            static_cast<unsigned>(std::max(contentRect.height, 1.0)), 0, CopyFromParent, InputOutput, nullptr,
            CWOverrideRedirect, &attributes);
        auto* object = new Object();
        object->window = window;
        return Window::adopt(*this, object);
    }

    // The window is override-redirect: no window manager lists it and it takes no input focus.
    void setAccessibilityElement(const Window& /*window*/, bool /*isElement*/) override { }
    void setCollectionBehavior(const Window& /*window*/, std::uint64_t /*behavior*/) override { }
    void setIgnoresMouseEvents(const Window& /*window*/, bool /*ignores*/) override { }

    void orderFrontRegardless(const Window& window) override
    {
        if (const auto* object = static_cast<const Object*>(window.get())) {
            XMapRaised(display_, object->window);
            XFlush(display_);
        }
    }

    void postAnnouncement(std::string_view text, std::int64_t priority) override
    {
        if (connection_ == nullptr && loadClient()) {
            connection_ = open_("focusprobe", "announce", nullptr, SPD_MODE_SINGLE);
        }
        if (connection_ == nullptr) {
            return;
        }
        // High announcements interrupt ordinary messages, as the screen reader's own do.
        constexpr std::int64_t highPriority = 90;
        constexpr std::int64_t mediumPriority = 50;
        const SPDPriority spdPriority = priority >= highPriority ? SPD_IMPORTANT
            : priority >= mediumPriority                         ? SPD_MESSAGE
                                                                 : SPD_TEXT;
        const std::string copy(text);
        say_(connection_, spdPriority, copy.c_str());
    }

    void retain(RawRef ref) override { retainCounted<Object>(ref); }
    void release(RawRef ref) override { releaseCounted<Object>(ref); }

private:
    struct Object {
        int refs = 1;
        ::Window window = 0;
    };

    static bool isValidUtf8(const std::string& text)
    {
        std::size_t i = 0;
        while (i < text.size()) {
            const auto lead = static_cast<unsigned char>(text[i]);
            std::size_t length = 0;
            char32_t minimum = 0;
            char32_t c = 0;
            if (lead < 0x80) {
                ++i;
                continue;
            }
            if ((lead & 0xE0U) == 0xC0U) {
                length = 2;
                minimum = 0x80;
                c = lead & 0x1FU;
            } else if ((lead & 0xF0U) == 0xE0U) {
                length = 3;
                minimum = 0x800;
                c = lead & 0x0FU;
            } else if ((lead & 0xF8U) == 0xF0U) {
                length = 4;
                minimum = 0x10000;
                c = lead & 0x07U;
            } else {
                return false;
            }
            if (i + length > text.size()) {
                return false;
            }
            for (std::size_t k = 1; k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0U) != 0x80U) {
                    return false;
                }
                c = (c << 6U) | (next & 0x3FU);
            }
            if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
                return false;
            }
            i += length;
        }
        return true;
    }

    // The speech client and the libraries under it load only for an announcement, so the other
    // commands start without them.
    bool loadClient()
    {
        if (library_ == nullptr) {
            library_ = dlopen("libspeechd.so.2", RTLD_NOW | RTLD_LOCAL);
            if (library_ == nullptr) {
                return false;
            }
            open_ = reinterpret_cast<decltype(&spd_open)>(dlsym(library_, "spd_open"));
            say_ = reinterpret_cast<decltype(&spd_say)>(dlsym(library_, "spd_say"));
            close_ = reinterpret_cast<decltype(&spd_close)>(dlsym(library_, "spd_close"));
        }
        return open_ != nullptr && say_ != nullptr && close_ != nullptr;
    }

    Display* display_;
    void* library_ = nullptr;
    decltype(&spd_open) open_ = nullptr;
    decltype(&spd_say) say_ = nullptr;
    decltype(&spd_close) close_ = nullptr;
    SPDConnection* connection_ = nullptr;
};

// --- The backend ---------------------------------------------------------------------------------

class X11Backend final : public Backend {
public:
    explicit X11Backend(DisplayPtr display)
        : display_(std::move(display)), buses_([this] {
              return textProperty(display_.get(), DefaultRootWindow(display_.get()), "AT_SPI_BUS", XA_STRING);
          }),
          accessibility_(buses_, [this] { return hasInputExtensions(display_.get()); }),
          workspace_(display_.get(), accessibility_, buses_), keyboard_(display_.get()), events_(display_.get()),
          speech_(display_.get()), input_(DisplayString(display_.get()), loop_)
    {
    }

    Platform platform() override
    {
        return Platform{accessibility_, workspace_, process_, keyboard_, events_, speech_, input_, loop_};
    }

private:
    DisplayPtr display_;
    PollLoop loop_;
    DesktopBuses buses_;
    AtspiAccessibility accessibility_;
    X11Workspace workspace_;
    PosixProcess process_;
    X11Keyboard keyboard_;
    XTestEvents events_;
    SpeechDispatcherSpeech speech_;
    XInputMonitoring input_;
};

// A window that goes away between two requests must fail that request, not end the process as
// Xlib's default handler would.
int ignoreXError(Display* /*display*/, XErrorEvent* /*error*/)
{
    return 0;
}

} // namespace

std::unique_ptr<Backend> makeX11Backend()
{
    XSetErrorHandler(ignoreXError);
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display) {
        return nullptr;
    }
    return std::make_unique<X11Backend>(std::move(display));
}

} // namespace focusprobe::platform
