#pragma once

#include "platform/process.h"

#include <string_view>

namespace focusprobe {

// The one way any line reaches standard output: the value, then a line feed.
void printLine(platform::Process& process, std::string_view value);

} // namespace focusprobe
