#include "keys/paste.h"

#include "fakes/fake_desktop.h"
#include "keys/references.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace focusprobe::testing {
namespace {

// Everything but releases, whose order is nobody's business.
std::vector<std::string> pasteCalls(const CallLog& log)
{
    return log.filtered({"ax.", "keyboard.copy", "keyboard.layoutData", "events.create", "events.filter",
        "events.setFlags", "events.post", "sleep", "signals", "write"});
}

TEST(KeysPaste, UntrustedTouchesNeitherLayoutNorEvents)
{
    TestProcess p{"paste"};
    p.desktop.accessibility.trusted = false;
    p.desktop.keyboard.current = FakeKeyboard::Source{"Dvorak", layouts::dvorak()};

    EXPECT_EQ(p.run(), 0);
    EXPECT_EQ(p.output(), "untrusted\n");
    EXPECT_EQ(pasteCalls(p.desktop.log), (std::vector<std::string>{"ax.isProcessTrusted", "write untrusted\n"}));
    EXPECT_TRUE(p.desktop.keyboard.translations.empty());
    expectReferencesBalanced(p.desktop);
}

struct CreationFailure {
    bool failSource = false;
    std::optional<int> failEvent;
    long creationsAsked = 0;
};

void PrintTo(const CreationFailure& c, std::ostream* os)
{
    *os << (c.failSource ? "source" : "event " + std::to_string(c.failEvent.value_or(0)));
}

class KeysPasteCreationFailure : public ::testing::TestWithParam<CreationFailure> { };

TEST_P(KeysPasteCreationFailure, PostsNothingAndReleasesWhatExists)
{
    TestProcess p{"paste"};
    p.desktop.events.failSource = GetParam().failSource;
    p.desktop.events.failEvent = GetParam().failEvent;

    EXPECT_EQ(p.run(), 0);
    EXPECT_EQ(p.output(), "no_event\n");
    EXPECT_EQ(p.desktop.log.count("events.createSource 0"), 1);
    EXPECT_EQ(p.desktop.log.countPrefix("events.create "), GetParam().creationsAsked);
    EXPECT_EQ(p.desktop.log.countPrefix("events.filter"), 0);
    EXPECT_EQ(p.desktop.log.countPrefix("events.setFlags"), 0);
    EXPECT_TRUE(p.desktop.events.posts.empty());
    EXPECT_TRUE(p.desktop.process.sleeps.empty());
    EXPECT_EQ(p.desktop.log.countPrefix("signals"), 0);
    expectReferencesBalanced(p.desktop);
}

INSTANTIATE_TEST_SUITE_P(EachCreation, KeysPasteCreationFailure,
    ::testing::Values(CreationFailure{true, std::nullopt, 0}, CreationFailure{false, 1, 1},
        CreationFailure{false, 2, 2}, CreationFailure{false, 3, 3}, CreationFailure{false, 4, 4}));

struct FullPaste {
    std::string name;
    std::optional<FakeKeyboard::Source> layout;
    std::uint64_t heldModifiers = 0;
    std::string v; // the V key code as it appears in the log
};

void PrintTo(const FullPaste& c, std::ostream* os)
{
    *os << c.name;
}

class KeysPasteSequence : public ::testing::TestWithParam<FullPaste> { };

TEST_P(KeysPasteSequence, PostsCommandVWithExactFlagsAndPauses)
{
    const FullPaste& c = GetParam();
    TestProcess p{"paste", "ignored"};
    p.desktop.keyboard.current = c.layout;
    p.desktop.events.heldModifiers = c.heldModifiers;

    EXPECT_EQ(p.run(), 0);
    EXPECT_EQ(p.output(), "ok\n");

    std::vector<std::string> expected{"ax.isProcessTrusted", "keyboard.copyCurrent", "keyboard.copyASCIICapable"};
    if (c.layout) {
        expected.push_back("keyboard.layoutData " + c.layout->label);
    }
    const std::vector<std::string> events{
        "events.createSource 0",
        "events.create 55 down",
        "events.create " + c.v + " down",
        "events.create " + c.v + " up",
        "events.create 55 up",
        "events.filter 5 0",
        "events.setFlags 55 down 0x100008",
        "events.setFlags " + c.v + " down 0x100008",
        "events.setFlags " + c.v + " up 0x100008",
        "events.setFlags 55 up 0x0",
        "signals hold",
        "events.post 1 55 down 0x100008",
        "sleep 8000",
        "events.post 1 " + c.v + " down 0x100008",
        "sleep 8000",
        "events.post 1 " + c.v + " up 0x100008",
        "sleep 8000",
        "events.post 1 55 up 0x0",
        "signals release",
        "write ok\n",
    };
    expected.insert(expected.end(), events.begin(), events.end());
    EXPECT_EQ(pasteCalls(p.desktop.log), expected);
    expectReferencesBalanced(p.desktop);
}

INSTANTIATE_TEST_SUITE_P(LayoutsAndHeldModifiers, KeysPasteSequence,
    ::testing::Values(FullPaste{"NoLayout", std::nullopt, 0, "9"},
        FullPaste{"UsAnsi", FakeKeyboard::Source{"U.S.", layouts::usAnsi()}, 0, "9"},
        FullPaste{"Dvorak", FakeKeyboard::Source{"Dvorak", layouts::dvorak()}, 0, "47"},
        FullPaste{"ShiftHeld", FakeKeyboard::Source{"Dvorak", layouts::dvorak()}, 0x20002, "47"},
        FullPaste{"OptionHeld", FakeKeyboard::Source{"U.S.", layouts::usAnsi()}, 0x80020, "9"},
        FullPaste{"ControlAndCapsLockHeld", FakeKeyboard::Source{"U.S.", layouts::usAnsi()}, 0x50001, "9"}),
    [](const auto& param) { return param.param.name; });

} // namespace
} // namespace focusprobe::testing
