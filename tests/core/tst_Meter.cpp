// The level meter's word for each step of the level.

#include "core/Meter.h"

#include <gtest/gtest.h>

TEST(Meter, WordAtEachSideOfEveryThreshold)
{
    struct Case
    {
        int level, word;
    };
    const Case cases[] = {
        {0, 0},   {5, 0},   {6, 1},   {10, 1},  {11, 3},  {15, 3},   {16, 7},   {30, 7},
        {31, 15}, {60, 15}, {61, 31}, {80, 31}, {81, 63}, {100, 63}, {255, 63},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MeterWord(static_cast<std::uint8_t>(c.level)), c.word) << "level " << c.level;
}
