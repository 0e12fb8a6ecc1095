#include "platform/headless/headless_backend.h"

#include "platform/posix/poll_loop.h"
#include "platform/posix/posix_process.h"

namespace focusprobe::platform {
namespace {

// kAXErrorCannotComplete: there is nobody to answer.
constexpr AXError cannotComplete = -25204;

class HeadlessAccessibility final : public Accessibility {
public:
    bool isProcessTrusted() override { return false; }
    Element createApplication(std::int32_t /*pid*/) override { return Element::retain(*this, &deadElement_); }
    AXError copyAttributeValue(
        const Element& /*element*/, std::string_view /*attribute*/, AttributeValue& /*value*/) override
    {
        return cannotComplete;
    }
    AXError setAttributeValueTrue(const Element& /*element*/, std::string_view /*attribute*/) override
    {
        return cannotComplete;
    }
    AXError isAttributeSettable(const Element& /*element*/, std::string_view /*attribute*/, bool& settable) override
    {
        settable = false;
        return cannotComplete;
    }
    std::optional<std::string> stringValue(const AttributeValue& /*value*/) override { return std::nullopt; }
    std::optional<std::int64_t> int64Value(const AttributeValue& /*value*/) override { return std::nullopt; }
    std::optional<std::vector<Element>> arrayElements(const AttributeValue& /*value*/) override { return std::nullopt; }
    bool sizeValue(const AttributeValue& /*value*/, Size& /*size*/) override { return false; }
    // The one element this backend hands out is static.
    void retain(RawRef /*ref*/) override { }
    void release(RawRef /*ref*/) override { }

private:
    char deadElement_ = 0;
};

class HeadlessWorkspace final : public Workspace {
public:
    std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
    bool isVoiceOverEnabled() override { return false; }
};

class HeadlessKeyboard final : public KeyboardLayouts {
public:
    InputSource copyCurrentKeyboardLayoutInputSource() override { return {}; }
    InputSource copyCurrentASCIICapableKeyboardLayoutInputSource() override { return {}; }
    std::optional<std::span<const std::byte>> unicodeKeyLayoutData(const InputSource& /*source*/) override
    {
        return std::nullopt;
    }
    std::uint8_t keyboardType() override { return 0; }
    OSStatus translateKey(const std::byte* /*layoutData*/, std::uint16_t /*virtualKeyCode*/,
        std::uint16_t /*keyAction*/, std::uint32_t /*modifierKeyState*/, std::uint32_t /*keyboardType*/,
        std::uint32_t /*keyTranslateOptions*/, std::uint32_t& /*deadKeyState*/, std::size_t /*maxStringLength*/,
        std::size_t& actualStringLength, char16_t* /*unicodeString*/) override
    {
        actualStringLength = 0;
        return -50; // paramErr: there is no layout to translate with
    }
    void retain(RawRef /*ref*/) override { }
    void release(RawRef /*ref*/) override { }
};

class HeadlessEvents final : public EventPosting {
public:
    EventSource createEventSource(std::int32_t /*stateID*/) override { return {}; }
    Event createKeyboardEvent(const EventSource& /*source*/, std::uint16_t /*virtualKey*/, bool /*keyDown*/) override
    {
        return {};
    }
    void setLocalEventsFilterDuringSuppressionState(
        const EventSource& /*source*/, std::uint32_t /*filter*/, std::int32_t /*state*/) override
    {
    }
    void setFlags(const Event& /*event*/, std::uint64_t /*flags*/) override { }
    void post(std::uint32_t /*tapLocation*/, const Event& /*event*/) override { }
    void retain(RawRef /*ref*/) override { }
    void release(RawRef /*ref*/) override { }
};

class HeadlessSpeech final : public Speech {
public:
    std::optional<std::string> readFileAsUTF8(std::string_view /*path*/) override { return std::nullopt; }
    Script createScript(std::string_view /*source*/) override { return {}; }
    std::optional<std::string> executeScript(const Script& /*script*/) override
    {
        return std::string("no script runner");
    }
    Window createWindow(
        Rect /*contentRect*/, std::uint64_t /*styleMask*/, std::uint64_t /*backing*/, bool /*defer*/) override
    {
        return {};
    }
    void setAccessibilityElement(const Window& /*window*/, bool /*isElement*/) override { }
    void setCollectionBehavior(const Window& /*window*/, std::uint64_t /*behavior*/) override { }
    void setIgnoresMouseEvents(const Window& /*window*/, bool /*ignores*/) override { }
    void orderFrontRegardless(const Window& /*window*/) override { }
    void postAnnouncement(std::string_view /*text*/, std::int64_t /*priority*/) override { }
    void retain(RawRef /*ref*/) override { }
    void release(RawRef /*ref*/) override { }
};

class HeadlessInput final : public InputMonitoring {
public:
    Monitor addGlobalMonitor(std::uint64_t /*eventMask*/, InputEventHandler /*handler*/) override { return {}; }
    void removeMonitor(const Monitor& /*monitor*/) override { }
    void retain(RawRef /*ref*/) override { }
    void release(RawRef /*ref*/) override { }
};

class HeadlessBackend final : public Backend {
public:
    Platform platform() override
    {
        return Platform{accessibility_, workspace_, process_, keyboard_, events_, speech_, input_, loop_};
    }

private:
    HeadlessAccessibility accessibility_;
    HeadlessWorkspace workspace_;
    PosixProcess process_;
    HeadlessKeyboard keyboard_;
    HeadlessEvents events_;
    HeadlessSpeech speech_;
    HeadlessInput input_;
    PollLoop loop_;
};

} // namespace

std::unique_ptr<Backend> makeHeadlessBackend()
{
    return std::make_unique<HeadlessBackend>();
}

} // namespace focusprobe::platform
