#include "keys/paste.h"

#include "context/output.h"
#include "keys/key_code.h"

#include <array>
#include <cstdint>
#include <optional>

namespace focusprobe {
namespace {

constexpr std::int32_t combinedSessionState = 0; // kCGEventSourceStateCombinedSessionState
constexpr std::uint16_t commandKeyCode = 55;
// kCGEventFlagMaskCommand plus the device bit of the left Command key. Setting flags replaces the
// whole word, so modifiers the user happens to hold never ride along.
constexpr std::uint64_t commandFlags = 0x100008;
// Local mouse and system-defined events still pass while ours are delivered; local keys do not.
constexpr std::uint32_t localEventsFilter = 0x1 | 0x4;
constexpr std::int32_t suppressionInterval = 0; // kCGEventSuppressionStateSuppressionInterval
constexpr std::uint32_t sessionEventTap = 1; // kCGSessionEventTap
constexpr std::uint32_t pauseMicroseconds = 8000;

struct KeyStroke {
    std::uint16_t keyCode;
    bool keyDown;
    std::uint64_t flags;
};

// Destroyed events first, then their source.
struct PasteEvents {
    platform::EventSource source;
    std::array<platform::Event, 4> events;
};

std::array<KeyStroke, 4> pasteStrokes(std::uint16_t vKeyCode)
{
    return {{
        {commandKeyCode, true, commandFlags},
        {vKeyCode, true, commandFlags},
        {vKeyCode, false, commandFlags},
        {commandKeyCode, false, 0},
    }};
}

// All or nothing: a creation failure must never leave a half-pressed Command key behind, so
// nothing is posted until every event exists.
std::optional<PasteEvents> createPasteEvents(platform::EventPosting& posting, const std::array<KeyStroke, 4>& strokes)
{
    PasteEvents created{posting.createEventSource(combinedSessionState), {}};
    if (!created.source) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < strokes.size(); ++i) {
        created.events.at(i)
            = posting.createKeyboardEvent(created.source, strokes.at(i).keyCode, strokes.at(i).keyDown);
        if (!created.events.at(i)) {
            return std::nullopt;
        }
    }
    return created;
}

} // namespace

int runPaste(Context& context)
{
    auto& platform = context.platform;
    if (!platform.accessibility.isProcessTrusted()) {
        printLine(platform.process, "untrusted");
        return 0;
    }
    const auto strokes = pasteStrokes(keyCodeTypingV(platform.keyboard));
    const auto created = createPasteEvents(platform.events, strokes);
    if (!created) {
        printLine(platform.process, "no_event");
        return 0;
    }
    platform.events.setLocalEventsFilterDuringSuppressionState(created->source, localEventsFilter, suppressionInterval);
    for (std::size_t i = 0; i < strokes.size(); ++i) {
        platform.events.setFlags(created->events.at(i), strokes.at(i).flags);
    }
    // From the first press to the last release, a host's kill waits: ended in between, the
    // process would leave Command (or V) down for every later keystroke of the user.
    platform.process.holdTerminationSignals();
    for (std::size_t i = 0; i < strokes.size(); ++i) {
        platform.events.post(sessionEventTap, created->events.at(i));
        if (i + 1 < strokes.size()) {
            platform.process.sleepMicroseconds(pauseMicroseconds);
        }
    }
    platform.process.releaseTerminationSignals();
    printLine(platform.process, "ok");
    return 0;
}

} // namespace focusprobe
