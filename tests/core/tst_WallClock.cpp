// Slots against local time: ordinary days, midnight, the last slot of the day, and the two
// daylight-saving changes of a European and an American zone.

#include "core/WallClock.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

QDateTime Utc(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toUTC();
}

std::string Slot(TDaySlot s)
{
    return QStringLiteral("%1:%2")
        .arg(s.Hour)
        .arg(s.Slot * 5, 2, 10, QLatin1Char('0'))
        .toStdString();
}

} // namespace

TEST(WallClock, SlotAndNextSlotStartFollowLocalTime)
{
    const struct
    {
        const char* What;
        const char* Zone;
        const char* At;       // UTC
        const char* SlotNow;  // local slot at `At`
        const char* Next;     // UTC of the next slot start
        const char* SlotNext; // local slot there
    } rows[] = {
        {"a summer morning", "Europe/Madrid", "2026-06-15T10:07:30Z", "12:05",
         "2026-06-15T10:10:00Z", "12:10"},
        {"midnight", "Europe/Madrid", "2026-01-10T23:00:00Z", "0:00", "2026-01-10T23:05:00Z",
         "0:05"},
        {"the last slot of the day", "Europe/Madrid", "2026-01-10T22:57:00Z", "23:55",
         "2026-01-10T23:00:00Z", "0:00"},
        {"spring: 2:00 to 2:59 never comes", "Europe/Madrid", "2026-03-29T00:58:00Z", "1:55",
         "2026-03-29T01:00:00Z", "3:00"},
        {"autumn: 2:00 comes again", "Europe/Madrid", "2026-10-25T00:58:00Z", "2:55",
         "2026-10-25T01:00:00Z", "2:00"},
        {"spring in New York", "America/New_York", "2026-03-08T06:58:00Z", "1:55",
         "2026-03-08T07:00:00Z", "3:00"},
        {"autumn in New York", "America/New_York", "2026-11-01T05:58:00Z", "1:55",
         "2026-11-01T06:00:00Z", "1:00"},
        {"on a start exactly: the next one", "America/New_York", "2026-07-04T16:00:00Z", "12:00",
         "2026-07-04T16:05:00Z", "12:05"},
        // Offsets with seconds: Liberia's time until 1972, and a fixed offset of 2 min 57 s.
        {"an offset of -0:44:30", "Africa/Monrovia", "1970-06-01T12:00:00Z", "11:15",
         "1970-06-01T12:04:30Z", "11:20"},
        {"a change of offset off the 5 minutes", "Africa/Monrovia", "1972-01-07T00:43:00Z", "23:55",
         "1972-01-07T00:44:30Z", "0:40"},
        {"an offset of +0:02:57", "+177", "2026-12-07T10:07:30Z", "10:10", "2026-12-07T10:12:03Z",
         "10:15"},
    };
    for (const auto& row : rows) {
        const QTimeZone zone =
            row.Zone[0] == '+' ? QTimeZone(std::atoi(row.Zone + 1)) : QTimeZone(row.Zone);
        ASSERT_TRUE(zone.isValid()) << row.Zone;
        const QDateTime at = Utc(row.At);
        EXPECT_EQ(Slot(SlotAt(at, zone)), row.SlotNow) << row.What;
        const QDateTime next = NextSlotStart(at, zone);
        EXPECT_EQ(next, Utc(row.Next))
            << row.What << ": " << next.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(Slot(SlotAt(next, zone)), row.SlotNext) << row.What;
    }
}
