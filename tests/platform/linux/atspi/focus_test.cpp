#include "platform/linux/atspi/focus.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace focusprobe::platform::desktop {
namespace {

constexpr const char* app = ":1.42";

NodeKey node(const std::string& path)
{
    return NodeKey{app, "/" + path};
}

constexpr StateSet bit(int n)
{
    return StateSet{1} << static_cast<unsigned>(n);
}
constexpr StateSet shown = bit(state::showing) | bit(state::visible);
constexpr StateSet focused = shown | bit(state::focused);
constexpr StateSet focusedEditable = focused | bit(state::editable);
constexpr std::uint32_t pageTab = 37;
constexpr std::uint32_t pushButton = 43;
constexpr std::uint32_t checkBox = 7;

// An application's tree as its answers tell it, with what the walk asked of it.
struct FakeTree {
    std::map<NodeKey, StateSet> states;
    std::map<NodeKey, std::vector<NodeKey>> children;
    std::map<NodeKey, std::uint32_t> roles;
    // Reads answered before the time runs out; none once it has.
    std::size_t readsBeforeDeadline = 1'000'000;
    std::size_t reads = 0;
    std::multiset<NodeKey> requested;
    std::vector<std::size_t> limits;

    void add(const std::string& parent, const std::string& path, StateSet nodeStates)
    {
        states[node(path)] = nodeStates;
        children[node(parent)].push_back(node(path));
    }

    FocusWalkReads reads_()
    {
        return FocusWalkReads{
            [this](const NodeKey& key) { requested.insert(key); },
            [this](const NodeKey& key) -> std::optional<StateSet> {
                ++reads;
                const auto found = states.find(key);
                return found == states.end() ? std::nullopt : std::optional<StateSet>(found->second);
            },
            [this](const NodeKey& key) -> std::optional<std::vector<NodeKey>> {
                ++reads;
                const auto found = children.find(key);
                return found == children.end() ? std::vector<NodeKey>{} : found->second;
            },
            [this] { return reads >= readsBeforeDeadline; },
            [this](std::size_t more) { limits.push_back(more); },
            [this](const NodeKey& key) -> std::optional<std::uint32_t> {
                ++reads;
                const auto found = roles.find(key);
                return found == roles.end() ? std::nullopt : std::optional<std::uint32_t>(found->second);
            },
        };
    }

    std::vector<FocusClaim> walk(std::size_t cap = focusWalkNodeCap)
    {
        states.try_emplace(node("frame"), shown | bit(state::active));
        return focusClaimsUnder(node("frame"), reads_(), cap);
    }
};

std::vector<std::string> paths(const std::vector<FocusClaim>& claims)
{
    std::vector<std::string> out;
    for (const auto& claim : claims) {
        out.push_back(claim.key.path);
    }
    return out;
}

// FeatherPad's window as Qt 5 gives it: the text view, a part of it and the current tab claim the
// focus; the ancestors do not.
FakeTree featherPadLike()
{
    FakeTree tree;
    tree.add("frame", "central", shown);
    tree.add("frame", "menubar", shown);
    tree.add("frame", "statusbar", shown);
    tree.add("statusbar", "statusbar/button", focused);
    tree.add("central", "tabs", shown);
    tree.add("tabs", "tab", focused);
    tree.add("tabs", "page", shown);
    tree.add("page", "text", focusedEditable);
    tree.add("text", "text/viewport", focused);
    tree.roles = {{node("statusbar"), 54}, {node("statusbar/button"), 43}, {node("tab"), 37}, {node("text"), 61}};
    return tree;
}

TEST(FocusWalk, FindsTheClaimsBreadthFirstWithTheirAncestorsAndStopsAtAnEditableOne)
{
    FakeTree tree = featherPadLike();
    const auto claims = tree.walk();
    EXPECT_EQ(paths(claims), (std::vector<std::string>{"/statusbar/button", "/tab", "/text"}));
    ASSERT_EQ(claims.size(), 3U);
    EXPECT_FALSE(claims[0].editable);
    EXPECT_TRUE(claims[2].editable);
    EXPECT_EQ(claims[2].ancestors, (std::vector<NodeKey>{node("page"), node("tabs"), node("central"), node("frame")}));
    // The part of the text view that claims the focus too is never read: the walk ended before.
    EXPECT_EQ(tree.requested.count(node("text/viewport")), 0U);
    // Every node it read was asked for ahead, once.
    for (const auto& key : tree.requested) {
        EXPECT_EQ(tree.requested.count(key), 1U) << key.path;
    }
}

TEST(FocusWalk, StopsAtALeafClaimThatIsNeitherATabNorInTheStatusBar)
{
    // A button has the focus; the tab and a status-bar button claim it too and do not end the walk.
    FakeTree tree = featherPadLike();
    tree.states[node("text")] = shown;
    tree.states[node("text/viewport")] = shown;
    tree.add("page", "send", focused);
    tree.roles[node("send")] = pushButton;
    tree.add("page", "later", shown);
    tree.add("later", "later/child", focused);
    const auto claims = tree.walk();
    EXPECT_EQ(paths(claims), (std::vector<std::string>{"/statusbar/button", "/tab", "/send"}));
    EXPECT_EQ(announcedClaim(claims), 2U);
    EXPECT_EQ(tree.requested.count(node("later/child")), 0U);
    // A group that claims the focus as the ancestor of a check box does not end it either.
    FakeTree nested;
    nested.add("frame", "group", focused);
    nested.add("group", "check", focused);
    nested.roles = {{node("group"), 39}, {node("check"), checkBox}};
    nested.add("frame", "other", shown);
    nested.add("other", "deeper", shown);
    const auto inner = nested.walk();
    EXPECT_EQ(paths(inner), (std::vector<std::string>{"/group", "/check"}));
    EXPECT_EQ(announcedClaim(inner), 1U);
    EXPECT_EQ(nested.requested.count(node("deeper")), 1U);
    // KWrite: buttons side by side that pass their focus on to the text view, in no status bar,
    // all claim it; the walk goes on to the text view.
    FakeTree kwrite;
    kwrite.add("frame", "bar", shown);
    for (const char* button : {"bar/position", "bar/mode", "bar/encoding"}) {
        kwrite.add("bar", button, focused);
        kwrite.roles[node(button)] = pushButton;
    }
    kwrite.add("frame", "area", shown);
    kwrite.add("area", "view", focusedEditable);
    const auto viewClaims = kwrite.walk();
    ASSERT_EQ(viewClaims.size(), 4U);
    EXPECT_EQ(viewClaims[*announcedClaim(viewClaims)].key, node("view"));
    // A leaf whose role cannot be read is no reason to stop.
    FakeTree mute;
    mute.add("frame", "a", focused);
    mute.add("frame", "b", shown);
    mute.add("b", "c", focused);
    mute.roles[node("c")] = pushButton;
    EXPECT_EQ(paths(mute.walk()), (std::vector<std::string>{"/a", "/c"}));
}

TEST(FocusWalk, SkipsTheWindowItselfAndHiddenSubtreesAndFailedReads)
{
    FakeTree tree;
    tree.states[node("frame")] = focused | bit(state::active);
    tree.add("frame", "hidden", 0);
    tree.add("hidden", "hidden/entry", focusedEditable);
    tree.add("frame", "box", shown);
    tree.add("box", "button", focused);
    // Listed, but its states cannot be read: it is no claim, and its children are still looked at.
    tree.children[node("frame")].push_back(node("mute"));
    tree.children[node("mute")].push_back(node("mute/check"));
    tree.states[node("mute/check")] = focused;
    const auto claims = tree.walk();
    EXPECT_EQ(paths(claims), (std::vector<std::string>{"/button", "/mute/check"}));
}

TEST(FocusWalk, HostileTreesStayBounded)
{
    {
        // A child that lists its ancestors again, and a node that lists itself.
        FakeTree tree;
        tree.add("frame", "a", shown);
        tree.add("a", "b", shown);
        tree.children[node("b")] = {node("a"), node("frame"), node("b")};
        tree.add("b", "c", focused);
        const auto claims = tree.walk();
        EXPECT_EQ(paths(claims), (std::vector<std::string>{"/c"}));
        EXPECT_EQ(tree.requested.size(), 4U);
    }
    {
        // A list of 20,000 children: the walk takes no more than its cap, and says so.
        FakeTree tree;
        auto& many = tree.children[node("frame")];
        for (int i = 0; i < 20000; ++i) {
            std::string name = "n";
            name += std::to_string(i); // not "n" + ...: GCC 12's -Wrestrict misfires on it at -O2
            many.push_back(node(name));
        }
        tree.states[node("n2999")] = focused;
        tree.states[node("n5")] = focused;
        const auto claims = tree.walk(3000);
        EXPECT_EQ(paths(claims), (std::vector<std::string>{"/n5"}));
        EXPECT_EQ(tree.requested.size(), 3000U);
        ASSERT_FALSE(tree.limits.empty());
        EXPECT_EQ(tree.limits.front(), 0U);
    }
    {
        // The deadline: the walk stops where its time ran out, with what it found until then.
        FakeTree tree = featherPadLike();
        tree.readsBeforeDeadline = 8;
        const auto claims = tree.walk();
        EXPECT_TRUE(claims.empty());
        EXPECT_LE(tree.reads, 9U);
    }
}

FocusClaim claim(const std::string& path, bool editable, std::vector<std::string> ancestors = {},
    std::optional<std::uint32_t> role = std::nullopt, bool inStatusBar = false)
{
    FocusClaim c{node(path), editable, role, {}, inStatusBar};
    for (const auto& ancestor : ancestors) {
        c.ancestors.push_back(node(ancestor));
    }
    return c;
}

struct ChoiceCase {
    const char* name;
    std::vector<FocusClaim> claims;
    std::optional<std::size_t> expected;
};

TEST(AnnouncedClaim, PrefersTheEditableThenTheInnermostOverAncestorsTabsAndStatusBarButtons)
{
    const std::vector<ChoiceCase> cases{
        {"nothing claims the focus", {}, std::nullopt},
        {"one claim", {claim("button", false, {"frame"}, pushButton)}, 0},
        {"LibreOffice: a panel, then the editable paragraph inside it",
            {claim("panel", false), claim("paragraph", true, {"panel"})}, 1},
        {"the editable text view beside a status-bar button and the current tab",
            {claim("sb", false, {"statusbar"}, pushButton, true), claim("tab", false, {}, pageTab),
                claim("text", true, {"page"})},
            2},
        {"the editable view before a part of it that claims the focus too",
            {claim("text", true, {"page"}), claim("viewport", false, {"text", "page"})}, 0},
        {"a check box inside a group that claims the focus too",
            {claim("group", false, {"frame"}), claim("check", false, {"group", "frame"}, checkBox)}, 1},
        {"a button beside the current tab and a status-bar button",
            {claim("tab", false, {}, pageTab), claim("sb", false, {"statusbar"}, pushButton, true),
                claim("button", false, {"frame"}, pushButton)},
            2},
        {"only the current tab and a status-bar button",
            {claim("sb", false, {}, pushButton, true), claim("tab", false, {}, pageTab)}, 1},
        {"two editable claims, one inside the other",
            {claim("section", true, {"document"}), claim("paragraph", true, {"section", "document"})}, 1},
        {"two unrelated claims of the same standing: the first", {claim("a", false), claim("b", false)}, 0},
        {"claims that contain each other: the first", {claim("a", false, {"b"}), claim("b", false, {"a"})}, 0},
        {"the same element twice", {claim("a", false, {"frame"}), claim("a", false, {"frame"})}, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(announcedClaim(c.claims), c.expected) << c.name;
    }
}

TEST(AnnouncedClaim, RolesAreReadOnlyWhenTheEditableStateDoesNotDecide)
{
    EXPECT_FALSE(claimsNeedRoles(std::vector<FocusClaim>{}));
    EXPECT_FALSE(claimsNeedRoles(std::vector<FocusClaim>{claim("a", false)}));
    EXPECT_FALSE(claimsNeedRoles(std::vector<FocusClaim>{claim("a", false), claim("b", true)}));
    EXPECT_TRUE(claimsNeedRoles(std::vector<FocusClaim>{claim("a", false), claim("b", false)}));
    EXPECT_TRUE(claimsNeedRoles(std::vector<FocusClaim>{claim("a", true), claim("b", true, {"a"})}));
}

TEST(AncestorsOf, ClimbsWithinTheApplicationBoundedAndWithoutCycles)
{
    std::map<NodeKey, NodeKey> parents{
        {node("p"), node("panel")}, {node("panel"), node("frame")}, {node("frame"), NodeKey{app, rootPath}}};
    const auto parentOf = [&parents](const NodeKey& key) -> std::optional<NodeKey> {
        const auto found = parents.find(key);
        return found == parents.end() ? std::nullopt : std::optional<NodeKey>(found->second);
    };
    EXPECT_EQ(ancestorsOf(node("p"), parentOf, 64), (std::vector<NodeKey>{node("panel"), node("frame")}));
    EXPECT_EQ(ancestorsOf(node("p"), parentOf, 1), (std::vector<NodeKey>{node("panel")}));
    parents[node("frame")] = node("p");
    EXPECT_EQ(ancestorsOf(node("p"), parentOf, 64), (std::vector<NodeKey>{node("panel"), node("frame")}));
    parents[node("frame")] = NodeKey{":1.7", "/elsewhere"};
    EXPECT_EQ(ancestorsOf(node("p"), parentOf, 64), (std::vector<NodeKey>{node("panel"), node("frame")}));
    parents[node("frame")] = NodeKey{app, nullPath};
    EXPECT_EQ(ancestorsOf(node("p"), parentOf, 64), (std::vector<NodeKey>{node("panel"), node("frame")}));
}

// A toolkit answering focus requests: what each grab answers, and whom it really focuses.
struct FakeToolkit {
    std::map<NodeKey, StateSet> states;
    std::map<NodeKey, std::vector<NodeKey>> children;
    std::map<NodeKey, NodeKey> parents;
    std::map<NodeKey, std::optional<bool>> answers;
    // A grab of the key puts the focus on the value (a Qt view's focus proxy); by default on
    // the grabbed element, when it answers true.
    std::map<NodeKey, NodeKey> focuses;
    std::vector<std::string> grabs;

    void add(const std::string& parent, const std::string& path, StateSet nodeStates)
    {
        states[node(path)] = nodeStates;
        children[node(parent)].push_back(node(path));
        parents[node(path)] = node(parent);
    }

    std::optional<bool> focus(const std::string& target)
    {
        const FocusRequestCalls calls{
            [this](const NodeKey& key) -> std::optional<StateSet> {
                const auto found = states.find(key);
                return found == states.end() ? std::nullopt : std::optional<StateSet>(found->second);
            },
            [this](const NodeKey& key) -> std::optional<std::vector<NodeKey>> { return children[key]; },
            [this](const NodeKey& key) -> std::optional<NodeKey> {
                const auto found = parents.find(key);
                return found == parents.end() ? std::nullopt : std::optional<NodeKey>(found->second);
            },
            [this](const NodeKey& key) -> std::optional<bool> {
                grabs.push_back(key.path);
                const auto answer = answers.contains(key) ? answers[key] : std::optional<bool>(true);
                if (answer == true) {
                    const NodeKey lands = focuses.contains(key) ? focuses[key] : key;
                    states[lands] |= bit(state::focused);
                }
                return answer;
            },
            [] {},
        };
        return requestFocus(node(target), calls);
    }
};

constexpr StateSet focusable = shown | bit(state::focusable);
constexpr StateSet editableFocusable = focusable | bit(state::editable);

TEST(RequestFocus, LandsOnAnElementThatTakesTheFocus)
{
    struct Case {
        const char* name;
        std::function<void(FakeToolkit&)> build;
        std::optional<bool> expected;
        std::vector<std::string> grabs;
    };
    const std::vector<Case> cases{
        {"a focusable text is asked itself", [](FakeToolkit&) {}, true, {"/text"}},
        {"a refused request is not retried without a focusable ancestor near",
            [](FakeToolkit& t) {
                t.answers[node("text")] = false;
                t.parents[node("frame")] = node("top");
                t.states[node("top")] = focusable;
            },
            false, {"/text"}},
        {"a failed call stays failed", [](FakeToolkit& t) { t.answers[node("text")] = std::nullopt; }, std::nullopt,
            {"/text"}},
        // KWrite: the text has no focus action; its view focuses it through its focus proxy.
        {"a refused text is focused through its nearest focusable ancestor",
            [](FakeToolkit& t) {
                t.answers[node("text")] = false;
                t.states[node("pane")] = focusable;
                t.focuses[node("pane")] = node("text");
            },
            true, {"/text", "/pane"}},
        {"an ancestor that keeps the focus itself does not count",
            [](FakeToolkit& t) {
                t.answers[node("text")] = false;
                t.states[node("view")] = focusable;
            },
            false, {"/text", "/view"}},
        {"an ancestor that refuses too leaves the first answer",
            [](FakeToolkit& t) {
                t.answers[node("text")] = std::nullopt;
                t.states[node("view")] = focusable;
                t.answers[node("view")] = false;
            },
            std::nullopt, {"/text", "/view"}},
        // LibreOffice: the document accepts the request and does nothing; its paragraph takes it.
        {"an element that cannot take the focus hands it to its first shown editable descendant",
            [](FakeToolkit& t) {
                t.states[node("text")] = shown | bit(state::editable);
                t.add("text", "hidden", editableFocusable & ~shown);
                t.add("text", "link", focusable);
                t.add("text", "table", shown);
                t.add("table", "cell", editableFocusable);
            },
            true, {"/cell"}},
        {"without such a descendant the element itself is asked",
            [](FakeToolkit& t) {
                t.states[node("text")] = shown | bit(state::editable);
                t.add("text", "hidden", bit(state::editable) | bit(state::focusable));
                t.add("hidden", "inside", editableFocusable);
                t.add("text", "loop", shown);
                t.children[node("loop")] = {node("text"), node("loop")};
            },
            true, {"/text"}},
    };
    for (const auto& c : cases) {
        // text in view in pane in frame, none of them focusable but the text.
        FakeToolkit toolkit;
        toolkit.parents = {{node("text"), node("view")}, {node("view"), node("pane")}, {node("pane"), node("frame")}};
        toolkit.states
            = {{node("text"), editableFocusable}, {node("view"), shown}, {node("pane"), shown}, {node("frame"), shown}};
        c.build(toolkit);
        EXPECT_EQ(toolkit.focus("text"), c.expected) << c.name;
        EXPECT_EQ(toolkit.grabs, c.grabs) << c.name;
    }
}

TEST(CountText, CountsCharactersAndEmbeddedObjects)
{
    const std::string ob(objectReplacement);
    EXPECT_EQ(countText("").characters, 0);
    EXPECT_EQ(countText("hello").characters, 5);
    EXPECT_EQ(countText("h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80").characters, 9);
    const auto two = countText(ob + "\n" + ob);
    EXPECT_EQ(two.characters, 3);
    EXPECT_EQ(two.objects, 2);
    EXPECT_EQ(countText("a" + ob + "b").objects, 1);
    // A cut-off sequence counts as the characters it begins, and is no object.
    EXPECT_EQ(countText("\xEF\xBF").objects, 0);
    EXPECT_EQ(countText("\xEF\xBF").characters, 1);
}

} // namespace
} // namespace focusprobe::platform::desktop
