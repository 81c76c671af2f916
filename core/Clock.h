#pragma once
// The simulated time of day of the switch timer and its tick arithmetic.
//
// The clock counts timer ticks into sub-steps, sub-steps into 5-minute slots and slots into
// hours, each carrying when it goes above its limit (60 ticks, 15 sub-steps, 11 slots): a
// sub-step takes 61 ticks in Normal mode and a slot 16 sub-steps. In Test mode every tick adds
// the test speed to the sub-steps directly. At most one carry happens per counter and tick, and
// a carry into the next slot drops whatever went past 15.

#include "core/Schedule.h"
#include "core/ScopedOverride.h"

#include <cstdint>
#include <functional>

struct TClockCounters
{
    std::int32_t ClockHour = 0; // 0 to 23; 24 between the hour's carry and the day wrap
    std::int32_t ClockSlot = 0; // 0 to 11 while running; 12 possible at start (minutes 58, 59)
    std::int32_t ClockStep = 0; // 0 to 15 between ticks
    std::int32_t ClockTick = 0; // 0 to 60 between ticks, Normal mode only

    friend bool operator==(const TClockCounters&, const TClockCounters&) = default;
};

struct TTimeOfDay
{
    int Hour = 0;
    int Minute = 0;
};

// The local time of day the clock starts from, read once at start-up: the host's clock, or the
// source a TScopedLocalTimeOfDay put in place.
TTimeOfDay LocalTimeOfDay();

using TTimeOfDaySource = std::function<TTimeOfDay()>;

// While it lives, LocalTimeOfDay answers from `source` (an empty source: the host's clock); the
// source before it comes back when it ends.
class TScopedLocalTimeOfDay : public TScopedOverride<TTimeOfDaySource>
{
public:
    explicit TScopedLocalTimeOfDay(TTimeOfDaySource source);
};

// Start values: the hour; the minute divided by 15 (remainder dropped) as the sub-step; the
// minute divided by 5, rounded to the nearest integer, as the slot; no ticks.
TClockCounters ClockStartValues(TTimeOfDay time);

// Counts one timer tick (steps 1 to 4 of a tick): in Test mode `testSpeed` sub-steps, otherwise
// one tick; then the carries, at most one each.
void CountTick(TClockCounters& clock, bool testMode, int testSpeed);

// The day wrap of the pointer step: an hour above 23 becomes 0. True when it wrapped.
bool WrapDay(TClockCounters& clock);

// The slot the pointer stands on. A start at minutes 58 or 59 gives slot 12 until the first
// tick carries it; that time lies in the hour's last slot, so slot 11 is shown and read.
int PointerSlot(const TClockCounters& clock);

// The six-bit output word for a slot: bit p set when output Dp is on (its flag is not 0).
std::uint8_t OutputWordAt(const TSchedule& schedule, int slot, int hour);
