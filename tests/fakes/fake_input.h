#pragma once

#include "fakes/call_log.h"
#include "platform/input_monitoring.h"

namespace focusprobe::testing {

// Global input monitors of the fake desktop. (Starts unable to install any.)
class FakeInput final : public platform::InputMonitoring {
public:
    explicit FakeInput(CallLog& log) : log_(log) { }
    platform::Monitor addGlobalMonitor(std::uint64_t, platform::InputEventHandler) override { return {}; }
    void removeMonitor(const platform::Monitor&) override { }
    void retain(platform::RawRef) override { }
    void release(platform::RawRef) override { }

private:
    [[maybe_unused]] CallLog& log_;
};

} // namespace focusprobe::testing
