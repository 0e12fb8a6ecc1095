#pragma once

#include <optional>
#include <string>
#include <vector>

namespace focusprobe::testing {

struct BinaryResult {
    std::string standardOutput;
    std::string standardError;
    // The exit status, or 128 + the signal that ended the process.
    int status = -1;
    bool timedOut = false;
};

struct BinaryRun {
    std::vector<std::string> arguments{};
    // Written to standard input, which is then closed, unless keepInputOpen.
    std::string input{};
    bool keepInputOpen = false;
    double timeoutSeconds = 20.0;
    // Extra environment entries ("NAME=value"); DISPLAY is always removed so the headless answers
    // are what is checked, unless an entry sets it again.
    std::vector<std::string> environment{};
    // Standard descriptors (0, 1, 2) the process starts without; what it would have written there
    // is not collected.
    std::vector<int> closedDescriptors{};
    // Standard output is a pipe whose reader has gone before the process starts (a host that
    // has exited).
    bool outputReaderGone = false;
};

// Runs the built focusprobe binary as a process and collects what it wrote.
BinaryResult runFocusprobe(const BinaryRun& run);

} // namespace focusprobe::testing
