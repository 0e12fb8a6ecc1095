#include "platform/posix/poll_loop.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace focusprobe::platform {

struct PollLoop::TimerState {
    Clock::duration interval;
    Clock::time_point due;
    std::function<void(const Timer&)> block;
    bool valid = true;
};

namespace {

class DescriptorInput final : public StandardInput {
public:
    explicit DescriptorInput(int fd) : fd_(fd) { }
    std::string availableData() override
    {
        std::array<char, 65536> buffer{};
        for (;;) {
            const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
            if (got >= 0) {
                return {buffer.data(), static_cast<std::size_t>(got)};
            }
            if (errno != EINTR) {
                return {}; // an unreadable descriptor is as good as closed
            }
        }
    }

private:
    int fd_;
};

std::chrono::steady_clock::duration toDuration(double seconds)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(std::max(seconds, 0.0)));
}

} // namespace

PollLoop::PollLoop()
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
    const auto interval = toDuration(intervalSeconds);
    timers_.push_back(std::make_unique<TimerState>(TimerState{interval, Clock::now() + interval, std::move(block)}));
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
    steps_.push_back(Step{Clock::now() + toDuration(delaySeconds), std::move(step)});
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
    if (!next) {
        return -1;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(wait, 0, INT_MAX));
}

void PollLoop::runDueWork()
{
    const auto now = Clock::now();
    // Steps may schedule further steps, so take the due ones out before running any.
    std::vector<Step> due;
    std::erase_if(steps_, [&](Step& step) {
        if (step.due > now) {
            return false;
        }
        due.push_back(std::move(step));
        return true;
    });
    std::stable_sort(due.begin(), due.end(), [](const Step& a, const Step& b) { return a.due < b.due; });
    for (auto& step : due) {
        if (terminated_) {
            return;
        }
        step.run();
    }
    for (std::size_t i = 0; i < timers_.size() && !terminated_; ++i) {
        TimerState& timer = *timers_[i];
        if (timer.valid && timer.due <= now) {
            timer.due = now + timer.interval;
            const Timer ref = Timer::retain(*this, &timer);
            timer.block(ref);
        }
    }
    std::erase_if(timers_, [](const auto& timer) { return !timer->valid; });
}

int PollLoop::run()
{
    DescriptorInput standardInput(STDIN_FILENO);
    while (!terminated_) {
        std::vector<pollfd> fds;
        fds.push_back(pollfd{wakeRead_, POLLIN, 0});
        if (stdinHandler_) {
            fds.push_back(pollfd{STDIN_FILENO, POLLIN, 0});
        }
        for (const auto& watch : watches_) {
            fds.push_back(pollfd{watch.fd, POLLIN, 0});
        }
        const int ready = ::poll(fds.data(), fds.size(), pollTimeoutMs());
        if (ready < 0 && errno != EINTR) {
            break;
        }
        std::size_t index = 1;
        if (stdinHandler_) {
            if ((fds[index].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) {
                if ((fds[index].revents & POLLNVAL) != 0) {
                    stdinHandler_ = nullptr; // no standard input at all: nothing more to watch
                    terminate(0);
                } else {
                    stdinHandler_(standardInput);
                }
            }
            ++index;
        }
        for (std::size_t w = 0; w < watches_.size() && !terminated_; ++w, ++index) {
            if ((fds[index].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                watches_[w].onReadable();
            }
        }
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
