#pragma once

#include <chrono>

namespace focusprobe::platform::desktop {

using DeadlineClock = std::chrono::steady_clock;

// One budget for the whole command: every blocking step (the display and its requests, the
// accessibility bus's address, connecting, each call, each wait for answers) takes its timeout
// from it, so no chain of faults holds a command longer than this beyond its own fixed waits.
inline constexpr std::chrono::milliseconds commandBudget{6000};

struct Deadline {
    DeadlineClock::time_point end;
};

Deadline deadlineAfter(DeadlineClock::time_point now, DeadlineClock::duration budget = commandBudget);

// The part of a budget that ends `reserve` before it: what the applications' calls get, so that
// a hung application cannot also take the time the display server needs to answer the command's
// last requests.
Deadline withReserve(const Deadline& deadline, DeadlineClock::duration reserve);

// The first `share` of what remains of a budget, for a step that must leave the rest to the
// steps after it (a compositor that does not answer leaves the X display its time).
Deadline firstShare(const Deadline& deadline, DeadlineClock::time_point now, DeadlineClock::duration share);

// Kept back from the accessibility bus for the display server or compositor: their requests are
// local and answer in well under a millisecond when healthy.
inline constexpr std::chrono::milliseconds displayReserve{500};

// What is left of the budget; zero once it is spent, never negative.
std::chrono::microseconds remaining(const Deadline& deadline, DeadlineClock::time_point now);

bool expired(const Deadline& deadline, DeadlineClock::time_point now);

// The timeout for one blocking step: its own cap, or what is left of the budget when that is
// less. Zero means the step fails at once without being tried.
std::chrono::microseconds stepTimeout(
    const Deadline& deadline, DeadlineClock::time_point now, std::chrono::microseconds cap);

// A step timeout as poll() takes it, rounded up so a wait does not wake just before its answer
// is due and spin; zero stays zero.
int pollMilliseconds(std::chrono::microseconds timeout);

// The same against the real clock, for the backend's pieces.
inline std::chrono::microseconds stepTimeoutNow(const Deadline& deadline, std::chrono::microseconds cap)
{
    return stepTimeout(deadline, DeadlineClock::now(), cap);
}

} // namespace focusprobe::platform::desktop
