#pragma once

#include "fakes/call_log.h"
#include "platform/events.h"

namespace focusprobe::testing {

// Event posting of the fake desktop. (Starts unable to create anything.)
class FakeEvents final : public platform::EventPosting {
public:
    explicit FakeEvents(CallLog& log) : log_(log) { }
    platform::EventSource createEventSource(std::int32_t) override { return {}; }
    platform::Event createKeyboardEvent(const platform::EventSource&, std::uint16_t, bool) override { return {}; }
    void setLocalEventsFilterDuringSuppressionState(const platform::EventSource&, std::uint32_t, std::int32_t) override
    {
    }
    void setFlags(const platform::Event&, std::uint64_t) override { }
    void post(std::uint32_t, const platform::Event&) override { }
    void retain(platform::RawRef) override { }
    void release(platform::RawRef) override { }

private:
    [[maybe_unused]] CallLog& log_;
};

} // namespace focusprobe::testing
