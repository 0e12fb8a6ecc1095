#pragma once

#include "fakes/call_log.h"
#include "platform/workspace.h"

#include <deque>
#include <optional>

namespace focusprobe::testing {

class FakeWorkspace final : public platform::Workspace {
public:
    explicit FakeWorkspace(CallLog& log) : log_(log) { }

    std::optional<platform::RunningApplication> frontmostApplication() override
    {
        log_.add("workspace.frontmostApplication");
        if (!laterFrontmost.empty() && answered_ > 0) {
            frontmost = laterFrontmost.front();
            laterFrontmost.pop_front();
        }
        ++answered_;
        return frontmost;
    }
    bool isVoiceOverEnabled() override
    {
        log_.add("workspace.isVoiceOverEnabled");
        return voiceOverEnabled;
    }

    std::optional<platform::RunningApplication> frontmost;
    // Answers to the second and later questions, in order (the front application changing).
    std::deque<std::optional<platform::RunningApplication>> laterFrontmost;
    bool voiceOverEnabled = false;

private:
    CallLog& log_;
    int answered_ = 0;
};

} // namespace focusprobe::testing
