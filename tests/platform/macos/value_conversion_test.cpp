#include "platform/macos/value_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace focusprobe::platform::macos {
namespace {

struct Utf16Case {
    const char* name;
    std::u16string units;
    std::string utf8;
};

void PrintTo(const Utf16Case& c, std::ostream* os)
{
    *os << c.name;
}

class Utf8FromUtf16 : public ::testing::TestWithParam<Utf16Case> { };

TEST_P(Utf8FromUtf16, Converts)
{
    EXPECT_EQ(utf8FromUtf16(GetParam().units), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Cases, Utf8FromUtf16,
    ::testing::Values(Utf16Case{"empty", u"", ""}, Utf16Case{"ascii", u"AXTextArea", "AXTextArea"},
        Utf16Case{"embeddedNul", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
        Utf16Case{"twoByte", u"\u00e9\u07ff", "\xC3\xA9\xDF\xBF"},
        Utf16Case{"threeByte", u"\u0800\u20ac\uffff", "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF"},
        Utf16Case{"pairSmallest", u"\U00010000", "\xF0\x90\x80\x80"},
        Utf16Case{"pairLargest", u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        Utf16Case{"emoji", u"hi \U0001F600!", "hi \xF0\x9F\x98\x80!"},
        Utf16Case{"loneHighAtEnd", std::u16string{u'a', char16_t(0xD83D)}, "a\xEF\xBF\xBD"},
        Utf16Case{"loneHighBeforeText", std::u16string{char16_t(0xD83D), u'x'}, "\xEF\xBF\xBDx"},
        Utf16Case{"loneLow", std::u16string{u'x', char16_t(0xDE00), u'y'}, "x\xEF\xBF\xBDy"},
        Utf16Case{"reversedPair", std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        // The second high surrogate still pairs with the low one after it.
        Utf16Case{"highHighLow", std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)},
            "\xEF\xBF\xBD\xF0\x9F\x98\x80"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct DoubleCase {
    const char* name;
    double value;
    std::optional<std::int64_t> expected;
};

void PrintTo(const DoubleCase& c, std::ostream* os)
{
    *os << c.name;
}

class Int64FromDouble : public ::testing::TestWithParam<DoubleCase> { };

TEST_P(Int64FromDouble, IsLossless)
{
    EXPECT_EQ(int64FromDouble(GetParam().value), GetParam().expected);
}

constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();

INSTANTIATE_TEST_SUITE_P(Cases, Int64FromDouble,
    ::testing::Values(DoubleCase{"zero", 0.0, 0}, DoubleCase{"negativeZero", -0.0, 0}, DoubleCase{"whole", 42.0, 42},
        DoubleCase{"negativeWhole", -7.0, -7}, DoubleCase{"fraction", 2.5, std::nullopt},
        DoubleCase{"tinyFraction", 1e-300, std::nullopt},
        DoubleCase{"pastTwoToThe53", 9007199254740994.0, 9007199254740994},
        DoubleCase{"lowestInt64", -9223372036854775808.0, int64Min},
        // The largest double below 2^63.
        DoubleCase{"justBelowTop", 9223372036854774784.0, 9223372036854774784},
        DoubleCase{"twoToThe63", 9223372036854775808.0, std::nullopt},
        DoubleCase{"belowLowest", -9223372036854777856.0, std::nullopt}, DoubleCase{"huge", 1e30, std::nullopt},
        DoubleCase{"infinity", std::numeric_limits<double>::infinity(), std::nullopt},
        DoubleCase{"negativeInfinity", -std::numeric_limits<double>::infinity(), std::nullopt},
        DoubleCase{"nan", std::nan(""), std::nullopt}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct Int128Case {
    const char* name;
    std::int64_t high;
    std::uint64_t low;
    std::optional<std::int64_t> expected;
};

void PrintTo(const Int128Case& c, std::ostream* os)
{
    *os << c.name;
}

class Int64FromInt128 : public ::testing::TestWithParam<Int128Case> { };

TEST_P(Int64FromInt128, FitsOnlyWhenHighHalfIsSignExtension)
{
    EXPECT_EQ(int64FromInt128(GetParam().high, GetParam().low), GetParam().expected);
}

constexpr std::uint64_t uint64Max = std::numeric_limits<std::uint64_t>::max();

INSTANTIATE_TEST_SUITE_P(Cases, Int64FromInt128,
    ::testing::Values(Int128Case{"zero", 0, 0, 0}, Int128Case{"small", 0, 12, 12},
        Int128Case{"int64Max", 0, 0x7FFFFFFFFFFFFFFF, std::numeric_limits<std::int64_t>::max()},
        // Unsigned values past INT64_MAX, as an unsigned 64-bit number is stored.
        Int128Case{"twoToThe63", 0, 0x8000000000000000, std::nullopt},
        Int128Case{"uint64Max", 0, uint64Max, std::nullopt}, Int128Case{"minusOne", -1, uint64Max, -1},
        Int128Case{"int64Min", -1, 0x8000000000000000, int64Min},
        Int128Case{"belowInt64Min", -1, 0x7FFFFFFFFFFFFFFF, std::nullopt}, Int128Case{"twoToThe64", 1, 0, std::nullopt},
        Int128Case{"highOnlyNegative", -2, 0, std::nullopt}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
} // namespace focusprobe::platform::macos
