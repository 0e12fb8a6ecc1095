#include "platform/ref.h"

#include <gtest/gtest.h>
#include <map>
#include <utility>
#include <vector>

namespace focusprobe::testing {
namespace {

// Counts per object, the way a platform's reference counting would.
struct CountingRefs final : platform::RefCounter {
    void retain(platform::RawRef ref) override { ++counts[ref]; }
    void release(platform::RawRef ref) override
    {
        if (counts[ref] == 0) {
            ++overReleases;
            return;
        }
        --counts[ref];
    }
    std::map<platform::RawRef, int> counts;
    int overReleases = 0;
};

using TestRef = platform::Ref<struct TestTag>;
using OtherRef = platform::Ref<struct OtherTag>;

TEST(Ref, CopiesRetainAndEveryHolderReleasesOnce)
{
    CountingRefs refs;
    int object = 0;
    refs.counts[&object] = 1; // a Create result
    {
        const TestRef owner = TestRef::adopt(refs, &object);
        std::vector<TestRef> holders(3, owner);
        EXPECT_EQ(refs.counts[&object], 4);
        TestRef assigned;
        assigned = owner;
        const auto& self = assigned;
        assigned = self;
        EXPECT_EQ(refs.counts[&object], 5);
        TestRef moved = std::move(assigned);
        EXPECT_FALSE(assigned); // NOLINT(bugprone-use-after-move): moved-from is documented empty
        EXPECT_EQ(refs.counts[&object], 5);
        const OtherRef other = moved.retainAs<OtherTag>();
        EXPECT_EQ(other.get(), &object);
        EXPECT_EQ(refs.counts[&object], 6);
    }
    EXPECT_EQ(refs.counts[&object], 0);
    EXPECT_EQ(refs.overReleases, 0);
}

TEST(Ref, EmptyReferencesTouchNothing)
{
    CountingRefs refs;
    {
        const TestRef none = TestRef::adopt(refs, nullptr);
        const TestRef retained = TestRef::retain(refs, nullptr);
        TestRef copy = none;
        copy = retained;
        EXPECT_FALSE(copy);
        EXPECT_FALSE(none.retainAs<OtherTag>());
    }
    EXPECT_TRUE(refs.counts.empty());
}

TEST(Ref, AssignmentReleasesWhatWasHeldAndResetIsFinal)
{
    CountingRefs refs;
    int first = 0;
    int second = 0;
    refs.counts[&first] = 1;
    refs.counts[&second] = 1;
    TestRef ref = TestRef::adopt(refs, &first);
    ref = TestRef::adopt(refs, &second);
    EXPECT_EQ(refs.counts[&first], 0);
    ref.reset();
    ref.reset();
    EXPECT_EQ(refs.counts[&second], 0);
    EXPECT_EQ(refs.overReleases, 0);
}

} // namespace
} // namespace focusprobe::testing
