#include "fakes/fake_desktop.h"

#include <gtest/gtest.h>

namespace focusprobe::testing {
namespace {

constexpr const char* infoLine = "{\"bundleId\":\"com.example.Notes\",\"appName\":\"Notes|Work\",\"editable\":false,"
                                 "\"stage\":\"no_focused_element\",\"valueLen\":null}\n";

struct DispatchCase {
    std::vector<std::string> args;
    std::string expectedOutput;
};

void PrintTo(const DispatchCase& c, std::ostream* os)
{
    for (std::size_t i = 1; i < c.args.size(); ++i) {
        *os << (i > 1 ? " " : "") << '"' << c.args[i] << '"';
    }
}

class CommandTable : public ::testing::TestWithParam<DispatchCase> { };

// On a desktop whose frontmost application reports no focused element, each command word shows
// which flow ran.
TEST_P(CommandTable, RunsTheFlowOfTheFirstMatchingWord)
{
    FakeDesktop desktop;
    desktop.workspace.frontmost = platform::RunningApplication{77, "com.example.Notes", "Notes|Work"};
    Globals globals = makeGlobals(GetParam().args);
    Context context{desktop.platform(), globals};

    EXPECT_EQ(dispatch(context), 0);
    EXPECT_EQ(desktop.process.output, GetParam().expectedOutput);
    EXPECT_EQ(desktop.accessibility.liveReferences(), 0);
    EXPECT_EQ(desktop.accessibility.overReleases(), 0);
}

INSTANTIATE_TEST_SUITE_P(Words, CommandTable,
    ::testing::Values(DispatchCase{{"focusprobe"}, "false\n"}, DispatchCase{{"focusprobe", ""}, "false\n"},
        DispatchCase{{"focusprobe", "info"}, infoLine}, DispatchCase{{"focusprobe", "info", "x", "y"}, infoLine},
        DispatchCase{{"focusprobe", "Info"}, "false\n"}, DispatchCase{{"focusprobe", "INFO"}, "false\n"},
        DispatchCase{{"focusprobe", "info "}, "false\n"}, DispatchCase{{"focusprobe", " info"}, "false\n"},
        DispatchCase{{"focusprobe", "inf"}, "false\n"}, DispatchCase{{"focusprobe", "bogus"}, "false\n"},
        // The guard of announce needs a text; without one the default query answers.
        DispatchCase{{"focusprobe", "announce"}, "false\n"},
        DispatchCase{{"focusprobe", "frontmost"}, "Notes|Work|com.example.Notes|77\n"},
        DispatchCase{{"focusprobe", "frontmost", "extra"}, "Notes|Work|com.example.Notes|77\n"},
        DispatchCase{{"focusprobe", "frontmostx"}, "false\n"}));

TEST(CommandTable, OnlyTheCommandWordPositionCounts)
{
    FakeDesktop desktop;
    Globals globals = makeGlobals({"info", "nothing", "info"});
    Context context{desktop.platform(), globals};
    EXPECT_EQ(dispatch(context), 0);
    EXPECT_EQ(desktop.process.output, "false\n");
}

TEST(Globals, StartUpValues)
{
    const Globals globals = makeGlobals({"p", "info"});
    EXPECT_TRUE(globals.axEnabledPids.empty());
    EXPECT_EQ(globals.args, (std::vector<std::string>{"p", "info"}));
    EXPECT_EQ(globals.rescueSkipRoles.size(), 13U);
    for (const char* role : {"AXStaticText", "AXImage", "AXButton", "AXMenuBar", "AXMenu", "AXMenuItem", "AXToolbar",
             "AXScrollBar", "AXLink", "AXCheckBox", "AXRadioButton", "AXSlider", "AXPopUpButton"}) {
        EXPECT_TRUE(globals.rescueSkipRoles.contains(role)) << role;
    }
}

struct FrontmostCase {
    std::optional<platform::RunningApplication> app;
    std::string expected;
};

void PrintTo(const FrontmostCase& c, std::ostream* os)
{
    *os << c.expected;
}

class Frontmost : public ::testing::TestWithParam<FrontmostCase> { };

TEST_P(Frontmost, PrintsNameBundleAndPidOrNothing)
{
    TestProcess process{"frontmost"};
    process.desktop.workspace.frontmost = GetParam().app;
    EXPECT_EQ(process.run(), 0);
    EXPECT_EQ(process.output(), GetParam().expected);
    // No accessibility work at all.
    EXPECT_EQ(process.desktop.log.countPrefix("ax."), 0);
    EXPECT_TRUE(process.desktop.process.sleeps.empty());
}

INSTANTIATE_TEST_SUITE_P(Apps, Frontmost,
    ::testing::Values(FrontmostCase{std::nullopt, ""},
        FrontmostCase{platform::RunningApplication{5, std::nullopt, "NoBundle"}, ""},
        FrontmostCase{platform::RunningApplication{5, "com.x.y", std::nullopt}, "unknown|com.x.y|5\n"},
        FrontmostCase{platform::RunningApplication{-1, "a|b", "A|B"}, "A|B|a|b|-1\n"},
        FrontmostCase{platform::RunningApplication{123, "", "Caf\xC3\xA9"}, "Caf\xC3\xA9||123\n"},
        // Line breaks become spaces, one for each CR or LF, in both fields; nothing else changes.
        FrontmostCase{platform::RunningApplication{7, "com.x\ny", "Two\nLines"}, "Two Lines|com.x y|7\n"},
        FrontmostCase{platform::RunningApplication{7, "b\r", "\r\nA|\r"}, "  A| |b |7\n"},
        FrontmostCase{platform::RunningApplication{7, "\n", "\n\n"}, "  | |7\n"},
        FrontmostCase{platform::RunningApplication{7, "b", "tab\there\vff\f"}, "tab\there\vff\f|b|7\n"}));

} // namespace
} // namespace focusprobe::testing
