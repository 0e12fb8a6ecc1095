#include "fakes/fake_desktop.h"

#include <gtest/gtest.h>

namespace focusprobe::testing {
namespace {

TEST(Info, NoFrontmostApplicationIsTheFixedLine)
{
    TestProcess process{"info"};
    EXPECT_EQ(process.run(), 0);
    EXPECT_EQ(process.output(),
        "{\"bundleId\":\"unknown\",\"appName\":\"unknown\",\"editable\":false,\"stage\":\"no_frontmost\","
        "\"valueLen\":null}\n");
}

TEST(Info, MissingNamesAreUnknownAndTheVerdictIsLive)
{
    TestProcess process{"info", "ignored"};
    auto& desktop = process.desktop;
    desktop.workspace.frontmost = platform::RunningApplication{42, "com.apple.TextEdit", std::nullopt};
    auto text = desktop.accessibility.element("text").role("AXTextArea").characters(17);
    desktop.accessibility.application(42).value("AXFocusedUIElement", FakeAccessibility::ElementValue{text.id()});

    EXPECT_EQ(process.run(), 0);
    EXPECT_EQ(process.output(),
        "{\"bundleId\":\"com.apple.TextEdit\",\"appName\":\"unknown\",\"editable\":true,\"stage\":\"role\","
        "\"valueLen\":17}\n");
    EXPECT_EQ(desktop.accessibility.liveReferences(), 0);
    EXPECT_EQ(desktop.accessibility.overReleases(), 0);
}

TEST(Info, NamesComeFromTheFirstQueryAndTheVerdictFromTheSecond)
{
    TestProcess process{"info"};
    auto& desktop = process.desktop;
    desktop.workspace.frontmost = platform::RunningApplication{1, std::nullopt, "First"};
    desktop.workspace.laterFrontmost = {std::nullopt};

    process.run();
    EXPECT_EQ(process.output(),
        "{\"bundleId\":\"unknown\",\"appName\":\"First\",\"editable\":false,\"stage\":\"no_frontmost\","
        "\"valueLen\":null}\n");
}

} // namespace
} // namespace focusprobe::testing
