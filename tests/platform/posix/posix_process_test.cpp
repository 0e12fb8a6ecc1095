#include "platform/posix/posix_process.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace focusprobe::platform {
namespace {

double seconds(std::chrono::steady_clock::time_point at)
{
    return std::chrono::duration<double>(at.time_since_epoch()).count();
}

// Budgets and hold times are differences of now(): read from the monotonic clock, a step of the
// wall clock (set by hand or by time synchronisation) cannot end a budget early or switch it off.
TEST(PosixProcess, NowIsTheMonotonicClock)
{
    PosixProcess process;
    const double before = seconds(std::chrono::steady_clock::now());
    const double now = process.now();
    const double after = seconds(std::chrono::steady_clock::now());
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
    EXPECT_LE(now, process.now());
}

struct Outcome {
    bool wroteWhileHeld = false;
    int endedBy = 0; // the signal that ended the child, 0 when it exited
};

// In a child: holds the ending signals, is sent `signal` while holding, reports over a pipe that
// it lived on, then releases. The signal must act only at the release.
Outcome holdThenRelease(int signal)
{
    std::array<int, 2> ends{-1, -1};
    if (::pipe(ends.data()) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10);
        ::close(ends[0]);
        PosixProcess process;
        process.holdTerminationSignals();
        ::kill(::getpid(), signal);
        const char alive = 'a';
        (void)!::write(ends[1], &alive, 1);
        process.releaseTerminationSignals();
        ::_exit(0);
    }
    ::close(ends[1]);
    Outcome outcome;
    char byte = 0;
    outcome.wroteWhileHeld = ::read(ends[0], &byte, 1) == 1;
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    outcome.endedBy = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return outcome;
}

TEST(PosixProcessSignals, EndingSignalsWaitForTheReleaseAndThenAct)
{
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signal);
        const Outcome outcome = holdThenRelease(signal);
        EXPECT_TRUE(outcome.wroteWhileHeld);
        EXPECT_EQ(outcome.endedBy, signal);
    }
}

TEST(PosixProcessSignals, ReleaseWithoutHoldKeepsWhatTheCallerBlocked)
{
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigset_t before;
    ASSERT_EQ(::sigprocmask(SIG_BLOCK, &blocked, &before), 0);
    PosixProcess process;
    process.releaseTerminationSignals();
    process.holdTerminationSignals();
    process.releaseTerminationSignals();
    sigset_t now;
    ::sigprocmask(SIG_SETMASK, nullptr, &now);
    EXPECT_EQ(sigismember(&now, SIGTERM), 1);
    EXPECT_EQ(sigismember(&now, SIGHUP), 0);
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

} // namespace
} // namespace focusprobe::platform
