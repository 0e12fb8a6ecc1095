#pragma once

#include "context/context.h"
#include "modtap/tap_detector.h"
#include "platform/event_loop.h"
#include "platform/input_monitoring.h"

#include <cstdint>
#include <vector>

namespace focusprobe {

// Event masks: bit n stands for event type n.
inline constexpr std::uint64_t flagsChangedMask = 1U << 12U;
inline constexpr std::uint64_t keyAndMouseMask = (1U << 1U) | (1U << 3U) | (1U << 10U); // left, right mouse, key
inline constexpr double trustPollIntervalSeconds = 2.0;
// NSApplicationActivationPolicyProhibited: never the active application.
inline constexpr std::int64_t prohibitedActivationPolicy = 2;

// Removes the monitors in `monitors`, then installs both anew over the same detector, so its state
// carries over. True when both were installed; `monitors` then holds them, flags-changed first.
bool addMonitors(platform::InputMonitoring& input, TapDetector& detector, std::vector<platform::Monitor>& monitors);

// The trust-poll timer's block: once the process is trusted, stops polling and re-installs the
// monitors. A failed re-installation is not reported and not retried.
void trustPoll(
    Context& context, TapDetector& detector, std::vector<platform::Monitor>& monitors, const platform::Timer& timer);

// The standard-input readability handler. Data carries no commands and is dropped; the end of
// input ends the loop with status 0. May run on any thread: it touches nothing but the loop.
void onStdinReadable(platform::EventLoop& loop, platform::StandardInput& input);

// `modtap`: "ready", then "tap" per lone right-Option tap until standard input ends (status 0);
// "error" and status 1 when the monitors cannot be installed, or when the loop cannot go on.
int runModtap(Context& context);

} // namespace focusprobe
