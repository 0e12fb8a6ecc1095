#include "platform/linux/atspi/limits.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

namespace focusprobe::platform::desktop {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

struct WindowCase {
    const char* name;
    microseconds remaining;
    std::optional<microseconds> perAnswer;
    std::size_t expected;
};

TEST(ReadAhead, WindowFitsHalfTheRemainingTimeAtTheApplicationsPace)
{
    const std::array<WindowCase, 8> cases{{
        {"no answer yet", milliseconds(400), std::nullopt, readAheadStart},
        {"quick application", milliseconds(400), microseconds(50), readAheadCeiling},
        {"one call at a time, 100 ms each", milliseconds(400), milliseconds(100), 2},
        {"one call at a time, 200 ms each", milliseconds(400), milliseconds(200), 1},
        {"budget nearly spent", milliseconds(150), milliseconds(100), 0},
        {"budget spent", microseconds(0), microseconds(50), 0},
        {"budget spent before any answer", microseconds(0), std::nullopt, 0},
        {"answers in no time", milliseconds(1), microseconds(0), readAheadCeiling},
    }};
    for (const auto& c : cases) {
        EXPECT_EQ(readAheadWindow(c.remaining, c.perAnswer), c.expected) << c.name;
    }
}

TEST(ReadAhead, SlowAnswersCountAtOnceQuickOnesGradually)
{
    EXPECT_EQ(nextAnswerEstimate(std::nullopt, milliseconds(3)), milliseconds(3));
    EXPECT_EQ(nextAnswerEstimate(microseconds(100), milliseconds(150)), milliseconds(150));
    EXPECT_EQ(nextAnswerEstimate(milliseconds(100), milliseconds(20)), milliseconds(80));
    EXPECT_EQ(nextAnswerEstimate(milliseconds(1), microseconds(-5)), microseconds(750));
}

struct FetchCase {
    const char* name;
    std::int64_t claimed;
    std::size_t limit;
    ChildFetch::Kind kind;
    std::size_t count;
};

TEST(ChildFetchPlan, AClaimedCountIsNoAllocation)
{
    using Kind = ChildFetch::Kind;
    const std::array<FetchCase, 9> cases{{
        {"no children", 0, walkNodeCap, Kind::none, 0},
        {"negative count", -7, walkNodeCap, Kind::none, 0},
        {"nothing left to examine", 10, 0, Kind::none, 0},
        {"ordinary list", 12, walkNodeCap, Kind::wholeList, 12},
        {"long list the walk can take", 2400, walkNodeCap, Kind::wholeList, 2400},
        {"a million claimed", 1'000'000, walkNodeCap - 1, Kind::byIndex, walkNodeCap - 1},
        {"largest count", INT32_MAX, walkNodeCap, Kind::byIndex, walkNodeCap},
        {"small list past the limit is read whole, kept short", smallChildList, 3, Kind::wholeList, 3},
        {"longer list past the limit goes by index", smallChildList + 1, 3, Kind::byIndex, 3},
    }};
    for (const auto& c : cases) {
        const ChildFetch plan = planChildFetch(c.claimed, c.limit);
        EXPECT_EQ(plan.kind, c.kind) << c.name;
        EXPECT_EQ(plan.count, c.count) << c.name;
    }
}

struct HandoutCase {
    const char* name;
    std::optional<std::size_t> read; // entries the read found; nothing when it failed
    bool outOfTime;
    std::size_t handedOut;
    std::optional<std::vector<NodeKey>> expected;
    std::size_t laterLimit;
};

std::vector<NodeKey> siblings(std::size_t count)
{
    std::vector<NodeKey> keys;
    for (std::size_t i = 0; i < count; ++i) {
        keys.push_back({":1.5", "/n/" + std::to_string(i)});
    }
    return keys;
}

TEST(ChildHandout, AReadCutByTimeStillTellsTheWalkNodesWereLeft)
{
    const NodeKey unexamined = unexaminedNode();
    const std::vector<HandoutCase> cases{
        {"whole list, room to spare", 3, false, 0, siblings(3), walkNodeCap - 1 - 3 + 1},
        {"empty list", 0, false, 0, siblings(0), walkNodeCap},
        {"failed read with time left", std::nullopt, false, 0, std::nullopt, walkNodeCap},
        {"read cut by the walk's time", std::nullopt, true, 0, std::vector<NodeKey>{unexamined}, walkNodeCap - 1},
        {"cut once the cap is reached: still one", std::nullopt, true, walkNodeCap, std::vector<NodeKey>{unexamined},
            1},
        {"a list that came in before time ran out is kept", 2, true, 0, siblings(2), walkNodeCap - 2},
        {"past the cap: one beyond it", 10, false, walkNodeCap - 4, siblings(4), 1},
        {"cap already reached: only the one beyond", 10, false, walkNodeCap + 7, siblings(1), 1},
    };
    for (const auto& c : cases) {
        const auto read = c.read ? std::optional<std::vector<NodeKey>>(siblings(*c.read)) : std::nullopt;
        const ChildHandout handout = handOutChildren(read, c.outOfTime, c.handedOut);
        EXPECT_EQ(handout.children, c.expected) << c.name;
        EXPECT_EQ(handout.laterLimit, c.laterLimit) << c.name;
    }
    // No node any application can name is taken for the placeholder.
    EXPECT_TRUE(isUnexamined(unexamined));
    EXPECT_TRUE(isNull(unexamined));
    EXPECT_FALSE(isUnexamined(NodeKey{":1.5", nullPath}));
    EXPECT_FALSE(isUnexamined(NodeKey{":1.5", rootPath}));
    EXPECT_EQ(classifyChild(NodeKey{":1.5", "/n/1"}, unexamined), Reference::refuse);
}

struct ReferenceCase {
    const char* name = "";
    NodeKey child;
    Reference expected = Reference::refuse;
};

TEST(References, AChildStaysInItsApplication)
{
    const NodeKey parent{":1.5", "/org/a11y/atspi/accessible/12"};
    const std::array<ReferenceCase, 7> cases{{
        {"same application", {":1.5", "/org/a11y/atspi/accessible/13"}, Reference::follow},
        {"its own application root", {":1.5", rootPath}, Reference::refuse},
        {"the desktop", {registryName, rootPath}, Reference::refuse},
        {"another application's root", {":1.9", rootPath}, Reference::refuse},
        {"inside another application", {":1.9", "/org/a11y/atspi/accessible/3"}, Reference::checkEmbedding},
        {"the null reference", {":1.5", nullPath}, Reference::refuse},
        {"itself", parent, Reference::refuse},
    }};
    for (const auto& c : cases) {
        EXPECT_EQ(classifyChild(parent, c.child), c.expected) << c.name;
    }
    EXPECT_TRUE(embeddingConfirmed(parent, parent));
    EXPECT_FALSE(embeddingConfirmed(parent, NodeKey{":1.9", "/org/a11y/atspi/accessible/1"}));
    EXPECT_FALSE(embeddingConfirmed(parent, std::nullopt));
}

// A tree told as two maps; every read is counted, so a walk that does not stop shows.
struct FakeChain {
    std::map<std::string, NodeKey> parents;
    std::map<std::string, bool> editable;
    int reads = 0;

    NodeKey top(const std::string& start, std::size_t bound = parentChainBound)
    {
        return outermostEditable(
            NodeKey{":1.5", start},
            [this](const NodeKey& key) -> std::optional<NodeKey> {
                ++reads;
                const auto found = parents.find(key.path);
                return found == parents.end() ? std::nullopt : std::optional<NodeKey>(found->second);
            },
            [this](const NodeKey& key) -> std::optional<bool> {
                ++reads;
                const auto found = editable.find(key.path);
                return found == editable.end() ? std::nullopt : std::optional<bool>(found->second);
            },
            bound);
    }
};

TEST(ParentChain, ClimbsTheUnbrokenEditableChain)
{
    FakeChain chain;
    chain.parents = {{"/a", {":1.5", "/b"}}, {"/b", {":1.5", "/c"}}, {"/c", {":1.5", "/d"}}};
    chain.editable = {{"/b", true}, {"/c", true}, {"/d", false}};
    EXPECT_EQ(chain.top("/a").path, "/c");
}

TEST(ParentChain, ACycleEndsAtTheFirstNodeSeenAgain)
{
    FakeChain chain;
    chain.parents = {{"/focus", {":1.5", "/p"}}, {"/p", {":1.5", "/focus"}}};
    chain.editable = {{"/focus", true}, {"/p", true}};
    EXPECT_EQ(chain.top("/focus").path, "/p");
    EXPECT_LE(chain.reads, 3);
}

TEST(ParentChain, AnEndlessChainStopsAtTheBound)
{
    FakeChain chain;
    for (int i = 0; i < 1000; ++i) {
        chain.parents["/n" + std::to_string(i)] = NodeKey{":1.5", "/n" + std::to_string(i + 1)};
        chain.editable["/n" + std::to_string(i + 1)] = true;
    }
    EXPECT_EQ(chain.top("/n0").path, "/n" + std::to_string(parentChainBound));
    EXPECT_EQ(chain.reads, static_cast<int>(2 * parentChainBound));
    chain.reads = 0;
    EXPECT_EQ(chain.top("/n0", 0).path, "/n0");
    EXPECT_EQ(chain.reads, 0);
}

TEST(ParentChain, NeverLeavesTheApplication)
{
    FakeChain chain;
    chain.parents
        = {{"/a", {":1.5", "/b"}}, {"/b", {":1.9", "/x"}}, {"/c", {":1.5", rootPath}}, {"/d", {":1.5", nullPath}}};
    chain.editable = {{"/b", true}, {"/x", true}};
    EXPECT_EQ(chain.top("/a").path, "/b");
    EXPECT_EQ(chain.top("/c").path, "/c");
    EXPECT_EQ(chain.top("/d").path, "/d");
    // A failed read ends the chain where it is.
    EXPECT_EQ(chain.top("/unknown").path, "/unknown");
}

} // namespace
} // namespace focusprobe::platform::desktop
