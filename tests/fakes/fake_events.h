#pragma once

#include "fakes/call_log.h"
#include "platform/events.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace focusprobe::testing {

// Event posting of the fake desktop. Every call is logged ("events.create 9 down",
// "events.post 1 9 down 0x100008"), and every source and event it hands out is counted.
class FakeEvents final : public platform::EventPosting {
public:
    struct Post {
        std::uint32_t tapLocation = 0;
        std::uint16_t keyCode = 0;
        bool keyDown = false;
        std::uint64_t flags = 0;

        friend bool operator==(const Post&, const Post&) = default;
    };

    explicit FakeEvents(CallLog& log) : log_(log) { }

    bool failSource = false;
    // The keyboard event creation (1 for the first) that answers nothing.
    std::optional<int> failEvent;
    // Modifiers physically held: a new event starts with them, as one from the session state does.
    std::uint64_t heldModifiers = 0;

    std::vector<Post> posts;

    [[nodiscard]] long liveReferences() const;
    [[nodiscard]] long overReleases() const { return overReleases_; }
    // Calls with a source or event that nobody held any more, or one of another source.
    [[nodiscard]] long staleUses() const { return staleUses_; }

    platform::EventSource createEventSource(std::int32_t stateID) override;
    platform::Event createKeyboardEvent(
        const platform::EventSource& source, std::uint16_t virtualKey, bool keyDown) override;
    void setLocalEventsFilterDuringSuppressionState(
        const platform::EventSource& source, std::uint32_t filter, std::int32_t state) override;
    void setFlags(const platform::Event& event, std::uint64_t flags) override;
    void post(std::uint32_t tapLocation, const platform::Event& event) override;
    void retain(platform::RawRef ref) override;
    void release(platform::RawRef ref) override;

private:
    struct Object {
        std::string label; // "source", or "<key code> down|up"
        std::uint16_t keyCode = 0;
        bool keyDown = false;
        std::uint64_t flags = 0;
        long references = 0;
    };

    Object& object(platform::RawRef raw);
    Object& live(platform::RawRef raw);

    CallLog& log_;
    std::deque<Object> objects_;
    int eventsAsked_ = 0;
    long overReleases_ = 0;
    long staleUses_ = 0;
};

} // namespace focusprobe::testing
