#include "platform/linux/keys/dead_keys.h"

#include <gtest/gtest.h>

namespace focusprobe::platform::desktop {
namespace {

TEST(Keysyms, DeadKeysGiveTheirSpacingCharacter)
{
    EXPECT_EQ(deadKeySpacingCharacter(0xFE50), U'`');
    EXPECT_EQ(deadKeySpacingCharacter(0xFE51), U'\u00B4');
    EXPECT_EQ(deadKeySpacingCharacter(0xFE57), U'\u00A8');
    EXPECT_EQ(deadKeySpacingCharacter(0xFE93), U'\uFFFD');
    EXPECT_EQ(deadKeySpacingCharacter(0x76), std::nullopt);
    EXPECT_EQ(deadKeySpacingCharacter(0xFE94), std::nullopt);
}

} // namespace
} // namespace focusprobe::platform::desktop
