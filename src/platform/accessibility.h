#pragma once

#include "platform/ref.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace focusprobe::platform {

using Element = Ref<struct ElementTag>;
using AttributeValue = Ref<struct AttributeValueTag>;

// The platform's accessibility error code; only success is ever told apart.
using AXError = std::int32_t;
inline constexpr AXError axErrorSuccess = 0;

struct Size {
    double width = 0.0;
    double height = 0.0;
};

// The accessibility API of the desktop platform, one call per platform function. Attribute names
// are the platform's own strings ("AXRole"). Read values are owned references that the caller
// converts with the conversion calls below; every conversion leaves the value owned by the caller.
class Accessibility : public RefCounter {
public:
    virtual bool isProcessTrusted() = 0;

    // A new, owned element for the application with this process id. Never fails; an element for
    // a process that is gone makes every read on it fail.
    virtual Element createApplication(std::int32_t pid) = 0;

    // On success `value` holds an owned value, or stays empty (success with no value).
    virtual AXError copyAttributeValue(const Element& element, std::string_view attribute, AttributeValue& value) = 0;

    // Sets the attribute to the platform's Boolean true.
    virtual AXError setAttributeValueTrue(const Element& element, std::string_view attribute) = 0;

    virtual AXError isAttributeSettable(const Element& element, std::string_view attribute, bool& settable) = 0;

    // Conversions of a read value. Each gives nothing when the value is not of that kind.
    // An element, retained for the caller. A backend whose every read value of an element
    // attribute is one of its elements keeps this default.
    virtual std::optional<Element> asElement(const AttributeValue& value)
    {
        return value ? std::optional<Element>(value.retainAs<ElementTag>()) : std::nullopt;
    }
    // Whether an element is a stand-in a backend hands out, in a children list, for children its
    // time ran out before it could read: it names no node, and only tells a walk that nodes were
    // left unexamined.
    virtual bool isStandIn(const Element& /*element*/) { return false; }
    // Strings come as UTF-8, with an unpaired UTF-16 surrogate read as U+FFFD.
    virtual std::optional<std::string> stringValue(const AttributeValue& value) = 0;
    // Whether the value is a string, without converting it.
    virtual bool isString(const AttributeValue& value) { return stringValue(value).has_value(); }
    // Only a number that converts to a signed 64-bit integer without loss.
    virtual std::optional<std::int64_t> int64Value(const AttributeValue& value) = 0;
    // The items of an array that are elements, each retained for the caller.
    virtual std::optional<std::vector<Element>> arrayElements(const AttributeValue& value) = 0;
    // AXValueGetValue with the size type; false when the value holds no size.
    virtual bool sizeValue(const AttributeValue& value, Size& size) = 0;

protected:
    Accessibility() = default;
    Accessibility(const Accessibility&) = default;
    Accessibility& operator=(const Accessibility&) = default;
    ~Accessibility() = default;
};

} // namespace focusprobe::platform
