#include "platform/linux/wayland/connection.h"

#include "platform/linux/wayland/kde_protocols.h"
#include "platform/linux/wayland/protocols.h"
#include "platform/linux/wayland/toplevel_handle.h"

#include <algorithm>

#include <wayland-client.h>

// KWin's window list (KDE Plasma, for a program its desktop entry grants it), read when asked
// for, as the wlroots list is.
namespace focusprobe::platform::wayland {
namespace {

// As for the wlroots list: past this many windows the rest are not asked for.
constexpr std::size_t plasmaWindowLimit = 512;

} // namespace

struct WaylandConnection::PlasmaWindow {
    wl_proxy* proxy = nullptr;
    Toplevel toplevel;
    bool unmapped = false;

    static void onText(void* /*data*/, wl_proxy* /*window*/, const char* /*text*/) { }
    static void onTitle(void* data, wl_proxy* /*window*/, const char* title)
    {
        static_cast<PlasmaWindow*>(data)->toplevel.title = boundedText(title);
    }
    static void onAppId(void* data, wl_proxy* /*window*/, const char* appId)
    {
        static_cast<PlasmaWindow*>(data)->toplevel.appId = boundedText(appId);
    }
    static void onState(void* data, wl_proxy* /*window*/, std::uint32_t flags)
    {
        static_cast<PlasmaWindow*>(data)->toplevel.activated = (flags & plasmawindow::stateActive) != 0;
    }
    static void onNumber(void* /*data*/, wl_proxy* /*window*/, std::int32_t /*number*/) { }
    static void onUnmapped(void* data, wl_proxy* /*window*/) { static_cast<PlasmaWindow*>(data)->unmapped = true; }
    static void onNothing(void* /*data*/, wl_proxy* /*window*/) { }
    static void onParent(void* /*data*/, wl_proxy* /*window*/, wl_proxy* /*parent*/) { }
    static void onGeometry(void* /*data*/, wl_proxy* /*window*/, std::int32_t /*x*/, std::int32_t /*y*/,
        std::uint32_t /*width*/, std::uint32_t /*height*/)
    {
    }
    static void onPid(void* /*data*/, wl_proxy* /*window*/, std::uint32_t /*pid*/) { }
    static void onMenu(void* /*data*/, wl_proxy* /*window*/, const char* /*service*/, const char* /*path*/) { }

    struct Listener {
        void (*title)(void*, wl_proxy*, const char*);
        void (*appId)(void*, wl_proxy*, const char*);
        void (*state)(void*, wl_proxy*, std::uint32_t);
        void (*virtualDesktop)(void*, wl_proxy*, std::int32_t);
        void (*themedIconName)(void*, wl_proxy*, const char*);
        void (*unmapped)(void*, wl_proxy*);
        void (*initialState)(void*, wl_proxy*);
        void (*parentWindow)(void*, wl_proxy*, wl_proxy*);
        void (*geometry)(void*, wl_proxy*, std::int32_t, std::int32_t, std::uint32_t, std::uint32_t);
        void (*iconChanged)(void*, wl_proxy*);
        void (*pidChanged)(void*, wl_proxy*, std::uint32_t);
        void (*virtualDesktopEntered)(void*, wl_proxy*, const char*);
        void (*virtualDesktopLeft)(void*, wl_proxy*, const char*);
        void (*applicationMenu)(void*, wl_proxy*, const char*, const char*);
        void (*activityEntered)(void*, wl_proxy*, const char*);
        void (*activityLeft)(void*, wl_proxy*, const char*);
        void (*resourceName)(void*, wl_proxy*, const char*);
    };
    static constexpr Listener listener{onTitle, onAppId, onState, onNumber, onText, onUnmapped, onNothing, onParent,
        onGeometry, onNothing, onPid, onText, onText, onMenu, onText, onText, onText};
};

void WaylandConnection::destroyPlasmaWindow(PlasmaWindow* window)
{
    if (window->proxy != nullptr) {
        if (wl_proxy_get_version(window->proxy) >= plasmawindow::destroyVersion) {
            wl_proxy_marshal_flags(window->proxy, plasmawindow::destroyOpcode, nullptr,
                wl_proxy_get_version(window->proxy), WL_MARSHAL_FLAG_DESTROY);
        } else {
            wl_proxy_destroy(window->proxy);
        }
    }
    delete window;
}

// Since version 13 KWin announces each window with its uuid too (5.27: with it alone).
void WaylandConnection::onPlasmaWindow(void* data, wl_proxy* /*manager*/, std::uint32_t id)
{
    auto& ids = static_cast<WaylandConnection*>(data)->plasmaWindowIds_;
    if (ids.size() < plasmaWindowLimit && std::find(ids.begin(), ids.end(), id) == ids.end()) {
        ids.push_back(id);
    }
}

std::optional<std::vector<Toplevel>> WaylandConnection::plasmaWindows(const Deadline& deadline)
{
    if (!discover(deadline) || !plasmaManagementName_) {
        return std::nullopt;
    }
    if (plasmaManagement_ == nullptr) {
        struct ManagementListener {
            void (*showDesktopChanged)(void*, wl_proxy*, std::uint32_t);
            void (*window)(void*, wl_proxy*, std::uint32_t);
            void (*stackingOrderChanged)(void*, wl_proxy*, wl_array*);
            void (*stackingOrderUuidChanged)(void*, wl_proxy*, const char*);
            void (*windowWithUuid)(void*, wl_proxy*, std::uint32_t, const char*);
        };
        static constexpr ManagementListener managementListener{
            [](void* /*data*/, wl_proxy* /*manager*/, std::uint32_t /*state*/) {}, onPlasmaWindow,
            [](void* /*data*/, wl_proxy* /*manager*/, wl_array* /*ids*/) {},
            [](void* /*data*/, wl_proxy* /*manager*/, const char* /*uuids*/) {},
            [](void* data, wl_proxy* manager, std::uint32_t id, const char* /*uuid*/) {
                onPlasmaWindow(data, manager, id);
            }};
        plasmaManagement_ = static_cast<wl_proxy*>(wl_registry_bind(registry_, *plasmaManagementName_,
            &plasmaWindowManagementInterface, std::min(plasmaManagementVersion_, plasmawindow::managementVersion)));
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the library's listener convention
        wl_proxy_add_listener(plasmaManagement_,
            reinterpret_cast<void (**)(void)>(const_cast<ManagementListener*>(&managementListener)), this);
        // The windows' ids come in answer to the binding; each window's state in answer to
        // asking for it.
        if (!roundtrip(deadline)) {
            failed_ = true;
            return std::nullopt;
        }
        const std::size_t count = std::min(plasmaWindowIds_.size(), plasmaWindowLimit);
        for (std::size_t i = 0; i < count; ++i) {
            std::unique_ptr<PlasmaWindow, void (*)(PlasmaWindow*)> window(new PlasmaWindow, destroyPlasmaWindow);
            window->proxy = wl_proxy_marshal_flags(plasmaManagement_, plasmawindow::getWindowOpcode,
                &plasmaWindowInterface, wl_proxy_get_version(plasmaManagement_), 0, nullptr, plasmaWindowIds_[i]);
            if (window->proxy == nullptr) {
                break;
            }
            // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the library's listener convention
            wl_proxy_add_listener(window->proxy,
                reinterpret_cast<void (**)(void)>(const_cast<PlasmaWindow::Listener*>(&PlasmaWindow::listener)),
                window.get());
            plasmaWindows_.push_back(std::move(window));
        }
        if (!roundtrip(deadline)) {
            failed_ = true;
            return std::nullopt;
        }
    }
    std::vector<Toplevel> list;
    for (const auto& window : plasmaWindows_) {
        if (!window->unmapped) {
            list.push_back(window->toplevel);
        }
    }
    return list;
}

} // namespace focusprobe::platform::wayland
