#pragma once

#include "platform/ref.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace focusprobe::platform {

using Script = Ref<struct ScriptTag>;
using Window = Ref<struct WindowTag>;

struct Rect {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;
};

// What speaking through the screen reader needs: the permission file, AppleScript, the
// announcement window and the announcement request.
class Speech : public RefCounter {
public:
    // The whole file as UTF-8 text; nothing when it is missing, unreadable or not valid UTF-8.
    virtual std::optional<std::string> readFileAsUTF8(std::string_view path) = 0;

    // NSAppleScript initWithSource:; empty when no script object is made.
    virtual Script createScript(std::string_view source) = 0;
    // executeAndReturnError:; the error information, or nothing when the script ran cleanly.
    virtual std::optional<std::string> executeScript(const Script& script) = 0;

    virtual Window createWindow(Rect contentRect, std::uint64_t styleMask, std::uint64_t backing, bool defer) = 0;
    virtual void setAccessibilityElement(const Window& window, bool isElement) = 0;
    virtual void setCollectionBehavior(const Window& window, std::uint64_t behavior) = 0;
    virtual void setIgnoresMouseEvents(const Window& window, bool ignores) = 0;
    virtual void orderFrontRegardless(const Window& window) = 0;

    // The announcement request, with the application object as element.
    virtual void postAnnouncement(std::string_view text, std::int64_t priority) = 0;

protected:
    Speech() = default;
    Speech(const Speech&) = default;
    Speech& operator=(const Speech&) = default;
    ~Speech() = default;
};

} // namespace focusprobe::platform
