#pragma once

#include "platform/event_loop.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace focusprobe::platform {

// An event loop over poll(2): delayed steps, repeating timers, standard input and any further
// descriptors a backend watches (its display connection, say). Everything runs on the thread
// that calls run(), standard-input handling included; only terminate() may come from elsewhere.
class PollLoop final : public EventLoop {
public:
    // inputFd is the descriptor watched as standard input.
    explicit PollLoop(int inputFd = STDIN_FILENO);
    ~PollLoop();
    PollLoop(const PollLoop&) = delete;
    PollLoop& operator=(const PollLoop&) = delete;

    void setActivationPolicy(std::int64_t policy) override;
    void scheduleRepeatingTimer(double intervalSeconds, std::function<void(const Timer&)> block) override;
    void invalidateTimer(const Timer& timer) override;
    void runAfter(double delaySeconds, std::function<void()> step) override;
    // The handler is told of the end of input once; the descriptor is not watched after that.
    void setStandardInputReadabilityHandler(std::function<void(StandardInput&)> handler) override;
    // Ends with loopFailedStatus when poll() itself fails.
    int run() override;
    // The first status given wins.
    void terminate(int status) override;

    // Calls onReadable on the loop's thread whenever fd has data. A descriptor found closed is
    // dropped from the watch.
    void watchDescriptor(int fd, std::function<void()> onReadable);

    void retain(RawRef ref) override;
    void release(RawRef ref) override;

private:
    using Clock = std::chrono::steady_clock;
    struct TimerState;
    struct Step {
        Clock::time_point due;
        std::uint64_t order;
        std::function<void()> run;
    };
    struct Watch {
        int fd;
        std::function<void()> onReadable;
        bool closed = false;
    };

    void runDueWork();
    void handleInput();
    [[nodiscard]] int pollTimeoutMs() const;

    int inputFd_;
    bool inputEnded_ = false;
    std::uint64_t nextOrder_ = 0;
    std::vector<std::unique_ptr<TimerState>> timers_;
    // Invalidated timers stay allocated until the loop goes, so a Timer still held elsewhere
    // never points at a newer timer.
    std::vector<std::unique_ptr<TimerState>> retiredTimers_;
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
