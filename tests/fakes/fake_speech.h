#pragma once

#include "fakes/call_log.h"
#include "platform/speech.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace focusprobe::testing {

// Speech of the fake desktop. Every call is logged with its values ("speech.readFileAsUTF8
// <path>", "speech.createWindow -2000 -2000 10 10 0 2 false", "speech.setCollectionBehavior #1 72",
// "speech.postAnnouncement 90 <text>"); scripts and windows are numbered objects whose references
// are counted.
class FakeSpeech final : public platform::Speech {
public:
    explicit FakeSpeech(CallLog& log) : log_(log) { }

    std::optional<std::string> readFileAsUTF8(std::string_view path) override
    {
        log_.add("speech.readFileAsUTF8 " + std::string(path));
        return permissionText;
    }

    platform::Script createScript(std::string_view source) override
    {
        log_.add("speech.createScript " + std::string(source));
        return canCreateScript ? platform::Script::retain(*this, &make()) : platform::Script();
    }

    std::optional<std::string> executeScript(const platform::Script& script) override
    {
        log_.add("speech.executeScript " + name(script.get()));
        return scriptError;
    }

    platform::Window createWindow(
        platform::Rect contentRect, std::uint64_t styleMask, std::uint64_t backing, bool defer) override
    {
        std::ostringstream entry;
        entry << "speech.createWindow " << contentRect.x << ' ' << contentRect.y << ' ' << contentRect.width << ' '
              << contentRect.height << ' ' << styleMask << ' ' << backing << ' ' << (defer ? "true" : "false");
        log_.add(entry.str());
        return platform::Window::retain(*this, &make());
    }

    void setAccessibilityElement(const platform::Window& window, bool isElement) override
    {
        log_.add("speech.setAccessibilityElement " + name(window.get()) + (isElement ? " true" : " false"));
    }
    void setCollectionBehavior(const platform::Window& window, std::uint64_t behavior) override
    {
        log_.add("speech.setCollectionBehavior " + name(window.get()) + " " + std::to_string(behavior));
    }
    void setIgnoresMouseEvents(const platform::Window& window, bool ignores) override
    {
        log_.add("speech.setIgnoresMouseEvents " + name(window.get()) + (ignores ? " true" : " false"));
    }
    void orderFrontRegardless(const platform::Window& window) override
    {
        log_.add("speech.orderFrontRegardless " + name(window.get()));
    }

    void postAnnouncement(std::string_view text, std::int64_t priority) override
    {
        log_.add("speech.postAnnouncement " + std::to_string(priority) + " " + std::string(text));
    }

    void retain(platform::RawRef ref) override { ++object(ref).references; }
    void release(platform::RawRef ref) override { --object(ref).references; }

    // References held to scripts and windows.
    [[nodiscard]] long liveReferences() const
    {
        long live = 0;
        for (const auto& o : objects_) {
            live += o.references;
        }
        return live;
    }

    // The permission file's text; nothing when it is missing, unreadable or not UTF-8.
    std::optional<std::string> permissionText;
    bool canCreateScript = true;
    // What running a script reports; nothing when it runs cleanly.
    std::optional<std::string> scriptError;

private:
    struct Object {
        std::size_t id;
        long references = 0;
    };

    Object& make()
    {
        objects_.push_back(Object{objects_.size() + 1});
        return objects_.back();
    }
    Object& object(platform::RawRef ref)
    {
        return *std::find_if(objects_.begin(), objects_.end(), [&](const Object& o) { return &o == ref; });
    }
    [[nodiscard]] static std::string name(platform::RawRef ref)
    {
        if (ref == nullptr) {
            return "none";
        }
        // Appended rather than "#" + ...: GCC 12 at -O2 warns about that with -Wrestrict (a false
        // positive).
        std::string out = "#";
        out += std::to_string(static_cast<const Object*>(ref)->id);
        return out;
    }

    CallLog& log_;
    std::deque<Object> objects_; // stable addresses
};

} // namespace focusprobe::testing
