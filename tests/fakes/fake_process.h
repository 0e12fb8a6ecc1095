#pragma once

#include "fakes/call_log.h"
#include "platform/process.h"

#include <optional>
#include <string>
#include <vector>

namespace focusprobe::testing {

// A clock that moves only when told (or when the flow sleeps), and standard output as a string.
class FakeProcess final : public platform::Process {
public:
    explicit FakeProcess(CallLog& log) : log_(log) { }

    double now() override { return clock; }
    void sleepMicroseconds(std::uint32_t microseconds) override
    {
        log_.add("sleep " + std::to_string(microseconds));
        sleeps.push_back(microseconds);
        clock += microseconds / 1e6;
    }
    void writeStandardOutput(std::string_view bytes) override
    {
        log_.add("write " + std::string(bytes));
        output.append(bytes);
    }
    void makeStandardOutputUnbuffered() override
    {
        log_.add("setvbuf unbuffered");
        if (!outputLengthWhenUnbuffered) {
            outputLengthWhenUnbuffered = output.size();
        }
    }

    void holdTerminationSignals() override
    {
        log_.add("signals hold");
        signalsHeld = true;
    }
    void releaseTerminationSignals() override
    {
        log_.add("signals release");
        signalsHeld = false;
    }

    double clock = 1000.0;
    bool signalsHeld = false;
    std::string output;
    std::vector<std::uint32_t> sleeps;
    std::optional<std::size_t> outputLengthWhenUnbuffered;

private:
    CallLog& log_;
};

} // namespace focusprobe::testing
