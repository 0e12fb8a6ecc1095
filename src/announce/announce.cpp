#include "announce/announce.h"

namespace focusprobe {
namespace {

void replaceAll(std::string& text, std::string_view from, std::string_view to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// Accessory application, invisible window, then the request at 0.8 s and the end at 3.0 s.
int announceFromWindow(Context& context, std::string_view text)
{
    platform::EventLoop& loop = context.platform.loop;
    platform::Speech& speech = context.platform.speech;
    loop.setActivationPolicy(accessoryActivationPolicy);
    // Held until the loop ends: the window must outlive the announcement.
    const platform::Window window
        = speech.createWindow(announcementWindowRect, borderlessStyleMask, bufferedBacking, false);
    speech.setAccessibilityElement(window, false);
    speech.setCollectionBehavior(window, transientIgnoresCycleBehavior);
    speech.setIgnoresMouseEvents(window, true);
    speech.orderFrontRegardless(window);
    loop.runAfter(announcementDelaySeconds,
        [&speech, text = std::string(text)] { speech.postAnnouncement(text, announcementPriority); });
    // Whether or not the speech has finished.
    loop.runAfter(announceExitDelaySeconds, [&loop] { loop.terminate(0); });
    // A loop that could not go on (its wait failed) ends the command too, but the host learns
    // nothing from announce, a failure included: only modtap reports one.
    loop.run();
    return 0;
}

} // namespace

bool allowsAppleScript(const std::optional<std::string>& permissionText)
{
    return permissionText && permissionText->starts_with('a');
}

std::string escapeForAppleScript(std::string_view text)
{
    std::string escaped(text);
    replaceAll(escaped, "\\", "\\\\");
    replaceAll(escaped, "\"", "\\\"");
    return escaped;
}

std::string voiceOverScript(std::string_view text)
{
    return R"(tell application "VoiceOver" to output ")" + escapeForAppleScript(text) + '"';
}

int runAnnounce(Context& context, std::string_view text)
{
    platform::Speech& speech = context.platform.speech;
    if (!context.platform.workspace.isVoiceOverEnabled()) {
        return 0;
    }
    if (!allowsAppleScript(speech.readFileAsUTF8(voiceOverPermissionPath))) {
        return announceFromWindow(context, text);
    }
    const platform::Script script = speech.createScript(voiceOverScript(text));
    if (!script) {
        return 0;
    }
    if (!speech.executeScript(script)) {
        return 0;
    }
    // The error itself is of no use to the host, which hears only silence either way.
    return announceFromWindow(context, text);
}

} // namespace focusprobe
