#include "ax/attributes.h"

#include <array>

namespace focusprobe {
namespace {

std::optional<platform::AttributeValue> copyValue(
    platform::Accessibility& ax, const Element& element, std::string_view attribute)
{
    platform::AttributeValue value;
    if (ax.copyAttributeValue(element, attribute, value) != platform::axErrorSuccess || !value) {
        return std::nullopt;
    }
    return value;
}

} // namespace

bool readsAnyValue(platform::Accessibility& ax, const Element& element, std::string_view attribute)
{
    return copyValue(ax, element, attribute).has_value();
}

bool readsString(platform::Accessibility& ax, const Element& element, std::string_view attribute)
{
    auto value = copyValue(ax, element, attribute);
    return value && ax.isString(*value);
}

std::optional<Element> readElementAttribute(
    platform::Accessibility& ax, const Element& element, std::string_view attribute)
{
    // A value of another kind (a null, a string) would go into the next request as an element.
    auto value = copyValue(ax, element, attribute);
    return value ? ax.asElement(*value) : std::nullopt;
}

std::optional<std::string> readStringAttribute(
    platform::Accessibility& ax, const Element& element, std::string_view attribute)
{
    auto value = copyValue(ax, element, attribute);
    return value ? ax.stringValue(*value) : std::nullopt;
}

std::optional<std::int64_t> readIntegerAttribute(
    platform::Accessibility& ax, const Element& element, std::string_view attribute)
{
    auto value = copyValue(ax, element, attribute);
    return value ? ax.int64Value(*value) : std::nullopt;
}

std::optional<std::vector<Element>> readElementListAttribute(
    platform::Accessibility& ax, const Element& element, std::string_view attribute)
{
    auto value = copyValue(ax, element, attribute);
    return value ? ax.arrayElements(*value) : std::nullopt;
}

std::optional<platform::Size> readSizeAttribute(
    platform::Accessibility& ax, const Element& element, std::string_view attribute)
{
    auto value = copyValue(ax, element, attribute);
    platform::Size size{0.0, 0.0};
    if (!value || !ax.sizeValue(*value, size)) {
        return std::nullopt;
    }
    return size;
}

std::optional<std::string> axRole(platform::Accessibility& ax, const Element& element)
{
    return readStringAttribute(ax, element, "AXRole");
}

std::vector<Element> axChildren(platform::Accessibility& ax, const Element& element)
{
    auto children = readElementListAttribute(ax, element, "AXChildren");
    return children ? std::move(*children) : std::vector<Element>{};
}

double axArea(platform::Accessibility& ax, const Element& element)
{
    const auto size = readSizeAttribute(ax, element, "AXSize");
    if (!size) {
        return 0.0;
    }
    // A side below zero is no side at all: two negative sides would otherwise multiply into a
    // huge area and win the composer search. A NaN side stays NaN, so it still never wins.
    const auto side = [](double length) { return length < 0.0 ? 0.0 : length; };
    return side(size->width) * side(size->height);
}

std::optional<std::int64_t> readValueLen(platform::Accessibility& ax, const Element& element)
{
    return readIntegerAttribute(ax, element, "AXNumberOfCharacters");
}

bool isTextEntryRole(std::string_view role)
{
    constexpr std::array<std::string_view, 3> textEntryRoles{"AXTextField", "AXTextArea", "AXComboBox"};
    for (const auto entry : textEntryRoles) {
        if (role == entry) {
            return true;
        }
    }
    return false;
}

} // namespace focusprobe
