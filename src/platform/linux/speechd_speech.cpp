#include "platform/linux/speechd_speech.h"

#include "platform/linux/common/ownership.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include <dlfcn.h>
#include <libspeechd.h>
#include <xcb/xcb.h>

namespace focusprobe::platform::desktop {
namespace {

class SpeechDispatcherSpeech final : public Speech {
public:
    explicit SpeechDispatcherSpeech(XConnection* display) : display_(display) { }
    ~SpeechDispatcherSpeech()
    {
        if (connection_ != nullptr) {
            close_(connection_);
        }
    }
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
        if (connection_ == nullptr && loadClient()) {
            connection_ = open_("focusprobe", "announce", nullptr, SPD_MODE_SINGLE);
        }
        if (connection_ == nullptr) {
            return;
        }
        // High announcements interrupt ordinary messages, as the screen reader's own do.
        constexpr std::int64_t highPriority = 90;
        constexpr std::int64_t mediumPriority = 50;
        const SPDPriority spdPriority = priority >= highPriority ? SPD_IMPORTANT
            : priority >= mediumPriority                         ? SPD_MESSAGE
                                                                 : SPD_TEXT;
        const std::string copy(text);
        say_(connection_, spdPriority, copy.c_str());
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

    // The speech client and the libraries under it load only for an announcement, so the other
    // commands start without them.
    bool loadClient()
    {
        if (library_ == nullptr) {
            library_ = dlopen("libspeechd.so.2", RTLD_NOW | RTLD_LOCAL);
            if (library_ == nullptr) {
                return false;
            }
            open_ = reinterpret_cast<decltype(&spd_open)>(dlsym(library_, "spd_open"));
            say_ = reinterpret_cast<decltype(&spd_say)>(dlsym(library_, "spd_say"));
            close_ = reinterpret_cast<decltype(&spd_close)>(dlsym(library_, "spd_close"));
        }
        return open_ != nullptr && say_ != nullptr && close_ != nullptr;
    }

    XConnection* display_;
    void* library_ = nullptr;
    decltype(&spd_open) open_ = nullptr;
    decltype(&spd_say) say_ = nullptr;
    decltype(&spd_close) close_ = nullptr;
    SPDConnection* connection_ = nullptr;
};

} // namespace

PiecePtr<Speech> makeSpeechDispatcherSpeech(XConnection* display)
{
    return makePiece<SpeechDispatcherSpeech, Speech>(display);
}

} // namespace focusprobe::platform::desktop
