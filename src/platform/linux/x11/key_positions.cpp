#include "platform/linux/x11/key_positions.h"

#include "platform/linux/keys/mac_keys.h"

#include <utility>

namespace focusprobe::platform::desktop {

KeyPositions::KeyPositions(Keymap keymap) : keymap_(std::move(keymap))
{
    for (const auto& [code, name] : keymap_.names) {
        if (const auto mac = macKeyCodeForXkbName(name)) {
            // The first keycode carrying a position wins; later duplicates are aliases.
            macToX_.try_emplace(*mac, code);
            xToMac_.try_emplace(code, *mac);
        }
    }
}

std::optional<unsigned> KeyPositions::xKeyCode(std::uint16_t macKeyCode) const
{
    const auto found = macToX_.find(macKeyCode);
    return found == macToX_.end() ? std::nullopt : std::optional<unsigned>(found->second);
}

std::optional<std::uint16_t> KeyPositions::macKeyCode(unsigned xKeyCode) const
{
    const auto found = xToMac_.find(xKeyCode);
    return found == xToMac_.end() ? std::nullopt : std::optional<std::uint16_t>(found->second);
}

std::uint32_t KeyPositions::keysym(unsigned xKeyCode, int group, int level) const
{
    return keysymAt(keymap_, xKeyCode, group, level);
}

} // namespace focusprobe::platform::desktop
