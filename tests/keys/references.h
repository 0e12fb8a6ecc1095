#pragma once

#include "fakes/fake_desktop.h"

#include <gtest/gtest.h>

namespace focusprobe::testing {

// Every source, event and event source handed out was released exactly once, and none was used
// after its release.
inline void expectReferencesBalanced(const FakeDesktop& desktop)
{
    EXPECT_EQ(desktop.keyboard.liveReferences(), 0);
    EXPECT_EQ(desktop.keyboard.overReleases(), 0);
    EXPECT_EQ(desktop.keyboard.staleUses(), 0);
    EXPECT_EQ(desktop.events.liveReferences(), 0);
    EXPECT_EQ(desktop.events.overReleases(), 0);
    EXPECT_EQ(desktop.events.staleUses(), 0);
    EXPECT_EQ(desktop.accessibility.liveReferences(), 0);
    EXPECT_EQ(desktop.accessibility.overReleases(), 0);
}

} // namespace focusprobe::testing
