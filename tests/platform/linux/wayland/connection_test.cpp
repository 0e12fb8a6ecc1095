#include "platform/linux/wayland/connection.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>

// The client against a small compositor of the test's own, in a thread: the seat and its keymap,
// the virtual-keyboard requests and the window list, with the protocols' interfaces declared
// here on the compositor's side from their published descriptions.
namespace focusprobe::platform::wayland {
namespace {

extern const wl_interface serverKeyboardInterface;
extern const wl_interface serverHandleInterface;
std::array<const wl_interface*, 6> serverTypes{nullptr, &wl_seat_interface, &serverKeyboardInterface,
    &wl_surface_interface, &wl_output_interface, &serverHandleInterface};

const std::array<wl_message, 4> keyboardRequests{
    {{"keymap", "uhu", serverTypes.data()}, {"key", "uuu", serverTypes.data()},
        {"modifiers", "uuuu", serverTypes.data()}, {"destroy", "", serverTypes.data()}}};
const wl_interface serverKeyboardInterface{"zwp_virtual_keyboard_v1", 1, 4, keyboardRequests.data(), 0, nullptr};
const std::array<wl_message, 1> keyboardManagerRequests{{{"create_virtual_keyboard", "on", serverTypes.data() + 1}}};
const wl_interface serverKeyboardManagerInterface{
    "zwp_virtual_keyboard_manager_v1", 1, 1, keyboardManagerRequests.data(), 0, nullptr};

const std::array<wl_message, 10> handleRequests{
    {{"set_maximized", "", serverTypes.data()}, {"unset_maximized", "", serverTypes.data()},
        {"set_minimized", "", serverTypes.data()}, {"unset_minimized", "", serverTypes.data()},
        {"activate", "o", serverTypes.data() + 1}, {"close", "", serverTypes.data()},
        {"set_rectangle", "oiiii", serverTypes.data() + 3}, {"destroy", "", serverTypes.data()},
        {"set_fullscreen", "2?o", serverTypes.data() + 4}, {"unset_fullscreen", "2", serverTypes.data()}}};
const std::array<wl_message, 8> handleEvents{{{"title", "s", serverTypes.data()}, {"app_id", "s", serverTypes.data()},
    {"output_enter", "o", serverTypes.data() + 4}, {"output_leave", "o", serverTypes.data() + 4},
    {"state", "a", serverTypes.data()}, {"done", "", serverTypes.data()}, {"closed", "", serverTypes.data()},
    {"parent", "3?o", serverTypes.data() + 5}}};
const wl_interface serverHandleInterface{
    "zwlr_foreign_toplevel_handle_v1", 3, 10, handleRequests.data(), 8, handleEvents.data()};
const std::array<wl_message, 1> toplevelManagerRequests{{{"stop", "", serverTypes.data()}}};
const std::array<wl_message, 2> toplevelManagerEvents{
    {{"toplevel", "n", serverTypes.data() + 5}, {"finished", "", serverTypes.data()}}};
const wl_interface serverToplevelManagerInterface{
    "zwlr_foreign_toplevel_manager_v1", 3, 1, toplevelManagerRequests.data(), 2, toplevelManagerEvents.data()};

// KWin's fake input, at a version past the client's (a newer KWin's).
const std::array<wl_message, 11> fakeInputRequests{{{"authenticate", "ss", serverTypes.data()},
    {"pointer_motion", "ff", serverTypes.data()}, {"button", "uu", serverTypes.data()},
    {"axis", "uf", serverTypes.data()}, {"touch_down", "2uff", serverTypes.data()},
    {"touch_motion", "2uff", serverTypes.data()}, {"touch_up", "2u", serverTypes.data()},
    {"touch_cancel", "2", serverTypes.data()}, {"touch_frame", "2", serverTypes.data()},
    {"pointer_motion_absolute", "3ff", serverTypes.data()}, {"keyboard_key", "4uu", serverTypes.data()}}};
const wl_interface serverFakeInputInterface{"org_kde_kwin_fake_input", 5, 11, fakeInputRequests.data(), 0, nullptr};

// KWin's window list: the requests and events the client uses, at the front of each table.
extern const wl_interface serverPlasmaWindowInterface;
std::array<const wl_interface*, 2> plasmaTypes{&serverPlasmaWindowInterface, nullptr};
const std::array<wl_message, 2> plasmaManagementRequests{
    {{"show_desktop", "u", plasmaTypes.data() + 1}, {"get_window", "nu", plasmaTypes.data()}}};
const std::array<wl_message, 5> plasmaManagementEvents{{{"show_desktop_changed", "u", plasmaTypes.data() + 1},
    {"window", "u", plasmaTypes.data() + 1}, {"stacking_order_changed", "11a", plasmaTypes.data() + 1},
    {"stacking_order_uuid_changed", "12s", plasmaTypes.data() + 1},
    {"window_with_uuid", "13us", plasmaTypes.data() + 1}}};
const wl_interface serverPlasmaManagementInterface{
    "org_kde_plasma_window_management", 16, 2, plasmaManagementRequests.data(), 5, plasmaManagementEvents.data()};
const std::array<wl_message, 7> plasmaWindowEvents{{{"title_changed", "s", plasmaTypes.data() + 1},
    {"app_id_changed", "s", plasmaTypes.data() + 1}, {"state_changed", "u", plasmaTypes.data() + 1},
    {"virtual_desktop_changed", "i", plasmaTypes.data() + 1}, {"themed_icon_name_changed", "s", plasmaTypes.data() + 1},
    {"unmapped", "", plasmaTypes.data() + 1}, {"initial_state", "4", plasmaTypes.data() + 1}}};
const wl_interface serverPlasmaWindowInterface{"org_kde_plasma_window", 16, 0, nullptr, 7, plasmaWindowEvents.data()};

struct PlasmaWindow {
    std::string title;
    std::string appId;
    std::uint32_t state = 0;
    bool unmapped = false;
};

struct Desktop {
    bool seatKeyboard = true;
    std::vector<PlasmaWindow> plasmaWindows; // empty: no KWin window list
    int fakeInputVersion = 0; // 0: not offered
    std::string keymap = "xkb_keymap { test };";
    std::uint32_t claimedKeymapSize = 0; // 0: the text's own size
    bool keymapTerminated = true; // the file ends in a NUL byte
    bool virtualKeyboard = false;
    std::vector<Toplevel> toplevels;
};

int memfdWith(const std::string& text, bool terminated)
{
    const int fd = memfd_create("test-keymap", MFD_CLOEXEC);
    const std::size_t length = text.size() + (terminated ? 1 : 0);
    EXPECT_EQ(write(fd, text.c_str(), length), static_cast<ssize_t>(length));
    return fd;
}

class FakeCompositor {
public:
    explicit FakeCompositor(Desktop setup) : setup_(std::move(setup)), display_(wl_display_create())
    {
        std::array<char, 32> dir{"/tmp/fp-wayland-test.XXXXXX"};
        dir_ = mkdtemp(dir.data());
        path_ = dir_ + "/wayland-test";
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(path_.begin(), path_.end(), std::begin(address.sun_path));
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets API's own cast
        EXPECT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(fd, 4), 0);
        wl_display_add_socket_fd(display_, fd);
        wl_global_create(display_, &wl_seat_interface, 5, this, bindSeat);
        if (setup_.virtualKeyboard) {
            wl_global_create(display_, &serverKeyboardManagerInterface, 1, this, bindKeyboardManager);
        }
        if (!setup_.plasmaWindows.empty()) {
            wl_global_create(display_, &serverPlasmaManagementInterface, 16, this, bindPlasmaManagement);
        }
        if (setup_.fakeInputVersion > 0) {
            wl_global_create(display_, &serverFakeInputInterface, setup_.fakeInputVersion, this, bindFakeInput);
        }
        if (!setup_.toplevels.empty()) {
            wl_global_create(display_, &serverToplevelManagerInterface, 3, this, bindToplevelManager);
        }
        thread_ = std::thread([this] {
            while (!stop_) {
                wl_event_loop_dispatch(wl_display_get_event_loop(display_), 5);
                wl_display_flush_clients(display_);
            }
        });
    }
    ~FakeCompositor()
    {
        stop_ = true;
        thread_.join();
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    FakeCompositor(const FakeCompositor&) = delete;
    FakeCompositor& operator=(const FakeCompositor&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }
    std::vector<std::string> log()
    {
        const std::lock_guard lock(mutex_);
        return log_;
    }

private:
    void note(std::string line)
    {
        const std::lock_guard lock(mutex_);
        log_.push_back(std::move(line));
    }
    static FakeCompositor& of(wl_resource* resource)
    {
        return *static_cast<FakeCompositor*>(wl_resource_get_user_data(resource));
    }

    static void bindSeat(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
    {
        static const struct wl_seat_interface implementation {
            [](wl_client* /*c*/, wl_resource* /*r*/, std::uint32_t /*id*/) {},
                [](wl_client* c, wl_resource* seat, std::uint32_t keyboardId) {
                    FakeCompositor& self = of(seat);
                    self.note("get_keyboard");
                    wl_resource* keyboard
                        = wl_resource_create(c, &wl_keyboard_interface, wl_resource_get_version(seat), keyboardId);
                    const int fd = memfdWith(self.setup_.keymap, self.setup_.keymapTerminated);
                    const auto size = self.setup_.claimedKeymapSize != 0
                        ? self.setup_.claimedKeymapSize
                        : static_cast<std::uint32_t>(self.setup_.keymap.size() + 1);
                    wl_keyboard_send_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, size);
                    close(fd);
                },
                [](wl_client* /*c*/, wl_resource* /*r*/, std::uint32_t /*id*/) {},
                [](wl_client* /*c*/, wl_resource* r) { wl_resource_destroy(r); }
        };
        auto* self = static_cast<FakeCompositor*>(data);
        wl_resource* seat = wl_resource_create(client, &wl_seat_interface, static_cast<int>(version), id);
        wl_resource_set_implementation(seat, &implementation, self, nullptr);
        wl_seat_send_capabilities(seat, self->setup_.seatKeyboard ? WL_SEAT_CAPABILITY_KEYBOARD : 0);
    }

    struct VirtualKeyboard {
        void (*keymap)(wl_client*, wl_resource*, std::uint32_t, std::int32_t, std::uint32_t);
        void (*key)(wl_client*, wl_resource*, std::uint32_t, std::uint32_t, std::uint32_t);
        void (*modifiers)(wl_client*, wl_resource*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
        void (*destroy)(wl_client*, wl_resource*);
    };

    static void bindKeyboardManager(wl_client* client, void* data, std::uint32_t /*version*/, std::uint32_t id)
    {
        static const VirtualKeyboard keyboard{
            [](wl_client* /*c*/, wl_resource* r, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
                void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
                std::string text = mapped == MAP_FAILED ? "" : std::string(static_cast<const char*>(mapped), size);
                if (mapped != MAP_FAILED) {
                    munmap(mapped, size);
                }
                close(fd);
                of(r).note("keymap " + std::to_string(format) + " " + text);
            },
            [](wl_client* /*c*/, wl_resource* r, std::uint32_t /*time*/, std::uint32_t key, std::uint32_t state) {
                of(r).note("key " + std::to_string(key) + " " + std::to_string(state));
            },
            [](wl_client* /*c*/, wl_resource* r, std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked,
                std::uint32_t group) {
                of(r).note("modifiers " + std::to_string(depressed) + " " + std::to_string(latched) + " "
                    + std::to_string(locked) + " " + std::to_string(group));
            },
            [](wl_client* /*c*/, wl_resource* r) { wl_resource_destroy(r); }};
        struct Manager {
            void (*create)(wl_client*, wl_resource*, wl_resource*, std::uint32_t);
        };
        static const Manager manager{[](wl_client* c, wl_resource* r, wl_resource* seat, std::uint32_t keyboardId) {
            of(r).note(std::string("create_virtual_keyboard on ") + wl_resource_get_class(seat));
            wl_resource* created = wl_resource_create(c, &serverKeyboardInterface, 1, keyboardId);
            wl_resource_set_implementation(created, &keyboard, &of(r), nullptr);
        }};
        wl_resource* resource = wl_resource_create(client, &serverKeyboardManagerInterface, 1, id);
        wl_resource_set_implementation(resource, &manager, data, nullptr);
    }

    struct FakeInput {
        void (*authenticate)(wl_client*, wl_resource*, const char*, const char*);
        std::array<void (*)(), 9> pointerAndTouch; // never sent by the client
        void (*keyboardKey)(wl_client*, wl_resource*, std::uint32_t, std::uint32_t);
    };

    static void bindFakeInput(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
    {
        static const FakeInput implementation{
            [](wl_client* /*c*/, wl_resource* r, const char* application, const char* reason) {
                of(r).note(std::string("authenticate ") + application + " / " + reason);
            },
            {},
            [](wl_client* /*c*/, wl_resource* r, std::uint32_t key, std::uint32_t state) {
                of(r).note("keyboard_key " + std::to_string(key) + " " + std::to_string(state));
            }};
        auto* self = static_cast<FakeCompositor*>(data);
        self->note("fake input version " + std::to_string(version));
        wl_resource* resource = wl_resource_create(client, &serverFakeInputInterface, static_cast<int>(version), id);
        wl_resource_set_implementation(resource, &implementation, self, nullptr);
    }

    // As KWin 5.27: each window announced by its uuid alone, its state sent when asked for.
    static void bindPlasmaManagement(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
    {
        struct Management {
            void (*showDesktop)(wl_client*, wl_resource*, std::uint32_t);
            void (*getWindow)(wl_client*, wl_resource*, std::uint32_t, std::uint32_t);
        };
        static const Management implementation{[](wl_client* /*c*/, wl_resource* /*r*/, std::uint32_t /*state*/) {},
            [](wl_client* c, wl_resource* r, std::uint32_t windowId, std::uint32_t internalId) {
                FakeCompositor& self = of(r);
                self.note("get_window " + std::to_string(internalId));
                wl_resource* window
                    = wl_resource_create(c, &serverPlasmaWindowInterface, wl_resource_get_version(r), windowId);
                wl_resource_set_implementation(window, nullptr, &self, nullptr);
                if (internalId == 0 || internalId > self.setup_.plasmaWindows.size()) {
                    return;
                }
                const PlasmaWindow& shown = self.setup_.plasmaWindows[internalId - 1];
                wl_resource_post_event(window, 1, shown.appId.c_str());
                wl_resource_post_event(window, 0, shown.title.c_str());
                wl_resource_post_event(window, 2, shown.state);
                if (shown.unmapped) {
                    wl_resource_post_event(window, 5);
                }
                wl_resource_post_event(window, 6);
            }};
        auto* self = static_cast<FakeCompositor*>(data);
        self->note("plasma window management version " + std::to_string(version));
        wl_resource* manager
            = wl_resource_create(client, &serverPlasmaManagementInterface, static_cast<int>(version), id);
        wl_resource_set_implementation(manager, &implementation, self, nullptr);
        for (std::uint32_t i = 1; i <= self->setup_.plasmaWindows.size(); ++i) {
            wl_resource_post_event(manager, 4, i, ("{uuid-" + std::to_string(i) + "}").c_str());
        }
    }

    static void bindToplevelManager(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
    {
        auto* self = static_cast<FakeCompositor*>(data);
        self->note("toplevel manager version " + std::to_string(version));
        wl_resource* manager
            = wl_resource_create(client, &serverToplevelManagerInterface, static_cast<int>(version), id);
        wl_resource_set_implementation(manager, nullptr, self, nullptr);
        for (const auto& toplevel : self->setup_.toplevels) {
            wl_resource* handle = wl_resource_create(client, &serverHandleInterface, static_cast<int>(version), 0);
            wl_resource_set_implementation(handle, nullptr, self, nullptr);
            wl_resource_post_event(manager, 0, handle);
            wl_resource_post_event(handle, 0, toplevel.title.c_str());
            wl_resource_post_event(handle, 1, toplevel.appId.c_str());
            wl_array states{};
            wl_array_init(&states);
            auto* state = static_cast<std::uint32_t*>(wl_array_add(&states, sizeof(std::uint32_t)));
            *state = toplevel.activated ? 2 : 0; // activated, else maximized
            wl_resource_post_event(handle, 4, &states);
            wl_array_release(&states);
            wl_resource_post_event(handle, 5);
        }
    }

    Desktop setup_;
    wl_display* display_;
    std::string dir_;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> stop_ = false;
    std::mutex mutex_;
    std::vector<std::string> log_;
};

desktop::Deadline soon()
{
    return desktop::deadlineAfter(desktop::DeadlineClock::now());
}

TEST(WaylandConnection, KeymapFromTheSeatsKeyboard)
{
    FakeCompositor compositor(Desktop{});
    const auto connection = WaylandConnection::open(compositor.path(), soon());
    ASSERT_NE(connection, nullptr);
    EXPECT_TRUE(connection->seatHasKeyboard(soon()));
    EXPECT_EQ(connection->keymap(soon()), "xkb_keymap { test };");
    EXPECT_FALSE(connection->offersVirtualKeyboard(soon()));
    EXPECT_EQ(connection->toplevels(soon()), std::nullopt);
}

TEST(WaylandConnection, NoKeymapWithoutAKeyboardOrFromAnOversizedOne)
{
    Desktop keyboardless;
    keyboardless.seatKeyboard = false;
    FakeCompositor bare(keyboardless);
    const auto noKeyboard = WaylandConnection::open(bare.path(), soon());
    ASSERT_NE(noKeyboard, nullptr);
    EXPECT_FALSE(noKeyboard->seatHasKeyboard(soon()));
    EXPECT_EQ(noKeyboard->keymap(soon()), std::nullopt);
    EXPECT_TRUE(bare.log().empty()); // the keyboard is not even asked for

    // A claimed size past any keymap's is not mapped.
    Desktop oversizedKeymap;
    oversizedKeymap.claimedKeymapSize = 64U << 20U;
    FakeCompositor huge(oversizedKeymap);
    const auto oversized = WaylandConnection::open(huge.path(), soon());
    ASSERT_NE(oversized, nullptr);
    EXPECT_EQ(oversized->keymap(soon()), std::nullopt);

    // A size past the file's end, within the cap, with the text filling the file's one page to
    // its last byte: what the file holds is read, and nothing past its end is touched (a mapped
    // page there would end the process by SIGBUS).
    Desktop shortFile;
    shortFile.keymap = std::string(4096, 'k');
    shortFile.keymapTerminated = false;
    shortFile.claimedKeymapSize = 1U << 20U;
    FakeCompositor liar(shortFile);
    const auto lied = WaylandConnection::open(liar.path(), soon());
    ASSERT_NE(lied, nullptr);
    EXPECT_EQ(lied->keymap(soon()), std::string(4096, 'k'));
}

TEST(WaylandConnection, VirtualKeyboardRequests)
{
    Desktop wlroots;
    wlroots.virtualKeyboard = true;
    FakeCompositor compositor(wlroots);
    const auto connection = WaylandConnection::open(compositor.path(), soon());
    ASSERT_NE(connection, nullptr);
    ASSERT_TRUE(connection->offersVirtualKeyboard(soon()));
    ASSERT_TRUE(connection->createVirtualKeyboard("keymap text", soon()));
    connection->virtualKey(29, true);
    connection->virtualModifiers(4);
    connection->virtualKey(47, true);
    connection->virtualKey(47, false);
    ASSERT_TRUE(connection->sync(soon()));
    // The keymap is NUL-terminated within its size.
    EXPECT_EQ(compositor.log(),
        (std::vector<std::string>{"create_virtual_keyboard on wl_seat", std::string("keymap 1 keymap text") + '\0',
            "key 29 1", "modifiers 4 0 0 0", "key 47 1", "key 47 0"}));
}

// Keys need version 4; the client binds no later version than the one it knows, says who it is
// before its first key, and a compositor that does not offer the interface gets no key at all.
TEST(WaylandConnection, FakeInputByVersion)
{
    struct Case {
        int offered;
        bool usable;
    };
    for (const Case& c : {Case{0, false}, Case{3, false}, Case{4, true}, Case{5, true}}) {
        SCOPED_TRACE("offered version " + std::to_string(c.offered));
        Desktop kwin;
        kwin.fakeInputVersion = c.offered;
        FakeCompositor compositor(kwin);
        const auto connection = WaylandConnection::open(compositor.path(), soon());
        ASSERT_NE(connection, nullptr);
        EXPECT_EQ(connection->offersFakeInput(soon()), c.usable);
        EXPECT_EQ(connection->startFakeInput("focusprobe", "paste", soon()), c.usable);
        connection->fakeKey(29, true);
        connection->fakeKey(47, true);
        connection->fakeKey(47, false);
        connection->fakeKey(29, false);
        ASSERT_TRUE(connection->sync(soon()));
        const std::vector<std::string> expected = c.usable
            ? std::vector<std::string>{"fake input version 4", "authenticate focusprobe / paste", "keyboard_key 29 1",
                "keyboard_key 47 1", "keyboard_key 47 0", "keyboard_key 29 0"}
            : std::vector<std::string>{};
        EXPECT_EQ(compositor.log(), expected);
        // Bound once: a second start is refused.
        EXPECT_FALSE(connection->startFakeInput("focusprobe", "paste", soon()));
    }
}

TEST(WaylandConnection, WindowListWithTheActiveOne)
{
    Desktop windows;
    windows.toplevels
        = {{"editor", "org.example.Editor", false}, {"page - Chromium", "chromium", true}, {"", "", false}};
    FakeCompositor compositor(windows);
    const auto connection = WaylandConnection::open(compositor.path(), soon());
    ASSERT_NE(connection, nullptr);
    const auto toplevels = connection->toplevels(soon());
    ASSERT_TRUE(toplevels);
    ASSERT_EQ(toplevels->size(), 3U);
    EXPECT_EQ((*toplevels)[0].title, "editor");
    EXPECT_EQ((*toplevels)[0].appId, "org.example.Editor");
    EXPECT_FALSE((*toplevels)[0].activated);
    EXPECT_EQ((*toplevels)[1].appId, "chromium");
    EXPECT_TRUE((*toplevels)[1].activated);
    EXPECT_EQ((*toplevels)[2].title, "");
    // Bound at the version whose events the client knows.
    EXPECT_EQ(compositor.log(), std::vector<std::string>{"toplevel manager version 2"});
}

// Where no wlroots list is offered, KWin's stands in: windows announced by uuid alone are asked
// for by id, the active flag is bit 0 of the state, an unmapped window is left out.
TEST(WaylandConnection, KwinWindowListWhereNoWlrootsListIs)
{
    Desktop kwin;
    kwin.plasmaWindows = {{"editor", "org.example.Editor", 0x3C00, false},
        {"focusprobe kwin one", "focusprobe-kwin-one", 0x3C01, false}, {"gone", "gone", 1, true}};
    FakeCompositor compositor(kwin);
    const auto connection = WaylandConnection::open(compositor.path(), soon());
    ASSERT_NE(connection, nullptr);
    const auto windows = connection->toplevels(soon());
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 2U);
    EXPECT_EQ((*windows)[0].title, "editor");
    EXPECT_EQ((*windows)[0].appId, "org.example.Editor");
    EXPECT_FALSE((*windows)[0].activated);
    EXPECT_EQ((*windows)[1].title, "focusprobe kwin one");
    EXPECT_EQ((*windows)[1].appId, "focusprobe-kwin-one");
    EXPECT_TRUE((*windows)[1].activated);
    // Read once: a second look asks the compositor nothing more.
    const auto again = connection->toplevels(soon());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->size(), 2U);
    EXPECT_EQ(compositor.log(),
        (std::vector<std::string>{
            "plasma window management version 16", "get_window 1", "get_window 2", "get_window 3"}));
}

TEST(WaylandConnection, NoCompositorAtTheSocket)
{
    EXPECT_EQ(WaylandConnection::open("/nonexistent/wayland-0", soon()), nullptr);
    EXPECT_EQ(WaylandConnection::open(std::string(200, 'x'), soon()), nullptr);
}

// A socket of the test's own: bound only, listening and never answering, or answering and closing.
enum class Peer { boundOnly, silent, hangsUp };

class SocketPeer {
public:
    explicit SocketPeer(Peer peer)
    {
        std::array<char, 32> dir{"/tmp/fp-wayland-test.XXXXXX"};
        dir_ = mkdtemp(dir.data());
        path_ = dir_ + "/wayland-peer";
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(path_.begin(), path_.end(), std::begin(address.sun_path));
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets API's own cast
        EXPECT_EQ(bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        if (peer != Peer::boundOnly) {
            EXPECT_EQ(listen(fd_, 4), 0);
        }
        if (peer == Peer::hangsUp) {
            thread_ = std::thread([this] {
                const int client = accept(fd_, nullptr, nullptr);
                if (client >= 0) {
                    close(client);
                }
            });
        }
    }
    ~SocketPeer()
    {
        shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable()) {
            thread_.join();
        }
        close(fd_);
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    SocketPeer(const SocketPeer&) = delete;
    SocketPeer& operator=(const SocketPeer&) = delete;
    [[nodiscard]] const std::string& path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
    int fd_ = -1;
    std::thread thread_;
};

// Where nothing listens the X display may answer instead; where a compositor listens and does not
// answer the session is still a Wayland one. The probe tells the two apart within its deadline.
TEST(WaylandConnection, ProbeTellsAnAbsentCompositorFromASilentOne)
{
    struct Case {
        const char* name = "";
        std::optional<Peer> peer;
        CompositorAnswer answer = CompositorAnswer::none;
    };
    const std::array<Case, 4> cases{{{"no socket file", std::nullopt, CompositorAnswer::none},
        {"a socket nobody listens at", Peer::boundOnly, CompositorAnswer::none},
        {"accepts and never answers", Peer::silent, CompositorAnswer::silent},
        {"accepts and hangs up", Peer::hangsUp, CompositorAnswer::silent}}};
    for (const auto& c : cases) {
        std::optional<SocketPeer> peer;
        std::string path = "/nonexistent/wayland-0";
        if (c.peer) {
            peer.emplace(*c.peer);
            path = peer->path();
        }
        const auto probe = WaylandConnection::probe(
            path, desktop::deadlineAfter(desktop::DeadlineClock::now(), std::chrono::milliseconds(200)));
        EXPECT_EQ(probe.answer, c.answer) << c.name;
        EXPECT_EQ(probe.connection, nullptr) << c.name;
    }
    FakeCompositor compositor(Desktop{});
    const auto answered = WaylandConnection::probe(compositor.path(), soon());
    EXPECT_EQ(answered.answer, CompositorAnswer::answered);
    EXPECT_NE(answered.connection, nullptr);
}

} // namespace
} // namespace focusprobe::platform::wayland
