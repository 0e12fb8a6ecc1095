#include "platform/posix/posix_process.h"

#include <gtest/gtest.h>

#include <chrono>

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

} // namespace
} // namespace focusprobe::platform
