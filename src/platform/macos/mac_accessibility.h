#pragma once

#include "platform/accessibility.h"
#include "platform/macos/cf_ref.h"
#include "platform/process.h"

#include <cstdint>
#include <set>

namespace focusprobe::platform::macos {

// The Accessibility API of ApplicationServices; element handles and read values are CF objects.
class MacAccessibility final : public CFCounted<Accessibility> {
public:
    // Requests are timed on the process's monotonic clock.
    explicit MacAccessibility(Process& clock) : clock_(&clock) { }

    bool isProcessTrusted() override;
    Element createApplication(std::int32_t pid) override;
    AXError copyAttributeValue(const Element& element, std::string_view attribute, AttributeValue& value) override;
    AXError setAttributeValueTrue(const Element& element, std::string_view attribute) override;
    AXError isAttributeSettable(const Element& element, std::string_view attribute, bool& settable) override;
    std::optional<Element> asElement(const AttributeValue& value) override;
    std::optional<std::string> stringValue(const AttributeValue& value) override;
    std::optional<std::int64_t> int64Value(const AttributeValue& value) override;
    std::optional<std::vector<Element>> arrayElements(const AttributeValue& value) override;
    bool sizeValue(const AttributeValue& value, Size& size) override;
    bool isString(const AttributeValue& value) override;

private:
    template <class Call> AXError ask(const Element& element, Call call);

    Process* clock_;
    // Applications that let a request wait at least hungAfterSeconds and then fail with
    // kAXErrorCannotComplete: every later request to them fails at once with that code, so a hung
    // application costs one timeout per process instead of one per read. The same code also comes
    // back at once from an application that is busy or still starting (messaging failed); that
    // is one failed read and says nothing about the next.
    std::set<std::int32_t> unresponsivePids_;
};

} // namespace focusprobe::platform::macos
