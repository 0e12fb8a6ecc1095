#pragma once

#include "platform/linux/wayland/connection.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include <wayland-client.h>

// One entry of the wlroots window list: read in toplevels.cpp, destroyed with the connection.
namespace focusprobe::platform::wayland {

// A title or application id past this many bytes is cut.
inline constexpr std::size_t toplevelTextLimit = 4096;

inline std::string boundedText(const char* text)
{
    return text == nullptr ? std::string() : std::string(text, ::strnlen(text, toplevelTextLimit));
}

// One listed window, with the listener the library calls for its events.
struct WaylandConnection::ToplevelHandle {
    wl_proxy* proxy = nullptr;
    Toplevel toplevel;
    bool closed = false;

    static void onTitle(void* data, wl_proxy* /*handle*/, const char* title)
    {
        static_cast<ToplevelHandle*>(data)->toplevel.title = boundedText(title);
    }
    static void onAppId(void* data, wl_proxy* /*handle*/, const char* appId)
    {
        static_cast<ToplevelHandle*>(data)->toplevel.appId = boundedText(appId);
    }
    static void onOutput(void* /*data*/, wl_proxy* /*handle*/, wl_proxy* /*output*/) { }
    static void onState(void* data, wl_proxy* /*handle*/, wl_array* states)
    {
        bool activated = false;
        const auto* words = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
            activated = activated || words[i] == toplevel::stateActivated;
        }
        static_cast<ToplevelHandle*>(data)->toplevel.activated = activated;
    }
    static void onDone(void* /*data*/, wl_proxy* /*handle*/) { }
    static void onClosed(void* data, wl_proxy* /*handle*/) { static_cast<ToplevelHandle*>(data)->closed = true; }

    struct Listener {
        void (*title)(void*, wl_proxy*, const char*);
        void (*appId)(void*, wl_proxy*, const char*);
        void (*outputEnter)(void*, wl_proxy*, wl_proxy*);
        void (*outputLeave)(void*, wl_proxy*, wl_proxy*);
        void (*state)(void*, wl_proxy*, wl_array*);
        void (*done)(void*, wl_proxy*);
        void (*closed)(void*, wl_proxy*);
    };
    static constexpr Listener listener{onTitle, onAppId, onOutput, onOutput, onState, onDone, onClosed};
};

} // namespace focusprobe::platform::wayland
