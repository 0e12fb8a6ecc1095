#include "platform/linux/keys/dead_keys.h"

#include <array>

namespace focusprobe::platform::desktop {

std::optional<char32_t> deadKeySpacingCharacter(std::uint32_t keysym)
{
    // XK_dead_grave (0xfe50) onwards, in keysym order.
    constexpr auto spacing = std::to_array<char32_t>({U'`', 0xB4, U'^', U'~', 0xAF, 0x2D8, 0x2D9, 0xA8, 0x2DA, 0x2DD,
        0x2C7, 0xB8, 0x2DB, 0x37A, 0x309B, 0x309C, U'.', 0x2DE});
    constexpr std::uint32_t firstDeadKey = 0xFE50;
    constexpr std::uint32_t lastDeadKey = 0xFE93;
    if (keysym < firstDeadKey || keysym > lastDeadKey) {
        return std::nullopt;
    }
    const std::uint32_t index = keysym - firstDeadKey;
    return index < spacing.size() ? spacing[index] : U'\uFFFD';
}

} // namespace focusprobe::platform::desktop
