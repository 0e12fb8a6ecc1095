#include "rescue/rescue.h"

#include "fakes/fake_desktop.h"
#include "support/run_binary.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>

namespace focusprobe::testing {
namespace {

using Node = FakeAccessibility::Node;
using ElementValue = FakeAccessibility::ElementValue;
using nlohmann::ordered_json;

constexpr std::string_view noFrontmostLine
    = R"({"bundleId":"unknown","appName":"unknown","editable":false,"stage":"no_frontmost","valueLen":null,)"
      R"("rescued":false,"candidates":0,"visited":0,"timedOut":false})";

constexpr std::int32_t pid = 501;

// The shared workspace, also noting how many handles are alive whenever the frontmost
// application is asked for: the verdict's own lookup must find them all released.
class LookupProbe final : public platform::Workspace {
public:
    LookupProbe(platform::Workspace& inner, const FakeAccessibility& ax) : inner_(inner), ax_(ax) { }

    std::optional<platform::RunningApplication> frontmostApplication() override
    {
        liveAtLookup.push_back(ax_.liveReferences());
        return inner_.frontmostApplication();
    }
    bool isVoiceOverEnabled() override { return inner_.isVoiceOverEnabled(); }

    std::vector<long> liveAtLookup;

private:
    platform::Workspace& inner_;
    const FakeAccessibility& ax_;
};

// One rescue on a fake desktop whose frontmost application is "Chat".
struct Scene {
    Scene() { desktop.workspace.frontmost = platform::RunningApplication{pid, "com.example.chat", "Chat"}; }

    // Runs the flow and parses its one line; checks what holds for every outcome.
    ordered_json run()
    {
        EXPECT_EQ(runRescue(context), 0);
        const std::string& out = desktop.process.output;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
        EXPECT_TRUE(out.ends_with('\n'));
        auto line = ordered_json::parse(out.substr(0, out.empty() ? 0 : out.size() - 1), nullptr, false);
        EXPECT_FALSE(line.is_discarded()) << out;
        std::vector<std::string> keys;
        for (const auto& item : line.items()) {
            keys.push_back(item.key());
        }
        EXPECT_EQ(keys,
            (std::vector<std::string>{"bundleId", "appName", "editable", "stage", "valueLen", "rescued", "candidates",
                "visited", "timedOut"}));
        EXPECT_EQ(ax.liveReferences(), 0);
        EXPECT_EQ(ax.overReleases(), 0);
        return line;
    }

    // Focus requests, waits and frontmost lookups, in order.
    [[nodiscard]] std::vector<std::string> steps() const
    {
        return desktop.log.filtered({"ax.set ", "sleep", "workspace.frontmostApplication"});
    }

    // The application moves its focus to whatever accepts "AXFocused".
    void focusFollowsRequests()
    {
        ax.afterSet = [this](FakeAccessibility::Id id, const std::string& attribute) {
            if (attribute == "AXFocused") {
                app.value("AXFocusedUIElement", ElementValue{id});
            }
        };
    }

    FakeDesktop desktop;
    FakeAccessibility& ax = desktop.accessibility;
    Node app = ax.application(pid);
    LookupProbe workspace{desktop.workspace, desktop.accessibility};
    Globals globals = makeGlobals({"/usr/local/bin/focusprobe", "rescue"});
    Context context{platform::Platform{ax, workspace, desktop.process, desktop.keyboard, desktop.events, desktop.speech,
                        desktop.input, desktop.loop},
        globals};
};

struct Outcome {
    bool rescued;
    std::int64_t candidates;
    std::int64_t visited;
    bool timedOut;
    bool editable;
    // Not a std::string: GCC 12 at -O2 takes the case table's temporaries for uninitialized strings.
    const char* stage;
};

struct FlowCase {
    const char* name;
    std::function<void(Scene&)> setup;
    Outcome expected;
    std::vector<std::string> steps;
};

const std::vector<std::string> noFocusRequest{
    "workspace.frontmostApplication", "workspace.frontmostApplication", "sleep 100000"};

const std::vector<FlowCase> outcomeCases{
    {"no front window", [](Scene&) {}, {false, 0, 0, false, false, "no_focused_element"}, noFocusRequest},
    {"search found no candidate",
        [](Scene& s) {
            auto button = s.ax.element("button").role("AXButton");
            auto window = s.ax.element("window").role("AXWindow").children({button});
            s.app.value("AXWindows", std::vector<FakeAccessibility::Id>{window.id()})
                .value("AXFocusedUIElement", ElementValue{button.id()});
        },
        {false, 0, 2, false, false, "not_editable"}, noFocusRequest},
    {"focus request refused",
        [](Scene& s) {
            auto field
                = s.ax.element("field").role("AXTextField").size(200, 20).onSet("AXFocused", axErrorCannotComplete);
            auto window = s.ax.element("window").role("AXWindow").children({field});
            s.app.value("AXFocusedWindow", ElementValue{window.id()});
            s.focusFollowsRequests();
        },
        {false, 1, 2, false, false, "no_focused_element"},
        {"workspace.frontmostApplication", "ax.set field AXFocused", "workspace.frontmostApplication", "sleep 100000"}},
    {"focus request accepted",
        [](Scene& s) {
            auto field
                = s.ax.element("field").role("AXTextField").size(200, 20).onSet("AXFocused", platform::axErrorSuccess);
            auto window = s.ax.element("window").role("AXWindow").children({field});
            s.app.value("AXMainWindow", ElementValue{window.id()});
            s.focusFollowsRequests();
        },
        {true, 1, 2, false, true, "role"},
        {"workspace.frontmostApplication", "ax.set field AXFocused", "sleep 80000", "workspace.frontmostApplication",
            "sleep 100000"}},
    {"accepted after the walk ran out of time",
        [](Scene& s) {
            // 100 ms per platform call: the window and the field take 600 ms, so "later" is
            // never started.
            s.ax.onCall = [&s] { s.desktop.process.clock += 0.1; };
            auto field
                = s.ax.element("field").role("AXTextArea").size(200, 20).onSet("AXFocused", platform::axErrorSuccess);
            auto later = s.ax.element("later").role("AXTextArea").size(900, 900);
            auto window = s.ax.element("window").role("AXWindow").children({field, later});
            s.app.value("AXFocusedWindow", ElementValue{window.id()});
            s.focusFollowsRequests();
        },
        {true, 1, 2, true, true, "role"},
        {"workspace.frontmostApplication", "ax.set field AXFocused", "sleep 80000", "workspace.frontmostApplication",
            "sleep 100000"}},
};

TEST(RescueTest, EveryOutcomePrintsOneCompleteLine)
{
    for (const auto& c : outcomeCases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        c.setup(scene);
        auto line = scene.run();
        EXPECT_EQ(line["bundleId"], "com.example.chat");
        EXPECT_EQ(line["appName"], "Chat");
        EXPECT_EQ(line["editable"], c.expected.editable);
        EXPECT_EQ(line["stage"], c.expected.stage);
        EXPECT_TRUE(line["valueLen"].is_null());
        EXPECT_EQ(line["rescued"], c.expected.rescued);
        EXPECT_TRUE(line["candidates"].is_number_integer());
        EXPECT_EQ(line["candidates"], c.expected.candidates);
        EXPECT_EQ(line["visited"], c.expected.visited);
        EXPECT_EQ(line["timedOut"], c.expected.timedOut);
        EXPECT_EQ(scene.steps(), c.steps);
        // Application, window and target are all released before the verdict looks again.
        EXPECT_EQ(scene.workspace.liveAtLookup, (std::vector<long>{0, 0}));
    }
}

TEST(RescueTest, NoFrontmostPrintsTheFixedLineWithoutAccessibility)
{
    Scene scene;
    scene.desktop.workspace.frontmost.reset();
    scene.run();
    EXPECT_EQ(scene.desktop.process.output, std::string(noFrontmostLine) + "\n");
    EXPECT_EQ(scene.desktop.log.countPrefix("ax."), 0);
    EXPECT_TRUE(scene.desktop.process.sleeps.empty());
    EXPECT_EQ(scene.desktop.log.count("workspace.frontmostApplication"), 1);
}

TEST(RescueTest, MissingNamesAreUnknownAndPrepareMatchesNothing)
{
    Scene scene;
    scene.desktop.workspace.frontmost = platform::RunningApplication{pid, std::nullopt, std::nullopt};
    auto line = scene.run();
    EXPECT_EQ(line["bundleId"], "unknown");
    EXPECT_EQ(line["appName"], "unknown");
    EXPECT_EQ(scene.desktop.log.countPrefix("ax.set "), 0);
    EXPECT_TRUE(scene.globals.axEnabledPids.contains(pid));
}

TEST(RescueTest, PreparesOnceAndReadsTheWindowWithoutWaiting)
{
    Scene scene;
    scene.desktop.workspace.frontmost = platform::RunningApplication{pid, "com.google.Chrome", "Google Chrome"};
    auto field = scene.ax.element("field")
                     .role("AXTextArea")
                     .size(10, 10)
                     .characters(5)
                     .onSet("AXFocused", platform::axErrorSuccess);
    scene.app.value("AXFocusedWindow", ElementValue{scene.ax.element("window").children({field}).id()});
    scene.focusFollowsRequests();

    auto line = scene.run();
    EXPECT_EQ(line["rescued"], true);
    EXPECT_EQ(line["valueLen"], 5);
    EXPECT_EQ(scene.desktop.log.filtered({"ax.set ", "ax.copy app AXFocusedWindow", "sleep"}),
        (std::vector<std::string>{"ax.set app AXEnhancedUserInterface", "ax.set app AXManualAccessibility",
            "ax.copy app AXFocusedWindow", "ax.set field AXFocused", "sleep 80000", "sleep 100000"}));
}

TEST(RescueTest, NamesComeFromTheRescuedApplication)
{
    Scene scene;
    scene.desktop.workspace.laterFrontmost.emplace_back(
        platform::RunningApplication{777, "com.example.other", "Other"});
    auto otherField = scene.ax.element("otherField").role("AXTextField").characters(3);
    scene.ax.application(777, "other").value("AXFocusedUIElement", ElementValue{otherField.id()});

    auto line = scene.run();
    EXPECT_EQ(line["bundleId"], "com.example.chat");
    EXPECT_EQ(line["appName"], "Chat");
    EXPECT_EQ(line["stage"], "role");
    EXPECT_EQ(line["valueLen"], 3);
}

TEST(RescueProcessTest, HeadlessBinaryPrintsTheFixedLine)
{
    for (const auto& arguments :
        {std::vector<std::string>{"rescue"}, std::vector<std::string>{"rescue", "extra", "args"}}) {
        SCOPED_TRACE(arguments.size());
        const BinaryResult result = runFocusprobe({.arguments = arguments});
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.standardOutput, std::string(noFrontmostLine) + "\n");
        EXPECT_EQ(result.standardError, "");
    }
}

} // namespace
} // namespace focusprobe::testing
