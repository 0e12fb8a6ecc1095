#include "fakes/call_log.h"
#include "fakes/fake_process.h"
#include "modtap/tap_detector.h"
#include "platform/linux/x11/raw_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace focusprobe::platform::desktop {
namespace {

// An evdev keymap's positions for the keys these tests press.
constexpr unsigned vKey = 55;
constexpr unsigned leftShift = 50;
constexpr unsigned leftAlt = 64;
constexpr unsigned capsLock = 66;
constexpr unsigned rightAlt = 108;
constexpr unsigned unnamed = 200;

KeyPositions evdevPositions()
{
    Keymap keymap;
    keymap.names = {{vKey, "AB04"}, {leftShift, "LFSH"}, {leftAlt, "LALT"}, {capsLock, "CAPS"}, {rightAlt, "RALT"}};
    return KeyPositions(keymap);
}

constexpr std::uint64_t flagsChanged = 1U << 12U;
constexpr std::uint64_t keyDown = 1U << 10U;
constexpr std::uint64_t rightOptionFlags = 0x80040; // Option and the right-hand bit
constexpr std::uint64_t leftOptionFlags = 0x80020;
constexpr std::uint64_t shiftFlags = 0x20002;
constexpr std::uint64_t capsFlag = 0x10000;

struct Raw {
    unsigned keycode;
    bool press;
};

struct Expected {
    std::uint64_t mask;
    std::uint16_t key;
    std::uint64_t flags;
};

struct SequenceCase {
    const char* name;
    std::uint8_t lockedAtStart;
    std::vector<Raw> events;
    std::vector<std::optional<Expected>> expected;
};

TEST(RawInput, KeysBecomeTheEventsAMacMonitorWouldSee)
{
    const KeyPositions positions = evdevPositions();
    const std::vector<SequenceCase> cases{
        {"a lone right Alt tap", 0, {{rightAlt, true}, {rightAlt, false}},
            {Expected{flagsChanged, 61, rightOptionFlags}, Expected{flagsChanged, 61, 0}}},
        {"Shift held under the tap", 0, {{leftShift, true}, {rightAlt, true}, {rightAlt, false}, {leftShift, false}},
            {Expected{flagsChanged, 56, shiftFlags}, Expected{flagsChanged, 61, shiftFlags | rightOptionFlags},
                Expected{flagsChanged, 61, shiftFlags}, Expected{flagsChanged, 56, 0}}},
        {"left Alt held: the right key's release still carries Option", 0,
            {{leftAlt, true}, {rightAlt, true}, {rightAlt, false}},
            {Expected{flagsChanged, 58, leftOptionFlags},
                Expected{flagsChanged, 61, leftOptionFlags | rightOptionFlags},
                Expected{flagsChanged, 61, leftOptionFlags}}},
        {"Caps Lock turns over at each press, and its release says nothing", 0,
            {{capsLock, true}, {capsLock, false}, {rightAlt, true}, {capsLock, true}},
            {Expected{flagsChanged, 57, capsFlag}, std::nullopt,
                Expected{flagsChanged, 61, capsFlag | rightOptionFlags}, Expected{flagsChanged, 57, rightOptionFlags}}},
        {"locked at start", 2, {{rightAlt, true}}, {Expected{flagsChanged, 61, capsFlag | rightOptionFlags}}},
        {"other keys go down as key-downs and their releases say nothing", 0,
            {{vKey, true}, {vKey, false}, {unnamed, true}, {unnamed, false}},
            {Expected{keyDown, 9, 0}, std::nullopt, Expected{keyDown, 0xFFFF, 0}, std::nullopt}},
        {"a release never pressed", 0, {{leftShift, false}}, {Expected{flagsChanged, 56, 0}}},
    };
    for (const auto& c : cases) {
        RawInputState state = initialInputState(positions, {}, c.lockedAtStart);
        ASSERT_EQ(c.events.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < c.events.size(); ++i) {
            const auto got = rawKeyEvent(state, positions, c.events[i].keycode, c.events[i].press);
            ASSERT_EQ(got.has_value(), c.expected[i].has_value()) << c.name << ", event " << i;
            if (got) {
                EXPECT_EQ(got->maskBit, c.expected[i]->mask) << c.name << ", event " << i;
                EXPECT_EQ(got->event.keyCode, c.expected[i]->key) << c.name << ", event " << i;
                EXPECT_EQ(got->event.modifierFlags, c.expected[i]->flags) << c.name << ", event " << i;
            }
        }
    }
}

TEST(RawInput, TheServersLockStateAndHeldKeysAtStartAreTaken)
{
    const KeyPositions positions = evdevPositions();
    std::array<std::uint8_t, 32> down{};
    for (const unsigned code : {leftShift, capsLock, vKey}) {
        down[code / 8] |= static_cast<std::uint8_t>(1U << (code % 8));
    }
    RawInputState state = initialInputState(positions, down, 2);
    // Shift counts as held; Caps Lock's key being down says nothing of its lock, the lock does.
    EXPECT_EQ(state.modifiersDown, (std::set<std::uint16_t>{56}));
    EXPECT_TRUE(state.capsLocked);
    takeLockedModifiers(state, 0x01); // Shift locked, Caps Lock not
    EXPECT_FALSE(state.capsLocked);
    const auto tap = rawKeyEvent(state, positions, rightAlt, true);
    ASSERT_TRUE(tap);
    EXPECT_EQ(tap->event.modifierFlags, shiftFlags | rightOptionFlags);

    struct ButtonCase {
        unsigned button;
        std::optional<std::uint64_t> mask;
    };
    for (const ButtonCase c : {ButtonCase{1, 1U << 1U}, ButtonCase{3, 1U << 3U}, ButtonCase{2, std::nullopt},
             ButtonCase{4, std::nullopt}, ButtonCase{5, std::nullopt}}) {
        const auto got = rawButtonEvent(c.button);
        EXPECT_EQ(got ? std::optional<std::uint64_t>(got->maskBit) : std::nullopt, c.mask) << c.button;
    }
}

// The whole path from raw events to lines, on a fake clock: what modtap prints for a burst.
TEST(RawInput, RawEventsDriveTheTapDetector)
{
    struct Step {
        double at;
        Raw raw;
    };
    struct PipelineCase {
        const char* name;
        std::vector<Step> steps;
        std::string expected;
    };
    const std::vector<PipelineCase> cases{
        {"taps in a burst, each reported",
            {{0.0, {rightAlt, true}}, {0.0004, {rightAlt, false}}, {0.0008, {rightAlt, true}},
                {0.0012, {rightAlt, false}}, {0.0016, {rightAlt, true}}, {0.002, {rightAlt, false}}},
            "tap\ntap\ntap\n"},
        {"Shift held spoils", {{0.0, {leftShift, true}}, {0.5, {rightAlt, true}}, {0.6, {rightAlt, false}}}, ""},
        {"a letter during the hold spoils", {{0.0, {rightAlt, true}}, {0.05, {vKey, true}}, {0.1, {rightAlt, false}}},
            ""},
        {"Caps Lock locked does not spoil",
            {{0.0, {capsLock, true}}, {0.0, {capsLock, false}}, {0.4, {rightAlt, true}}, {0.5, {rightAlt, false}}},
            "tap\n"},
        {"too soon after a letter", {{0.0, {vKey, true}}, {0.1, {rightAlt, true}}, {0.2, {rightAlt, false}}}, ""},
        {"held too long", {{0.0, {rightAlt, true}}, {0.7, {rightAlt, false}}}, ""},
    };
    const KeyPositions positions = evdevPositions();
    for (const auto& c : cases) {
        testing::CallLog log;
        testing::FakeProcess process(log);
        TapDetector detector(process);
        RawInputState state;
        const double start = process.clock;
        for (const Step& step : c.steps) {
            process.clock = start + step.at;
            const auto event = rawKeyEvent(state, positions, step.raw.keycode, step.raw.press);
            if (event && event->maskBit == flagsChanged) {
                detector.onFlagsChanged(event->event.keyCode, event->event.modifierFlags);
            } else if (event) {
                detector.onOtherInput();
            }
        }
        EXPECT_EQ(process.output, c.expected) << c.name;
    }
}

TEST(RawInput, ServerTimeKeepsGrowingAcrossItsWrap)
{
    struct Reading {
        std::uint32_t milliseconds;
        double seconds;
    };
    const std::vector<Reading> readings{
        {0xFFFFF000U, 4294963.2},
        {0xFFFFFF00U, 4294967.04},
        {0xFFFFFE00U, 4294966.784}, // a little behind: another device's event, no wrap
        {0x00000100U, 4294967.552}, // past the wrap
        {0xFFFFFFF0U, 4294967.28}, // just before the wrap, taken late: the round before
        {0x00000200U, 4294967.808},
    };
    ServerClock clock;
    for (const auto& r : readings) {
        EXPECT_NEAR(serverSeconds(clock, r.milliseconds), r.seconds, 1e-6) << r.milliseconds;
    }
}

} // namespace
} // namespace focusprobe::platform::desktop
