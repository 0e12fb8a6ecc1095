#pragma once

#include "platform/accessibility.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace focusprobe {

using platform::Element;

// The one way an attribute is read: any error code, or success without a value, is absence;
// a value of the wrong kind is absence too. The read value is released once converted.
std::optional<Element> readElementAttribute(
    platform::Accessibility& ax, const Element& element, std::string_view attribute);
std::optional<std::string> readStringAttribute(
    platform::Accessibility& ax, const Element& element, std::string_view attribute);
std::optional<std::int64_t> readIntegerAttribute(
    platform::Accessibility& ax, const Element& element, std::string_view attribute);
std::optional<std::vector<Element>> readElementListAttribute(
    platform::Accessibility& ax, const Element& element, std::string_view attribute);
std::optional<platform::Size> readSizeAttribute(
    platform::Accessibility& ax, const Element& element, std::string_view attribute);
// Whether the read gives a value of any kind; the value itself is not looked at.
bool readsAnyValue(platform::Accessibility& ax, const Element& element, std::string_view attribute);
// Whether the read gives a string, judged by its kind alone: nothing of the text is copied.
bool readsString(platform::Accessibility& ax, const Element& element, std::string_view attribute);

// "AXRole" as a string.
std::optional<std::string> axRole(platform::Accessibility& ax, const Element& element);
// "AXChildren"; the empty list when it cannot be read.
std::vector<Element> axChildren(platform::Accessibility& ax, const Element& element);
// Width times height of "AXSize"; 0 when it cannot be read.
double axArea(platform::Accessibility& ax, const Element& element);
// "AXNumberOfCharacters" as an integer.
std::optional<std::int64_t> readValueLen(platform::Accessibility& ax, const Element& element);

// The text-entry roles: an element with one of them counts as a text entry.
bool isTextEntryRole(std::string_view role);

} // namespace focusprobe
