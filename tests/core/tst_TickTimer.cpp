// The tick timer: ticks of a short interval come in groups at each wake-up, as many as the
// counted time holds; a stall drops what is beyond the catch-up bound; stopping, restarting or a
// new interval inside a tick ends the group; longer intervals tick one by one.

#include "core/TickTimer.h"
#include "tests/support/CoreSupport.h"

#include <QPointer>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include <vector>

namespace {

struct Step
{
    qint64 Advance; // milliseconds the counted clock moves on
    int Ticks;      // ticks expected in all after it
};

struct Sequence
{
    const char* Name;
    int Interval;
    std::vector<Step> Steps;
    qint64 Dropped;
};

struct TickTimerTest : ::testing::Test
{
    qint64 Now = 1000;
    TScopedMonotonicClock Clock{[this] { return Now; }};
    TTickTimer Timer;
    int Ticks = 0;
    std::function<void()> OnTick;

    void SetUp() override
    {
        QObject::connect(&Timer, &TTickTimer::timeout, [this] {
            ++Ticks;
            if (OnTick)
                OnTick();
        });
    }
    // Moves the counted clock on and waits for the ticks it brings.
    bool AdvanceTo(qint64 advance, int ticks)
    {
        Now += advance;
        return WaitFor([&] { return Ticks >= ticks; }) && Ticks == ticks;
    }
};

} // namespace

// A step that brings more ticks than expected (a stall delivered in full, a group counted
// twice) or fewer never meets its count.
TEST_F(TickTimerTest, GroupsHoldTheTicksTheCountedTimeHolds)
{
    const std::vector<Sequence> table = {
        {"1 ms", 1, {{17, 17}, {17, 34}, {5, 39}, {40, 79}}, 0},
        {"3 ms, remainders carried", 3, {{17, 5}, {17, 11}, {1, 11}, {2, 12}}, 0},
        {"stall",
         1,
         {{5000, TTickTimer::MaxCatchUp}, {17, TTickTimer::MaxCatchUp + 17}},
         5000 - TTickTimer::MaxCatchUp},
        {"stall at 4 ms",
         4,
         {{1000, TTickTimer::MaxCatchUp / 4}, {8, TTickTimer::MaxCatchUp / 4 + 2}},
         250 - TTickTimer::MaxCatchUp / 4},
    };
    for (const Sequence& s : table) {
        Ticks = 0;
        const qint64 droppedBefore = Timer.Dropped();
        Timer.setInterval(s.Interval);
        Timer.start();
        for (const Step& step : s.Steps)
            ASSERT_TRUE(AdvanceTo(step.Advance, step.Ticks))
                << s.Name << ": after +" << step.Advance << " ms, " << Ticks << " ticks";
        EXPECT_EQ(Timer.Dropped() - droppedBefore, s.Dropped) << s.Name;
        Timer.stop();
    }
}

TEST_F(TickTimerTest, StopInsideATickEndsTheGroupAndStartCountsAnew)
{
    Timer.setInterval(1);
    Timer.start();
    OnTick = [this] {
        if (Ticks == 5)
            Timer.stop();
    };
    ASSERT_TRUE(AdvanceTo(17, 5));
    EXPECT_FALSE(Timer.isActive());

    OnTick = nullptr;
    Timer.start(); // counting from now: the 12 ticks left of the group are gone
    ASSERT_TRUE(AdvanceTo(17, 22));
}

TEST_F(TickTimerTest, NewIntervalInsideATickCountsAnewFromThen)
{
    Timer.setInterval(1);
    Timer.start();
    OnTick = [this] {
        if (Ticks == 3)
            Timer.setInterval(2);
    };
    ASSERT_TRUE(AdvanceTo(17, 3));
    EXPECT_TRUE(Timer.isActive());
    EXPECT_EQ(Timer.interval(), 2);
    ASSERT_TRUE(AdvanceTo(17, 3 + 8));
}

TEST_F(TickTimerTest, TimerDeletedInsideATickEmitsNoMore)
{
    QPointer<TTickTimer> timer = new TTickTimer;
    // Whatever happens below, the timer is gone at the end and calls nothing here afterwards.
    const std::unique_ptr<QObject> context = std::make_unique<QObject>();
    struct Cleanup
    {
        QPointer<TTickTimer>& Timer;
        ~Cleanup() { delete Timer.data(); }
    } cleanup{timer};
    int ticks = 0;
    QObject::connect(timer, &TTickTimer::timeout, context.get(), [&] {
        if (++ticks == 2)
            delete timer.data();
    });
    timer->setInterval(1);
    timer->start();
    Now += 17;
    ASSERT_TRUE(WaitFor([&] { return ticks >= 2; }));
    EXPECT_EQ(ticks, 2);
    EXPECT_TRUE(timer.isNull());
}

// Ticks slower than their interval: a group ends after WakePeriod of work, the rest stays due.
TEST_F(TickTimerTest, SlowTicksEndTheGroupAndStayDue)
{
    Timer.setInterval(1);
    Timer.start();
    OnTick = [] {
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(TTickTimer::WakePeriod / 4 + 1);
        while (std::chrono::steady_clock::now() < until) {
        }
    };
    Now += 10;
    // A group runs inside one event: the first wait ends with the first group done. Its ticks
    // take more than a quarter period each, so it holds four at most (fewer on a busy machine).
    ASSERT_TRUE(WaitFor([&] { return Ticks >= 1; }));
    EXPECT_LE(Ticks, 4);
    OnTick = nullptr;
    ASSERT_TRUE(WaitFor([&] { return Ticks >= 10; }));
    EXPECT_EQ(Ticks, 10); // the rest still due, none dropped
    EXPECT_EQ(Timer.Dropped(), 0);
}

// From WakePeriod on, every wake-up is one tick, whatever the counted clock says: a 1 s timer
// is never a second late for a clock read a moment early.
TEST_F(TickTimerTest, LongIntervalsTickOneByOne)
{
    Timer.setInterval(TTickTimer::WakePeriod);
    Timer.start();
    EXPECT_TRUE(WaitFor([&] { return Ticks >= 3; }));
}
