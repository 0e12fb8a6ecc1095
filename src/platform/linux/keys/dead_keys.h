#pragma once

#include <cstdint>
#include <optional>

// XKB's dead keysyms as the layout data records them.
namespace focusprobe::platform::desktop {

// The spacing character a dead keysym stands for (dead_acute gives U+00B4), or nothing when the
// keysym is not a dead key.
std::optional<char32_t> deadKeySpacingCharacter(std::uint32_t keysym);

} // namespace focusprobe::platform::desktop
