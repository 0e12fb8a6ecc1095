#pragma once

#include "platform/linux/x11/wire.h"

#include <cstdint>
#include <map>
#include <optional>

namespace focusprobe::platform::desktop {

// The keymap's keys by position (XKB key name), so that Mac key codes and X keycodes translate
// both ways.
class KeyPositions {
public:
    KeyPositions() = default;
    explicit KeyPositions(Keymap keymap);

    [[nodiscard]] std::optional<unsigned> xKeyCode(std::uint16_t macKeyCode) const;
    [[nodiscard]] std::optional<std::uint16_t> macKeyCode(unsigned xKeyCode) const;
    // The keysym on this key in the group at the level, with XKB's wrapping of missing groups;
    // zero (NoSymbol) when there is none.
    [[nodiscard]] std::uint32_t keysym(unsigned xKeyCode, int group, int level) const;

private:
    Keymap keymap_;
    std::map<std::uint16_t, unsigned> macToX_;
    std::map<unsigned, std::uint16_t> xToMac_;
};

} // namespace focusprobe::platform::desktop
