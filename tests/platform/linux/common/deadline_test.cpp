#include "platform/linux/common/deadline.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace focusprobe::platform::desktop {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A fixed point on the fake clock; only differences matter.
const DeadlineClock::time_point start = DeadlineClock::time_point{} + seconds(1000);

struct StepCase {
    const char* name;
    DeadlineClock::duration elapsed;
    microseconds cap;
    microseconds expected;
};

TEST(Deadline, EachStepTakesTheLesserOfItsCapAndWhatRemains)
{
    const Deadline deadline = deadlineAfter(start);
    const std::array<StepCase, 6> cases{{
        {"fresh budget, small cap", milliseconds(0), milliseconds(100), milliseconds(100)},
        {"fresh budget, cap above the budget", milliseconds(0), seconds(25), commandBudget},
        {"nearly spent", milliseconds(5950), milliseconds(100), milliseconds(50)},
        {"spent exactly", commandBudget, milliseconds(100), microseconds(0)},
        {"long spent", seconds(90), milliseconds(100), microseconds(0)},
        {"zero cap", milliseconds(10), microseconds(0), microseconds(0)},
    }};
    for (const auto& c : cases) {
        EXPECT_EQ(stepTimeout(deadline, start + c.elapsed, c.cap), c.expected) << c.name;
    }
}

// The compositor's probe takes the first part of the command's budget and leaves the rest to the
// X display, so the two together never outlast the one budget.
TEST(Deadline, FirstShareNeverOutlastsTheBudget)
{
    const Deadline command = deadlineAfter(start);
    struct Case {
        const char* name;
        DeadlineClock::duration elapsed;
        DeadlineClock::duration share;
        DeadlineClock::time_point end;
    };
    const std::array<Case, 5> cases{{
        {"fresh budget", milliseconds(0), seconds(2), start + seconds(2)},
        {"part spent", milliseconds(1500), seconds(2), start + milliseconds(3500)},
        {"share beyond what remains", milliseconds(5000), seconds(2), command.end},
        {"budget spent", seconds(7), seconds(2), command.end},
        {"negative share", milliseconds(100), -seconds(1), start + milliseconds(100)},
    }};
    for (const auto& c : cases) {
        const Deadline share = firstShare(command, start + c.elapsed, c.share);
        EXPECT_EQ(share.end, c.end) << c.name;
        EXPECT_LE(share.end, command.end) << c.name;
    }
}

TEST(Deadline, ExpiresWhenNothingRemains)
{
    const Deadline deadline = deadlineAfter(start, milliseconds(400));
    EXPECT_FALSE(expired(deadline, start));
    EXPECT_EQ(remaining(deadline, start + milliseconds(150)), milliseconds(250));
    EXPECT_FALSE(expired(deadline, start + milliseconds(399)));
    EXPECT_TRUE(expired(deadline, start + milliseconds(400)));
    EXPECT_EQ(remaining(deadline, start + seconds(10)), microseconds(0));
}

TEST(Deadline, NegativeBudgetIsSpentAtOnce)
{
    EXPECT_TRUE(expired(deadlineAfter(start, -seconds(1)), start));
}

TEST(Deadline, AHungApplicationLeavesTheDisplayItsReserve)
{
    const Deadline command = deadlineAfter(start);
    const Deadline bus = withReserve(command, displayReserve);
    // The bus call that waits out its whole budget ends while the display still has its reserve.
    const auto busGivesUp = start + remaining(bus, start);
    EXPECT_TRUE(expired(bus, busGivesUp));
    EXPECT_EQ(stepTimeout(command, busGivesUp, seconds(6)), displayReserve);
    EXPECT_EQ(remaining(bus, start), commandBudget - displayReserve);
    // A reserve larger than the budget leaves the bus nothing, never a wait beyond the command's.
    EXPECT_TRUE(expired(withReserve(command, seconds(10)), start));
    EXPECT_EQ(withReserve(command, -seconds(1)).end, command.end);
}

TEST(Deadline, PollTimeoutsRoundUpAndStayZero)
{
    EXPECT_EQ(pollMilliseconds(microseconds(0)), 0);
    EXPECT_EQ(pollMilliseconds(microseconds(-5)), 0);
    EXPECT_EQ(pollMilliseconds(microseconds(1)), 1);
    EXPECT_EQ(pollMilliseconds(microseconds(1000)), 1);
    EXPECT_EQ(pollMilliseconds(microseconds(1001)), 2);
    EXPECT_EQ(pollMilliseconds(std::chrono::hours(24 * 365 * 100)), std::numeric_limits<int>::max());
}

} // namespace
} // namespace focusprobe::platform::desktop
