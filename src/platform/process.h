#pragma once

#include <cstdint>
#include <string_view>

namespace focusprobe::platform {

// The process itself: its clock, blocking sleeps and standard output.
class Process {
public:
    // Monotonic time in seconds from an arbitrary start; only differences are used, and a step of
    // the wall clock changes none of them.
    virtual double now() = 0;
    // Blocks the calling thread (usleep).
    virtual void sleepMicroseconds(std::uint32_t microseconds) = 0;
    // Writes bytes to standard output as they are.
    virtual void writeStandardOutput(std::string_view bytes) = 0;
    // setvbuf(stdout, nullptr, _IONBF, 0): every later write reaches the reader at once.
    virtual void makeStandardOutputUnbuffered() = 0;
    // Holds back the signals a host or a terminal sends to end a process (SIGTERM, SIGINT,
    // SIGHUP, SIGQUIT) while synthetic keys are down: ended between a press and its release, the
    // process would leave the key down for the whole desktop. Released, any that came meanwhile
    // act at once.
    virtual void holdTerminationSignals() = 0;
    virtual void releaseTerminationSignals() = 0;

protected:
    Process() = default;
    Process(const Process&) = default;
    Process& operator=(const Process&) = default;
    ~Process() = default;
};

} // namespace focusprobe::platform
