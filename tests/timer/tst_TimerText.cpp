// What the timer says, in-process with the moment and the zone given: the plan of the days ahead
// in the local time of whatever zone the machine is in.

#include "timer/StatusText.h"

#include <QTimeZone>
#include <gtest/gtest.h>

TEST(TimerText, ThePlanIsInLocalTimeWhateverTheZone)
{
    TWeek week;
    week.Main.Set(0, 0, 8, true);   // D0 from 08:00 to 08:05
    week.Main.Set(1, 11, 23, true); // D1 from 23:55 to midnight
    for (const char* name : {"UTC", "Europe/Madrid", "America/New_York", "Asia/Kolkata"}) {
        const QTimeZone zone(name);
        const QDateTime now(QDate(2026, 12, 8), QTime(6, 0), zone);
        const QString plan = PlanText(week, {}, 1, now, zone);
        for (const char* line : {"2026-12-08 mar 08:00  0x01  D0  ", " 08:05  0x00  todas apagadas",
                                 " 23:55  0x02  D1  ", "2026-12-09 mié 00:00  0x00  todas apagadas"})
            EXPECT_TRUE(plan.contains(QString::fromUtf8(line)))
                << name << ": " << line << " in\n"
                << plan.toStdString();
        // As many days ahead as asked.
        EXPECT_EQ(PlanText(week, {}, 3, now, zone).count(QStringLiteral(" 08:00  0x01  D0  ")), 3)
            << name;
    }
}
