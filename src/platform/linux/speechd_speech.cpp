#include "platform/linux/speechd_speech.h"

#include "platform/linux/common/ownership.h"
#include "platform/linux/ssip/client.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <pwd.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace focusprobe::platform::desktop {
namespace {

class SpeechDispatcherSpeech final : public Speech {
public:
    SpeechDispatcherSpeech(XConnection* display, const Deadline& deadline) : display_(display), deadline_(deadline) { }
    SpeechDispatcherSpeech(const SpeechDispatcherSpeech&) = delete;
    SpeechDispatcherSpeech& operator=(const SpeechDispatcherSpeech&) = delete;

    std::optional<std::string> readFileAsUTF8(std::string_view path) override
    {
        std::ifstream file{std::string(path), std::ios::binary};
        if (!file) {
            return std::nullopt;
        }
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (file.bad() || !isValidUtf8(text)) {
            return std::nullopt;
        }
        return text;
    }

    // There is no script runner here; the window path speaks instead.
    Script createScript(std::string_view /*source*/) override { return {}; }
    std::optional<std::string> executeScript(const Script& /*script*/) override
    {
        return std::string("no script runner");
    }

    Window createWindow(
        Rect contentRect, std::uint64_t /*styleMask*/, std::uint64_t /*backing*/, bool /*defer*/) override
    {
        auto* object = new Object();
        // Without a display (Wayland) nothing needs a window to speak.
        if (display_ == nullptr) {
            return Window::adopt(*this, object);
        }
        xcb_connection_t* c = display_->get();
        const xcb_window_t window = xcb_generate_id(c);
        const std::uint32_t overrideRedirect = 1;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, display_->root(), static_cast<std::int16_t>(contentRect.x),
            static_cast<std::int16_t>(contentRect.y), static_cast<std::uint16_t>(std::max(contentRect.width, 1.0)),
            static_cast<std::uint16_t>(std::max(contentRect.height, 1.0)), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
            XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
        object->window = window;
        return Window::adopt(*this, object);
    }

    // The window is override-redirect: no window manager lists it and it takes no input focus.
    void setAccessibilityElement(const Window& /*window*/, bool /*isElement*/) override { }
    void setCollectionBehavior(const Window& /*window*/, std::uint64_t /*behavior*/) override { }
    void setIgnoresMouseEvents(const Window& /*window*/, bool /*ignores*/) override { }

    void orderFrontRegardless(const Window& window) override
    {
        if (const auto* object = static_cast<const Object*>(window.get()); object != nullptr && display_ != nullptr) {
            const std::uint32_t above = XCB_STACK_MODE_ABOVE;
            xcb_configure_window(display_->get(), object->window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
            xcb_map_window(display_->get(), object->window);
            xcb_flush(display_->get());
        }
    }

    void postAnnouncement(std::string_view text, std::int64_t priority) override
    {
        const auto path = ssip::socketPath(std::getenv("SPEECHD_ADDRESS"), std::getenv("XDG_RUNTIME_DIR"),
            std::getenv("XDG_CACHE_HOME"), std::getenv("HOME"));
        if (!path) {
            return;
        }
        // A server that accepts and never answers, or is stopped, costs what is left of the
        // command's budget and then nothing is said, as with no server at all.
        auto client = ssip::Client::connect(*path, deadline_);
        if (!client) {
            return;
        }
        // High announcements interrupt ordinary messages, as the screen reader's own do.
        constexpr std::int64_t highPriority = 90;
        constexpr std::int64_t mediumPriority = 50;
        const char* level = priority >= highPriority ? "important" : priority >= mediumPriority ? "message" : "text";
        if (client->say(clientName(), level, text, deadline_)) {
            // Kept open until the process ends: the message is the connection's to speak.
            client_ = std::move(client);
        }
    }

    void retain(RawRef ref) override { retainCounted<Object>(ref); }
    void release(RawRef ref) override { releaseCounted<Object>(ref); }

private:
    struct Object {
        int refs = 1;
        std::uint32_t window = 0;
    };

    static bool isValidUtf8(const std::string& text)
    {
        std::size_t i = 0;
        while (i < text.size()) {
            const auto lead = static_cast<unsigned char>(text[i]);
            std::size_t length = 0;
            char32_t minimum = 0;
            char32_t c = 0;
            if (lead < 0x80) {
                ++i;
                continue;
            }
            if ((lead & 0xE0U) == 0xC0U) {
                length = 2;
                minimum = 0x80;
                c = lead & 0x1FU;
            } else if ((lead & 0xF0U) == 0xE0U) {
                length = 3;
                minimum = 0x800;
                c = lead & 0x0FU;
            } else if ((lead & 0xF8U) == 0xF0U) {
                length = 4;
                minimum = 0x10000;
                c = lead & 0x07U;
            } else {
                return false;
            }
            if (i + length > text.size()) {
                return false;
            }
            for (std::size_t k = 1; k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0U) != 0x80U) {
                    return false;
                }
                c = (c << 6U) | (next & 0x3FU);
            }
            if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
                return false;
            }
            i += length;
        }
        return true;
    }

    // user:client:component, as the speech server lists its clients; the user part is the login
    // name with nothing that would split the field.
    static std::string clientName()
    {
        std::string user = "unknown";
        if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_name != nullptr) {
            user = entry->pw_name;
        }
        std::replace_if(
            user.begin(), user.end(), [](char c) { return c == ':' || c == ' ' || c < ' '; }, '_');
        return user + ":focusprobe:announce";
    }

    XConnection* display_;
    Deadline deadline_;
    std::optional<ssip::Client> client_;
};

} // namespace

PiecePtr<Speech> makeSpeechDispatcherSpeech(XConnection* display, const Deadline& deadline)
{
    return makePiece<SpeechDispatcherSpeech, Speech>(display, deadline);
}

} // namespace focusprobe::platform::desktop
