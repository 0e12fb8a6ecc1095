#include "focus/verdict_json.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>

namespace focusprobe::testing {
namespace {

struct QuoteCase {
    std::string input;
    std::string expected;
};

void PrintTo(const QuoteCase& c, std::ostream* os)
{
    *os << c.expected;
}

class JsonStringQuoting : public ::testing::TestWithParam<QuoteCase> { };

TEST_P(JsonStringQuoting, WritesTheExactLiteral)
{
    EXPECT_EQ(jsonString(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, JsonStringQuoting,
    ::testing::Values(QuoteCase{"", R"("")"}, QuoteCase{"Slack", R"("Slack")"},
        QuoteCase{"\b\t\n\f\r", R"("\b\t\n\f\r")"}, QuoteCase{"say \"hi\"", R"("say \"hi\"")"},
        QuoteCase{"C:\\dir", R"("C:\\dir")"}, QuoteCase{std::string("\0", 1), R"("\u0000")"},
        QuoteCase{"\x1b[0m", R"("\u001b[0m")"}, QuoteCase{"\x1f\x0b\x01", R"("\u001f\u000b\u0001")"},
        // Solidus, delete and all non-ASCII text, the line separators included, pass unchanged.
        QuoteCase{"a/b\x7f", "\"a/b\x7f\""},
        QuoteCase{"Caf\xC3\xA9 \xE2\x80\xA8\xE2\x80\xA9", "\"Caf\xC3\xA9 \xE2\x80\xA8\xE2\x80\xA9\""},
        QuoteCase{"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
        // Invalid UTF-8: one U+FFFD per maximal ill-formed subsequence.
        QuoteCase{"\xFF", "\"\xEF\xBF\xBD\""}, QuoteCase{"a\xE2\x82z", "\"a\xEF\xBF\xBDz\""},
        QuoteCase{"\xF0\x9F\x98", "\"\xEF\xBF\xBD\""}, QuoteCase{"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
        QuoteCase{"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        QuoteCase{"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        QuoteCase{"\x80\"", "\"\xEF\xBF\xBD\\\"\""}));

TEST(VerdictJson, MembersInOrderWithNullAndZeroLengths)
{
    EXPECT_EQ(verdictJson("unknown", "unknown", FocusVerdict{false, "no_frontmost", std::nullopt}),
        R"({"bundleId":"unknown","appName":"unknown","editable":false,"stage":"no_frontmost","valueLen":null})");
    EXPECT_EQ(verdictJson("com.apple.TextEdit", "Text\"Edit\n", FocusVerdict{true, "role", 0}),
        R"({"bundleId":"com.apple.TextEdit","appName":"Text\"Edit\n","editable":true,"stage":"role","valueLen":0})");
    EXPECT_EQ(verdictJson("b", "a", FocusVerdict{false, "not_editable", -3}),
        R"({"bundleId":"b","appName":"a","editable":false,"stage":"not_editable","valueLen":-3})");
}

TEST(VerdictJson, ExtraMembersGoBetweenValueLenAndTheBrace)
{
    EXPECT_EQ(verdictJson("b", "a", FocusVerdict{true, "settable_value", 12}, R"(,"x":1,"y":true)"),
        R"({"bundleId":"b","appName":"a","editable":true,"stage":"settable_value","valueLen":12,"x":1,"y":true})");
}

bool isValidUtf8(const std::string& text)
{
    try {
        (void)nlohmann::json(text).dump();
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

void appendCodePoint(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Random names always give one valid JSON line; a valid UTF-8 name comes back exactly.
TEST(VerdictJson, RandomNamesAlwaysParse)
{
    std::mt19937 random(20261209);
    const std::u32string interesting = U"\"\\/\b\f\n\r\t\x01\x1f\x7f\x80\xe9\u2028\U0001F600";
    int roundTrips = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string name;
        const int length = std::uniform_int_distribution(0, 24)(random);
        for (int i = 0; i < length; ++i) {
            if (round % 2 == 0) {
                // Raw bytes: mostly invalid UTF-8.
                name.push_back(static_cast<char>(std::uniform_int_distribution(0, 255)(random)));
            } else if (std::uniform_int_distribution(0, 2)(random) == 0) {
                appendCodePoint(
                    name, interesting[std::uniform_int_distribution<std::size_t>(0, interesting.size() - 1)(random)]);
            } else {
                char32_t c = std::uniform_int_distribution<char32_t>(0, 0x10FFFF)(random);
                if (c >= 0xD800 && c <= 0xDFFF) {
                    c = 0xFFFD;
                }
                appendCodePoint(name, c);
            }
        }
        const std::string line = verdictJson(name, name, FocusVerdict{true, "role", round});
        ASSERT_EQ(line.find('\n'), std::string::npos);
        const auto parsed = nlohmann::ordered_json::parse(line, nullptr, false);
        ASSERT_FALSE(parsed.is_discarded()) << line;
        EXPECT_EQ(parsed["valueLen"], round);
        if (isValidUtf8(name)) {
            ++roundTrips;
            EXPECT_EQ(parsed["bundleId"].get<std::string>(), name);
            EXPECT_EQ(parsed["appName"].get<std::string>(), name);
        }
    }
    EXPECT_GE(roundTrips, 2000);
}

} // namespace
} // namespace focusprobe::testing
