#include "rescue/composer_search.h"

#include "fakes/fake_desktop.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <ostream>

namespace focusprobe::testing {
namespace {

using Node = FakeAccessibility::Node;
using ElementValue = FakeAccessibility::ElementValue;
using Other = FakeAccessibility::Other;

constexpr double quietNaN = std::numeric_limits<double>::quiet_NaN();

// What a search found, with the target by its label ("" when absent).
struct Walk {
    std::string target;
    std::int64_t candidates = 0;
    std::int64_t visited = 0;
    bool timedOut = false;

    friend bool operator==(const Walk&, const Walk&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Walk& w)
    {
        return out << "{target \"" << w.target << "\", candidates " << w.candidates << ", visited " << w.visited
                   << ", timedOut " << std::boolalpha << w.timedOut << "}";
    }
};

class ComposerSearchTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(ax.liveReferences(), 0);
        EXPECT_EQ(ax.overReleases(), 0);
    }

    Element hold(const Node& node) { return Element::retain(ax, node.raw()); }

    [[nodiscard]] std::string labelOf(const std::optional<Element>& element) const
    {
        return element ? ax.label(element->get()) : std::string();
    }

    Walk walk(const Node& windowNode, std::int64_t nodeCap = 2500, double budgetMs = 400.0)
    {
        const Element window = hold(windowNode);
        const ComposerSearch search = findComposer(context, {.in = window, .nodeCap = nodeCap, .budgetMs = budgetMs});
        // Only the caller's window and the target may still be held.
        EXPECT_EQ(ax.liveReferences(), 1 + (search.target ? 1 : 0));
        return Walk{labelOf(search.target), search.candidates, search.visited, search.timedOut};
    }

    // The examined nodes in order: each examination starts with a role read.
    [[nodiscard]] std::vector<std::string> examined() const
    {
        std::vector<std::string> labels;
        for (const auto& entry : desktop.log.filtered({"ax.copy "})) {
            const std::string_view rest = std::string_view(entry).substr(8);
            if (rest.ends_with(" AXRole")) {
                labels.emplace_back(rest.substr(0, rest.size() - 7));
            }
        }
        return labels;
    }

    FakeDesktop desktop;
    FakeAccessibility& ax = desktop.accessibility;
    Globals globals = makeGlobals({"focusprobe", "rescue"});
    Context context{desktop.platform(), globals};
};

// Each case builds its tree and returns the window.
struct SearchCase {
    const char* name;
    std::function<Node(FakeAccessibility&)> tree;
    Walk expected;
    std::vector<std::string> examined;
};

const std::vector<SearchCase> walkCases{
    {"group holding a static text and a text area",
        [](FakeAccessibility& ax) {
            auto text = ax.element("text").role("AXStaticText");
            auto area = ax.element("area").role("AXTextArea").size(200, 50);
            return ax.element("window")
                .role("AXWindow")
                .children({ax.element("group").role("AXGroup").children({text, area})});
        },
        {"area", 1, 4, false}, {"window", "group", "text", "area"}},
    {"breadth-first: level by level, siblings in platform order",
        [](FakeAccessibility& ax) {
            auto deep = ax.element("deep").role("AXTextArea").size(10, 10);
            auto left = ax.element("left").role("AXGroup").children({deep});
            auto first = ax.element("first").role("AXTextField").size(10, 10);
            auto second = ax.element("second").role("AXTextField").size(10, 10);
            return ax.element("window").role("AXWindow").children({left, first, second});
        },
        {"first", 3, 5, false}, {"window", "left", "first", "second", "deep"}},
    {"a strictly larger candidate replaces the best, wherever it is",
        [](FakeAccessibility& ax) {
            auto deep = ax.element("deep").role("AXTextArea").size(40, 10);
            auto left = ax.element("left").role("AXGroup").children({deep});
            auto first = ax.element("first").role("AXTextField").size(10, 10);
            return ax.element("window").role("AXWindow").children({left, first});
        },
        {"deep", 2, 4, false}, {"window", "left", "first", "deep"}},
    {"text field under a skipped role is not found",
        [](FakeAccessibility& ax) {
            auto field = ax.element("field").role("AXTextField").size(100, 20);
            return ax.element("window")
                .role("AXWindow")
                .children({ax.element("button").role("AXButton").children({field})});
        },
        {"", 0, 2, false}, {"window", "button"}},
    {"a skipped role with an editable ancestor is a candidate",
        [](FakeAccessibility& ax) {
            auto composer = ax.element("composer").role("AXGroup").size(300, 40);
            auto inner = ax.element("inner").role("AXTextArea").size(900, 900);
            auto text = ax.element("text").role("AXStaticText").editableAncestor(composer).children({inner});
            return ax.element("window").role("AXWindow").children({text});
        },
        {"composer", 1, 2, false}, {"window", "text"}},
    {"candidates are counted per node, and a candidate's children are not entered",
        [](FakeAccessibility& ax) {
            auto root = ax.element("root").role("AXGroup").size(50, 10);
            auto inner = ax.element("inner").role("AXTextArea").size(900, 900);
            auto a = ax.element("a").role("AXGroup").editableAncestor(root).children({inner});
            auto b = ax.element("b").role("AXStaticText").editableAncestor(root);
            return ax.element("window").role("AXWindow").children({a, b});
        },
        {"root", 2, 3, false}, {"window", "a", "b"}},
    {"a node without a readable role is entered, not skipped",
        [](FakeAccessibility& ax) {
            auto field = ax.element("field").role("AXTextField").size(10, 2);
            auto unknown = ax.element("unknown").fail("AXRole", axErrorCannotComplete).children({field});
            return ax.element("window").role("AXWindow").children({unknown});
        },
        {"field", 1, 3, false}, {"window", "unknown", "field"}},
    {"a subtree reachable twice is examined and counted twice",
        [](FakeAccessibility& ax) {
            auto shared = ax.element("shared").role("AXTextArea").size(10, 10);
            auto one = ax.element("one").role("AXGroup").children({shared});
            auto two = ax.element("two").role("AXGroup").children({shared});
            return ax.element("window").role("AXWindow").children({one, two});
        },
        {"shared", 2, 5, false}, {"window", "one", "two", "shared", "shared"}},
    {"no candidate anywhere",
        [](FakeAccessibility& ax) {
            auto text = ax.element("text").role("AXStaticText");
            auto leaf = ax.element("leaf").role("AXGroup").fail("AXChildren");
            return ax.element("window").role("AXWindow").children({text, leaf});
        },
        {"", 0, 3, false}, {"window", "text", "leaf"}},
};

const std::vector<SearchCase> areaCases{
    {"unreadable size: the first candidate still wins with area 0",
        [](FakeAccessibility& ax) {
            auto first = ax.element("first").role("AXTextField").fail("AXSize");
            auto zero = ax.element("zero").role("AXTextField").size(0, 40);
            auto notSize = ax.element("notSize").role("AXTextField").value("AXSize", Other{});
            return ax.element("window").role("AXWindow").children({first, zero, notSize});
        },
        {"first", 3, 4, false}, {}},
    {"unreadable size, then a positive area replaces it",
        [](FakeAccessibility& ax) {
            auto first = ax.element("first").role("AXTextField").nullValue("AXSize");
            auto later = ax.element("later").role("AXTextField").size(1, 1);
            return ax.element("window").role("AXWindow").children({first, later});
        },
        {"later", 2, 3, false}, {}},
    {"a NaN area never wins, not even as the first candidate",
        [](FakeAccessibility& ax) {
            auto notANumber = ax.element("nan").role("AXTextArea").size(quietNaN, 10);
            auto unreadable = ax.element("unreadable").role("AXTextArea").fail("AXSize");
            auto alsoNan = ax.element("alsoNan").role("AXTextArea").size(10, quietNaN);
            return ax.element("window").role("AXWindow").children({notANumber, unreadable, alsoNan});
        },
        {"unreadable", 3, 4, false}, {}},
    {"a NaN area alone leaves no target",
        [](FakeAccessibility& ax) {
            return ax.element("window")
                .role("AXWindow")
                .children({ax.element("nan").role("AXTextArea").size(quietNaN, 1)});
        },
        {"", 1, 2, false}, {}},
    {"negative sides count as zero: two negatives never multiply into the largest area",
        [](FakeAccessibility& ax) {
            auto bothNegative = ax.element("bothNegative").role("AXTextArea").size(-2147483648.0, -2147483648.0);
            auto oneNegative = ax.element("oneNegative").role("AXTextArea").size(-1, -2147483648.0);
            auto real = ax.element("real").role("AXTextArea").size(400, 30);
            return ax.element("window").role("AXWindow").children({bothNegative, oneNegative, real});
        },
        {"real", 3, 4, false}, {}},
    {"the editable root's size counts, not the node's",
        [](FakeAccessibility& ax) {
            auto small = ax.element("small").role("AXGroup").size(2, 2);
            auto big = ax.element("big").role("AXTextField").size(5, 5);
            auto viaSmall = ax.element("viaSmall").role("AXTextArea").size(100, 100).editableAncestor(small);
            return ax.element("window").role("AXWindow").children({viaSmall, big});
        },
        {"big", 2, 3, false}, {}},
};

TEST_F(ComposerSearchTest, WalksBreadthFirstAndKeepsTheFirstLargest)
{
    for (const auto& c : walkCases) {
        SCOPED_TRACE(c.name);
        desktop.log.entries.clear();
        EXPECT_EQ(walk(c.tree(ax)), c.expected);
        EXPECT_EQ(examined(), c.examined);
        EXPECT_EQ(ax.liveReferences(), 0);
    }
}

TEST_F(ComposerSearchTest, AreasDecideAmongCandidates)
{
    for (const auto& c : areaCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(walk(c.tree(ax)), c.expected);
        EXPECT_EQ(ax.liveReferences(), 0);
    }
}

TEST_F(ComposerSearchTest, EverySkipRoleHidesItsSubtree)
{
    for (const auto* role : {"AXStaticText", "AXImage", "AXButton", "AXMenuBar", "AXMenu", "AXMenuItem", "AXToolbar",
             "AXScrollBar", "AXLink", "AXCheckBox", "AXRadioButton", "AXSlider", "AXPopUpButton"}) {
        SCOPED_TRACE(role);
        auto field = ax.element("field").role("AXTextField").size(10, 10);
        auto window
            = ax.element("window").role("AXWindow").children({ax.element("skipped").role(role).children({field})});
        EXPECT_EQ(walk(window), (Walk{"", 0, 2, false}));
    }
    // Whole, case-sensitive names only.
    for (const auto* role : {"AXbutton", "AXButtonX", "AXMenuButton"}) {
        SCOPED_TRACE(role);
        auto field = ax.element("field").role("AXTextField").size(10, 10);
        auto window
            = ax.element("window").role("AXWindow").children({ax.element("entered").role(role).children({field})});
        EXPECT_EQ(walk(window), (Walk{"field", 1, 3, false}));
    }
}

// window -> a, b, c; each of them -> one leaf: 7 nodes in all.
Node sevenNodes(FakeAccessibility& ax)
{
    auto branch = [&](const std::string& name) {
        return ax.element(name).role("AXGroup").children({ax.element(name + "1").role("AXGroup")});
    };
    return ax.element("window").role("AXWindow").children({branch("a"), branch("b"), branch("c")});
}

TEST_F(ComposerSearchTest, NodeCapLimitsExaminedNodes)
{
    struct CapCase {
        std::int64_t cap;
        Walk expected;
    };
    for (const auto& c : std::vector<CapCase>{
             {0, {"", 0, 0, true}},
             {-1, {"", 0, 0, true}},
             {1, {"", 0, 1, true}},
             {3, {"", 0, 3, true}}, // c and the leaves still wait
             {4, {"", 0, 4, true}},
             {6, {"", 0, 6, true}},
             {7, {"", 0, 7, false}}, // the queue runs empty exactly at the cap
             {8, {"", 0, 7, false}},
         }) {
        SCOPED_TRACE(c.cap);
        desktop.log.entries.clear();
        EXPECT_EQ(walk(sevenNodes(ax), c.cap), c.expected);
        EXPECT_EQ(static_cast<std::int64_t>(examined().size()), c.expected.visited);
    }
}

TEST_F(ComposerSearchTest, CapStillReturnsTheBestSoFar)
{
    auto late = ax.element("late").role("AXTextArea").size(99, 99);
    auto early = ax.element("early").role("AXTextField").size(1, 1);
    auto window
        = ax.element("window").role("AXWindow").children({early, ax.element("g").role("AXGroup").children({late})});
    EXPECT_EQ(walk(window, 3), (Walk{"early", 1, 3, true}));
}

TEST_F(ComposerSearchTest, BudgetIsTestedBeforeEachNode)
{
    // A clock that moves 125 ms with every platform call: an entered node costs three calls
    // (role, editable ancestor, children), a candidate three (role, editable ancestor, size).
    ax.onCall = [this] { desktop.process.clock += 0.125; };
    auto leaves = [&] {
        return ax.element("window")
            .role("AXWindow")
            .children({ax.element("a").role("AXGroup"), ax.element("b").role("AXTextField").size(3, 3),
                ax.element("c").role("AXGroup"), ax.element("d").role("AXGroup")});
    };
    // The expected walk as plain fields: with a Walk (a std::string inside) in each row, GCC 12 at
    // -O2 takes the list's temporaries for uninitialized strings (-Wmaybe-uninitialized).
    struct BudgetCase {
        double budgetMs;
        const char* target;
        std::int64_t candidates;
        std::int64_t visited;
        bool timedOut;
        std::vector<std::string> examined;
    };
    for (const auto& c : std::vector<BudgetCase>{
             {-1.0, "", 0, 0, true, {}},
             {0.0, "", 0, 1, true, {"window"}},
             {374.0, "", 0, 1, true, {"window"}},
             // 375 ms have passed before a: not more than the budget, so a is examined.
             {375.0, "", 0, 2, true, {"window", "a"}},
             {750.0, "b", 1, 3, true, {"window", "a", "b"}},
             {10'000.0, "b", 1, 5, false, {"window", "a", "b", "c", "d"}},
         }) {
        SCOPED_TRACE(c.budgetMs);
        desktop.log.entries.clear();
        EXPECT_EQ(walk(leaves(), 2500, c.budgetMs), (Walk{c.target, c.candidates, c.visited, c.timedOut}));
        EXPECT_EQ(examined(), c.examined);
    }
}

TEST_F(ComposerSearchTest, OneSlowAnswerCarriesTheWalkPastTheBudget)
{
    auto slow = ax.element("slow").role("AXGroup");
    auto window
        = ax.element("window").role("AXWindow").children({slow, ax.element("next").role("AXTextArea").size(5, 5)});
    // The children read of "slow", the call after its editable-ancestor read, takes two seconds.
    ax.onCall = [this] {
        const auto& entries = desktop.log.entries;
        if (!entries.empty() && entries.back() == "ax.copy slow AXEditableAncestor") {
            desktop.process.clock += 2.0;
        }
    };
    EXPECT_EQ(walk(window), (Walk{"", 0, 2, true}));
    EXPECT_EQ(examined(), (std::vector<std::string>{"window", "slow"}));
}

// What the desktop backend hands out for children its time ran out before reading: a stand-in
// whose reads all fail and whose own children are another such reference.
Node unexamined(FakeAccessibility& ax, const std::string& label, std::initializer_list<Node> next)
{
    auto node = ax.element(label)
                    .standIn()
                    .fail("AXRole", axErrorCannotComplete)
                    .fail("AXEditableAncestor", axErrorCannotComplete)
                    .fail("AXSize", axErrorCannotComplete)
                    .settable("AXFocused", false, axErrorCannotComplete)
                    .onSet("AXFocused", axErrorCannotComplete);
    return next.size() == 0 ? node.fail("AXChildren", axErrorCannotComplete) : node.children(next);
}

TEST_F(ComposerSearchTest, ChildrenCutByTimeEndTheWalkAsTimedOut)
{
    // The window's children read is where the budget runs out: the walk stops before the
    // placeholder, which is neither examined nor a candidate, and says the search was cut.
    auto placeholder = unexamined(ax, "unexamined", {});
    auto window = ax.element("window").role("AXWindow").children({placeholder});
    ax.onCall = [this] {
        const auto& entries = desktop.log.entries;
        if (!entries.empty() && entries.back() == "ax.copy window AXEditableAncestor") {
            desktop.process.clock += 0.401;
        }
    };
    EXPECT_EQ(walk(window), (Walk{"", 0, 1, true}));
    EXPECT_EQ(examined(), (std::vector<std::string>{"window"}));
}

TEST_F(ComposerSearchTest, PlaceholdersAreNeitherExaminedNorCounted)
{
    // Cut by a deadline other than the walk's (the command's): a placeholder costs nothing and
    // its children are another, so a walk that examined them would count them up to its cap.
    // It examines and counts the real nodes only, and says it was cut.
    auto loop = unexamined(ax, "u2", {});
    loop.children({loop});
    auto window = ax.element("window")
                      .role("AXWindow")
                      .children({unexamined(ax, "u1", {loop}), ax.element("field").role("AXTextField").size(4, 4),
                          ax.element("group").role("AXGroup").children({loop})});
    EXPECT_EQ(walk(window), (Walk{"field", 1, 3, true}));
    EXPECT_EQ(examined(), (std::vector<std::string>{"window", "field", "group"}));

    // The cap and the budget count real nodes too.
    desktop.log.entries.clear();
    EXPECT_EQ(walk(window, 2, 10'000.0), (Walk{"field", 1, 2, true}));
    EXPECT_EQ(examined(), (std::vector<std::string>{"window", "field"}));
    desktop.log.entries.clear();
    ax.onCall = [this] { desktop.process.clock += 0.05; };
    EXPECT_EQ(walk(window, 2500, 200.0), (Walk{"field", 1, 2, true}));
}

TEST(FrontWindowTest, FocusedThenMainThenFirstListed)
{
    struct Case {
        const char* name;
        std::function<void(FakeAccessibility&, Node& app)> attributes;
        std::string expected;
        std::vector<std::string> reads;
    };
    const std::vector<Case> cases{
        {"focused window",
            [](FakeAccessibility& ax, Node& app) {
                app.value("AXFocusedWindow", ElementValue{ax.element("focused").id()})
                    .value("AXMainWindow", ElementValue{ax.element("main").id()});
            },
            "focused", {"AXFocusedWindow"}},
        {"main window when the focused one fails",
            [](FakeAccessibility& ax, Node& app) {
                app.fail("AXFocusedWindow", axErrorCannotComplete)
                    .value("AXMainWindow", ElementValue{ax.element("main").id()})
                    .value("AXWindows", std::vector<FakeAccessibility::Id>{ax.element("listed").id()});
            },
            "main", {"AXFocusedWindow", "AXMainWindow"}},
        {"first listed when both read without a value",
            [](FakeAccessibility& ax, Node& app) {
                app.nullValue("AXFocusedWindow")
                    .nullValue("AXMainWindow")
                    .value("AXWindows",
                        std::vector<FakeAccessibility::Id>{ax.element("first").id(), ax.element("second").id()});
            },
            "first", {"AXFocusedWindow", "AXMainWindow", "AXWindows"}},
        {"empty window list", [](FakeAccessibility&, Node& app) { app.value("AXWindows", std::vector<std::size_t>{}); },
            "", {"AXFocusedWindow", "AXMainWindow", "AXWindows"}},
        {"window list that is not a list",
            [](FakeAccessibility&, Node& app) { app.value("AXWindows", std::string("window")); }, "",
            {"AXFocusedWindow", "AXMainWindow", "AXWindows"}},
        {"nothing at all", [](FakeAccessibility&, Node&) {}, "", {"AXFocusedWindow", "AXMainWindow", "AXWindows"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDesktop desktop;
        auto appNode = desktop.accessibility.application(42);
        c.attributes(desktop.accessibility, appNode);
        {
            const Element app = desktop.accessibility.createApplication(42);
            const auto window = frontWindow(desktop.accessibility, app);
            EXPECT_EQ(window ? desktop.accessibility.label(window->get()) : "", c.expected);
            EXPECT_EQ(desktop.accessibility.liveReferences(), window ? 2 : 1);
        }
        std::vector<std::string> reads;
        for (const auto& entry : desktop.log.filtered({"ax.copy app "})) {
            reads.push_back(entry.substr(12));
        }
        EXPECT_EQ(reads, c.reads);
        EXPECT_EQ(desktop.accessibility.liveReferences(), 0);
        EXPECT_EQ(desktop.accessibility.overReleases(), 0);
    }
}

TEST(EditableRootTest, AncestorFirstThenTextEntryRole)
{
    FakeDesktop desktop;
    auto& ax = desktop.accessibility;
    auto ancestor = ax.element("ancestor").role("AXButton");
    auto withAncestor = ax.element("withAncestor").editableAncestor(ancestor);
    auto plain = ax.element("plain");
    struct Case {
        Node node;
        std::optional<std::string> role;
        std::string expected;
    };
    for (const auto& c : std::vector<Case>{
             {withAncestor, std::nullopt, "ancestor"},
             {withAncestor, "AXGroup", "ancestor"},
             {plain, "AXComboBox", "plain"},
             {plain, "AXGroup", ""},
             {plain, std::nullopt, ""},
         }) {
        SCOPED_TRACE(ax.label(c.node.raw()) + " " + c.role.value_or("(no role)"));
        {
            const Element element = Element::retain(ax, c.node.raw());
            const auto root = editableRoot(ax, element, c.role);
            EXPECT_EQ(root ? ax.label(root->get()) : "", c.expected);
            EXPECT_EQ(ax.liveReferences(), root ? 2 : 1);
        }
        EXPECT_EQ(ax.liveReferences(), 0);
    }
    EXPECT_EQ(ax.overReleases(), 0);
}

} // namespace
} // namespace focusprobe::testing
