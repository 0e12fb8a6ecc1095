#pragma once

#include "fakes/call_log.h"
#include "platform/speech.h"

namespace focusprobe::testing {

// Speech of the fake desktop. (Starts with nothing to read and no script runner.)
class FakeSpeech final : public platform::Speech {
public:
    explicit FakeSpeech(CallLog& log) : log_(log) { }
    std::optional<std::string> readFileAsUTF8(std::string_view) override { return std::nullopt; }
    platform::Script createScript(std::string_view) override { return {}; }
    std::optional<std::string> executeScript(const platform::Script&) override { return std::string("no runner"); }
    platform::Window createWindow(platform::Rect, std::uint64_t, std::uint64_t, bool) override { return {}; }
    void setAccessibilityElement(const platform::Window&, bool) override { }
    void setCollectionBehavior(const platform::Window&, std::uint64_t) override { }
    void setIgnoresMouseEvents(const platform::Window&, bool) override { }
    void orderFrontRegardless(const platform::Window&) override { }
    void postAnnouncement(std::string_view, std::int64_t) override { }
    void retain(platform::RawRef) override { }
    void release(platform::RawRef) override { }

private:
    [[maybe_unused]] CallLog& log_;
};

} // namespace focusprobe::testing
