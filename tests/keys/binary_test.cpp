#include "support/run_binary.h"

#include <gtest/gtest.h>

namespace focusprobe::testing {
namespace {

// The headless backend has no layouts and no accessibility trust.
TEST(KeysBinary, HeadlessAnswers)
{
    const struct {
        std::vector<std::string> arguments;
        std::string line;
    } cases[] = {{{"paste-keycode"}, "9\n"}, {{"paste"}, "untrusted\n"}, {{"paste", "x"}, "untrusted\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const BinaryResult result = runFocusprobe(BinaryRun{c.arguments});
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.standardOutput, c.line);
        EXPECT_EQ(result.standardError, "");
    }
}

} // namespace
} // namespace focusprobe::testing
