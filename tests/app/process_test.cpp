#include "support/run_binary.h"

#include <gtest/gtest.h>

namespace focusprobe::testing {
namespace {

// The built binary on this machine's headless backend: exact bytes, exact status, silence on
// standard error.
struct BinaryCase {
    std::vector<std::string> arguments;
    std::string expectedOutput;
    int expectedStatus = 0;
};

void PrintTo(const BinaryCase& c, std::ostream* os)
{
    for (const auto& a : c.arguments) {
        *os << '"' << a << "\" ";
    }
}

class HeadlessBinary : public ::testing::TestWithParam<BinaryCase> { };

constexpr const char* noFrontmostInfo
    = "{\"bundleId\":\"unknown\",\"appName\":\"unknown\",\"editable\":false,\"stage\":\"no_frontmost\","
      "\"valueLen\":null}\n";

constexpr const char* noFrontmostRescue
    = "{\"bundleId\":\"unknown\",\"appName\":\"unknown\",\"editable\":false,\"stage\":\"no_frontmost\","
      "\"valueLen\":null,\"rescued\":false,\"candidates\":0,\"visited\":0,\"timedOut\":false}\n";

TEST_P(HeadlessBinary, PrintsExactlyTheLine)
{
    const auto result = runFocusprobe(BinaryRun{.arguments = GetParam().arguments});
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, GetParam().expectedStatus);
    EXPECT_EQ(result.standardOutput, GetParam().expectedOutput);
    EXPECT_EQ(result.standardError, "");
}

INSTANTIATE_TEST_SUITE_P(Commands, HeadlessBinary,
    ::testing::Values(BinaryCase{{}, "false\n"}, BinaryCase{{"info"}, noFrontmostInfo},
        BinaryCase{{"info", "extra", "args"}, noFrontmostInfo}, BinaryCase{{"frontmost"}, ""},
        BinaryCase{{"frontmost", "x"}, ""}, BinaryCase{{"announce"}, "false\n"}, BinaryCase{{"Info"}, "false\n"},
        BinaryCase{{"info "}, "false\n"}, BinaryCase{{"whatever"}, "false\n"},
        // Every row of the command table, each word compared whole.
        BinaryCase{{"modtap"}, "error\n", 1}, BinaryCase{{"announce", "hi"}, ""},
        BinaryCase{{"rescue"}, noFrontmostRescue}, BinaryCase{{"paste-keycode"}, "9\n"},
        BinaryCase{{"paste"}, "untrusted\n"}, BinaryCase{{"paste-keycodes"}, "false\n"},
        BinaryCase{{"Paste"}, "false\n"}, BinaryCase{{"rescue!"}, "false\n"}, BinaryCase{{"modtap "}, "false\n"}));

struct ClosedCase {
    std::vector<int> closed;
    std::vector<std::string> arguments;
    std::string expectedOutput;
    int expectedStatus = 0;
};

void PrintTo(const ClosedCase& c, std::ostream* os)
{
    for (const int fd : c.closed) {
        *os << fd << "<&- ";
    }
    for (const auto& a : c.arguments) {
        *os << '"' << a << "\" ";
    }
}

void expectAnswerWithout(const ClosedCase& c)
{
    const auto result = runFocusprobe(BinaryRun{
        .arguments = c.arguments, .keepInputOpen = true, .timeoutSeconds = 10.0, .closedDescriptors = c.closed});
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, c.expectedStatus);
    EXPECT_EQ(result.standardOutput, c.expectedOutput);
    EXPECT_EQ(result.standardError, "");
}

// Started without some of its standard descriptors, the process still answers on those it has
// and ends normally: no signal, no hang, nothing on standard error. These cases hold on every
// backend, a desktop's included: what they would print goes to a closed descriptor.
class ClosedStandardDescriptors : public ::testing::TestWithParam<ClosedCase> { };

TEST_P(ClosedStandardDescriptors, AnswersOnWhatIsLeft)
{
    expectAnswerWithout(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Descriptors, ClosedStandardDescriptors,
    ::testing::Values(ClosedCase{{1}, {"info"}, ""}, ClosedCase{{1}, {}, ""}, ClosedCase{{1, 2}, {"paste-keycode"}, ""},
        ClosedCase{{0, 1, 2}, {"rescue"}, ""}));

// The same on the headless backend, whose answers are known: a desktop's depend on its state
// (its frontmost application, its layout), and its modtap runs until its input ends.
class HeadlessClosedStandardDescriptors : public ::testing::TestWithParam<ClosedCase> { };

TEST_P(HeadlessClosedStandardDescriptors, AnswersOnWhatIsLeft)
{
    expectAnswerWithout(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Descriptors, HeadlessClosedStandardDescriptors,
    ::testing::Values(ClosedCase{{0}, {"info"}, noFrontmostInfo}, ClosedCase{{0}, {"modtap"}, "error\n", 1},
        ClosedCase{{0, 2}, {"paste-keycode"}, "9\n"}, ClosedCase{{1}, {"info"}, ""}, ClosedCase{{1}, {"modtap"}, "", 1},
        ClosedCase{{2}, {"frontmost"}, ""}, ClosedCase{{0, 1, 2}, {"rescue"}, ""}));

// A host that has gone: every one-line command ends with its usual status and says nothing on
// standard error, instead of dying of SIGPIPE.
TEST(HeadlessOutputReaderGone, EndsWithTheUsualStatus)
{
    for (const auto& [arguments, status] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{}, 0}, {{"info"}, 0}, {{"rescue"}, 0}, {{"paste-keycode"}, 0}, {{"paste"}, 0}, {{"modtap"}, 1}}) {
        SCOPED_TRACE(arguments.empty() ? "default" : arguments.front());
        const auto result = runFocusprobe(BinaryRun{.arguments = arguments, .outputReaderGone = true});
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.standardError, "");
    }
}

} // namespace
} // namespace focusprobe::testing
