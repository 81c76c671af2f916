#pragma once
// The schedule against the wall clock: which 5-minute slot of the day local time is in, when the
// next slot starts.
//
// Local time is taken as it is at each instant, so the slot follows daylight saving and every
// clock change: the hour skipped in spring has no slot, the hour repeated in autumn has its slots
// twice. Slots start when local time is a multiple of 5 minutes, also in a zone whose offset has
// seconds, and where the zone's offset changes (local time jumps there).

#include "core/Schedule.h"

#include <QDateTime>
#include <QTimeZone>

struct TDaySlot
{
    int Hour = 0; // 0 to 23
    int Slot = 0; // 0 to 11: minute div 5
    bool operator==(const TDaySlot&) const = default;
};

// The slot local time is in at `instant`.
TDaySlot SlotAt(const QDateTime& instant, const QTimeZone& zone);

// The first instant after `instant` at which a slot starts.
QDateTime NextSlotStart(const QDateTime& instant, const QTimeZone& zone);
