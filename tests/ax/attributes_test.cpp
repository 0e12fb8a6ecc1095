#include "ax/attributes.h"
#include "fakes/fake_desktop.h"

#include <cmath>
#include <gtest/gtest.h>

namespace focusprobe::testing {
namespace {

using Number = FakeAccessibility::Number;
using Other = FakeAccessibility::Other;

class AttributeReads : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(desktop.accessibility.liveReferences(), 0);
        EXPECT_EQ(desktop.accessibility.overReleases(), 0);
    }

    platform::Element hold(const FakeAccessibility::Node& node)
    {
        return platform::Element::retain(desktop.accessibility, node.raw());
    }

    FakeDesktop desktop;
    platform::Accessibility& ax = desktop.accessibility;
};

TEST_F(AttributeReads, EveryFailureIsAbsence)
{
    auto node = desktop.accessibility.element("e")
                    .fail("AXRole", axErrorCannotComplete)
                    .nullValue("AXNumberOfCharacters")
                    .value("AXChildren", std::string("not a list"))
                    .value("AXSize", Other{});
    const auto element = hold(node);

    EXPECT_EQ(axRole(ax, element), std::nullopt);
    EXPECT_EQ(readValueLen(ax, element), std::nullopt);
    EXPECT_TRUE(axChildren(ax, element).empty());
    EXPECT_EQ(axArea(ax, element), 0.0);
    // Unsupported attribute.
    EXPECT_EQ(readStringAttribute(ax, element, "AXTitle"), std::nullopt);
    EXPECT_EQ(readElementAttribute(ax, element, "AXParent"), std::nullopt);
}

TEST_F(AttributeReads, ValuesOfTheWrongKindAreAbsent)
{
    auto other = desktop.accessibility.element("other");
    auto node = desktop.accessibility.element("e")
                    .value("AXRole", Number{3})
                    .value("AXNumberOfCharacters", std::string("12"))
                    .value("AXChildren", FakeAccessibility::ElementValue{other.id()})
                    .value("AXSize", std::string("30x20"));
    const auto element = hold(node);

    EXPECT_EQ(axRole(ax, element), std::nullopt);
    EXPECT_EQ(readValueLen(ax, element), std::nullopt);
    EXPECT_TRUE(axChildren(ax, element).empty());
    EXPECT_EQ(axArea(ax, element), 0.0);
}

TEST_F(AttributeReads, ConvertedValues)
{
    auto a = desktop.accessibility.element("a");
    auto b = desktop.accessibility.element("b");
    auto node = desktop.accessibility.element("e").role("AXTextArea").characters(0).size(30, 20).children({a, b});
    const auto element = hold(node);

    EXPECT_EQ(axRole(ax, element), "AXTextArea");
    EXPECT_EQ(readValueLen(ax, element), 0); // zero characters is a count, not absence
    EXPECT_EQ(axArea(ax, element), 600.0);
    const auto children = axChildren(ax, element);
    ASSERT_EQ(children.size(), 2U);
    EXPECT_EQ(desktop.accessibility.label(children[0].get()), "a");
    EXPECT_EQ(desktop.accessibility.label(children[1].get()), "b");
}

TEST_F(AttributeReads, NumbersWithoutALosslessIntegerAreAbsent)
{
    const auto element = hold(desktop.accessibility.element("e").value("AXNumberOfCharacters", Number{std::nullopt}));
    EXPECT_EQ(readValueLen(ax, element), std::nullopt);
}

TEST_F(AttributeReads, OnlyElementsAreReadAsElements)
{
    auto parent = desktop.accessibility.element("parent");
    const auto element = hold(desktop.accessibility.element("e")
                                  .value("AXEditableAncestor", std::string("odd"))
                                  .value("AXTitleUIElement", Number{4})
                                  .value("AXParent", FakeAccessibility::ElementValue{parent.id()}));
    // A value of another kind never reaches a request as an element.
    EXPECT_FALSE(readElementAttribute(ax, element, "AXEditableAncestor").has_value());
    EXPECT_FALSE(readElementAttribute(ax, element, "AXTitleUIElement").has_value());
    const auto read = readElementAttribute(ax, element, "AXParent");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(desktop.accessibility.label(read->get()), "parent");
}

TEST_F(AttributeReads, AreaCountsNegativeSidesAsZeroAndIsNotOtherwiseClamped)
{
    const auto negative = hold(desktop.accessibility.element("n").size(-2.5, 4));
    EXPECT_EQ(axArea(ax, negative), 0.0);
    const auto bothNegative = hold(desktop.accessibility.element("nn").size(-2147483648.0, -2147483648.0));
    EXPECT_EQ(axArea(ax, bothNegative), 0.0);
    const auto fraction = hold(desktop.accessibility.element("f").size(2.5, 4));
    EXPECT_EQ(axArea(ax, fraction), 10.0);
    const auto huge = hold(desktop.accessibility.element("h").size(1e200, 1e200));
    EXPECT_TRUE(std::isinf(axArea(ax, huge)));
    const auto notANumber = hold(desktop.accessibility.element("nan").size(std::nan(""), -1));
    EXPECT_TRUE(std::isnan(axArea(ax, notANumber)));
}

TEST(TextEntryRoles, WholeCaseSensitiveNames)
{
    for (const char* role : {"AXTextField", "AXTextArea", "AXComboBox"}) {
        EXPECT_TRUE(isTextEntryRole(role)) << role;
    }
    for (const char* role : {"AXTextfield", "AXTextField ", "AXText", "", "AXSearchField", "AXStaticText"}) {
        EXPECT_FALSE(isTextEntryRole(role)) << role;
    }
}

} // namespace
} // namespace focusprobe::testing
