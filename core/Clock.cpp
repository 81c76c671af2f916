#include "Clock.h"

#include <QTime>

#include <algorithm>
#include <cmath>

namespace {

TTimeOfDaySource& TimeOfDaySource()
{
    static TTimeOfDaySource source;
    return source;
}

} // namespace

TTimeOfDay LocalTimeOfDay()
{
    if (TimeOfDaySource())
        return TimeOfDaySource()();
    const QTime now = QTime::currentTime();
    return TTimeOfDay{now.hour(), now.minute()};
}

TScopedLocalTimeOfDay::TScopedLocalTimeOfDay(TTimeOfDaySource source)
    : TScopedOverride(TimeOfDaySource(), std::move(source))
{
}

TClockCounters ClockStartValues(TTimeOfDay time)
{
    TClockCounters c;
    c.ClockHour = time.Hour;
    c.ClockStep = time.Minute / 15;
    // Minutes are whole numbers, so minute / 5 never ends in exactly .5.
    c.ClockSlot = int(std::lround(time.Minute / 5.0));
    c.ClockTick = 0;
    return c;
}

void CountTick(TClockCounters& c, bool testMode, int testSpeed)
{
    if (testMode)
        c.ClockStep += testSpeed;
    else
        c.ClockTick += 1;
    if (c.ClockTick > 60) {
        c.ClockStep += 1;
        c.ClockTick = 0;
    }
    if (c.ClockStep > 15) {
        c.ClockSlot += 1;
        c.ClockStep = 0;
    }
    if (c.ClockSlot > 11) {
        c.ClockHour += 1;
        c.ClockSlot = 0;
    }
}

bool WrapDay(TClockCounters& c)
{
    if (c.ClockHour <= 23)
        return false;
    c.ClockHour = 0;
    return true;
}

int PointerSlot(const TClockCounters& c)
{
    return std::clamp(c.ClockSlot, 0, TSchedule::Slots - 1);
}

std::uint8_t OutputWordAt(const TSchedule& schedule, int slot, int hour)
{
    std::uint8_t word = 0;
    for (int p = 0; p < TSchedule::Planes; ++p)
        if (schedule.Flag(p, slot, hour) != 0)
            word |= std::uint8_t(1u << p);
    return word;
}
