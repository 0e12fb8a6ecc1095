// The macOS backend's own C++ (cf_ref, value_conversion, mac_accessibility, mac_keyboard,
// mac_events) through the real flows from dispatch(), over the counting fakes of Apple's C
// frameworks; the Objective-C parts (workspace, event loop, speech, input monitoring) come from
// the fake desktop. Every test ends with no object alive and nothing misused.

#include "app/dispatch.h"
#include "context/globals.h"
#include "fake_frameworks.h"
#include "fakes/fake_event_loop.h"
#include "fakes/fake_input.h"
#include "fakes/fake_keyboard.h"
#include "fakes/fake_process.h"
#include "fakes/fake_speech.h"
#include "fakes/fake_workspace.h"
#include "platform/macos/mac_accessibility.h"
#include "platform/macos/mac_events.h"
#include "platform/macos/mac_keyboard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace focusprobe::testing {
namespace {

namespace fw = frameworks;

struct Outcome {
    int status = 0;
    std::string output;
    long milliseconds = 0; // on the process's fake clock

    friend bool operator==(const Outcome&, const Outcome&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Outcome& o)
    {
        return out << "{status " << o.status << ", output \"" << o.output << "\", " << o.milliseconds << " ms}";
    }
};

const std::string textEdit = R"({"bundleId":"com.apple.TextEdit","appName":"TextEdit",)";

class MacBackend : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(world.counters(), fw::Counters{}) << world.report(); }

    // One process of the program: fresh globals and backend objects, the same desktop.
    Outcome run(std::vector<std::string> arguments)
    {
        CallLog log;
        FakeWorkspace workspace{log};
        workspace.frontmost = frontmost;
        FakeProcess process{log};
        FakeSpeech speech{log};
        FakeInput input{log};
        FakeEventLoop loop{log};
        loop.useClock(process);
        platform::macos::MacAccessibility accessibility{process};
        platform::macos::MacKeyboardLayouts keyboard;
        platform::macos::MacEventPosting events;
        arguments.insert(arguments.begin(), "/usr/local/bin/focusprobe");
        Globals globals = makeGlobals(arguments);
        Context context{
            platform::Platform{accessibility, workspace, process, keyboard, events, speech, input, loop}, globals};
        world.clock = &process.clock;
        const double start = process.clock;
        const int status = dispatch(context);
        world.clock = nullptr;
        return Outcome{status, process.output, std::lround((process.clock - start) * 1000)};
    }

    // TextEdit (pid 42) in front, its focused element this value.
    fw::Node textEditFocusedOn(fw::Value focused)
    {
        frontmost = platform::RunningApplication{42, "com.apple.TextEdit", "TextEdit"};
        return world.application(42, "TextEdit").value("AXFocusedUIElement", std::move(focused));
    }

    fw::World& world = fw::resetWorld();
    std::optional<platform::RunningApplication> frontmost;
};

TEST_F(MacBackend, QueriesOfAFocusedTextArea)
{
    textEditFocusedOn(fw::ElementOf{world.element(42, "text").role("AXTextArea").characters(12).id()});

    EXPECT_EQ(run({"info"}),
        (Outcome{0,
            textEdit
                + R"("editable":true,"stage":"role","valueLen":12})"
                  "\n",
            100}));
    EXPECT_EQ(run({}), (Outcome{0, "true\n", 100}));
    EXPECT_EQ(run({"frontmost"}), (Outcome{0, "TextEdit|com.apple.TextEdit|42\n", 0}));
    EXPECT_TRUE(world.sets.empty());
}

struct VerdictCase {
    const char* name;
    std::function<fw::Value(fw::World&)> focused; // what the application reports as focused
    std::string verdict; // the members after the names
};

void PrintTo(const VerdictCase& c, std::ostream* os)
{
    *os << c.name;
}

class MacBackendVerdict : public MacBackend, public ::testing::WithParamInterface<VerdictCase> { };

TEST_P(MacBackendVerdict, Info)
{
    textEditFocusedOn(GetParam().focused(world));
    EXPECT_EQ(run({"info"}).output, textEdit + GetParam().verdict + "\n");
}

fw::Node field(fw::World& w)
{
    return w.element(42, "field");
}

fw::Value focus(const fw::Node& node)
{
    return fw::ElementOf{node.id()};
}

INSTANTIATE_TEST_SUITE_P(Cases, MacBackendVerdict,
    ::testing::Values(
        VerdictCase{"editableAncestor",
            [](fw::World& w) { return focus(field(w).role("AXButton").editableAncestor(w.element(42, "web area"))); },
            R"("editable":true,"stage":"editable_ancestor","valueLen":null})"},
        // An editable ancestor of any kind counts; it is never sent on as an element.
        VerdictCase{"ancestorThatIsNull",
            [](fw::World& w) { return focus(field(w).role("AXButton").value("AXEditableAncestor", fw::Null{})); },
            R"("editable":true,"stage":"editable_ancestor","valueLen":null})"},
        VerdictCase{"ancestorThatIsAString",
            [](fw::World& w) {
                return focus(field(w).role("AXTextField").value("AXEditableAncestor", fw::Text{"x"}).characters(3));
            },
            R"("editable":true,"stage":"editable_ancestor","valueLen":3})"},
        VerdictCase{"focusThatIsNull", [](fw::World& /*w*/) { return fw::Null{}; },
            R"("editable":false,"stage":"no_focused_element","valueLen":null})"},
        VerdictCase{"settableEmptyString",
            [](fw::World& w) {
                return focus(field(w).role("AXGroup").settable("AXValue", true).value("AXValue", fw::Text{""}));
            },
            R"("editable":true,"stage":"settable_value","valueLen":null})"},
        VerdictCase{"settableNumber",
            [](fw::World& w) {
                return focus(field(w).role("AXSlider").settable("AXValue", true).value("AXValue", fw::sint64(4)));
            },
            R"("editable":false,"stage":"not_editable","valueLen":null})"},
        // Character counts through CFNumber as Apple's CoreFoundation stores them.
        VerdictCase{"countUInt64Max",
            [](fw::World& w) {
                return focus(field(w)
                                 .role("AXTextArea")
                                 .value("AXNumberOfCharacters", fw::uint64(std::numeric_limits<std::uint64_t>::max())));
            },
            R"("editable":true,"stage":"role","valueLen":null})"},
        VerdictCase{"countTwoToThe63",
            [](fw::World& w) {
                return focus(
                    field(w).role("AXTextArea").value("AXNumberOfCharacters", fw::uint64(std::uint64_t{1} << 63)));
            },
            R"("editable":true,"stage":"role","valueLen":null})"},
        VerdictCase{"countInt64Max",
            [](fw::World& w) {
                return focus(field(w).role("AXTextArea").characters(std::numeric_limits<std::int64_t>::max()));
            },
            R"("editable":true,"stage":"role","valueLen":9223372036854775807})"},
        VerdictCase{"countNegativeIn128Bits",
            [](fw::World& w) {
                return focus(
                    field(w).role("AXTextArea").value("AXNumberOfCharacters", fw::Integer{17, -1, ~std::uint64_t{4}}));
            },
            R"("editable":true,"stage":"role","valueLen":-5})"},
        VerdictCase{"countSInt32",
            [](fw::World& w) {
                return focus(
                    field(w).role("AXTextArea").value("AXNumberOfCharacters", fw::Integer{kCFNumberSInt32Type, 0, 12}));
            },
            R"("editable":true,"stage":"role","valueLen":12})"},
        VerdictCase{"countWholeDouble",
            [](fw::World& w) {
                return focus(field(w).role("AXTextArea").value("AXNumberOfCharacters", fw::Real{7.0}));
            },
            R"("editable":true,"stage":"role","valueLen":7})"},
        VerdictCase{"countFraction",
            [](fw::World& w) {
                return focus(field(w).role("AXTextArea").value("AXNumberOfCharacters", fw::Real{2.5}));
            },
            R"("editable":true,"stage":"role","valueLen":null})"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(MacBackend, ChromiumAppsArePreparedOncePerProcess)
{
    frontmost = platform::RunningApplication{7, "com.google.Chrome", "Google Chrome"};
    auto app = world.application(7, "Chrome").onSet("AXEnhancedUserInterface", kAXErrorSuccess);
    app.value("AXFocusedUIElement", fw::ElementOf{world.element(7, "omnibox").role("AXTextField").id()});

    EXPECT_EQ(run({}).output, "true\n");
    EXPECT_EQ(world.sets, (std::vector<std::string>{"Chrome AXEnhancedUserInterface", "Chrome AXManualAccessibility"}));
}

TEST_F(MacBackend, RescueFocusesTheComposerAndStopsAtTheNodeCap)
{
    frontmost = platform::RunningApplication{9, "com.tinyspeck.slackmacgap", "Slack"};
    auto composer = world.element(9, "composer").role("AXTextArea").size(600, 80).characters(5);
    composer.onSet("AXFocused", kAXErrorSuccess);
    // Items that are not elements are left out of the children, not queued.
    fw::List children{{fw::Null{}, fw::Text{"stray"}}};
    for (int i = 0; i < 3000; ++i) {
        children.items.emplace_back(fw::ElementOf{world.element(9, "group").role("AXGroup").id()});
    }
    children.items.insert(children.items.begin() + 5, fw::ElementOf{composer.id()});
    auto window = world.element(9, "window").role("AXWindow").value("AXChildren", children);
    world.application(9, "Slack")
        .value("AXFocusedWindow", fw::ElementOf{window.id()})
        .value("AXFocusedUIElement", fw::ElementOf{world.element(9, "send").role("AXButton").id()});

    EXPECT_EQ(run({"rescue"}),
        (Outcome{0,
            R"({"bundleId":"com.tinyspeck.slackmacgap","appName":"Slack","editable":true,"stage":"role",)"
            R"("valueLen":5,"rescued":true,"candidates":1,"visited":2500,"timedOut":true})"
            "\n",
            180}));
    EXPECT_EQ(world.sets, (std::vector<std::string>{"Slack AXManualAccessibility", "composer AXFocused"}));
}

TEST_F(MacBackend, TheWindowListSkipsValuesThatAreNotElements)
{
    frontmost = platform::RunningApplication{9, "com.example.Mail", "Mail"};
    auto body = world.element(9, "body").role("AXTextArea").size(600, 300);
    auto window = world.element(9, "window").role("AXWindow").children({body});
    world.application(9, "Mail")
        .fail("AXFocusedWindow", kAXErrorNoValue)
        .value("AXMainWindow", fw::SizeOf{1, 1})
        .value("AXWindows", fw::List{{fw::Null{}, fw::Text{"w"}, fw::ElementOf{window.id()}}});

    EXPECT_EQ(run({"rescue"}).output,
        R"({"bundleId":"com.example.Mail","appName":"Mail","editable":false,"stage":"no_focused_element",)"
        R"("valueLen":null,"rescued":false,"candidates":1,"visited":2,"timedOut":false})"
        "\n");
}

TEST_F(MacBackend, UntrustedEveryReadFailsAndPasteSaysSo)
{
    world.trusted = false;
    textEditFocusedOn(focus(world.element(42, "text").role("AXTextArea").onSet("AXFocused", kAXErrorSuccess)));
    world.currentLayout = fw::InputSourceScript{"U.S.", layouts::usAnsi()};

    EXPECT_EQ(run({"info"}).output,
        textEdit
            + R"("editable":false,"stage":"no_focused_element","valueLen":null})"
              "\n");
    EXPECT_EQ(run({}).output, "false\n");
    EXPECT_EQ(run({"rescue"}).output,
        textEdit
            + R"("editable":false,"stage":"no_focused_element","valueLen":null,"rescued":false,"candidates":0,)"
              R"("visited":0,"timedOut":false})"
              "\n");
    EXPECT_EQ(run({"paste"}).output, "untrusted\n");
    EXPECT_EQ(world.translations, 0);
    EXPECT_TRUE(world.posted.empty());
    // The layout needs no trust.
    EXPECT_EQ(run({"paste-keycode"}).output, "9\n");
}

TEST_F(MacBackend, AProcessThatIsGoneAnswersAtOnce)
{
    frontmost = platform::RunningApplication{77, "com.example.Gone", "Gone"};
    const std::string names = R"({"bundleId":"com.example.Gone","appName":"Gone",)";

    EXPECT_EQ(run({"info"}),
        (Outcome{0,
            names
                + R"("editable":false,"stage":"no_focused_element","valueLen":null})"
                  "\n",
            100}));
    EXPECT_EQ(run({}), (Outcome{0, "false\n", 100}));
    EXPECT_EQ(run({"rescue"}).output,
        names
            + R"("editable":false,"stage":"no_focused_element","valueLen":null,"rescued":false,"candidates":0,)"
              R"("visited":0,"timedOut":false})"
              "\n");
    EXPECT_EQ(world.timeoutsWaited(), 0);
}

TEST_F(MacBackend, AHungApplicationCostsEachCommandOneTimeout)
{
    textEditFocusedOn(focus(world.element(42, "text").role("AXTextArea")));
    // Every request to Chrome would wait the platform's 6 s messaging timeout.
    frontmost = platform::RunningApplication{5, "com.google.Chrome", "Google Chrome"};
    world.application(5, "Chrome");
    world.hang(5);
    const std::string failed = R"({"bundleId":"com.google.Chrome","appName":"Google Chrome","editable":false,)"
                               R"("stage":"no_focused_element","valueLen":null)";

    EXPECT_EQ(run({"info"}), (Outcome{0, failed + "}\n", 6100}));
    EXPECT_EQ(world.timeoutsWaited(), 1);
    EXPECT_EQ(run({}), (Outcome{0, "false\n", 6100}));
    EXPECT_EQ(world.timeoutsWaited(), 2);
    EXPECT_EQ(run({"rescue"}),
        (Outcome{0,
            failed
                + R"(,"rescued":false,"candidates":0,"visited":0,"timedOut":false})"
                  "\n",
            6100}));
    EXPECT_EQ(world.timeoutsWaited(), 3);
    // Another application is not held up by it.
    frontmost = platform::RunningApplication{42, "com.apple.TextEdit", "TextEdit"};
    EXPECT_EQ(run({"info"}),
        (Outcome{0,
            textEdit
                + R"("editable":true,"stage":"role","valueLen":null})"
                  "\n",
            100}));
}

// kAXErrorCannotComplete also comes back at once from an application that is busy or still
// starting: that one request fails and nothing else. Only a request that waited a second or more
// before failing marks the application as hung.
struct TransientCase {
    const char* name;
    // Scripts the desktop and names the frontmost application.
    std::function<platform::RunningApplication(fw::World&)> script;
    std::string command;
    Outcome expected;
};

void PrintTo(const TransientCase& c, std::ostream* os)
{
    *os << c.name;
}

class MacBackendTransientFailure : public MacBackend, public ::testing::WithParamInterface<TransientCase> { };

TEST_P(MacBackendTransientFailure, FailsOnlyThatRequest)
{
    frontmost = GetParam().script(world);
    EXPECT_EQ(run({GetParam().command}), GetParam().expected);
    EXPECT_EQ(world.timeoutsWaited(), 0);
}

platform::RunningApplication textEditWith(fw::World& w, const fw::Node& focused)
{
    w.application(42, "TextEdit").value("AXFocusedUIElement", fw::ElementOf{focused.id()});
    return platform::RunningApplication{42, "com.apple.TextEdit", "TextEdit"};
}

// Mail (pid 9) with its focused window; the window holds the children `more` gives, then the
// composer.
platform::RunningApplication mailWith(
    fw::World& w, const std::function<std::vector<fw::Node>(fw::Node& app, const fw::Node& window)>& more)
{
    auto window = w.element(9, "window").role("AXWindow");
    auto app = w.application(9, "Mail").value("AXFocusedWindow", fw::ElementOf{window.id()});
    auto children = more(app, window);
    children.push_back(w.element(9, "body").role("AXTextArea").size(600, 300).onSet("AXFocused", kAXErrorSuccess));
    window.children(children);
    return platform::RunningApplication{9, "com.example.Mail", "Mail"};
}

const std::string roleOfFour = textEdit
    + R"("editable":true,"stage":"role","valueLen":4})"
      "\n";
const std::string mailRescued = R"({"bundleId":"com.example.Mail","appName":"Mail","editable":true,"stage":"role",)"
                                R"("valueLen":null,"rescued":true,"candidates":1,)";

INSTANTIATE_TEST_SUITE_P(Cases, MacBackendTransientFailure,
    ::testing::Values(
        TransientCase{"ancestorOnceThenTheRole",
            [](fw::World& w) {
                return textEditWith(w,
                    field(w).role("AXTextArea").characters(4).failOnce("AXEditableAncestor", kAXErrorCannotComplete));
            },
            "info", Outcome{0, roleOfFour, 100}},
        TransientCase{"ancestorEveryTimeWhileOthersAnswer",
            [](fw::World& w) {
                return textEditWith(
                    w, field(w).role("AXTextArea").characters(4).fail("AXEditableAncestor", kAXErrorCannotComplete));
            },
            "info", Outcome{0, roleOfFour, 100}},
        TransientCase{"failureAfterHalfASecond",
            [](fw::World& w) {
                return textEditWith(w,
                    field(w)
                        .role("AXTextArea")
                        .characters(4)
                        .failOnce("AXEditableAncestor", kAXErrorCannotComplete, 0.5));
            },
            "info", Outcome{0, roleOfFour, 600}},
        // Waited a second: the application is hung, and every later request fails at once.
        TransientCase{"failureAfterASecondMarksTheApplication",
            [](fw::World& w) {
                return textEditWith(w,
                    field(w)
                        .role("AXTextArea")
                        .characters(4)
                        .failOnce("AXEditableAncestor", kAXErrorCannotComplete, 1.0));
            },
            "info",
            Outcome{0,
                textEdit
                    + R"("editable":false,"stage":"not_editable","valueLen":null})"
                      "\n",
                1100}},
        TransientCase{"preparationSet",
            [](fw::World& w) {
                w.application(7, "Chrome")
                    .onSet("AXEnhancedUserInterface", kAXErrorCannotComplete)
                    .onSet("AXManualAccessibility", kAXErrorSuccess)
                    .value("AXFocusedUIElement",
                        fw::ElementOf{w.element(7, "omnibox").role("AXTextField").characters(3).id()});
                return platform::RunningApplication{7, "com.google.Chrome", "Google Chrome"};
            },
            "info",
            Outcome{0,
                R"({"bundleId":"com.google.Chrome","appName":"Google Chrome","editable":true,"stage":"role",)"
                R"("valueLen":3})"
                "\n",
                100}},
        TransientCase{"focusedWindowDuringRescue",
            [](fw::World& w) {
                return mailWith(w, [](fw::Node& app, const fw::Node& window) {
                    app.fail("AXFocusedWindow", kAXErrorCannotComplete)
                        .value("AXMainWindow", fw::ElementOf{window.id()});
                    return std::vector<fw::Node>{};
                });
            },
            "rescue",
            Outcome{0,
                mailRescued
                    + R"("visited":2,"timedOut":false})"
                      "\n",
                180}},
        TransientCase{"oneNodeOfTheWalk",
            [](fw::World& w) {
                return mailWith(w, [&w](fw::Node& /*app*/, const fw::Node& /*window*/) {
                    return std::vector<fw::Node>{w.element(9, "broken")
                                                     .fail("AXRole", kAXErrorCannotComplete)
                                                     .fail("AXEditableAncestor", kAXErrorCannotComplete)
                                                     .fail("AXChildren", kAXErrorCannotComplete)};
                });
            },
            "rescue",
            Outcome{0,
                mailRescued
                    + R"("visited":3,"timedOut":false})"
                      "\n",
                180}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A settable value is a string or not by its type; not one unit of a large text is copied (the
// role's seven are).
TEST_F(MacBackend, ASettableValueIsJudgedByItsTypeAlone)
{
    textEditFocusedOn(focus(
        field(world).role("AXGroup").settable("AXValue", true).value("AXValue", fw::Text{std::string(1 << 20, 'x')})));
    EXPECT_EQ(run({"info"}).output,
        textEdit
            + R"("editable":true,"stage":"settable_value","valueLen":null})"
              "\n");
    EXPECT_EQ(world.unitsCopied, 7);
}

struct KeyCodeCase {
    const char* name;
    std::optional<fw::InputSourceScript> current;
    std::optional<fw::InputSourceScript> asciiCapable;
    std::string output;
    long translations;
};

void PrintTo(const KeyCodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class MacBackendKeyCode : public MacBackend, public ::testing::WithParamInterface<KeyCodeCase> { };

TEST_P(MacBackendKeyCode, PasteKeycode)
{
    world.currentLayout = GetParam().current;
    world.asciiCapableLayout = GetParam().asciiCapable;
    EXPECT_EQ(run({"paste-keycode"}), (Outcome{0, GetParam().output, 0}));
    EXPECT_EQ(world.translations, GetParam().translations);
}

const fw::InputSourceScript usAnsi{"U.S.", layouts::usAnsi()};
const fw::InputSourceScript dvorak{"Dvorak", layouts::dvorak()};
const fw::InputSourceScript ukrainian{"Ukrainian", layouts::ukrainian()};

INSTANTIATE_TEST_SUITE_P(Cases, MacBackendKeyCode,
    ::testing::Values(KeyCodeCase{"usAnsi", usAnsi, usAnsi, "9\n", 10},
        KeyCodeCase{"vMovesOnDvorak", dvorak, usAnsi, "47\n", 48},
        KeyCodeCase{"commandMapIsQwerty", fw::InputSourceScript{"Dvorak - QWERTY", layouts::dvorakQwertyCommand()},
            usAnsi, "9\n", 10},
        KeyCodeCase{"asciiCapableLayoutDecides", ukrainian, dvorak, "47\n", 128 + 48},
        KeyCodeCase{
            "currentWithoutLayoutData", fw::InputSourceScript{"Input method", std::nullopt}, dvorak, "47\n", 48},
        KeyCodeCase{"noVAnywhere", ukrainian, ukrainian, "9\n", 256},
        KeyCodeCase{"noSources", std::nullopt, std::nullopt, "9\n", 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(MacBackend, PastePostsCommandVWithTheLayoutsKey)
{
    world.currentLayout = dvorak;
    EXPECT_EQ(run({"paste"}), (Outcome{0, "ok\n", 24}));
    constexpr std::uint64_t command = 0x100008;
    EXPECT_EQ(world.posted,
        (std::vector<fw::PostedEvent>{
            {1, 55, true, command}, {1, 47, true, command}, {1, 47, false, command}, {1, 55, false, 0}}));
    EXPECT_EQ(world.filters, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{5, 0}}));
}

TEST_F(MacBackend, PasteCreationFailuresPostNothing)
{
    world.currentLayout = usAnsi;
    world.failEventSource = true;
    EXPECT_EQ(run({"paste"}).output, "no_event\n");
    world.failEventSource = false;
    for (int failing = 1; failing <= 4; ++failing) {
        SCOPED_TRACE(failing);
        world.keyboardEventsCreated = 0;
        world.failKeyboardEvent = failing;
        EXPECT_EQ(run({"paste"}).output, "no_event\n");
        EXPECT_EQ(world.counters().liveObjects, 0) << world.report();
    }
    EXPECT_TRUE(world.posted.empty());
    EXPECT_TRUE(world.filters.empty());
}

} // namespace
} // namespace focusprobe::testing
