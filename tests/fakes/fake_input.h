#pragma once

#include "fakes/call_log.h"
#include "platform/input_monitoring.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace focusprobe::testing {

// Global input monitors of the fake desktop. Installs succeed unless their ordinal is in
// failingInstalls; add and remove are logged ("input.add 4096 #1", "input.add 1034 failed",
// "input.remove #1"), and tests send events with deliver() to every monitor still installed,
// including those whose token was let go.
class FakeInput final : public platform::InputMonitoring {
public:
    // Platform event type numbers.
    static constexpr int leftMouseDown = 1;
    static constexpr int rightMouseDown = 3;
    static constexpr int keyDown = 10;
    static constexpr int flagsChanged = 12;

    explicit FakeInput(CallLog& log) : log_(log) { }

    platform::Monitor addGlobalMonitor(std::uint64_t eventMask, platform::InputEventHandler handler) override
    {
        ++attempts_;
        if (failingInstalls.contains(attempts_)) {
            log_.add("input.add " + std::to_string(eventMask) + " failed");
            return {};
        }
        monitors_.push_back(
            std::make_unique<Installed>(Installed{monitors_.size() + 1, eventMask, std::move(handler)}));
        log_.add("input.add " + std::to_string(eventMask) + " #" + std::to_string(monitors_.size()));
        return platform::Monitor::retain(*this, monitors_.back().get());
    }

    void removeMonitor(const platform::Monitor& monitor) override
    {
        Installed& installed = find(monitor.get());
        log_.add("input.remove #" + std::to_string(installed.id));
        installed.removed = true;
    }

    // As the platform does: the event goes to each installed monitor whose mask holds its type.
    void deliver(int eventType, platform::InputEvent event = {})
    {
        const std::size_t count = monitors_.size();
        for (std::size_t i = 0; i < count; ++i) {
            const Installed& m = *monitors_[i];
            if (!m.removed && (m.mask & (std::uint64_t{1} << eventType)) != 0) {
                m.handler(event);
            }
        }
    }
    void flags(std::uint16_t keyCode, std::uint64_t modifierFlags)
    {
        deliver(flagsChanged, {keyCode, modifierFlags, std::nullopt});
    }

    // Masks of the monitors installed and not removed, in order of installation.
    [[nodiscard]] std::vector<std::uint64_t> installedMasks() const
    {
        std::vector<std::uint64_t> masks;
        for (const auto& m : monitors_) {
            if (!m->removed) {
                masks.push_back(m->mask);
            }
        }
        return masks;
    }

    // Tokens still held by someone.
    [[nodiscard]] long heldTokens() const
    {
        long held = 0;
        for (const auto& m : monitors_) {
            held += m->references;
        }
        return held;
    }

    void retain(platform::RawRef ref) override { ++find(ref).references; }
    void release(platform::RawRef ref) override { --find(ref).references; }

    // 1-based ordinals of the addGlobalMonitor calls that fail.
    std::set<int> failingInstalls;

private:
    struct Installed {
        std::size_t id;
        std::uint64_t mask;
        platform::InputEventHandler handler;
        bool removed = false;
        long references = 0;
    };

    Installed& find(platform::RawRef ref)
    {
        return **std::find_if(monitors_.begin(), monitors_.end(), [&](const auto& m) { return m.get() == ref; });
    }

    CallLog& log_;
    int attempts_ = 0;
    std::vector<std::unique_ptr<Installed>> monitors_;
};

} // namespace focusprobe::testing
