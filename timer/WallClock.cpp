#include "WallClock.h"

TDaySlot SlotAt(const QDateTime& instant, const QTimeZone& zone)
{
    const QTime local = instant.toTimeZone(zone).time();
    return {local.hour(), local.minute() / 5};
}

QDateTime NextSlotStart(const QDateTime& instant, const QTimeZone& zone)
{
    // Whole minutes of UTC are whole minutes of every local time in use, and a clock change moves
    // local time by a multiple of 5 minutes: stepping minute by minute meets the next start
    // within five steps.
    const qint64 seconds = instant.toSecsSinceEpoch();
    QDateTime next =
        QDateTime::fromSecsSinceEpoch(seconds - (seconds % 60 + 60) % 60 + 60, Qt::UTC);
    for (int step = 0; step < 60 && next.toTimeZone(zone).time().minute() % 5 != 0; ++step)
        next = next.addSecs(60);
    return next;
}

std::uint8_t WordOf(const TSchedule& schedule, TDaySlot slot)
{
    std::uint8_t word = 0;
    for (int plane = 0; plane < TSchedule::Planes; ++plane)
        if (schedule.Flag(plane, slot.Slot, slot.Hour) != 0)
            word |= static_cast<std::uint8_t>(1u << plane);
    return word;
}

std::vector<TSwitch> DayPlan(const TSchedule& schedule, const QDateTime& from,
                             const QTimeZone& zone)
{
    std::vector<TSwitch> plan{{from, WordOf(schedule, SlotAt(from, zone))}};
    const QDateTime end = from.addSecs(qint64{24} * 3600);
    for (QDateTime at = NextSlotStart(from, zone); at <= end; at = NextSlotStart(at, zone)) {
        const std::uint8_t word = WordOf(schedule, SlotAt(at, zone));
        if (word != plan.back().Word)
            plan.push_back({at, word});
    }
    return plan;
}
