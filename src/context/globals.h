#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace focusprobe {

// The process-wide values, written at start-up and afterwards used on the main thread only.
// Flows receive them explicitly, so a test builds a fresh process state in one line.
struct Globals {
    // Every process id that prepareAppForAX has finished with; only grows.
    std::set<std::int32_t> axEnabledPids;
    // Roles whose subtrees the composer search does not enter.
    std::set<std::string, std::less<>> rescueSkipRoles;
    // The command line, program path first.
    std::vector<std::string> args;
};

// Start-up, in its order: axEnabledPids empty, then rescueSkipRoles, then args.
Globals makeGlobals(std::vector<std::string> commandLine);

} // namespace focusprobe
