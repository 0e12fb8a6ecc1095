#include "platform/macos/mac_accessibility.h"

#include "platform/macos/value_conversion.h"

#include <ApplicationServices/ApplicationServices.h>

namespace focusprobe::platform::macos {
namespace {

AXUIElementRef axElement(const Element& element)
{
    return static_cast<AXUIElementRef>(element.get());
}

bool hasType(CFTypeRef value, CFTypeID type)
{
    return value != nullptr && CFGetTypeID(value) == type;
}

// The 128-bit integer type CFNumber uses for values past the signed 64-bit range (unsigned 64-bit
// values among them); the public header stops at kCFNumberMaxType. CFNumberGetType reports it as
// kCFNumberSInt64Type, and reading such a number as kCFNumberSInt64Type keeps the low half and
// reports success, so only a read through this type can tell that a value does not fit.
constexpr CFNumberType cfNumberSInt128Type = static_cast<CFNumberType>(17);
struct CFSInt128 {
    std::int64_t high;
    std::uint64_t low;
};

// A request that waited this long before failing was one the application did not answer: far
// more than a busy application's transient failure takes, far less than the messaging timeout.
constexpr double hungAfterSeconds = 1.0;

} // namespace

template <class Call> AXError MacAccessibility::ask(const Element& element, Call call)
{
    pid_t pid = 0;
    const bool known = AXUIElementGetPid(axElement(element), &pid) == kAXErrorSuccess;
    if (known && unresponsivePids_.contains(pid)) {
        return kAXErrorCannotComplete;
    }
    const double start = clock_->now();
    const AXError error = call();
    if (known && error == kAXErrorCannotComplete && clock_->now() - start >= hungAfterSeconds) {
        unresponsivePids_.insert(pid);
    }
    return error;
}

bool MacAccessibility::isProcessTrusted()
{
    return AXIsProcessTrusted();
}

Element MacAccessibility::createApplication(std::int32_t pid)
{
    return Element::adopt(*this, AXUIElementCreateApplication(pid));
}

AXError MacAccessibility::copyAttributeValue(const Element& element, std::string_view attribute, AttributeValue& value)
{
    const auto name = makeCFString(attribute);
    if (!element || !name) {
        return kAXErrorIllegalArgument;
    }
    CFTypeRef raw = nullptr;
    const AXError error
        = ask(element, [&] { return AXUIElementCopyAttributeValue(axElement(element), name.get(), &raw); });
    // Adopted on every path, so a value that comes with an error is still released once.
    auto copied = AttributeValue::adopt(*this, raw);
    if (error == kAXErrorSuccess) {
        value = std::move(copied);
    }
    return error;
}

AXError MacAccessibility::setAttributeValueTrue(const Element& element, std::string_view attribute)
{
    const auto name = makeCFString(attribute);
    if (!element || !name) {
        return kAXErrorIllegalArgument;
    }
    return ask(element, [&] { return AXUIElementSetAttributeValue(axElement(element), name.get(), kCFBooleanTrue); });
}

AXError MacAccessibility::isAttributeSettable(const Element& element, std::string_view attribute, bool& settable)
{
    settable = false;
    const auto name = makeCFString(attribute);
    if (!element || !name) {
        return kAXErrorIllegalArgument;
    }
    Boolean flag = false;
    const AXError error
        = ask(element, [&] { return AXUIElementIsAttributeSettable(axElement(element), name.get(), &flag); });
    settable = flag != 0;
    return error;
}

std::optional<Element> MacAccessibility::asElement(const AttributeValue& value)
{
    // Anything else (kCFNull, a string, an AXValue) would be sent to the next request as an element.
    if (!hasType(value.get(), AXUIElementGetTypeID())) {
        return std::nullopt;
    }
    return Element::retain(*this, value.get());
}

std::optional<std::string> MacAccessibility::stringValue(const AttributeValue& value)
{
    if (!hasType(value.get(), CFStringGetTypeID())) {
        return std::nullopt;
    }
    return utf8FromCFString(static_cast<CFStringRef>(value.get()));
}

bool MacAccessibility::isString(const AttributeValue& value)
{
    // By type alone: a document's whole text can be megabytes, and nothing of it is needed.
    return hasType(value.get(), CFStringGetTypeID());
}

std::optional<std::int64_t> MacAccessibility::int64Value(const AttributeValue& value)
{
    if (!hasType(value.get(), CFNumberGetTypeID())) {
        return std::nullopt;
    }
    const auto number = static_cast<CFNumberRef>(value.get());
    if (CFNumberIsFloatType(number)) {
        double real = 0.0;
        if (!CFNumberGetValue(number, kCFNumberFloat64Type, &real)) {
            return std::nullopt;
        }
        return int64FromDouble(real);
    }
    // Every integer, whatever CFNumber stores it as, reads without loss as the 128-bit type.
    CFSInt128 wide{0, 0};
    if (!CFNumberGetValue(number, cfNumberSInt128Type, &wide)) {
        return std::nullopt;
    }
    return int64FromInt128(wide.high, wide.low);
}

std::optional<std::vector<Element>> MacAccessibility::arrayElements(const AttributeValue& value)
{
    if (!hasType(value.get(), CFArrayGetTypeID())) {
        return std::nullopt;
    }
    const auto array = static_cast<CFArrayRef>(value.get());
    const CFIndex count = CFArrayGetCount(array);
    std::vector<Element> elements;
    elements.reserve(static_cast<std::size_t>(count));
    for (CFIndex i = 0; i < count; ++i) {
        // The array owns its items (the Get rule): each holder takes its own reference.
        const CFTypeRef item = CFArrayGetValueAtIndex(array, i);
        if (hasType(item, AXUIElementGetTypeID())) {
            elements.push_back(Element::retain(*this, item));
        }
    }
    return elements;
}

bool MacAccessibility::sizeValue(const AttributeValue& value, Size& size)
{
    // AXValueGetValue is only defined on AXValues; anything else holds no size.
    if (!hasType(value.get(), AXValueGetTypeID())) {
        return false;
    }
    CGSize cgSize = CGSizeMake(0.0, 0.0);
    if (!AXValueGetValue(static_cast<AXValueRef>(value.get()), kAXValueTypeCGSize, &cgSize)) {
        return false;
    }
    size.width = cgSize.width;
    size.height = cgSize.height;
    return true;
}

} // namespace focusprobe::platform::macos
