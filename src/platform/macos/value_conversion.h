#pragma once

// Conversions of accessibility values that need no Apple headers, so they build and are tested on
// every platform.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace focusprobe::platform::macos {

// UTF-16 code units (as a CFString holds them) to UTF-8. A surrogate without its partner becomes
// U+FFFD, so text from another process can never make the whole string unreadable.
std::string utf8FromUtf16(std::u16string_view units);

// The signed 64-bit integer a double stands for, when it stands for exactly one.
std::optional<std::int64_t> int64FromDouble(double value);

// The signed 64-bit integer a two's-complement 128-bit value stands for, when it fits.
std::optional<std::int64_t> int64FromInt128(std::int64_t high, std::uint64_t low);

} // namespace focusprobe::platform::macos
