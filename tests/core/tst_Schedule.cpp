// The schedule's index rule and flag operations.

#include "core/Schedule.h"

#include <gtest/gtest.h>

TEST(Schedule, IndexRule)
{
    struct Case
    {
        int plane, slot, hour, index;
    };
    const Case cases[] = {
        {0, 0, 0, 0},   {0, 0, 23, 23}, {0, 1, 0, 24},     {1, 0, 0, 288},
        {1, 2, 8, 344}, {2, 2, 8, 632}, {5, 11, 23, 1727},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TSchedule::Index(c.plane, c.slot, c.hour), c.index)
            << c.plane << "/" << c.slot << "/" << c.hour;
}

TEST(Schedule, StartsClearAndTogglesBetweenZeroAndOne)
{
    TSchedule s;
    for (int i = 0; i < TSchedule::Size; ++i)
        ASSERT_EQ(s[i], 0) << i;
    s.Toggle(2, 2, 8);
    EXPECT_EQ(s[632], 1);
    EXPECT_EQ(s.Flag(2, 2, 8), 1);
    s.Toggle(2, 2, 8);
    EXPECT_EQ(s[632], 0);
}

TEST(Schedule, PlacesOutsideTheScheduleReadOffAndAreNeverWritten)
{
    TSchedule s;
    s.Toggle(5, 12, 23); // one slot past the last: would be index 1751
    s.Toggle(0, -1, 0);
    s.Toggle(6, 0, 0);
    s.Toggle(0, 0, 24);
    EXPECT_EQ(s, TSchedule{});
    EXPECT_EQ(s.Flag(5, 12, 0), 0);
    EXPECT_EQ(s.Flag(0, 0, 24), 0);
}

TEST(Schedule, ClearPlaneClearsOnlyThatPlane)
{
    TSchedule s;
    for (int p = 0; p < TSchedule::Planes; ++p) {
        s.Set(p, 0, 0, true);
        s.Set(p, 11, 23, true);
    }
    s.ClearPlane(1);
    for (int p = 0; p < TSchedule::Planes; ++p) {
        EXPECT_EQ(s.Flag(p, 0, 0), p == 1 ? 0 : 1) << p;
        EXPECT_EQ(s.Flag(p, 11, 23), p == 1 ? 0 : 1) << p;
    }
}
