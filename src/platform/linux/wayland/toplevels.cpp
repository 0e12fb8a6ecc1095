#include "platform/linux/wayland/connection.h"

#include "platform/linux/wayland/protocols.h"
#include "platform/linux/wayland/toplevel_handle.h"

#include <algorithm>
#include <memory>

#include <wayland-client.h>

// The compositor's window list (wlroots desktops), read when asked for.
namespace focusprobe::platform::wayland {
namespace {

// A desktop lists tens of windows; past this many the rest are not read.
constexpr std::size_t toplevelLimit = 512;

} // namespace

void WaylandConnection::onToplevel(void* data, wl_proxy* /*manager*/, wl_proxy* handle)
{
    auto* self = static_cast<WaylandConnection*>(data);
    if (self->toplevels_.size() >= toplevelLimit) {
        wl_proxy_marshal_flags(
            handle, toplevel::handleDestroyOpcode, nullptr, wl_proxy_get_version(handle), WL_MARSHAL_FLAG_DESTROY);
        return;
    }
    auto entry = std::make_unique<ToplevelHandle>();
    entry->proxy = handle;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the library's listener convention
    wl_proxy_add_listener(handle,
        reinterpret_cast<void (**)(void)>(const_cast<ToplevelHandle::Listener*>(&ToplevelHandle::listener)),
        entry.get());
    self->toplevels_.push_back(std::move(entry));
}

void WaylandConnection::onToplevelsFinished(void* /*data*/, wl_proxy* /*manager*/) { }

std::optional<std::vector<Toplevel>> WaylandConnection::toplevels(const Deadline& deadline)
{
    if (!discover(deadline)) {
        return std::nullopt;
    }
    if (!toplevelManagerName_) {
        return plasmaWindows(deadline);
    }
    if (toplevelManager_ == nullptr) {
        struct ManagerListener {
            void (*toplevel)(void*, wl_proxy*, wl_proxy*);
            void (*finished)(void*, wl_proxy*);
        };
        static constexpr ManagerListener managerListener{onToplevel, onToplevelsFinished};
        toplevelManager_ = static_cast<wl_proxy*>(wl_registry_bind(registry_, *toplevelManagerName_,
            &toplevelManagerInterface, std::min(toplevelManagerVersion_, toplevel::managerVersion)));
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the library's listener convention
        wl_proxy_add_listener(
            toplevelManager_, reinterpret_cast<void (**)(void)>(const_cast<ManagerListener*>(&managerListener)), this);
        // The list comes in answer to the binding; each window's details follow its announcement.
        if (!roundtrip(deadline) || !roundtrip(deadline)) {
            failed_ = true;
            return std::nullopt;
        }
    }
    std::vector<Toplevel> list;
    for (const auto& handle : toplevels_) {
        if (!handle->closed) {
            list.push_back(handle->toplevel);
        }
    }
    return list;
}

} // namespace focusprobe::platform::wayland
