#include "platform/posix/poll_loop.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <fcntl.h>
#include <optional>
#include <poll.h>

namespace focusprobe::platform {

struct PollLoop::TimerState {
    Clock::duration interval;
    Clock::time_point due;
    std::uint64_t order;
    std::function<void(const Timer&)> block;
    bool valid = true;
};

namespace {

// Without a wake pipe a terminate() from another thread is only seen when poll returns.
constexpr int pollCapWithoutWakePipeMs = 50;
// NSTimer's floor for a non-positive interval; a repeating timer at zero would spin.
constexpr double minimumTimerIntervalSeconds = 0.0001;
// About 31 years: far enough to mean never, near enough not to overflow the clock.
constexpr double longestDelaySeconds = 1e9;

class DescriptorInput final : public StandardInput {
public:
    explicit DescriptorInput(int fd) : fd_(fd) { }

    std::string availableData() override
    {
        std::array<char, 65536> buffer{};
        for (;;) {
            const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
            if (got > 0) {
                return {buffer.data(), static_cast<std::size_t>(got)};
            }
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // Someone made the descriptor non-blocking: no data now is not the end, so wait.
                pollfd fd{fd_, POLLIN, 0};
                ::poll(&fd, 1, -1);
                continue;
            }
            // End of file, or an unreadable descriptor, which is as good as closed.
            ended_ = true;
            return {};
        }
    }

    [[nodiscard]] bool ended() const { return ended_; }

private:
    int fd_;
    bool ended_ = false;
};

std::chrono::steady_clock::duration toDuration(double seconds)
{
    // Negative and NaN delays mean at once; converting NaN or a huge value would be undefined.
    const double clamped = seconds > 0.0 ? std::min(seconds, longestDelaySeconds) : 0.0;
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(clamped));
}

} // namespace

PollLoop::PollLoop(int inputFd) : inputFd_(inputFd)
{
    std::array<int, 2> fds{-1, -1};
    if (::pipe(fds.data()) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
        ::fcntl(wakeRead_, F_SETFL, O_NONBLOCK);
        ::fcntl(wakeWrite_, F_SETFL, O_NONBLOCK);
        ::fcntl(wakeRead_, F_SETFD, FD_CLOEXEC);
        ::fcntl(wakeWrite_, F_SETFD, FD_CLOEXEC);
    }
}

PollLoop::~PollLoop()
{
    if (wakeRead_ >= 0) {
        ::close(wakeRead_);
    }
    if (wakeWrite_ >= 0) {
        ::close(wakeWrite_);
    }
}

void PollLoop::setActivationPolicy(std::int64_t /*policy*/)
{
    // A process here has no Dock or menu bar presence to give up.
}

void PollLoop::scheduleRepeatingTimer(double intervalSeconds, std::function<void(const Timer&)> block)
{
    const auto interval
        = toDuration(std::isnan(intervalSeconds) ? minimumTimerIntervalSeconds
                                                 : std::max(intervalSeconds, minimumTimerIntervalSeconds));
    timers_.push_back(
        std::make_unique<TimerState>(TimerState{interval, Clock::now() + interval, nextOrder_++, std::move(block)}));
}

void PollLoop::invalidateTimer(const Timer& timer)
{
    for (auto& state : timers_) {
        if (state.get() == timer.get()) {
            state->valid = false;
        }
    }
}

void PollLoop::runAfter(double delaySeconds, std::function<void()> step)
{
    steps_.push_back(Step{Clock::now() + toDuration(delaySeconds), nextOrder_++, std::move(step)});
}

void PollLoop::setStandardInputReadabilityHandler(std::function<void(StandardInput&)> handler)
{
    stdinHandler_ = std::move(handler);
}

void PollLoop::watchDescriptor(int fd, std::function<void()> onReadable)
{
    watches_.push_back(Watch{fd, std::move(onReadable)});
}

void PollLoop::retain(RawRef /*ref*/)
{
    // Timers belong to the loop until it ends; references to them need no counting.
}

void PollLoop::release(RawRef /*ref*/) { }

int PollLoop::pollTimeoutMs() const
{
    std::optional<Clock::time_point> next;
    for (const auto& step : steps_) {
        next = next ? std::min(*next, step.due) : step.due;
    }
    for (const auto& timer : timers_) {
        if (timer->valid) {
            next = next ? std::min(*next, timer->due) : timer->due;
        }
    }
    int timeout = -1;
    if (next) {
        // Rounded up: waking a little early would only spin until the due time.
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<long long>(wait, 0, INT_MAX));
    }
    if (wakeRead_ < 0) {
        timeout = timeout < 0 ? pollCapWithoutWakePipeMs : std::min(timeout, pollCapWithoutWakePipeMs);
    }
    return timeout;
}

void PollLoop::runDueWork()
{
    const auto now = Clock::now();
    // Work scheduled while this pass runs waits for the next one, after another look at the
    // descriptors; a zero-delay step can then not starve them.
    std::vector<Step> dueSteps;
    std::erase_if(steps_, [&](Step& step) {
        if (step.due > now) {
            return false;
        }
        dueSteps.push_back(std::move(step));
        return true;
    });
    std::vector<TimerState*> dueTimers;
    for (const auto& timer : timers_) {
        if (timer->valid && timer->due <= now) {
            dueTimers.push_back(timer.get());
        }
    }
    // Steps and timer firings together, in the order of their due times.
    std::sort(dueSteps.begin(), dueSteps.end(),
        [](const Step& a, const Step& b) { return std::pair(a.due, a.order) < std::pair(b.due, b.order); });
    std::sort(dueTimers.begin(), dueTimers.end(), [](const TimerState* a, const TimerState* b) {
        return std::pair(a->due, a->order) < std::pair(b->due, b->order);
    });
    auto step = dueSteps.begin();
    auto timer = dueTimers.begin();
    while (!terminated_ && (step != dueSteps.end() || timer != dueTimers.end())) {
        const bool timerFirst = timer != dueTimers.end()
            && (step == dueSteps.end()
                || std::pair((*timer)->due, (*timer)->order) < std::pair(step->due, step->order));
        if (!timerFirst) {
            (step++)->run();
            continue;
        }
        TimerState& fired = **timer++;
        if (!fired.valid) {
            continue; // invalidated by work earlier in this pass
        }
        fired.due = now + fired.interval;
        fired.order = nextOrder_++;
        fired.block(Timer::retain(*this, &fired));
    }
    for (auto& t : timers_) {
        if (!t->valid) {
            t->block = nullptr; // lets go of whatever the block holds
            retiredTimers_.push_back(std::move(t));
        }
    }
    std::erase(timers_, nullptr);
}

void PollLoop::handleInput()
{
    DescriptorInput input(inputFd_);
    // A copy: the handler may replace itself while it runs.
    const auto handler = stdinHandler_;
    handler(input);
    // Once at its end a pipe stays readable, and poll would report it for ever.
    inputEnded_ = input.ended();
}

int PollLoop::run()
{
    while (!terminated_) {
        std::vector<pollfd> fds;
        fds.push_back(pollfd{wakeRead_, POLLIN, 0});
        const bool watchInput = stdinHandler_ && !inputEnded_;
        if (watchInput) {
            fds.push_back(pollfd{inputFd_, POLLIN, 0});
        }
        const std::size_t firstWatch = fds.size();
        const std::size_t watched = watches_.size(); // handlers may add watches; they wait a turn
        for (const auto& watch : watches_) {
            fds.push_back(pollfd{watch.fd, POLLIN, 0});
        }
        const int ready = ::poll(fds.data(), fds.size(), pollTimeoutMs());
        if (ready < 0 && errno != EINTR && errno != EAGAIN) {
            terminate(loopFailedStatus);
            break;
        }
        // A closed standard input reads as its end.
        if (watchInput && !terminated_ && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) {
            handleInput();
        }
        for (std::size_t w = 0; w < watched && !terminated_; ++w) {
            const auto revents = fds[firstWatch + w].revents;
            if ((revents & POLLNVAL) != 0) {
                watches_[w].closed = true; // would wake every poll from now on
            } else if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                const auto onReadable = watches_[w].onReadable; // may add watches, moving this one
                onReadable();
            }
        }
        std::erase_if(watches_, [](const Watch& watch) { return watch.closed; });
        if (!terminated_) {
            runDueWork();
        }
    }
    const std::lock_guard lock(terminateMutex_);
    return status_;
}

void PollLoop::terminate(int status)
{
    const std::lock_guard lock(terminateMutex_);
    if (!terminated_) {
        status_ = status;
        terminated_ = true;
        const char wake = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &wake, 1);
    }
}

} // namespace focusprobe::platform
