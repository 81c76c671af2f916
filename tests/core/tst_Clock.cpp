// The clock's start values and tick arithmetic, and the time of day it starts from.

#include "core/Clock.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(ClockStart, ValuesFromTheTimeOfDay)
{
    struct Case
    {
        int hour, minute;
        TClockCounters expected; // hour, slot, step, tick
    };
    const Case cases[] = {
        {14, 37, {14, 7, 2, 0}}, {23, 58, {23, 12, 3, 0}}, {0, 0, {0, 0, 0, 0}},
        {9, 59, {9, 12, 3, 0}},  {12, 2, {12, 0, 0, 0}},   {12, 3, {12, 1, 0, 0}},
        {7, 15, {7, 3, 1, 0}},   {7, 44, {7, 9, 2, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClockStartValues({c.hour, c.minute}), c.expected) << c.hour << ":" << c.minute;
}

// Started at 14:37 the first slot change comes 61 x (16 - 2) = 854 ticks later.
TEST(ClockTick, NormalModeTakes61TicksPerStepAnd16StepsPerSlot)
{
    TClockCounters c = ClockStartValues({14, 37});
    int ticks = 0;
    while (c.ClockSlot == 7) {
        CountTick(c, false, 1);
        ++ticks;
        ASSERT_LT(ticks, 5000);
    }
    EXPECT_EQ(ticks, 854);
    EXPECT_EQ(c, (TClockCounters{14, 8, 0, 0}));
    // A whole slot from a step of 0: 976 ticks.
    ticks = 0;
    while (c.ClockSlot == 8) {
        CountTick(c, false, 1);
        ++ticks;
    }
    EXPECT_EQ(ticks, 61 * 16);
}

TEST(ClockTick, TestModeSlotLengthsBySpeed)
{
    struct Case
    {
        int speed, ticksPerSlot;
    };
    const Case cases[] = {{1, 16}, {2, 8}, {3, 6}, {5, 4}, {7, 3}, {8, 2}, {10, 2}};
    for (const Case& c : cases) {
        TClockCounters clock{3, 4, 0, 17};
        int ticks = 0;
        while (clock.ClockSlot == 4) {
            CountTick(clock, true, c.speed);
            ++ticks;
        }
        EXPECT_EQ(ticks, c.ticksPerSlot) << "speed " << c.speed;
        EXPECT_EQ(clock.ClockStep, 0) << "nothing is carried into the new slot";
        EXPECT_EQ(clock.ClockTick, 17) << "ticks stand still in Test mode";
    }
}

TEST(ClockTick, StartAt2358CarriesIntoHour24ThenWraps)
{
    TClockCounters c = ClockStartValues({23, 58});
    EXPECT_EQ(PointerSlot(c), 11);
    CountTick(c, false, 1);
    EXPECT_EQ(c.ClockHour, 24);
    EXPECT_EQ(c.ClockSlot, 0);
    EXPECT_TRUE(WrapDay(c));
    EXPECT_EQ(c.ClockHour, 0);
    EXPECT_FALSE(WrapDay(c));
}

TEST(ClockTick, AtMostOneCarryPerCounterAndTick)
{
    TClockCounters c{5, 11, 15, 60};
    CountTick(c, false, 1);
    EXPECT_EQ(c, (TClockCounters{6, 0, 0, 0}));
}

TEST(OutputWord, BitPerOutputFromTheSlotsFlags)
{
    TSchedule s;
    EXPECT_EQ(OutputWordAt(s, 3, 10), 0);
    s.Set(0, 3, 10, true);
    s.Set(2, 3, 10, true);
    s.Set(1, 4, 10, true); // another slot
    EXPECT_EQ(OutputWordAt(s, 3, 10), 5);
    TSchedule only5;
    only5.Set(5, 0, 0, true);
    EXPECT_EQ(OutputWordAt(only5, 0, 0), 32);
    TSchedule all;
    for (int p = 0; p < 6; ++p)
        all.Set(p, 11, 23, true);
    EXPECT_EQ(OutputWordAt(all, 11, 23), 63);
    EXPECT_EQ(OutputWordAt(all, 12, 23), 0) << "outside the schedule reads off";
}

// A stand-in time of day answers while it lives; an exception that ends its scope brings back the
// one before it.
TEST(LocalTimeOfDay, StandInAnswersUntilItsScopeEnds)
{
    const TScopedLocalTimeOfDay morning([] { return TTimeOfDay{9, 30}; });
    try {
        const TScopedLocalTimeOfDay afternoon([] { return TTimeOfDay{14, 37}; });
        ASSERT_EQ(LocalTimeOfDay().Hour, 14);
        ASSERT_EQ(LocalTimeOfDay().Minute, 37);
        throw std::runtime_error("test failed part-way");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(LocalTimeOfDay().Hour, 9);
    EXPECT_EQ(LocalTimeOfDay().Minute, 30);
}
