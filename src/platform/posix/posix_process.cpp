#include "platform/posix/posix_process.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace focusprobe::platform {

double PosixProcess::now()
{
    // Durations only: the wall clock can be stepped (by the user or time synchronisation) while a
    // budget runs.
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(sinceStart).count();
}

void PosixProcess::sleepMicroseconds(std::uint32_t microseconds)
{
    ::usleep(microseconds);
}

void PosixProcess::writeStandardOutput(std::string_view bytes)
{
    // Through stdio, so the stream's buffering mode (and exit's flush) applies.
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void PosixProcess::makeStandardOutputUnbuffered()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void PosixProcess::holdTerminationSignals()
{
    if (holding_) {
        return;
    }
    sigset_t ending;
    sigemptyset(&ending);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        sigaddset(&ending, signal);
    }
    holding_ = ::sigprocmask(SIG_BLOCK, &ending, &maskBeforeHold_) == 0;
}

void PosixProcess::releaseTerminationSignals()
{
    if (!holding_) {
        return;
    }
    holding_ = false;
    // A signal that came meanwhile is delivered here and ends the process as it would have.
    ::sigprocmask(SIG_SETMASK, &maskBeforeHold_, nullptr);
}

} // namespace focusprobe::platform
