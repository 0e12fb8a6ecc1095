#include "platform/linux/common/deadline.h"

#include <algorithm>
#include <limits>

namespace focusprobe::platform::desktop {

Deadline deadlineAfter(DeadlineClock::time_point now, DeadlineClock::duration budget)
{
    return Deadline{now + std::max(budget, DeadlineClock::duration::zero())};
}

Deadline withReserve(const Deadline& deadline, DeadlineClock::duration reserve)
{
    return Deadline{deadline.end - std::max(reserve, DeadlineClock::duration::zero())};
}

Deadline firstShare(const Deadline& deadline, DeadlineClock::time_point now, DeadlineClock::duration share)
{
    return Deadline{std::min(deadline.end, now + std::max(share, DeadlineClock::duration::zero()))};
}

std::chrono::microseconds remaining(const Deadline& deadline, DeadlineClock::time_point now)
{
    if (now >= deadline.end) {
        return std::chrono::microseconds::zero();
    }
    return std::chrono::duration_cast<std::chrono::microseconds>(deadline.end - now);
}

bool expired(const Deadline& deadline, DeadlineClock::time_point now)
{
    return remaining(deadline, now) == std::chrono::microseconds::zero();
}

std::chrono::microseconds stepTimeout(
    const Deadline& deadline, DeadlineClock::time_point now, std::chrono::microseconds cap)
{
    return std::clamp(cap, std::chrono::microseconds::zero(), remaining(deadline, now));
}

int pollMilliseconds(std::chrono::microseconds timeout)
{
    if (timeout <= std::chrono::microseconds::zero()) {
        return 0;
    }
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    return static_cast<int>(std::min<long long>(milliseconds, std::numeric_limits<int>::max()));
}

} // namespace focusprobe::platform::desktop
