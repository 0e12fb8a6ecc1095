#include "ax/prepare.h"
#include "fakes/fake_desktop.h"

#include <gtest/gtest.h>

namespace focusprobe::testing {
namespace {

struct PrepareCase {
    std::string bundleId;
    std::vector<std::string> expectedSets;
};

void PrintTo(const PrepareCase& c, std::ostream* os)
{
    *os << '"' << c.bundleId << '"';
}

class PrepareAppForAX : public ::testing::TestWithParam<PrepareCase> { };

TEST_P(PrepareAppForAX, SetsEachMatchingAttributeOnceAndRecordsThePid)
{
    FakeDesktop desktop;
    desktop.accessibility.application(42, "app").onSet("AXEnhancedUserInterface", 0).onSet("AXManualAccessibility", 0);
    std::set<std::int32_t> pids;

    prepareAppForAX(desktop.accessibility, pids, 42, GetParam().bundleId);

    EXPECT_EQ(desktop.log.filtered({"ax.set"}), GetParam().expectedSets);
    EXPECT_EQ(desktop.log.count("ax.createApplication 42"), 1);
    EXPECT_TRUE(pids.contains(42));
    EXPECT_EQ(desktop.accessibility.liveReferences(), 0);
    EXPECT_EQ(desktop.accessibility.overReleases(), 0);
}

const std::string enhanced = "ax.set app AXEnhancedUserInterface";
const std::string manual = "ax.set app AXManualAccessibility";

INSTANTIATE_TEST_SUITE_P(BundlePrefixes, PrepareAppForAX,
    ::testing::Values(PrepareCase{"com.google.Chrome", {enhanced, manual}},
        PrepareCase{"com.google.Chrome.canary", {enhanced, manual}},
        PrepareCase{"com.operasoftware.OperaGX", {enhanced, manual}}, PrepareCase{"org.chromium.Chromium", {manual}},
        PrepareCase{"com.tinyspeck.slackmacgap", {manual}}, PrepareCase{"com.microsoft.VSCodeInsiders", {manual}},
        PrepareCase{"WhatsApp.desktop", {manual}}, PrepareCase{"com.anthropic.claude-code", {manual}},
        // Case-sensitive prefixes of the whole entry only.
        PrepareCase{"com.google.chrome", {}}, PrepareCase{"com.google", {}}, PrepareCase{"xcom.linear", {}},
        PrepareCase{"com.apple.TextEdit", {}}, PrepareCase{"", {}}, PrepareCase{"unknown", {}}));

TEST(PrepareAppForAXOnce, SecondCallForThePidDoesNothingEvenAfterFailedSets)
{
    FakeDesktop desktop;
    // Both sets fail, as they do for an untrusted process.
    desktop.accessibility.application(7, "app")
        .onSet("AXEnhancedUserInterface", axErrorAPIDisabled)
        .onSet("AXManualAccessibility", axErrorAPIDisabled);
    std::set<std::int32_t> pids;

    prepareAppForAX(desktop.accessibility, pids, 7, "com.google.Chrome");
    const auto callsAfterFirst = desktop.log.entries.size();
    prepareAppForAX(desktop.accessibility, pids, 7, "com.google.Chrome");
    prepareAppForAX(desktop.accessibility, pids, 7, "com.tinyspeck.slackmacgap");

    EXPECT_EQ(desktop.log.filtered({"ax.set"}), (std::vector<std::string>{enhanced, manual}));
    EXPECT_EQ(desktop.log.entries.size(), callsAfterFirst);
    EXPECT_EQ(pids, (std::set<std::int32_t>{7}));

    prepareAppForAX(desktop.accessibility, pids, 8, "");
    EXPECT_EQ(pids, (std::set<std::int32_t>{7, 8}));
    EXPECT_EQ(desktop.accessibility.liveReferences(), 0);
}

} // namespace
} // namespace focusprobe::testing
