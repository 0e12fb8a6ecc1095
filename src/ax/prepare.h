#pragma once

#include "platform/accessibility.h"

#include <cstdint>
#include <set>
#include <string_view>

namespace focusprobe {

// Switches on the accessibility tree of Chromium- and Electron-based applications, once per
// process id for the life of this process. Failed sets are ignored; the pid is recorded anyway.
void prepareAppForAX(
    platform::Accessibility& ax, std::set<std::int32_t>& axEnabledPids, std::int32_t pid, std::string_view bundleId);

} // namespace focusprobe
