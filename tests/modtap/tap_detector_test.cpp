#include "fakes/fake_process.h"
#include "modtap/tap_detector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace focusprobe::testing {
namespace {

constexpr std::uint16_t rightOption = 61;
constexpr std::uint16_t leftShift = 56;
constexpr std::uint64_t option = 0x80000;
constexpr std::uint64_t shift = 0x20000;

struct Clocked {
    CallLog log;
    FakeProcess process{log};
    TapDetector detector{process};

    void at(double time) { process.clock = time; }
};

// Every row of the state table: the detector is brought into `from` at time 1000 (a clean press,
// a Shift-spoiled press, or nothing), then takes `event` at 1000 + `after`.
enum class Event { press, pressWithShift, pressRightAfterKeyDown, release, otherModifier, otherInput };

struct Transition {
    const char* name;
    TapPhase from;
    Event event;
    double after;
    TapPhase to;
    const char* output;
    bool movesPressStart;
    bool movesLastOtherInput;
};

void PrintTo(const Transition& t, std::ostream* os)
{
    *os << t.name;
}

class TapTransitions : public ::testing::TestWithParam<Transition> { };

TEST_P(TapTransitions, FollowTheStateTable)
{
    const Transition& t = GetParam();
    Clocked c;
    c.at(1000.0);
    if (t.from == TapPhase::downClean) {
        c.detector.onFlagsChanged(rightOption, option);
    } else if (t.from == TapPhase::downSpoiled) {
        c.detector.onFlagsChanged(rightOption, option | shift);
    } else if (t.event == Event::pressRightAfterKeyDown) {
        c.detector.onOtherInput();
    }
    ASSERT_EQ(tapPhase(c.detector.state()), t.from);
    const TapState before = c.detector.state();

    const double eventTime = 1000.0 + t.after;
    c.at(eventTime);
    switch (t.event) {
    case Event::press:
    case Event::pressRightAfterKeyDown:
        c.detector.onFlagsChanged(rightOption, option);
        break;
    case Event::pressWithShift:
        c.detector.onFlagsChanged(rightOption, option | shift);
        break;
    case Event::release:
        c.detector.onFlagsChanged(rightOption, 0);
        break;
    case Event::otherModifier:
        c.detector.onFlagsChanged(leftShift, shift);
        break;
    case Event::otherInput:
        c.detector.onOtherInput();
        break;
    }

    const TapState& after = c.detector.state();
    EXPECT_EQ(tapPhase(after), t.to);
    EXPECT_EQ(c.process.output, t.output);
    EXPECT_EQ(after.pressStartedAt, t.movesPressStart ? eventTime : before.pressStartedAt);
    EXPECT_EQ(after.lastOtherInputAt, t.movesLastOtherInput ? eventTime : before.lastOtherInputAt);
}

using P = TapPhase;
using E = Event;
INSTANTIATE_TEST_SUITE_P(Table, TapTransitions,
    ::testing::Values(
        Transition{"UpPressWithSpoilingModifier", P::up, E::pressWithShift, 0.1, P::downSpoiled, "", true, false},
        Transition{"UpPressWithinQuietGap", P::up, E::pressRightAfterKeyDown, 0.1, P::downSpoiled, "", true, false},
        Transition{"UpCleanPress", P::up, E::press, 0.1, P::downClean, "", true, false},
        Transition{"UpRelease", P::up, E::release, 0.1, P::up, "", false, false},
        Transition{"UpOtherModifier", P::up, E::otherModifier, 0.1, P::up, "", false, true},
        Transition{"UpOtherInput", P::up, E::otherInput, 0.1, P::up, "", false, true},
        Transition{"CleanPressAgain", P::downClean, E::press, 0.1, P::downClean, "", false, false},
        Transition{"CleanReleaseInTime", P::downClean, E::release, 0.1, P::up, "tap\n", false, false},
        Transition{"CleanReleaseTooLate", P::downClean, E::release, 0.7, P::up, "", false, false},
        Transition{"CleanOtherModifier", P::downClean, E::otherModifier, 0.1, P::downSpoiled, "", false, true},
        Transition{"CleanOtherInput", P::downClean, E::otherInput, 0.1, P::downSpoiled, "", false, true},
        Transition{"SpoiledPressAgain", P::downSpoiled, E::press, 0.1, P::downSpoiled, "", false, false},
        Transition{"SpoiledRelease", P::downSpoiled, E::release, 0.1, P::up, "", false, false},
        Transition{"SpoiledOtherModifier", P::downSpoiled, E::otherModifier, 0.1, P::downSpoiled, "", false, true},
        Transition{"SpoiledOtherInput", P::downSpoiled, E::otherInput, 0.1, P::downSpoiled, "", false, true}),
    [](const auto& test) { return std::string(test.param.name); });

// Event sequences on a clock that starts at 0, so boundary differences are exact doubles.
struct Step {
    double at;
    int key; // -1: other input (key-down or mouse-down)
    std::uint64_t flags = 0;
};

struct Sequence {
    const char* name;
    std::vector<Step> steps;
    const char* output;
};

void PrintTo(const Sequence& s, std::ostream* os)
{
    *os << s.name;
}

class TapSequences : public ::testing::TestWithParam<Sequence> { };

TEST_P(TapSequences, PrintTheTapsTheyContain)
{
    Clocked c;
    for (const Step& step : GetParam().steps) {
        c.at(step.at);
        if (step.key < 0) {
            c.detector.onOtherInput();
        } else {
            c.detector.onFlagsChanged(static_cast<std::uint16_t>(step.key), step.flags);
        }
    }
    EXPECT_EQ(c.process.output, GetParam().output);
}

const double justOverMaxHold = std::nextafter(0.6, 1.0);

INSTANTIATE_TEST_SUITE_P(Timing, TapSequences,
    ::testing::Values(Sequence{"HoldExactlyMax", {{0.0, 61, option}, {0.6, 61, 0}}, "tap\n"},
        Sequence{"HoldJustOverMax", {{0.0, 61, option}, {justOverMaxHold, 61, 0}}, ""},
        Sequence{"GapExactlyQuiet", {{0.0, -1}, {0.3, 61, option}, {0.4, 61, 0}}, "tap\n"},
        Sequence{"GapJustUnderQuiet", {{0.0, -1}, {0.29, 61, option}, {0.4, 61, 0}}, ""},
        Sequence{"GapAfterOtherModifier", {{0.0, 56, shift}, {0.1, 56, 0}, {0.2, 61, option}, {0.3, 61, 0}}, ""},
        Sequence{"TwoQuickTaps", {{0.0, 61, option}, {0.05, 61, 0}, {0.1, 61, option}, {0.15, 61, 0}}, "tap\ntap\n"},
        // The hold counts from the first press, not the repeated one.
        Sequence{"RepeatedPress", {{0.0, 61, option}, {0.5, 61, option}, {0.7, 61, 0}}, ""},
        Sequence{"ReleaseWithoutPress", {{0.0, 61, 0}, {1.0, 61, option}, {1.1, 61, 0}}, "tap\n"},
        Sequence{"ClockSteppedBack", {{10.0, 61, option}, {9.0, 61, 0}}, "tap\n"},
        Sequence{"ClockNotANumber", {{0.0, 61, option}, {std::numeric_limits<double>::quiet_NaN(), 61, 0}}, ""},
        Sequence{"KeyDownWhileHeld", {{0.0, 61, option}, {0.1, -1}, {0.2, 61, 0}}, ""},
        // The left Option key keeps the Option bit set: the right key's release reads as a
        // repeated press, the left key's release spoils, and only the press after next is clean.
        Sequence{"LeftOptionHeld",
            {{0.0, 58, option}, {1.0, 61, option}, {1.1, 61, option}, {1.2, 58, 0}, {2.0, 61, option}, {2.1, 61, 0},
                {3.0, 61, option}, {3.1, 61, 0}},
            "tap\n"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(TapDetector, OnlyShiftControlCommandAndFunctionSpoilAPress)
{
    struct Modifier {
        std::uint64_t flag;
        bool spoils;
    };
    const Modifier modifiers[] = {{0x20000, true}, {0x40000, true}, {0x100000, true}, {0x800000, true},
        {0x10000, false}, {0x200000, false}, {0x400000, false}, {0x40, false}, {0xFFFF, false}};
    for (const auto& m : modifiers) {
        Clocked c;
        c.at(0.0);
        c.detector.onFlagsChanged(rightOption, option | m.flag);
        c.at(0.1);
        c.detector.onFlagsChanged(rightOption, m.flag);
        EXPECT_EQ(c.process.output, m.spoils ? "" : "tap\n") << std::hex << m.flag;
    }
}

// A few million events in episodes whose outcome is known by construction: the taps printed and
// the phase after each press and release must match throughout.
TEST(TapDetector, SoakKeepsItsStateConsistent)
{
    struct Counting final : platform::Process {
        double now() override { return clock; }
        void sleepMicroseconds(std::uint32_t /*microseconds*/) override { }
        void writeStandardOutput(std::string_view bytes) override { ++(bytes == "tap\n" ? taps : otherWrites); }
        void makeStandardOutputUnbuffered() override { }
        void holdTerminationSignals() override { }
        void releaseTerminationSignals() override { }
        double clock = 0.0;
        long taps = 0;
        long otherWrites = 0;
    } process;
    TapDetector detector(process);
    std::mt19937_64 random(20261209);
    const auto uniform = [&](double low, double high) { return std::uniform_real_distribution<>(low, high)(random); };

    long events = 0;
    long expectedTaps = 0;
    long mismatches = 0;
    const auto flags = [&](std::uint16_t key, std::uint64_t modifierFlags) {
        detector.onFlagsChanged(key, modifierFlags);
        ++events;
    };
    const auto expectPhase = [&](TapPhase phase) { mismatches += tapPhase(detector.state()) != phase ? 1 : 0; };
    while (events < 3'000'000) {
        // Typing and modifier noise while the key is up.
        for (int n = static_cast<int>(random() % 4); n > 0; --n) {
            process.clock += uniform(0.01, 0.2);
            if (random() % 2 == 0) {
                detector.onOtherInput();
                ++events;
            } else {
                flags(leftShift, shift);
                flags(leftShift, 0);
            }
        }
        // 0 clean tap, 1 too soon after typing, 2 Shift held, 3 held too long, 4 repeated press,
        // 5 key-down while held, 6 modifier change while held.
        const auto kind = random() % 7;
        if (kind == 1) { // pressed too soon after typing
            detector.onOtherInput();
            ++events;
        }
        process.clock += kind == 1 ? uniform(0.0, 0.25) : uniform(0.35, 1.0);
        const bool spoiledAtPress = kind == 1 || kind == 2;
        flags(rightOption, kind == 2 ? option | shift : option);
        expectPhase(spoiledAtPress ? TapPhase::downSpoiled : TapPhase::downClean);
        double hold = kind == 3 ? uniform(0.65, 2.0) : uniform(0.0, 0.55);
        if (kind == 4) { // a repeated press changes nothing
            flags(rightOption, option);
        } else if (kind == 5) {
            process.clock += hold / 2;
            detector.onOtherInput();
            ++events;
            hold /= 2;
        } else if (kind == 6) {
            process.clock += hold / 2;
            flags(leftShift, shift);
            hold /= 2;
        }
        process.clock += hold;
        flags(rightOption, 0);
        expectPhase(TapPhase::up);
        expectedTaps += kind == 0 || kind == 4 ? 1 : 0;
        mismatches += process.taps != expectedTaps ? 1 : 0;
        process.taps = expectedTaps; // one fault is counted once
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(process.otherWrites, 0);
    EXPECT_GT(expectedTaps, 100'000);
}

// The hold is judged by the events' own stamps when the press and the release both carry one;
// the quiet gap and unstamped events keep the wall clock read at handling.
TEST(TapDetector, StampedHoldsAreJudgedByTheirStamps)
{
    struct StampCase {
        const char* name;
        double pressAt; // wall clock at handling, after the start at 1000
        std::optional<double> pressStamp;
        double releaseAt;
        std::optional<double> releaseStamp;
        const char* output;
    };
    const std::vector<StampCase> cases{
        {"handled 2 s apart, stamped 5 ms apart: a tap", 1.0, 50.000, 3.0, 50.005, "tap\n"},
        {"handled at once, stamped 0.7 s apart: no tap", 1.0, 50.0, 1.0, 50.7, ""},
        {"stamped 0.59 s apart: a tap", 1.0, 50.0, 1.0, 50.59, "tap\n"},
        {"stamps going back count as within", 1.0, 50.0, 1.0, 49.0, "tap\n"},
        {"a NaN stamp never taps", 1.0, 50.0, 1.0, std::numeric_limits<double>::quiet_NaN(), ""},
        {"the press unstamped: the wall clock decides", 1.0, std::nullopt, 3.0, 50.005, ""},
        {"the release unstamped: the wall clock decides", 1.0, 50.0, 1.1, std::nullopt, "tap\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Clocked clocked;
        clocked.at(1000.0 + c.pressAt);
        clocked.detector.onFlagsChanged(rightOption, option, c.pressStamp);
        clocked.at(1000.0 + c.releaseAt);
        clocked.detector.onFlagsChanged(rightOption, 0, c.releaseStamp);
        EXPECT_EQ(clocked.process.output, c.output);
    }
}

TEST(TapDetector, TheQuietGapKeepsTheWallClockWhateverTheStamps)
{
    Clocked clocked;
    clocked.at(1000.0);
    clocked.detector.onOtherInput();
    // Stamped far apart from anything, but handled 0.1 s after the key-down: spoiled.
    clocked.at(1000.1);
    clocked.detector.onFlagsChanged(rightOption, option, 90.0);
    clocked.at(1000.2);
    clocked.detector.onFlagsChanged(rightOption, 0, 90.05);
    EXPECT_EQ(clocked.process.output, "");
}

} // namespace
} // namespace focusprobe::testing
