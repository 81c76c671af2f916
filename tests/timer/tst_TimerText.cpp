// What the timer says, in-process with the moment and the zone given: the plan of the days ahead
// in the local time of whatever zone the machine is in. What it takes from its settings for the
// school's broker.

#include "timer/RemoteTopics.h"
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
        for (const char* line :
             {"2026-12-08 mar 08:00  0x01  D0  ", " 08:05  0x00  todas apagadas",
              " 23:55  0x02  D1  ", "2026-12-09 mié 00:00  0x00  todas apagadas"})
            EXPECT_TRUE(plan.contains(QString::fromUtf8(line))) << name << ": " << line << " in\n"
                                                                << plan.toStdString();
        // As many days ahead as asked.
        EXPECT_EQ(PlanText(week, {}, 3, now, zone).count(QStringLiteral(" 08:00  0x01  D0  ")), 3)
            << name;
    }
}

// The [timer] keys of the school's broker: the address read as the targets' are (their refusals
// are the parser's table's; one here shows the timer takes them), BASE a topic of its own.
TEST(TimerSettings, TheSchoolsBrokerAsWritten)
{
    const struct
    {
        const char* Mqtt;
        const char* Expect; // "HOST PORT BASE USER/PASSWORD", or a piece of the refusal ("!...")
    } rows[] = {
        {"mqtt://broker.local/aula2", "broker.local 1883 aula2 /"},
        {"mqtts://broker.local/aula2", "broker.local 8883 aula2 /"},
        {"mqtt://profe@192.168.1.5:1884/centro/aula2", "192.168.1.5 1884 centro/aula2 profe/s"},
        {"mqtt://broker.local:0/aula2", "!puerto"},
        {"mqtt://broker.local/", "!mqtt://[USUARIO@]SERVIDOR"},
        {"mqtt://broker.local/aula/#", "!mqtt://[USUARIO@]SERVIDOR"},
        {"http://broker.local/aula2", "!servidor"},
    };
    for (const auto& row : rows) {
        TSettings settings;
        settings.Password = QStringLiteral("s");
        settings.Written = {{QStringLiteral("[timer]mqtt"), QString::fromUtf8(row.Mqtt)}};
        std::optional<TRemoteOptions> remote;
        QString error;
        const bool good = ParseRemote(settings, remote, error);
        if (row.Expect[0] == '!') {
            EXPECT_FALSE(good) << row.Mqtt;
            EXPECT_TRUE(error.contains(QString::fromUtf8(row.Expect + 1)))
                << row.Mqtt << ": " << error.toStdString();
            continue;
        }
        ASSERT_TRUE(good && remote) << row.Mqtt << ": " << error.toStdString();
        const TMqttAddress& broker = remote->Broker;
        EXPECT_EQ(QStringLiteral("%1 %2 %3 %4/%5")
                      .arg(broker.Host)
                      .arg(broker.ServerPort())
                      .arg(remote->Base, broker.User, broker.Password)
                      .toStdString(),
                  row.Expect)
            << row.Mqtt;
    }
}
