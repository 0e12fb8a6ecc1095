#include "fakes/fake_desktop.h"
#include "modtap/modtap.h"
#include "platform/posix/poll_loop.h"
#include "support/run_binary.h"

#include <gtest/gtest.h>

#include <array>
#include <unistd.h>

namespace focusprobe::testing {
namespace {

constexpr std::uint64_t option = 0x80000;

// `modtap` on a fake desktop whose event loop runs on the process's fake clock.
struct Modtap : TestProcess {
    explicit Modtap(bool trusted) : TestProcess{"modtap"} { desktop.accessibility.trusted = trusted; }
    // A lone right-Option tap, pressed at `seconds` into the loop.
    void tapAt(double seconds)
    {
        desktop.loop.at(seconds, [this] { desktop.input.flags(61, option); });
        desktop.loop.at(seconds + 0.1, [this] { desktop.input.flags(61, 0); });
    }
    [[nodiscard]] std::vector<std::string> calls() const
    {
        return desktop.log.filtered(
            {"setvbuf", "loop.s", "loop.i", "loop.run", "loop.terminate", "input.", "ax.", "write", "stdin."});
    }
};

TEST(ModtapLifecycle, TrustedStartFeedsTheDetectorUntilInputEnds)
{
    Modtap m(true);
    m.tapAt(1.0);
    // A mouse button inside the key-and-mouse mask spoils; one outside it (other mouse, 25) does not.
    m.desktop.loop.at(2.0, [&] { m.desktop.input.flags(61, option); });
    m.desktop.loop.at(2.05, [&] { m.desktop.input.deliver(FakeInput::rightMouseDown); });
    m.desktop.loop.at(2.1, [&] { m.desktop.input.flags(61, 0); });
    m.desktop.loop.at(3.0, [&] { m.desktop.input.flags(61, option); });
    m.desktop.loop.at(3.05, [&] { m.desktop.input.deliver(25); });
    m.desktop.loop.at(3.1, [&] { m.desktop.input.flags(61, 0); });
    m.desktop.loop.inputAt(4.0, "");
    m.tapAt(5.0); // after the end: never runs

    EXPECT_EQ(m.run(), 0);
    EXPECT_EQ(m.output(), "ready\ntap\ntap\n");
    EXPECT_EQ(m.calls(),
        (std::vector<std::string>{"setvbuf unbuffered", "loop.setActivationPolicy 2", "input.add 4096 #1",
            "input.add 1034 #2", "ax.isProcessTrusted", "write ready\n", "loop.setStandardInputReadabilityHandler",
            "loop.run", "write tap\n", "write tap\n", "stdin.availableData 0", "loop.terminate 0"}));
}

// Trust granted at 5 s is found by the poll at 6 s; a press taken by the old monitors is released
// through the new ones and still counts, because both act on the one detector.
TEST(ModtapLifecycle, TrustFoundLaterReinstallsTheMonitorsOverTheSameDetector)
{
    Modtap m(false);
    m.desktop.loop.at(5.0, [&] { m.desktop.accessibility.trusted = true; });
    m.desktop.loop.at(5.95, [&] { m.desktop.input.flags(61, option); });
    m.desktop.loop.at(6.05, [&] { m.desktop.input.flags(61, 0); });
    m.desktop.loop.inputAt(20.0, "");

    EXPECT_EQ(m.run(), 0);
    EXPECT_EQ(m.output(), "ready\ntap\n");
    const std::vector<std::string> expected{"setvbuf unbuffered", "loop.setActivationPolicy 2", "input.add 4096 #1",
        "input.add 1034 #2", "ax.isProcessTrusted", "loop.scheduleRepeatingTimer 2 #1", "write ready\n",
        "loop.setStandardInputReadabilityHandler", "loop.run", "ax.isProcessTrusted", "ax.isProcessTrusted",
        "ax.isProcessTrusted", "loop.invalidateTimer #1", "input.remove #1", "input.remove #2", "input.add 4096 #3",
        "input.add 1034 #4", "write tap\n", "stdin.availableData 0", "loop.terminate 0"};
    EXPECT_EQ(m.calls(), expected);
    std::vector<std::string> pollTimes;
    const auto& entries = m.desktop.log.entries;
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (entries[i] == "loop.timer #1") {
            pollTimes.push_back(entries[i - 1]);
        }
    }
    EXPECT_EQ(pollTimes, (std::vector<std::string>{"loop.time 2000ms", "loop.time 4000ms", "loop.time 6000ms"}));
    EXPECT_EQ(m.desktop.input.installedMasks(), (std::vector<std::uint64_t>{4096, 1034}));
}

TEST(ModtapLifecycle, EachInstallationRemovesExactlyThePairBeforeIt)
{
    CallLog log;
    FakeProcess process{log};
    FakeInput input{log};
    TapDetector detector(process);
    std::vector<platform::Monitor> monitors;
    input.failingInstalls = {6};
    EXPECT_TRUE(addMonitors(input, detector, monitors));
    EXPECT_TRUE(addMonitors(input, detector, monitors));
    EXPECT_FALSE(addMonitors(input, detector, monitors));
    EXPECT_TRUE(monitors.empty());
    EXPECT_EQ(log.filtered({"input."}),
        (std::vector<std::string>{"input.add 4096 #1", "input.add 1034 #2", "input.remove #1", "input.remove #2",
            "input.add 4096 #3", "input.add 1034 #4", "input.remove #3", "input.remove #4", "input.add 4096 #5",
            "input.add 1034 failed"}));
}

TEST(ModtapLifecycle, EitherMonitorFailingAtStartPrintsErrorAndExitsOne)
{
    for (const int failing : {1, 2}) {
        Modtap m(true);
        m.desktop.input.failingInstalls = {failing};
        EXPECT_EQ(m.run(), 1);
        EXPECT_EQ(m.output(), "error\n");
        EXPECT_EQ(m.desktop.process.outputLengthWhenUnbuffered, 0U);
        EXPECT_EQ(m.desktop.log.countPrefix("input.remove"), 0) << failing;
        EXPECT_EQ(m.desktop.log.count("loop.run"), 0);
        // The flags-changed monitor stays installed, its token let go.
        EXPECT_EQ(m.desktop.input.installedMasks(),
            failing == 1 ? std::vector<std::uint64_t>{} : std::vector<std::uint64_t>{4096});
        EXPECT_EQ(m.desktop.input.heldTokens(), 0);
    }
}

TEST(ModtapLifecycle, FailedReinstallationPrintsNothingAndKeepsRunning)
{
    for (const int failing : {3, 4}) {
        Modtap m(false);
        m.desktop.input.failingInstalls = {failing};
        m.desktop.loop.at(1.0, [&] { m.desktop.accessibility.trusted = true; });
        m.desktop.loop.inputAt(3.0, "still here\n");
        m.desktop.loop.inputAt(30.0, "");
        EXPECT_EQ(m.run(), 0);
        EXPECT_EQ(m.output(), "ready\n");
        EXPECT_EQ(m.desktop.log.count("loop.timer #1"), 1) << "no retry";
        EXPECT_EQ(m.desktop.loop.validTimers(), 0);
        EXPECT_EQ(m.desktop.input.installedMasks(),
            failing == 3 ? std::vector<std::uint64_t>{} : std::vector<std::uint64_t>{4096});
        EXPECT_EQ(m.desktop.log.count("stdin.availableData 11"), 1);
    }
}

// Data on standard input is dropped; its end gives status 0 whatever the detector is doing, also
// when input has already ended at start.
TEST(ModtapLifecycle, EndOfInputExitsZeroFromAnyState)
{
    struct Case {
        bool trusted;
        std::uint64_t pressFlags; // 0: no press before the end
        double endAt;
    };
    for (const Case c :
        {Case{true, 0, 0.0}, Case{true, option, 1.0}, Case{true, option | 0x20000, 1.0}, Case{false, option, 3.0}}) {
        Modtap m(c.trusted);
        m.desktop.loop.inputAt(0.0, "hello\n");
        m.desktop.loop.inputAt(0.0, "x");
        if (c.pressFlags != 0) {
            m.desktop.loop.at(0.5, [&] { m.desktop.input.flags(61, c.pressFlags); });
        }
        m.desktop.loop.inputAt(c.endAt, "");
        m.desktop.loop.at(c.endAt, [&] { m.desktop.input.flags(61, 0); });

        EXPECT_EQ(m.run(), 0);
        EXPECT_EQ(m.output(), "ready\n");
        EXPECT_EQ(m.desktop.log.count("loop.terminate 0"), 1);
        EXPECT_EQ(m.desktop.log.entries.back(), "loop.terminate 0");
    }
}

// A loop that cannot go on (the display connection lost, its wait failing) ends monitoring: the
// host is told "error" with status 1 rather than left waiting for taps.
TEST(ModtapLifecycle, ALoopThatCannotGoOnEndsWithError)
{
    Modtap m(true);
    m.tapAt(1.0);
    m.desktop.loop.at(2.0, [&] { m.desktop.loop.terminate(platform::loopFailedStatus); });
    m.desktop.loop.inputAt(3.0, "");
    EXPECT_EQ(m.run(), 1);
    EXPECT_EQ(m.output(), "ready\ntap\nerror\n");
    EXPECT_EQ(m.desktop.log.count("stdin.availableData 0"), 0);
}

// On the real poll loop, with standard input on a pipe: the data is dropped, and closing the pipe
// returns status 0 from the run, so the process ends through main's return.
TEST(ModtapLifecycle, OnTheRealLoopClosedInputEndsTheRun)
{
    FakeDesktop desktop;
    desktop.accessibility.trusted = true;
    std::array<int, 2> fds{-1, -1};
    ASSERT_EQ(::pipe(fds.data()), 0);
    platform::PollLoop loop(fds[0]);
    loop.runAfter(5.0, [&] { loop.terminate(99); }); // fails the test rather than hanging it
    Globals globals = makeGlobals({"focusprobe", "modtap"});
    Context context{platform::Platform{desktop.accessibility, desktop.workspace, desktop.process, desktop.keyboard,
                        desktop.events, desktop.speech, desktop.input, loop},
        globals};
    ASSERT_EQ(::write(fds[1], "data\n", 5), 5);
    ::close(fds[1]);

    EXPECT_EQ(runModtap(context), 0);
    EXPECT_EQ(desktop.process.output, "ready\n");
    ::close(fds[0]);
}

TEST(ModtapBinary, HeadlessCannotMonitorAndSaysError)
{
    for (const bool keepInputOpen : {true, false}) {
        const auto result
            = runFocusprobe(BinaryRun{.arguments = {"modtap"}, .keepInputOpen = keepInputOpen, .timeoutSeconds = 5});
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.standardOutput, "error\n");
        EXPECT_EQ(result.standardError, "");
    }
}

} // namespace
} // namespace focusprobe::testing
