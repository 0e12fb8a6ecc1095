#pragma once

#include "fakes/call_log.h"
#include "platform/event_loop.h"

namespace focusprobe::testing {

// The event loop of the fake desktop. (Starts with a loop that ends at once.)
class FakeEventLoop final : public platform::EventLoop {
public:
    explicit FakeEventLoop(CallLog& log) : log_(log) { }
    void setActivationPolicy(std::int64_t) override { }
    void scheduleRepeatingTimer(double, std::function<void(const platform::Timer&)>) override { }
    void invalidateTimer(const platform::Timer&) override { }
    void runAfter(double, std::function<void()>) override { }
    void setStandardInputReadabilityHandler(std::function<void(platform::StandardInput&)>) override { }
    int run() override { return status_; }
    void terminate(int status) override { status_ = status; }
    void retain(platform::RawRef) override { }
    void release(platform::RawRef) override { }

private:
    [[maybe_unused]] CallLog& log_;
    int status_ = 0;
};

} // namespace focusprobe::testing
