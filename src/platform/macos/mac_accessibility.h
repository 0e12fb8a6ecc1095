#pragma once

#include "platform/accessibility.h"
#include "platform/macos/cf_ref.h"

#include <cstdint>
#include <set>

namespace focusprobe::platform::macos {

// The Accessibility API of ApplicationServices; element handles and read values are CF objects.
class MacAccessibility final : public CFCounted<Accessibility> {
public:
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

private:
    template <class Call> AXError ask(const Element& element, Call call);

    // Applications that let a request run into the messaging timeout (kAXErrorCannotComplete):
    // every later request to them fails at once with that code, so a hung application costs one
    // timeout per process instead of one per read.
    std::set<std::int32_t> unresponsivePids_;
};

} // namespace focusprobe::platform::macos
