#include "announce/announce.h"
#include "fakes/fake_desktop.h"
#include "support/run_binary.h"

#include <gtest/gtest.h>

namespace focusprobe::testing {
namespace {

constexpr const char* permissionRead
    = "speech.readFileAsUTF8 /private/var/db/Accessibility/.VoiceOverAppleScriptEnabled";

struct Announce : TestProcess {
    explicit Announce(std::string text) : TestProcess{"announce", std::move(text), "ignored"}
    {
        desktop.workspace.voiceOverEnabled = true;
    }
    [[nodiscard]] std::vector<std::string> calls() const { return desktop.log.filtered({"speech.", "loop.", "write"}); }
};

struct Decision {
    const char* name;
    bool voiceOver;
    std::optional<std::string> permission;
    bool canCreateScript;
    std::optional<std::string> scriptError;
    bool readsFile;
    bool runsScript;
    bool usesWindow;
};

void PrintTo(const Decision& d, std::ostream* os)
{
    *os << d.name;
}

class AnnounceDecision : public ::testing::TestWithParam<Decision> { };

TEST_P(AnnounceDecision, TakesThePathItsInputsCallFor)
{
    const Decision& d = GetParam();
    Announce a("hi");
    a.desktop.workspace.voiceOverEnabled = d.voiceOver;
    a.desktop.speech.permissionText = d.permission;
    a.desktop.speech.canCreateScript = d.canCreateScript;
    a.desktop.speech.scriptError = d.scriptError;

    EXPECT_EQ(a.run(), 0);
    EXPECT_EQ(a.output(), "");
    const auto& log = a.desktop.log;
    EXPECT_EQ(log.count(permissionRead), d.readsFile ? 1 : 0);
    EXPECT_EQ(log.count("speech.executeScript #1"), d.runsScript ? 1 : 0);
    EXPECT_EQ(log.countPrefix("speech.createWindow"), d.usesWindow ? 1 : 0);
    EXPECT_EQ(log.count("speech.postAnnouncement 90 hi"), d.usesWindow ? 1 : 0);
    EXPECT_EQ(log.count("loop.run"), d.usesWindow ? 1 : 0);
    if (d.voiceOver && d.permission == "a") {
        EXPECT_EQ(log.count("speech.createScript tell application \"VoiceOver\" to output \"hi\""), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, AnnounceDecision,
    ::testing::Values(Decision{"VoiceOverOff", false, "a", true, std::nullopt, false, false, false},
        Decision{"ScriptSucceeds", true, "a", true, std::nullopt, true, true, false},
        Decision{"PermissionWithMore", true, "a1\n", true, std::nullopt, true, true, false},
        Decision{"CapitalA", true, "A", true, std::nullopt, true, false, true},
        Decision{"LeadingSpace", true, " a", true, std::nullopt, true, false, true},
        Decision{"EmptyFile", true, "", true, std::nullopt, true, false, true},
        // What the platform gives for a missing, unreadable or not UTF-8 file.
        Decision{"NoText", true, std::nullopt, true, std::nullopt, true, false, true},
        Decision{"NoScriptObject", true, "a", false, std::nullopt, true, false, false},
        Decision{"ScriptError", true, "a", true, "-1728", true, true, true}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(AnnounceEscaping, DoublesBackslashesThenEscapesQuotes)
{
    const std::pair<std::string, std::string> cases[] = {{R"(\)", R"(\\)"}, {R"(")", R"(\")"}, {R"(\")", R"(\\\")"},
        {"", ""}, {"a\nb\r\tc", "a\nb\r\tc"}, {"caf\xC3\xA9 \xE2\x9C\x93 'x'", "caf\xC3\xA9 \xE2\x9C\x93 'x'"},
        {R"(say "hi\" now)", R"(say \"hi\\\" now)"}};
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ(escapeForAppleScript(text), escaped) << text;
        EXPECT_EQ(voiceOverScript(text), R"(tell application "VoiceOver" to output ")" + escaped + '"');
    }
}

// The whole window path on the fake clock: policy, the window's values in order, the unescaped
// text at 0.8 s with priority 90, the end at 3.0 s, the window held throughout.
TEST(AnnounceWindow, AnnouncesAtPointEightAndEndsAtThree)
{
    Announce a(R"(he said "no\")");
    long windowReferencesDuringLoop = 0;
    a.desktop.loop.at(2.9, [&] { windowReferencesDuringLoop = a.desktop.speech.liveReferences(); });

    EXPECT_EQ(a.run(), 0);
    EXPECT_EQ(a.output(), "");
    EXPECT_EQ(windowReferencesDuringLoop, 1);
    EXPECT_EQ(a.calls(),
        (std::vector<std::string>{permissionRead, "loop.setActivationPolicy 1",
            "speech.createWindow -2000 -2000 10 10 0 2 false", "speech.setAccessibilityElement #1 false",
            "speech.setCollectionBehavior #1 72", "speech.setIgnoresMouseEvents #1 true",
            "speech.orderFrontRegardless #1", "loop.runAfter 0.8", "loop.runAfter 3", "loop.run", "loop.time 800ms",
            R"(speech.postAnnouncement 90 he said "no\")", "loop.time 2900ms", "loop.time 3000ms",
            "loop.terminate 0"}));
}

TEST(AnnounceWindow, EmptyTextIsStillAnnounced)
{
    Announce a("");
    EXPECT_EQ(a.run(), 0);
    EXPECT_EQ(a.desktop.log.count("speech.postAnnouncement 90 "), 1);
}

// The loop ends early with its failure status (its wait failed) before or after the request:
// announce still ends with 0 and prints nothing.
TEST(AnnounceWindow, ALoopThatFailsStillEndsWithStatusZero)
{
    for (const double failsAt : {0.5, 1.0}) {
        SCOPED_TRACE(failsAt);
        Announce a("hi");
        a.desktop.loop.at(failsAt, [&] { a.desktop.loop.terminate(platform::loopFailedStatus); });
        EXPECT_EQ(a.run(), 0);
        EXPECT_EQ(a.output(), "");
        EXPECT_EQ(a.desktop.log.count("loop.terminate 1"), 1);
        EXPECT_EQ(a.desktop.log.count("speech.postAnnouncement 90 hi"), failsAt > 0.8 ? 1 : 0);
    }
}

TEST(AnnounceBinary, HeadlessScreenReaderIsOffSoNothingHappens)
{
    const std::pair<std::vector<std::string>, std::string> cases[]
        = {{{"announce", "hi"}, ""}, {{"announce", ""}, ""}, {{"announce", "a", "b"}, ""}, {{"announce"}, "false\n"}};
    for (const auto& [arguments, output] : cases) {
        const auto result = runFocusprobe(BinaryRun{.arguments = arguments, .timeoutSeconds = 5});
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.standardOutput, output) << arguments.size();
        EXPECT_EQ(result.standardError, "");
    }
}

} // namespace
} // namespace focusprobe::testing
