#pragma once

#include "platform/process.h"

#include <csignal>

namespace focusprobe::platform {

// The process calls on any POSIX system: the monotonic clock, usleep and stdio's standard output.
class PosixProcess final : public Process {
public:
    double now() override;
    void sleepMicroseconds(std::uint32_t microseconds) override;
    void writeStandardOutput(std::string_view bytes) override;
    void makeStandardOutputUnbuffered() override;
    void holdTerminationSignals() override;
    void releaseTerminationSignals() override;

private:
    sigset_t maskBeforeHold_{};
    bool holding_ = false;
};

} // namespace focusprobe::platform
