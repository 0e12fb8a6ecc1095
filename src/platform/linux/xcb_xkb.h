#pragma once

// XCB's XKB header names a member "explicit", which C++ reserves.
#define explicit explicit_ // NOLINT(cppcoreguidelines-macro-usage)
#include <xcb/xkb.h>
#undef explicit
