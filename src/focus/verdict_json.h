#pragma once

#include "focus/verdict.h"

#include <string>
#include <string_view>

namespace focusprobe {

// A JSON string literal. Invalid UTF-8 is written as U+FFFD, one per maximal ill-formed
// subsequence, so the result is always valid JSON.
std::string jsonString(std::string_view text);

// The verdict as one JSON object on one line, without a terminator. `extra` is empty or holds
// complete members, each with its own leading comma.
std::string verdictJson(
    std::string_view bundleId, std::string_view appName, const FocusVerdict& verdict, std::string_view extra = {});

// The `info` command.
int runInfo(Context& context);

} // namespace focusprobe
