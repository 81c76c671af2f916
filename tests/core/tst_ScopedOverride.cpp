// The scoped override every seam is built on: the value it found comes back however its scope
// ends.

#include "core/ScopedOverride.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

TEST(ScopedOverride, HoldsTheValueWhileItLivesAndPutsTheOldOneBack)
{
    int place = 1;
    {
        const TScopedOverride<int> two(place, 2);
        EXPECT_EQ(place, 2);
    }
    EXPECT_EQ(place, 1);
}

TEST(ScopedOverride, PutsTheOldValueBackWhenAnExceptionEndsTheScope)
{
    std::function<int()> place = [] { return 1; };
    try {
        const TScopedOverride<std::function<int()>> two(place, [] { return 2; });
        ASSERT_EQ(place(), 2);
        throw std::runtime_error("test failed part-way");
    } catch (const std::runtime_error&) {
    }
    ASSERT_TRUE(place);
    EXPECT_EQ(place(), 1);
}

TEST(ScopedOverride, NestedOverridesEachPutBackTheOneTheyReplaced)
{
    int place = 1;
    {
        const TScopedOverride<int> two(place, 2);
        {
            const TScopedOverride<int> three(place, 3);
            EXPECT_EQ(place, 3);
        }
        EXPECT_EQ(place, 2);
    }
    EXPECT_EQ(place, 1);
}
