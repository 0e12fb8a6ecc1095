#pragma once

#include "platform/ref.h"

#include <cstdint>
#include <functional>
#include <string>

namespace focusprobe::platform {

using Timer = Ref<struct TimerTag>;

class StandardInput {
public:
    // The bytes available now; empty at end of file.
    virtual std::string availableData() = 0;

protected:
    StandardInput() = default;
    StandardInput(const StandardInput&) = default;
    StandardInput& operator=(const StandardInput&) = default;
    ~StandardInput() = default;
};

// The status a loop ends with when it cannot go on: its wait fails, or the backend lost the
// connection its monitors read. Monitoring has then ended without the host asking.
inline constexpr int loopFailedStatus = 1;

// The application object and its main event loop: activation policy, timers, delayed steps on
// the main queue and the standard-input watch.
class EventLoop : public RefCounter {
public:
    virtual void setActivationPolicy(std::int64_t policy) = 0;

    // A repeating timer on the main run loop; the loop holds it and hands it to each firing.
    virtual void scheduleRepeatingTimer(double intervalSeconds, std::function<void(const Timer&)> block) = 0;
    virtual void invalidateTimer(const Timer& timer) = 0;

    // Runs the step on the main thread once the delay has passed.
    virtual void runAfter(double delaySeconds, std::function<void()> step) = 0;

    // The handler runs whenever standard input has data or reaches its end, possibly on another
    // thread than the main one.
    virtual void setStandardInputReadabilityHandler(std::function<void(StandardInput&)> handler) = 0;

    // Runs the loop until terminate() ends it; returns the status given to terminate().
    virtual int run() = 0;

    // Safe from any thread. The main thread finishes what it is running, then the loop ends
    // with this status; nothing the main thread uses is torn down underneath it.
    virtual void terminate(int status) = 0;

protected:
    EventLoop() = default;
    EventLoop(const EventLoop&) = default;
    EventLoop& operator=(const EventLoop&) = default;
    ~EventLoop() = default;
};

} // namespace focusprobe::platform
