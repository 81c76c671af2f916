// The running timer's decisions in-process, with moments of the test's own: where a hold until the
// plan's next change ends when the files are read again, and which holds of the last run a new
// start takes.

#include "timer/TimerCore.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QTimeZone Zone("Europe/Madrid");

QDateTime At(int hour, int minute = 0)
{
    return {QDate(2026, 12, 8), QTime(hour, minute), Zone};
}

// D0 on from `from` o'clock to noon, every day.
TSources Week(int from)
{
    TSources sources;
    for (int hour = from; hour < 12; ++hour)
        for (int slot = 0; slot < TSchedule::Slots; ++slot)
            sources.Week.Main.Set(0, slot, hour, true);
    return sources;
}

// The holds live in a state folder of the test's own.
class TimerCore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(State.isValid());
        qputenv("XDG_STATE_HOME", State.path().toUtf8());
    }
    QTemporaryDir State;
};

THoldRequest Request(int output, std::optional<bool> value, QDateTime until = {})
{
    return {std::uint8_t(1U << output), value, std::move(until)};
}

} // namespace

// D0 held off at 07:00 until the plan turns it on: at 08:00 by the week read at start; a week read
// again that turns it on at 09:00 moves the end there, one that switches alike changes nothing.
TEST_F(TimerCore, AHoldUntilThePlanEndsWhereTheWeekReadLastSays)
{
    const struct
    {
        const char* Name;
        int ReadAgain; // the new week's D0 start (0: not read again)
        bool Asked;
        bool Turns;
        std::uint8_t At0830;
    } cases[] = {
        {"not read again", 0, false, false, 0x01},
        {"read again alike", 8, false, false, 0x01},
        {"read again alike, asked", 8, true, true, 0x01},
        {"read again, changed", 9, false, true, 0x00},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Name);
        TTimerCore core(Week(8), {}, At(7), Zone);
        core.Hold(Request(0, false), At(7));
        EXPECT_EQ(core.Turn(At(7)).Word, 0x00);
        if (row.ReadAgain != 0) {
            EXPECT_EQ(core.Follow(Week(row.ReadAgain), row.Asked), row.Turns);
        }
        EXPECT_EQ(core.Turn(At(8, 30)).Word, row.At0830);
        EXPECT_EQ(core.Holds().size(), row.At0830 == 0 ? 1U : 0U);
        EXPECT_EQ(core.Turn(At(9, 30)).Word, 0x01) << "the plan again";
    }
}

// What a start takes from the store: the holds that have not ended by then, each ending where the
// week says; a hold that ends at a turn leaves the store too.
TEST_F(TimerCore, AStartTakesTheHoldsOfTheLastRunThatHaveNotEnded)
{
    {
        TTimerCore run(Week(8), {}, At(7), Zone);
        run.Hold(Request(1, true, At(10)), At(7)); // D1 on until 10:00
        run.Hold(Request(0, false), At(7));        // D0 off until the plan's 08:00
        run.Keep();
    }
    const struct
    {
        int Hour;
        std::uint8_t Word;
        std::size_t Holds;
    } starts[] = {{7, 0x02, 2}, {9, 0x03, 1}, {11, 0x01, 0}};
    for (const auto& row : starts) {
        SCOPED_TRACE(row.Hour);
        TTimerCore start(Week(8), THoldsStore().Read(), At(row.Hour, 30), Zone);
        EXPECT_EQ(start.Holds().size(), row.Holds);
        EXPECT_EQ(start.Turn(At(row.Hour, 30)).Word, row.Word);
    }
    TTimerCore start(Week(8), THoldsStore().Read(), At(7, 30), Zone);
    start.Turn(At(10, 30)); // both ended by now
    EXPECT_TRUE(THoldsStore().Read().empty());
}
