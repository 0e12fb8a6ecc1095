#pragma once

// The parts of the backend that need Objective-C objects (AppKit, Foundation, dispatch). Handles
// to Objective-C objects are +1 references taken with CFBridgingRetain and counted with
// CFRetain/CFRelease, like the CF ones.

#include "platform/event_loop.h"
#include "platform/input_monitoring.h"
#include "platform/macos/cf_ref.h"
#include "platform/speech.h"
#include "platform/workspace.h"

#include <atomic>

namespace focusprobe::platform::macos {

class MacWorkspace final : public Workspace {
public:
    std::optional<RunningApplication> frontmostApplication() override;
    bool isVoiceOverEnabled() override;
};

class MacSpeech final : public CFCounted<Speech> {
public:
    std::optional<std::string> readFileAsUTF8(std::string_view path) override;
    Script createScript(std::string_view source) override;
    std::optional<std::string> executeScript(const Script& script) override;
    Window createWindow(Rect contentRect, std::uint64_t styleMask, std::uint64_t backing, bool defer) override;
    void setAccessibilityElement(const Window& window, bool isElement) override;
    void setCollectionBehavior(const Window& window, std::uint64_t behavior) override;
    void setIgnoresMouseEvents(const Window& window, bool ignores) override;
    void orderFrontRegardless(const Window& window) override;
    void postAnnouncement(std::string_view text, std::int64_t priority) override;
};

class MacInputMonitoring final : public CFCounted<InputMonitoring> {
public:
    Monitor addGlobalMonitor(std::uint64_t eventMask, InputEventHandler handler) override;
    void removeMonitor(const Monitor& monitor) override;
};

// NSApplication's run loop, NSTimer, the main dispatch queue and NSFileHandle on standard input.
class MacEventLoop final : public CFCounted<EventLoop> {
public:
    void setActivationPolicy(std::int64_t policy) override;
    void scheduleRepeatingTimer(double intervalSeconds, std::function<void(const Timer&)> block) override;
    void invalidateTimer(const Timer& timer) override;
    void runAfter(double delaySeconds, std::function<void()> step) override;
    void setStandardInputReadabilityHandler(std::function<void(StandardInput&)> handler) override;
    int run() override;
    void terminate(int status) override;

private:
    std::atomic<bool> terminating_{false};
    // The standard-input NSFileHandle whose readability handler is set: held for the life of the
    // loop, since nothing else is documented to keep it.
    CFRef<CFTypeRef> standardInput_;
};

} // namespace focusprobe::platform::macos
