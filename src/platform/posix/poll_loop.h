#pragma once

#include "platform/event_loop.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace focusprobe::platform {

// An event loop over poll(2): delayed steps, repeating timers, standard input and any further
// descriptors a backend watches (its display connection, say). Everything runs on the thread
// that calls run(), standard-input handling included.
class PollLoop final : public EventLoop {
public:
    PollLoop();
    ~PollLoop();
    PollLoop(const PollLoop&) = delete;
    PollLoop& operator=(const PollLoop&) = delete;

    void setActivationPolicy(std::int64_t policy) override;
    void scheduleRepeatingTimer(double intervalSeconds, std::function<void(const Timer&)> block) override;
    void invalidateTimer(const Timer& timer) override;
    void runAfter(double delaySeconds, std::function<void()> step) override;
    void setStandardInputReadabilityHandler(std::function<void(StandardInput&)> handler) override;
    int run() override;
    void terminate(int status) override;

    // Calls onReadable on the loop's thread whenever fd has data.
    void watchDescriptor(int fd, std::function<void()> onReadable);

    void retain(RawRef ref) override;
    void release(RawRef ref) override;

private:
    using Clock = std::chrono::steady_clock;
    struct TimerState;
    struct Step {
        Clock::time_point due;
        std::function<void()> run;
    };
    struct Watch {
        int fd;
        std::function<void()> onReadable;
    };

    void runDueWork();
    [[nodiscard]] int pollTimeoutMs() const;

    std::vector<std::unique_ptr<TimerState>> timers_;
    std::vector<Step> steps_;
    std::vector<Watch> watches_;
    std::function<void(StandardInput&)> stdinHandler_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::mutex terminateMutex_;
    std::atomic<bool> terminated_{false};
    int status_ = 0;
};

} // namespace focusprobe::platform
