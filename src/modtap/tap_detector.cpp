#include "modtap/tap_detector.h"

#include "context/output.h"

namespace focusprobe {

TapDetector::TapDetector(platform::Process& process, TapConfiguration configuration)
    : process_(&process), configuration_(configuration)
{
    state_.pressStartedAt = process.now();
}

void TapDetector::onFlagsChanged(std::uint16_t keyCode, std::uint64_t modifierFlags, std::optional<double> timestamp)
{
    const double now = process_->now();
    if (keyCode != configuration_.tapKeyCode) {
        state_.lastOtherInputAt = now;
        if (state_.rightOptionDown) {
            state_.tapSpoiled = true;
        }
        return;
    }
    // Press and release are told apart by the device-independent Option bit alone. With left
    // Option held, a right-Option release still carries the bit and counts as a repeated press.
    if ((modifierFlags & optionFlag) != 0) {
        if (state_.rightOptionDown) {
            return; // the hold is measured from the first press
        }
        state_.rightOptionDown = true;
        state_.pressStartedAt = now;
        state_.pressStamp = timestamp;
        state_.tapSpoiled = (modifierFlags & configuration_.spoilingModifiers) != 0
            || state_.pressStartedAt - state_.lastOtherInputAt < configuration_.quietGap;
        return;
    }
    if (!state_.rightOptionDown) {
        return; // the key was already down when the detector was made
    }
    state_.rightOptionDown = false;
    if (state_.tapSpoiled) {
        return;
    }
    // A clock stepped back gives a negative hold, which counts; a NaN one does not.
    const double held = state_.pressStamp && timestamp ? *timestamp - *state_.pressStamp : now - state_.pressStartedAt;
    if (held <= maxHold) {
        printLine(*process_, "tap");
    }
}

void TapDetector::onOtherInput()
{
    state_.lastOtherInputAt = process_->now();
    if (state_.rightOptionDown) {
        state_.tapSpoiled = true;
    }
}

} // namespace focusprobe
