// Conversions of real Core Foundation values by the macOS accessibility backend. They need the
// frameworks but no desktop session and no accessibility permission.

#include "fakes/fake_process.h"
#include "platform/macos/mac_accessibility.h"

#include <ApplicationServices/ApplicationServices.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace focusprobe::platform::macos {
namespace {

class MacAccessibilityValues : public ::testing::Test {
protected:
    AttributeValue adopt(CFTypeRef value) { return AttributeValue::adopt(ax, value); }

    AttributeValue number(CFNumberType type, const void* raw)
    {
        return adopt(CFNumberCreate(kCFAllocatorDefault, type, raw));
    }

    AttributeValue cfString(const std::vector<UniChar>& units)
    {
        return adopt(
            CFStringCreateWithCharacters(kCFAllocatorDefault, units.data(), static_cast<CFIndex>(units.size())));
    }

    testing::CallLog log;
    testing::FakeProcess clock{log};
    MacAccessibility ax{clock};
};

TEST_F(MacAccessibilityValues, NumbersBecomeInt64OnlyWhenLossless)
{
    const SInt8 small = -5;
    const SInt64 largest = std::numeric_limits<SInt64>::max();
    const SInt64 smallest = std::numeric_limits<SInt64>::min();
    const double whole = 42.0;
    const double fraction = 2.5;
    const double huge = 1e30;
    const double notANumber = std::nan("");
    const float wholeFloat = 7.0F;
    // The layout of CF's 128-bit integers: high half, then low half.
    struct Int128 {
        SInt64 high;
        UInt64 low;
    };
    const Int128 uint64Max{0, std::numeric_limits<UInt64>::max()};
    const Int128 minusOne{-1, std::numeric_limits<UInt64>::max()};
    const auto int128Type = static_cast<CFNumberType>(17);

    EXPECT_EQ(ax.int64Value(number(kCFNumberSInt8Type, &small)), -5);
    EXPECT_EQ(ax.int64Value(number(kCFNumberSInt64Type, &largest)), largest);
    EXPECT_EQ(ax.int64Value(number(kCFNumberSInt64Type, &smallest)), smallest);
    EXPECT_EQ(ax.int64Value(number(kCFNumberFloat64Type, &whole)), 42);
    EXPECT_EQ(ax.int64Value(number(kCFNumberFloat32Type, &wholeFloat)), 7);
    EXPECT_EQ(ax.int64Value(number(kCFNumberFloat64Type, &fraction)), std::nullopt);
    EXPECT_EQ(ax.int64Value(number(kCFNumberFloat64Type, &huge)), std::nullopt);
    EXPECT_EQ(ax.int64Value(number(kCFNumberFloat64Type, &notANumber)), std::nullopt);
    EXPECT_EQ(ax.int64Value(number(int128Type, &uint64Max)), std::nullopt);
    EXPECT_EQ(ax.int64Value(number(int128Type, &minusOne)), -1);
    // A Boolean is not a number, and neither is a string.
    EXPECT_EQ(ax.int64Value(AttributeValue::retain(ax, kCFBooleanTrue)), std::nullopt);
    EXPECT_EQ(ax.int64Value(cfString({u'1'})), std::nullopt);
}

TEST_F(MacAccessibilityValues, StringsAreUtf8WithLoneSurrogatesReplaced)
{
    EXPECT_EQ(ax.stringValue(cfString({u'A', u'X'})), "AX");
    EXPECT_EQ(ax.stringValue(cfString({0xD83D, 0xDE00})), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ax.stringValue(cfString({u'a', 0xD83D})), "a\xEF\xBF\xBD");
    EXPECT_EQ(ax.stringValue(cfString({})), "");
    const SInt32 one = 1;
    EXPECT_EQ(ax.stringValue(number(kCFNumberSInt32Type, &one)), std::nullopt);
    // Told by type alone, the empty string included.
    EXPECT_TRUE(ax.isString(cfString({})));
    EXPECT_TRUE(ax.isString(cfString({u'a', 0xD83D})));
    EXPECT_FALSE(ax.isString(number(kCFNumberSInt32Type, &one)));
    EXPECT_FALSE(ax.isString(AttributeValue::retain(ax, kCFNull)));
}

TEST_F(MacAccessibilityValues, ArrayItemsAreRetainedByTheirNewHolders)
{
    // An element of a process nobody runs: a plain CF object with a real retain count.
    const AttributeValue held = adopt(AXUIElementCreateApplication(std::numeric_limits<pid_t>::max()));
    const CFTypeRef item = held.get();
    const AttributeValue text = cfString({u'x'});
    CFTypeRef items[] = {item, text.get(), kCFNull, item};
    const AttributeValue array = adopt(CFArrayCreate(kCFAllocatorDefault, items, 4, &kCFTypeArrayCallBacks));
    const CFIndex before = CFGetRetainCount(item);
    {
        // Items that are not elements are left out.
        const auto elements = ax.arrayElements(array);
        ASSERT_TRUE(elements.has_value());
        ASSERT_EQ(elements->size(), 2U);
        EXPECT_EQ((*elements)[0].get(), item);
        EXPECT_EQ((*elements)[1].get(), item);
        EXPECT_EQ(CFGetRetainCount(item), before + 2);
    }
    EXPECT_EQ(CFGetRetainCount(item), before);
    EXPECT_EQ(ax.arrayElements(cfString({u'x'})), std::nullopt);
}

TEST_F(MacAccessibilityValues, OnlyElementsAreElements)
{
    const AttributeValue element = adopt(AXUIElementCreateApplication(std::numeric_limits<pid_t>::max()));
    const CFIndex before = CFGetRetainCount(element.get());
    {
        const auto taken = ax.asElement(element);
        ASSERT_TRUE(taken.has_value());
        EXPECT_EQ(taken->get(), element.get());
        EXPECT_EQ(CFGetRetainCount(element.get()), before + 1);
    }
    EXPECT_EQ(CFGetRetainCount(element.get()), before);
    const CGSize cgSize = CGSizeMake(1.0, 1.0);
    EXPECT_FALSE(ax.asElement(AttributeValue::retain(ax, kCFNull)).has_value());
    EXPECT_FALSE(ax.asElement(cfString({u'x'})).has_value());
    EXPECT_FALSE(ax.asElement(adopt(AXValueCreate(kAXValueTypeCGSize, &cgSize))).has_value());
}

TEST_F(MacAccessibilityValues, SizesComeOnlyFromSizeValues)
{
    const CGSize cgSize = CGSizeMake(30.0, 20.0);
    const CGPoint cgPoint = CGPointMake(30.0, 20.0);
    Size size;
    EXPECT_TRUE(ax.sizeValue(adopt(AXValueCreate(kAXValueTypeCGSize, &cgSize)), size));
    EXPECT_EQ(size.width * size.height, 600.0);

    Size untouched;
    EXPECT_FALSE(ax.sizeValue(adopt(AXValueCreate(kAXValueTypeCGPoint, &cgPoint)), untouched));
    EXPECT_FALSE(ax.sizeValue(cfString({u'x'}), untouched));
    EXPECT_EQ(untouched.width, 0.0);
    EXPECT_EQ(untouched.height, 0.0);
}

TEST_F(MacAccessibilityValues, FailedReadLeavesNoValue)
{
    // A process id no process has: the read fails whether or not this process is trusted.
    const Element gone = ax.createApplication(std::numeric_limits<std::int32_t>::max());
    ASSERT_TRUE(gone);
    AttributeValue value;
    EXPECT_NE(ax.copyAttributeValue(gone, "AXRole", value), axErrorSuccess);
    EXPECT_FALSE(value);
    EXPECT_NE(ax.copyAttributeValue(Element(), "AXRole", value), axErrorSuccess);
    EXPECT_FALSE(value);
}

} // namespace
} // namespace focusprobe::platform::macos
