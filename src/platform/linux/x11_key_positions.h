#pragma once

#include "platform/linux/x11_connection.h"

#include <cstdint>
#include <map>
#include <optional>

// Xlib's macros come with this header: include it after every other one.
#include <X11/XKBlib.h>

namespace focusprobe::platform::desktop {

// The keymap's key names by X keycode, so positions translate both ways.
class KeyPositions {
public:
    explicit KeyPositions(XDisplay* display);
    ~KeyPositions();
    KeyPositions(const KeyPositions&) = delete;
    KeyPositions& operator=(const KeyPositions&) = delete;

    [[nodiscard]] std::optional<unsigned> xKeyCode(std::uint16_t macKeyCode) const;
    [[nodiscard]] std::optional<std::uint16_t> macKeyCode(unsigned xKeyCode) const;
    // The keysym on this key in the group at the level, with XKB's wrapping of missing groups.
    [[nodiscard]] KeySym keysym(unsigned xKeyCode, int group, int level) const;

private:
    XkbDescPtr desc_ = nullptr;
    std::map<std::uint16_t, unsigned> macToX_;
    std::map<unsigned, std::uint16_t> xToMac_;
};

} // namespace focusprobe::platform::desktop
