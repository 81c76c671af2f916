#include "WallClock.h"

TDaySlot SlotAt(const QDateTime& instant, const QTimeZone& zone)
{
    const QTime local = instant.toTimeZone(zone).time();
    return {local.hour(), local.minute() / 5};
}

QDateTime NextSlotStart(const QDateTime& instant, const QTimeZone& zone)
{
    // A slot starts where local time (UTC plus the zone's offset, which may have seconds) is a
    // multiple of 5 minutes, and wherever the offset changes: local time jumps there, and the
    // slot with it.
    constexpr qint64 SlotSeconds = 300;
    const qint64 from = instant.toSecsSinceEpoch();
    const QDateTime at = QDateTime::fromSecsSinceEpoch(from, Qt::UTC);
    const qint64 local = from + zone.offsetFromUtc(at);
    const qint64 next = from + SlotSeconds - (local % SlotSeconds + SlotSeconds) % SlotSeconds;
    const QTimeZone::OffsetData change = zone.nextTransition(at);
    if (change.atUtc.isValid() && change.atUtc.toSecsSinceEpoch() < next)
        return change.atUtc.toUTC();
    return QDateTime::fromSecsSinceEpoch(next, Qt::UTC);
}
