#include "modtap/modtap.h"

#include "context/output.h"

namespace focusprobe {

bool addMonitors(platform::InputMonitoring& input, TapDetector& detector, std::vector<platform::Monitor>& monitors)
{
    for (const platform::Monitor& monitor : monitors) {
        input.removeMonitor(monitor);
    }
    monitors.clear();
    platform::Monitor flags = input.addGlobalMonitor(flagsChangedMask, [&detector](const platform::InputEvent& event) {
        detector.onFlagsChanged(event.keyCode, event.modifierFlags, event.timestamp);
    });
    if (!flags) {
        return false;
    }
    platform::Monitor other = input.addGlobalMonitor(
        keyAndMouseMask, [&detector](const platform::InputEvent&) { detector.onOtherInput(); });
    if (!other) {
        // The flags-changed monitor stays installed, untracked: letting go of its token does not
        // remove it.
        return false;
    }
    monitors.push_back(std::move(flags));
    monitors.push_back(std::move(other));
    return true;
}

void trustPoll(
    Context& context, TapDetector& detector, std::vector<platform::Monitor>& monitors, const platform::Timer& timer)
{
    if (!context.platform.accessibility.isProcessTrusted()) {
        return;
    }
    context.platform.loop.invalidateTimer(timer);
    // Monitors installed while untrusted may deliver nothing; installing them again once trusted
    // makes them work.
    addMonitors(context.platform.input, detector, monitors);
}

void onStdinReadable(platform::EventLoop& loop, platform::StandardInput& input)
{
    if (input.availableData().empty()) {
        // Not exit(): this may run off the main thread, and the loop lets the main thread finish
        // what it is doing before the process ends.
        loop.terminate(0);
    }
}

int runModtap(Context& context)
{
    platform::Platform& platform = context.platform;
    // Before anything is printed, so every line reaches the host the moment it is written.
    platform.process.makeStandardOutputUnbuffered();
    TapDetector detector(platform.process);
    platform.loop.setActivationPolicy(prohibitedActivationPolicy);
    std::vector<platform::Monitor> monitors;
    if (!addMonitors(platform.input, detector, monitors)) {
        printLine(platform.process, "error");
        return 1;
    }
    if (!platform.accessibility.isProcessTrusted()) {
        platform.loop.scheduleRepeatingTimer(
            trustPollIntervalSeconds, [&context, &detector, &monitors](const platform::Timer& timer) {
                trustPoll(context, detector, monitors, timer);
            });
    }
    printLine(platform.process, "ready");
    platform.loop.setStandardInputReadabilityHandler(
        [&loop = platform.loop](platform::StandardInput& input) { onStdinReadable(loop, input); });
    // The detector and the monitors live here until the loop ends.
    const int status = platform.loop.run();
    if (status == platform::loopFailedStatus) {
        // Monitoring ended without the host asking: the host must not wait for taps that cannot come.
        printLine(platform.process, "error");
    }
    return status;
}

} // namespace focusprobe
