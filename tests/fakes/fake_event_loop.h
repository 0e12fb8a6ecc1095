#pragma once

#include "fakes/call_log.h"
#include "fakes/fake_process.h"
#include "platform/event_loop.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace focusprobe::testing {

// One scripted chunk of standard input, as the readability handler is given it.
class FakeStandardInput final : public platform::StandardInput {
public:
    FakeStandardInput(CallLog& log, std::string chunk) : log_(log), chunk_(std::move(chunk)) { }
    std::string availableData() override
    {
        log_.add("stdin.availableData " + std::to_string(chunk_.size()));
        return std::exchange(chunk_, {});
    }

private:
    CallLog& log_;
    std::string chunk_;
};

// The application's event loop on a fake clock. run() repeatedly takes the earliest due item (a
// delayed step, a timer firing, a scripted chunk of standard input or a test's own action; equal
// times in the order they were scheduled), moves the clock to its time, logs "loop.time <ms>ms"
// (milliseconds since run() began) and runs it, until terminate() has been called or nothing is
// left before the horizon. Single-threaded: everything, standard input included, runs on the
// caller's thread.
class FakeEventLoop final : public platform::EventLoop {
public:
    // What run() returns when nothing is left to do; a real loop would wait for ever.
    static constexpr int idleStatus = -1;

    explicit FakeEventLoop(CallLog& log) : log_(log) { }

    // From here on the loop's time is the process's fake clock (until then, a clock of its own).
    void useClock(FakeProcess& process) { clock_ = &process.clock; }
    [[nodiscard]] double now() const { return *clock_; }

    // Test scripting, in seconds after run() begins.
    void at(double seconds, std::function<void()> action) { scripted_.emplace_back(seconds, std::move(action)); }
    // An empty chunk is the end of input.
    void inputAt(double seconds, std::string chunk)
    {
        at(seconds, [this, chunk = std::move(chunk)] { deliverInput(chunk); });
    }

    void setActivationPolicy(std::int64_t policy) override
    {
        log_.add("loop.setActivationPolicy " + std::to_string(policy));
    }

    void scheduleRepeatingTimer(double intervalSeconds, std::function<void(const platform::Timer&)> block) override
    {
        timers_.push_back(std::make_unique<TimerState>(
            TimerState{timers_.size() + 1, intervalSeconds, now() + intervalSeconds, nextOrder_++, std::move(block)}));
        log_.add("loop.scheduleRepeatingTimer " + decimal(intervalSeconds) + " #" + std::to_string(timers_.size()));
    }

    void invalidateTimer(const platform::Timer& timer) override
    {
        for (auto& state : timers_) {
            if (state.get() == timer.get()) {
                log_.add("loop.invalidateTimer #" + std::to_string(state->id));
                state->valid = false;
            }
        }
    }

    void runAfter(double delaySeconds, std::function<void()> step) override
    {
        log_.add("loop.runAfter " + decimal(delaySeconds));
        steps_.push_back(Step{now() + delaySeconds, nextOrder_++, std::move(step)});
    }

    void setStandardInputReadabilityHandler(std::function<void(platform::StandardInput&)> handler) override
    {
        log_.add("loop.setStandardInputReadabilityHandler");
        stdinHandler_ = std::move(handler);
    }

    int run() override
    {
        log_.add("loop.run");
        const double start = now();
        for (auto& [seconds, action] : scripted_) {
            steps_.push_back(Step{start + seconds, nextOrder_++, std::move(action)});
        }
        scripted_.clear();
        while (!terminatedWith) {
            Step* step = nullptr;
            for (Step& s : steps_) {
                if (step == nullptr || std::pair(s.due, s.order) < std::pair(step->due, step->order)) {
                    step = &s;
                }
            }
            TimerState* timer = nullptr;
            for (auto& t : timers_) {
                if (t->valid
                    && (timer == nullptr || std::pair(t->due, t->order) < std::pair(timer->due, timer->order))) {
                    timer = t.get();
                }
            }
            if (timer != nullptr
                && (step == nullptr || std::pair(timer->due, timer->order) < std::pair(step->due, step->order))) {
                if (timer->due > start + horizon) {
                    break;
                }
                advanceTo(timer->due, start);
                log_.add("loop.timer #" + std::to_string(timer->id));
                timer->due += timer->interval;
                timer->order = nextOrder_++;
                const auto ref = platform::Timer::retain(*this, timer);
                timer->block(ref);
            } else if (step != nullptr) {
                if (step->due > start + horizon) {
                    break;
                }
                advanceTo(step->due, start);
                auto run = std::move(step->run);
                // Steps may schedule further steps: take this one out before running it.
                steps_.erase(steps_.begin() + (step - steps_.data()));
                run();
            } else {
                break;
            }
        }
        if (!terminatedWith) {
            log_.add("loop.idle");
            return idleStatus;
        }
        return *terminatedWith;
    }

    // The first status given wins, as in the real loop.
    void terminate(int status) override
    {
        log_.add("loop.terminate " + std::to_string(status));
        if (!terminatedWith) {
            terminatedWith = status;
        }
    }

    // Timers belong to the loop; references to them need no counting.
    void retain(platform::RawRef /*ref*/) override { }
    void release(platform::RawRef /*ref*/) override { }

    [[nodiscard]] long validTimers() const
    {
        return std::count_if(timers_.begin(), timers_.end(), [](const auto& t) { return t->valid; });
    }
    [[nodiscard]] bool watchesStandardInput() const { return static_cast<bool>(stdinHandler_); }

    // run() gives up once the next item lies this many seconds past its start.
    double horizon = 3600.0;
    std::optional<int> terminatedWith;

    static std::string decimal(double value)
    {
        std::ostringstream out;
        out << value;
        return out.str();
    }

private:
    struct TimerState {
        std::size_t id;
        double interval;
        double due;
        std::uint64_t order;
        std::function<void(const platform::Timer&)> block;
        bool valid = true;
    };
    struct Step {
        double due;
        std::uint64_t order;
        std::function<void()> run;
    };

    void advanceTo(double due, double start)
    {
        *clock_ = std::max(*clock_, due);
        log_.add("loop.time " + std::to_string(std::llround((*clock_ - start) * 1000)) + "ms");
    }

    void deliverInput(const std::string& chunk)
    {
        if (!stdinHandler_) {
            log_.add("stdin.unwatched");
            return;
        }
        FakeStandardInput input(log_, chunk);
        // A copy, so a handler that replaces itself is not destroyed while it runs.
        const auto handler = stdinHandler_;
        handler(input);
    }

    CallLog& log_;
    double ownClock_ = 1000.0;
    double* clock_ = &ownClock_;
    std::uint64_t nextOrder_ = 0;
    std::vector<std::unique_ptr<TimerState>> timers_;
    std::vector<Step> steps_;
    std::vector<std::pair<double, std::function<void()>>> scripted_;
    std::function<void(platform::StandardInput&)> stdinHandler_;
};

} // namespace focusprobe::testing
