#include "fakes/fake_desktop.h"
#include "focus/verdict.h"

#include <functional>
#include <gtest/gtest.h>

namespace focusprobe::testing {
namespace {

using Node = FakeAccessibility::Node;
using Number = FakeAccessibility::Number;

platform::RunningApplication textEdit()
{
    return platform::RunningApplication{42, "com.apple.TextEdit", "TextEdit"};
}

struct VerdictCase {
    std::string name;
    std::function<void(Node& focused, FakeAccessibility& ax)> build;
    FocusVerdict expected;
    // Requests made on the focused element, in order.
    std::vector<std::string> focusedReads;
};

void PrintTo(const VerdictCase& c, std::ostream* os)
{
    *os << c.name;
}

class FocusVerdictStages : public ::testing::TestWithParam<VerdictCase> { };

TEST_P(FocusVerdictStages, ClassifiesTheFocusedElement)
{
    TestProcess process;
    auto& desktop = process.desktop;
    desktop.workspace.frontmost = textEdit();
    auto focused = desktop.accessibility.element("focused");
    GetParam().build(focused, desktop.accessibility);
    desktop.accessibility.application(42).value("AXFocusedUIElement", FakeAccessibility::ElementValue{focused.id()});

    EXPECT_EQ(focusVerdict(process.context), GetParam().expected);
    EXPECT_EQ(desktop.log.filtered({"ax.copy focused", "ax.settable focused"}), GetParam().focusedReads);
    EXPECT_EQ(desktop.process.sleeps, std::vector<std::uint32_t>{100000});
    EXPECT_EQ(desktop.accessibility.liveReferences(), 0);
    EXPECT_EQ(desktop.accessibility.overReleases(), 0);
}

const std::string ancestorRead = "ax.copy focused AXEditableAncestor";
const std::string roleRead = "ax.copy focused AXRole";
const std::string settableAsk = "ax.settable focused AXValue";
const std::string valueRead = "ax.copy focused AXValue";
const std::string lengthRead = "ax.copy focused AXNumberOfCharacters";

INSTANTIATE_TEST_SUITE_P(Stages, FocusVerdictStages,
    ::testing::Values(VerdictCase{"AncestorWinsOverAnyRole",
                          [](Node& f, FakeAccessibility& ax) {
                              f.role("AXButton").editableAncestor(ax.element("root")).characters(5);
                          },
                          FocusVerdict{true, "editable_ancestor", 5}, {ancestorRead, lengthRead}},
        VerdictCase{"TextAreaWithUnsettableValueIsARole",
            [](Node& f, FakeAccessibility&) { f.role("AXTextArea").settable("AXValue", false); },
            FocusVerdict{true, "role", std::nullopt}, {ancestorRead, roleRead, lengthRead}},
        VerdictCase{"ComboBox", [](Node& f, FakeAccessibility&) { f.role("AXComboBox").characters(0); },
            FocusVerdict{true, "role", 0}, {ancestorRead, roleRead, lengthRead}},
        VerdictCase{"SettableEmptyString",
            [](Node& f, FakeAccessibility&) {
                f.role("AXGroup").settable("AXValue", true).value("AXValue", std::string());
            },
            FocusVerdict{true, "settable_value", std::nullopt},
            {ancestorRead, roleRead, settableAsk, valueRead, lengthRead}},
        VerdictCase{"UnreadableRoleGoesOnToTheValueTest",
            [](Node& f, FakeAccessibility&) {
                f.fail("AXRole").settable("AXValue", true).value("AXValue", std::string("hi")).characters(2);
            },
            FocusVerdict{true, "settable_value", 2}, {ancestorRead, roleRead, settableAsk, valueRead, lengthRead}},
        VerdictCase{"SettableNumberIsNotText",
            [](Node& f, FakeAccessibility&) {
                f.role("AXSlider").settable("AXValue", true).value("AXValue", Number{3});
            },
            FocusVerdict{false, "not_editable", std::nullopt},
            {ancestorRead, roleRead, settableAsk, valueRead, lengthRead}},
        VerdictCase{"ValueNotReadWhenNotSettable",
            [](Node& f, FakeAccessibility&) {
                f.role("AXStaticText").settable("AXValue", false).value("AXValue", std::string("label")).characters(5);
            },
            FocusVerdict{false, "not_editable", 5}, {ancestorRead, roleRead, settableAsk, lengthRead}},
        VerdictCase{"SettableAnswerWithAnErrorDoesNotCount",
            [](Node& f, FakeAccessibility&) {
                f.role("AXGroup").settable("AXValue", true, axErrorCannotComplete).value("AXValue", std::string());
            },
            FocusVerdict{false, "not_editable", std::nullopt}, {ancestorRead, roleRead, settableAsk, lengthRead}},
        VerdictCase{"AncestorReadSucceedingWithoutAValueDoesNotCount",
            [](Node& f, FakeAccessibility&) { f.nullValue("AXEditableAncestor").role("AXTextField"); },
            FocusVerdict{true, "role", std::nullopt}, {ancestorRead, roleRead, lengthRead}},
        // Any kind of value counts: it is never used as an element.
        VerdictCase{"AncestorThatIsNoElementStillCounts",
            [](Node& f, FakeAccessibility&) {
                f.role("AXButton").value("AXEditableAncestor", std::string("root")).characters(1);
            },
            FocusVerdict{true, "editable_ancestor", 1}, {ancestorRead, lengthRead}},
        VerdictCase{"RoleComparedWhole", [](Node& f, FakeAccessibility&) { f.role("AXTextFieldX"); },
            FocusVerdict{false, "not_editable", std::nullopt}, {ancestorRead, roleRead, settableAsk, lengthRead}}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST(FocusVerdict, NoFrontmostApplicationAsksNothingAndDoesNotWait)
{
    TestProcess process;
    EXPECT_EQ(focusVerdict(process.context), (FocusVerdict{false, "no_frontmost", std::nullopt}));
    EXPECT_EQ(process.desktop.log.entries, std::vector<std::string>{"workspace.frontmostApplication"});
    EXPECT_TRUE(process.desktop.process.sleeps.empty());
}

TEST(FocusVerdict, NoFocusedElement)
{
    for (const bool succeedsWithoutValue : {false, true}) {
        TestProcess process;
        process.desktop.workspace.frontmost = textEdit();
        auto app = process.desktop.accessibility.application(42);
        if (succeedsWithoutValue) {
            app.nullValue("AXFocusedUIElement");
        } else {
            app.fail("AXFocusedUIElement", axErrorNoValue);
        }
        EXPECT_EQ(focusVerdict(process.context), (FocusVerdict{false, "no_focused_element", std::nullopt}));
        EXPECT_EQ(process.desktop.process.sleeps, std::vector<std::uint32_t>{100000});
        EXPECT_EQ(process.desktop.accessibility.liveReferences(), 0);
    }
}

TEST(FocusVerdict, PreparesThenWaitsThenReadsTheFocusEveryTime)
{
    TestProcess process;
    auto& desktop = process.desktop;
    desktop.workspace.frontmost = platform::RunningApplication{9, std::nullopt, std::nullopt};
    desktop.accessibility.application(9).fail("AXFocusedUIElement");

    focusVerdict(process.context);
    focusVerdict(process.context);

    // An application without a bundle identifier is prepared as "" (nothing set), once per pid;
    // the wait comes every time, before the focus is read.
    EXPECT_EQ(desktop.log.filtered({"ax.", "sleep"}),
        (std::vector<std::string>{"ax.createApplication 9", "sleep 100000", "ax.createApplication 9",
            "ax.copy app AXFocusedUIElement", "sleep 100000", "ax.createApplication 9",
            "ax.copy app AXFocusedUIElement"}));
    EXPECT_EQ(process.globals.axEnabledPids, (std::set<std::int32_t>{9}));
}

TEST(FocusVerdict, HasFocusedEditableIsTheVerdictsAnswer)
{
    TestProcess process;
    process.desktop.workspace.frontmost = textEdit();
    auto field = process.desktop.accessibility.element("field").role("AXTextField");
    process.desktop.accessibility.application(42).value(
        "AXFocusedUIElement", FakeAccessibility::ElementValue{field.id()});
    EXPECT_TRUE(hasFocusedEditable(process.context));
    field.role("AXButton");
    EXPECT_FALSE(hasFocusedEditable(process.context));
}

} // namespace
} // namespace focusprobe::testing
