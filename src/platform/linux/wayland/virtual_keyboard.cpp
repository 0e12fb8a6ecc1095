#include "platform/linux/wayland/connection.h"

#include "platform/linux/wayland/protocols.h"

#include <algorithm>
#include <chrono>

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

// The seat's virtual keyboard (wlroots desktops): its keymap, its keys and its modifier state.
namespace focusprobe::platform::wayland {
namespace {

std::uint32_t millisecondsNow()
{
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

} // namespace

bool WaylandConnection::offersVirtualKeyboard(const Deadline& deadline)
{
    return discover(deadline) && virtualKeyboardManager_ != nullptr && seat_ != nullptr;
}

bool WaylandConnection::createVirtualKeyboard(const std::string& keymapText, const Deadline& deadline)
{
    if (!offersVirtualKeyboard(deadline) || virtualKeyboard_ != nullptr) {
        return false;
    }
    virtualKeyboard_ = wl_proxy_marshal_flags(virtualKeyboardManager_, virtualkeyboard::createOpcode,
        &virtualKeyboardInterface, wl_proxy_get_version(virtualKeyboardManager_), 0, seat_, nullptr);
    return virtualKeyboard_ != nullptr && uploadKeymap(keymapText, deadline);
}

bool WaylandConnection::uploadKeymap(const std::string& keymapText, const Deadline& deadline)
{
    if (virtualKeyboard_ == nullptr) {
        return false;
    }
    const int fd = ::memfd_create("focusprobe-keymap", MFD_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // The compositor maps size bytes and reads a NUL-terminated text.
    const std::size_t size = keymapText.size() + 1;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, keymapText.c_str() + written, size - written);
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    wl_proxy_marshal_flags(virtualKeyboard_, virtualkeyboard::keymapOpcode, nullptr,
        wl_proxy_get_version(virtualKeyboard_), 0, keymapFormatXkbV1, fd, static_cast<std::uint32_t>(size));
    ::close(fd);
    // A compositor that refuses the keyboard ends the connection with a protocol error.
    return sync(deadline);
}

void WaylandConnection::virtualKey(std::uint32_t evdevKey, bool down)
{
    if (virtualKeyboard_ == nullptr) {
        return;
    }
    // One clock for all of this keyboard's requests, never going back.
    clock_ = std::max(clock_ + 1, millisecondsNow());
    wl_proxy_marshal_flags(virtualKeyboard_, virtualkeyboard::keyOpcode, nullptr,
        wl_proxy_get_version(virtualKeyboard_), 0, clock_, evdevKey,
        down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void WaylandConnection::virtualModifiers(std::uint32_t depressed)
{
    if (virtualKeyboard_ == nullptr) {
        return;
    }
    wl_proxy_marshal_flags(virtualKeyboard_, virtualkeyboard::modifiersOpcode, nullptr,
        wl_proxy_get_version(virtualKeyboard_), 0, depressed, 0U, 0U, 0U);
}

} // namespace focusprobe::platform::wayland
