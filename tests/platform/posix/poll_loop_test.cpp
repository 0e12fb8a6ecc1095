#include "platform/posix/poll_loop.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <future>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace focusprobe::platform {
namespace {

// Real time, kept to tens of milliseconds; every test also schedules a late fallback end, so a
// fault fails the test instead of hanging it.
constexpr double fallbackSeconds = 5.0;
constexpr int fallbackStatus = 99;

struct Pipe {
    Pipe() { EXPECT_EQ(::pipe(fds.data()), 0); }
    ~Pipe()
    {
        closeEnd(0);
        closeEnd(1);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void closeEnd(int end)
    {
        if (fds[end] >= 0) {
            ::close(fds[end]);
            fds[end] = -1;
        }
    }
    std::array<int, 2> fds{-1, -1};
};

TEST(PollLoop, RunsStepsAndTimerFiringsInTheOrderOfTheirDueTimes)
{
    PollLoop loop(-1);
    std::vector<std::string> order;
    const auto start = std::chrono::steady_clock::now();
    loop.runAfter(0.03, [&] { order.emplace_back("step 30"); });
    loop.runAfter(0.01, [&] { order.emplace_back("step 10"); });
    int firings = 0;
    loop.scheduleRepeatingTimer(0.015, [&](const Timer& timer) {
        order.push_back("timer " + std::to_string(++firings));
        if (firings == 3) {
            loop.invalidateTimer(timer);
        }
    });
    // Blocks past the due times of everything above, which then run in one pass, in due order.
    loop.runAfter(0.0, [] { std::this_thread::sleep_for(std::chrono::milliseconds(40)); });
    loop.runAfter(0.1, [&] { loop.terminate(7); });
    loop.runAfter(0.2, [&] { order.emplace_back("after the end"); });

    EXPECT_EQ(loop.run(), 7);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(order, (std::vector<std::string>{"step 10", "timer 1", "step 30", "timer 2", "timer 3"}));
}

TEST(PollLoop, TerminateInsideAStepLetsItFinishAndRunsNothingAfter)
{
    PollLoop loop(-1);
    std::vector<int> ran;
    loop.runAfter(0.0, [&] {
        loop.runAfter(0.0, [&] { ran.push_back(3); }); // a later pass
        loop.terminate(4);
        loop.terminate(5); // the first status wins
        ran.push_back(1);
    });
    loop.runAfter(0.0, [&] { ran.push_back(2); });
    EXPECT_EQ(loop.run(), 4);
    EXPECT_EQ(ran, std::vector<int>{1});
}

TEST(PollLoop, TerminateFromAnotherThreadWaitsForTheRunningStep)
{
    PollLoop loop(-1);
    std::promise<void> stepRunning;
    std::vector<int> ran;
    std::thread other;
    loop.runAfter(0.0, [&] {
        stepRunning.set_value();
        other.join(); // terminate() has returned while this step still runs
        ran.push_back(1);
    });
    loop.runAfter(0.0, [&] { ran.push_back(2); });
    loop.runAfter(fallbackSeconds, [&] { loop.terminate(fallbackStatus); });
    other = std::thread([&] {
        stepRunning.get_future().wait();
        loop.terminate(0);
    });
    EXPECT_EQ(loop.run(), 0);
    EXPECT_EQ(ran, std::vector<int>{1});
}

TEST(PollLoop, TerminateFromAnotherThreadWakesAnIdleLoop)
{
    PollLoop loop(-1);
    loop.runAfter(fallbackSeconds, [&] { loop.terminate(fallbackStatus); });
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        loop.terminate(3);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(loop.run(), 3);
    other.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// The handler sees the data, then the end exactly once: a pipe at its end stays readable, and
// watching it further would spin.
TEST(PollLoop, StandardInputDeliversDataThenItsEndOnce)
{
    for (const bool closedDescriptor : {false, true}) {
        Pipe input;
        ASSERT_EQ(::write(input.fds[1], "abc", 3), 3);
        input.closeEnd(1);
        // A number nothing has open; a freshly closed one would be reused by the loop's own pipe.
        constexpr int neverOpened = 987;
        ASSERT_EQ(::fcntl(neverOpened, F_GETFD), -1);
        PollLoop loop(closedDescriptor ? neverOpened : input.fds[0]);
        std::vector<std::string> chunks;
        loop.setStandardInputReadabilityHandler([&](StandardInput& in) { chunks.push_back(in.availableData()); });
        loop.runAfter(0.05, [&] { loop.terminate(0); });
        EXPECT_EQ(loop.run(), 0);
        const std::vector<std::string> expected
            = closedDescriptor ? std::vector<std::string>{""} : std::vector<std::string>{"abc", ""};
        EXPECT_EQ(chunks, expected);
    }
}

TEST(PollLoop, AHandlerMayReplaceItselfAndAddWatches)
{
    Pipe input;
    Pipe watched;
    ASSERT_EQ(::write(input.fds[1], "x", 1), 1);
    ASSERT_EQ(::write(watched.fds[1], "y", 1), 1);
    PollLoop loop(input.fds[0]);
    std::vector<std::string> seen;
    loop.setStandardInputReadabilityHandler([&, keep = std::string("first handler")](StandardInput& in) {
        loop.setStandardInputReadabilityHandler([&](StandardInput&) { seen.emplace_back("second handler"); });
        seen.push_back(keep + " " + in.availableData());
    });
    int watchCalls = 0;
    loop.watchDescriptor(watched.fds[0], [&] {
        if (++watchCalls == 1) {
            for (int i = 0; i < 16; ++i) { // forces the watch list to grow
                loop.watchDescriptor(watched.fds[0], [] {});
            }
            seen.emplace_back("watch");
        }
    });
    loop.runAfter(0.03, [&] { loop.terminate(0); });
    EXPECT_EQ(loop.run(), 0);
    ASSERT_GE(seen.size(), 2U);
    EXPECT_EQ(seen[0], "first handler x");
    EXPECT_EQ(seen[1], "watch");
}

TEST(PollLoop, AClosedWatchedDescriptorIsDropped)
{
    Pipe watched;
    const int fd = watched.fds[0];
    watched.closeEnd(0);
    PollLoop loop(-1);
    int calls = 0;
    loop.watchDescriptor(fd, [&] { ++calls; });
    int passes = 0;
    loop.scheduleRepeatingTimer(0.005, [&](const Timer&) { ++passes; });
    loop.runAfter(0.03, [&] { loop.terminate(0); });
    EXPECT_EQ(loop.run(), 0);
    EXPECT_EQ(calls, 0);
    EXPECT_GT(passes, 0);
}

TEST(PollLoop, OddDelaysAndIntervalsNeitherSpinNorOverflow)
{
    PollLoop loop(-1);
    std::vector<std::string> ran;
    loop.runAfter(std::nan(""), [&] { ran.emplace_back("nan"); });
    loop.runAfter(-1.0, [&] { ran.emplace_back("negative"); });
    loop.runAfter(1e300, [&] { ran.emplace_back("far future"); });
    int firings = 0;
    loop.scheduleRepeatingTimer(0.0, [&](const Timer&) { ++firings; });
    loop.runAfter(0.02, [&] { loop.terminate(0); });
    EXPECT_EQ(loop.run(), 0);
    EXPECT_EQ(ran, (std::vector<std::string>{"nan", "negative"}));
    EXPECT_GT(firings, 0);
    EXPECT_LT(firings, 1000); // about one a millisecond, not a busy loop
}

// A handle kept after its timer was invalidated never reaches a newer timer.
TEST(PollLoop, AStaleTimerHandleLeavesNewerTimersAlone)
{
    PollLoop loop(-1);
    Timer stale;
    loop.scheduleRepeatingTimer(0.001, [&](const Timer& timer) {
        stale = timer;
        loop.invalidateTimer(timer);
    });
    int newerFirings = 0;
    loop.runAfter(0.01, [&] {
        loop.scheduleRepeatingTimer(0.002, [&](const Timer&) { ++newerFirings; });
        loop.invalidateTimer(stale);
    });
    loop.runAfter(0.03, [&] { loop.terminate(0); });
    EXPECT_EQ(loop.run(), 0);
    EXPECT_GT(newerFirings, 0); // a stale handle reaching it would stop it before it fires
}

// poll() refuses more descriptors than the process may open: a failure no retry mends, so the
// loop must end, and say it failed, instead of returning as if asked to stop.
TEST(PollLoop, AFailingPollEndsTheLoopWithTheFailureStatus)
{
    Pipe watched;
    PollLoop loop(-1);
    int calls = 0;
    constexpr int watches = 64;
    for (int i = 0; i < watches; ++i) {
        loop.watchDescriptor(watched.fds[0], [&] { ++calls; });
    }
    loop.runAfter(fallbackSeconds, [&] { loop.terminate(fallbackStatus); });
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = watches / 2;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const int status = loop.run();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(status, loopFailedStatus);
    EXPECT_EQ(calls, 0);
}

} // namespace
} // namespace focusprobe::platform
