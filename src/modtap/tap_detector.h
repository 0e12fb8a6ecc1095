#pragma once

#include "platform/process.h"

#include <cstdint>
#include <optional>

namespace focusprobe {

struct TapConfiguration {
    std::uint16_t tapKeyCode = 61; // right Option
    // Shift, Control, Command and Function; Option, Caps Lock and the device bits do not spoil.
    std::uint64_t spoilingModifiers = 0x960000;
    double quietGap = 0.3; // seconds since the last other input
};

// The longest press that still counts as a tap, in seconds. Not a setting.
inline constexpr double maxHold = 0.6;

// Date.distantPast (0001-01-01 UTC) in the wall clock's seconds, far enough back on any clock the
// process reads that no press can fall within the quiet gap of it.
inline constexpr double distantPast = -62135596800.0;

inline constexpr std::uint64_t optionFlag = 0x80000;

struct TapState {
    bool rightOptionDown = false;
    // Set afresh at every press; has no effect while the key is up.
    bool tapSpoiled = false;
    double pressStartedAt = 0.0;
    // The press as its event source stamped it, where it did.
    std::optional<double> pressStamp;
    double lastOtherInputAt = distantPast;
};

enum class TapPhase { up, downClean, downSpoiled };

[[nodiscard]] constexpr TapPhase tapPhase(const TapState& state)
{
    if (!state.rightOptionDown) {
        return TapPhase::up;
    }
    return state.tapSpoiled ? TapPhase::downSpoiled : TapPhase::downClean;
}

// Recognises lone taps of the right Option key and prints "tap" at each one's release. Reads the
// process's monotonic clock when an event is taken. The hold alone is judged by the events' own
// stamps when both the press and the release carry one: a process or server starved between
// handling the two must not turn a quick tap into a long hold. Main thread only.
class TapDetector {
public:
    explicit TapDetector(platform::Process& process, TapConfiguration configuration = {});

    void onFlagsChanged(
        std::uint16_t keyCode, std::uint64_t modifierFlags, std::optional<double> timestamp = std::nullopt);
    // A key-down, left-mouse-down or right-mouse-down.
    void onOtherInput();

    [[nodiscard]] const TapState& state() const { return state_; }
    [[nodiscard]] const TapConfiguration& configuration() const { return configuration_; }

private:
    platform::Process* process_;
    TapConfiguration configuration_;
    TapState state_;
};

} // namespace focusprobe
