#include "keys/key_code.h"

#include "fakes/fake_desktop.h"
#include "keys/references.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace focusprobe::testing {
namespace {

using Source = FakeKeyboard::Source;

struct LookupCase {
    std::string name;
    std::optional<Source> current;
    std::optional<Source> asciiCapable;
    std::uint16_t expected = 0;
    // The layouts translated, in order, with how many key codes each (always 0, 1, 2, ...).
    std::vector<std::pair<std::string, std::size_t>> scanned;
};

void PrintTo(const LookupCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<std::pair<std::string, std::size_t>> scannedLayouts(const FakeKeyboard& keyboard)
{
    std::vector<std::pair<std::string, std::size_t>> scanned;
    for (const auto& t : keyboard.translations) {
        if (scanned.empty() || scanned.back().first != t.layout) {
            scanned.emplace_back(t.layout, 0);
        }
        EXPECT_EQ(t.keyCode, scanned.back().second) << t.layout;
        ++scanned.back().second;
    }
    return scanned;
}

class KeysLookup : public ::testing::TestWithParam<LookupCase> { };

TEST_P(KeysLookup, FindsTheKeyThatTypesVWithCommand)
{
    const LookupCase& c = GetParam();
    FakeDesktop desktop;
    desktop.keyboard.current = c.current;
    desktop.keyboard.asciiCapable = c.asciiCapable;

    EXPECT_EQ(keyCodeTypingV(desktop.keyboard), c.expected);

    EXPECT_EQ(scannedLayouts(desktop.keyboard), c.scanned);
    // Every key starts from scratch, with the keyboard type read just before it.
    const auto& translations = desktop.keyboard.translations;
    for (std::size_t i = 0; i < translations.size(); ++i) {
        const auto& t = translations[i];
        SCOPED_TRACE(t.layout + " key " + std::to_string(t.keyCode));
        EXPECT_EQ(t.keyAction, 0);
        EXPECT_EQ(t.modifierKeyState, 1U);
        EXPECT_EQ(t.keyTranslateOptions, 0U);
        EXPECT_EQ(t.deadKeyState, 0U);
        EXPECT_EQ(t.maxStringLength, 4U);
        EXPECT_EQ(t.actualStringLength, 0U);
        EXPECT_EQ(t.buffer, std::u16string(4, u'\0'));
        EXPECT_EQ(t.keyboardTypeReadsSoFar, static_cast<long>(i) + 1);
        EXPECT_EQ(t.keyboardType, static_cast<std::uint8_t>(desktop.keyboard.firstKeyboardType + i));
    }
    EXPECT_EQ(desktop.keyboard.keyboardTypeReads, static_cast<long>(translations.size()));

    // Both sources come first and are held until the lookup is over.
    const auto calls = desktop.log.filtered({"keyboard."});
    ASSERT_GE(calls.size(), 2U);
    EXPECT_EQ(calls[0], "keyboard.copyCurrent");
    EXPECT_EQ(calls[1], "keyboard.copyASCIICapable");
    const auto held = static_cast<std::size_t>(c.current.has_value()) + (c.asciiCapable.has_value() ? 1 : 0);
    for (std::size_t i = calls.size() - held; i < calls.size(); ++i) {
        EXPECT_TRUE(calls[i].starts_with("keyboard.release ")) << calls[i];
    }
    EXPECT_EQ(desktop.log.countPrefix("keyboard.release "), static_cast<long>(held));
    expectReferencesBalanced(desktop);
}

const Source us{"U.S.", layouts::usAnsi()};
const Source usAscii{"U.S. (ASCII)", layouts::usAnsi()};
const Source dvorakAscii{"Dvorak (ASCII)", layouts::dvorak()};
const Source ukrainian{"Ukrainian", layouts::ukrainian()};
const Source noData{"Emoji", std::nullopt};
const Source noDataAscii{"Emoji (ASCII)", std::nullopt};
const Source emptyData{"Empty", std::string()};
const Source emptyDataAscii{"Empty (ASCII)", std::string()};

INSTANTIATE_TEST_SUITE_P(Layouts, KeysLookup,
    ::testing::Values(LookupCase{"UsAnsi", us, dvorakAscii, 9, {{"U.S.", 10}}},
        LookupCase{"Dvorak", Source{"Dvorak", layouts::dvorak()}, usAscii, 47, {{"Dvorak", 48}}},
        LookupCase{"DvorakWithQwertyCommandMap", Source{"Dvorak - QWERTY", layouts::dvorakQwertyCommand()}, dvorakAscii,
            9, {{"Dvorak - QWERTY", 10}}},
        LookupCase{"NonLatinLeavesItToTheAsciiCapableLayout", ukrainian, dvorakAscii, 47,
            {{"Ukrainian", 128}, {"Dvorak (ASCII)", 48}}},
        LookupCase{"DeadKeyJustBeforeV", Source{"Dead", layouts::usWithDeadKey()}, dvorakAscii, 9, {{"Dead", 10}}},
        LookupCase{"CapitalV", Source{"Capital V", layouts::dvorakCapitalV()}, usAscii, 47, {{"Capital V", 48}}},
        LookupCase{"VWithASecondUnitIsNoMatch", Source{"V and mark", layouts::dvorakVWithMark()}, usAscii, 9,
            {{"V and mark", 128}, {"U.S. (ASCII)", 10}}},
        LookupCase{"LowerOfTwoVKeys", Source{"Two", layouts::dvorakTwoVKeys()}, usAscii, 40, {{"Two", 41}}},
        LookupCase{"VAbove127IsNeverTried", Source{"High", layouts::ukrainianVAbove127()}, dvorakAscii, 47,
            {{"High", 128}, {"Dvorak (ASCII)", 48}}},
        LookupCase{"VAbove127AndNoAsciiCapableSource", Source{"High", layouts::ukrainianVAbove127()}, std::nullopt, 9,
            {{"High", 128}}},
        LookupCase{"FailedTranslationIsNoMatch",
            Source{"Failing", layouts::withKey(layouts::dvorak(), 47, "v", "fail:v")}, usAscii, 9,
            {{"Failing", 128}, {"U.S. (ASCII)", 10}}},
        LookupCase{"NoCurrentSource", std::nullopt, dvorakAscii, 47, {{"Dvorak (ASCII)", 48}}},
        LookupCase{"CurrentWithoutLayoutData", noData, dvorakAscii, 47, {{"Dvorak (ASCII)", 48}}},
        LookupCase{"CurrentWithEmptyLayoutData", emptyData, dvorakAscii, 47, {{"Dvorak (ASCII)", 48}}},
        LookupCase{"NoSourceAtAll", std::nullopt, std::nullopt, 9, {}},
        LookupCase{"NeitherHasLayoutData", noData, noDataAscii, 9, {}},
        LookupCase{"BothLayoutDataEmpty", emptyData, emptyDataAscii, 9, {}},
        LookupCase{"NeitherHasAV", ukrainian, Source{"Ukrainian (ASCII)", layouts::ukrainian()}, 9,
            {{"Ukrainian", 128}, {"Ukrainian (ASCII)", 128}}}),
    [](const auto& param) { return param.param.name; });

TEST(KeysLookupFlow, PasteKeycodePrintsTheKeyCodeAlone)
{
    for (const auto& [source, line] :
        {std::pair{std::optional<Source>(dvorakAscii), "47\n"}, std::pair{std::optional<Source>(), "9\n"}}) {
        TestProcess p{"paste-keycode", "ignored"};
        p.desktop.keyboard.asciiCapable = source;
        EXPECT_EQ(p.run(), 0);
        EXPECT_EQ(p.output(), line);
        // No permission needed and nothing posted.
        EXPECT_EQ(p.desktop.log.countPrefix("ax."), 0);
        EXPECT_EQ(p.desktop.log.countPrefix("events."), 0);
        expectReferencesBalanced(p.desktop);
    }
}

} // namespace
} // namespace focusprobe::testing
