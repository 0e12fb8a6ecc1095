#pragma once

#include "fakes/call_log.h"
#include "platform/accessibility.h"

#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace focusprobe::testing {

// Accessibility error codes the fake answers with.
inline constexpr platform::AXError axErrorFailure = -25200;
inline constexpr platform::AXError axErrorInvalidUIElement = -25202;
inline constexpr platform::AXError axErrorCannotComplete = -25204;
inline constexpr platform::AXError axErrorAttributeUnsupported = -25205;
inline constexpr platform::AXError axErrorNoValue = -25212;
inline constexpr platform::AXError axErrorAPIDisabled = -25211;

// Element trees of other applications, built in a test with a small builder:
//
//   auto text = ax.element("text").role("AXTextArea").size(30, 20);
//   auto window = ax.element("window").role("AXWindow").children({ax.element("group").children({text})});
//
// Every reference handed out is counted: liveReferences() must be 0 when a flow is done, and
// overReleases() counts releases of objects nobody held.
class FakeAccessibility final : public platform::Accessibility {
public:
    using Id = std::size_t;
    struct ElementValue {
        Id id;
    };
    // A number; int64 is empty for one that has no lossless 64-bit integer form (2.5, 1e30).
    struct Number {
        std::optional<std::int64_t> int64;
    };
    // Any other kind of value: a Boolean, a point, a URL.
    struct Other { };
    using Value = std::variant<ElementValue, std::string, Number, std::vector<Id>, platform::Size, Other>;

    class Node {
    public:
        Node(FakeAccessibility& ax, Id id) : ax_(&ax), id_(id) { }
        [[nodiscard]] Id id() const { return id_; }
        [[nodiscard]] platform::RawRef raw() const;

        Node& role(std::string role) { return value("AXRole", std::move(role)); }
        Node& size(double width, double height) { return value("AXSize", platform::Size{width, height}); }
        Node& children(std::initializer_list<Node> nodes);
        Node& editableAncestor(const Node& ancestor) { return value("AXEditableAncestor", ElementValue{ancestor.id_}); }
        Node& characters(std::int64_t count) { return value("AXNumberOfCharacters", Number{count}); }
        Node& value(const std::string& attribute, Value v);
        // Reads of the attribute fail with this code.
        Node& fail(const std::string& attribute, platform::AXError error = axErrorNoValue);
        // Reads of the attribute succeed with no value.
        Node& nullValue(const std::string& attribute);
        // What isAttributeSettable answers for the attribute.
        Node& settable(
            const std::string& attribute, bool isSettable, platform::AXError error = platform::axErrorSuccess);
        // What setting the attribute answers (unsupported when not given).
        Node& onSet(const std::string& attribute, platform::AXError error);
        // A reference that names no node, handed out for children a backend's time ran out
        // before it could read.
        Node& standIn();

    private:
        FakeAccessibility* ax_;
        Id id_;
    };

    explicit FakeAccessibility(CallLog& log) : log_(log) { }

    // A new element; the label names it in the call log.
    Node element(std::string label);
    // The element that createApplication(pid) hands out.
    Node application(std::int32_t pid, std::string label = "app");
    Node node(Id id) { return {*this, id}; }

    [[nodiscard]] long liveReferences() const;
    [[nodiscard]] long overReleases() const { return overReleases_; }
    [[nodiscard]] const std::string& label(platform::RawRef raw) const;
    [[nodiscard]] std::optional<Id> idOf(platform::RawRef raw) const;

    bool trusted = true;
    // Runs at the start of every call into the fake (a clock that moves with each request).
    std::function<void()> onCall;
    // Runs after each successful set (focus moving to the element, say).
    std::function<void(Id element, const std::string& attribute)> afterSet;

    bool isProcessTrusted() override;
    platform::Element createApplication(std::int32_t pid) override;
    platform::AXError copyAttributeValue(
        const platform::Element& element, std::string_view attribute, platform::AttributeValue& value) override;
    platform::AXError setAttributeValueTrue(const platform::Element& element, std::string_view attribute) override;
    platform::AXError isAttributeSettable(
        const platform::Element& element, std::string_view attribute, bool& settable) override;
    std::optional<platform::Element> asElement(const platform::AttributeValue& value) override;
    std::optional<std::string> stringValue(const platform::AttributeValue& value) override;
    std::optional<std::int64_t> int64Value(const platform::AttributeValue& value) override;
    std::optional<std::vector<platform::Element>> arrayElements(const platform::AttributeValue& value) override;
    bool sizeValue(const platform::AttributeValue& value, platform::Size& size) override;
    bool isStandIn(const platform::Element& element) override;
    void retain(platform::RawRef ref) override;
    void release(platform::RawRef ref) override;

private:
    struct Reply {
        platform::AXError error = platform::axErrorSuccess;
        std::optional<Value> value;
    };
    struct Object {
        Id id = 0;
        bool isElement = true;
        bool standIn = false;
        std::string label;
        std::map<std::string, Reply, std::less<>> attributes;
        std::map<std::string, std::pair<platform::AXError, bool>, std::less<>> settable;
        std::map<std::string, platform::AXError, std::less<>> setResults;
        std::optional<Value> value; // what a value object holds
        long references = 0;
    };

    Object& object(platform::RawRef raw);
    const Object* valueObject(const platform::AttributeValue& value);
    void called(std::string entry);

    CallLog& log_;
    std::deque<Object> objects_;
    std::map<std::int32_t, Id> applications_;
    long overReleases_ = 0;
};

} // namespace focusprobe::testing
