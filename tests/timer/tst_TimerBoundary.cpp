// prvardo-timer at a slot start of the real clock: the new slot's word leaves within a second of
// it. The test waits for the next slot start, up to 5 minutes.

#include "core/ScheduleFile.h"
#include "tests/support/CoreSupport.h"

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

TEST(TimerBoundary, TheNextSlotStartSwitchesWithinASecond)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("alterna.tem"));
    TSchedule schedule; // D0 on in the even slots: every slot start switches it
    for (int slot = 0; slot < TSchedule::Slots; slot += 2)
        for (int hour = 0; hour < TSchedule::Hours; ++hour)
            schedule.Set(0, slot, hour, true);
    WriteScheduleFile(path.toStdString(), schedule.Flags());
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    QProcess timer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    timer.setProcessEnvironment(environment);
    timer.start(QStringLiteral(PRVARDO_TIMER), {path, QStringLiteral("--output"),
                                                QStringLiteral("serial:") + QLatin1String(name)});
    char bytes[16];
    pollfd started{master, POLLIN, 0};
    ASSERT_GT(::poll(&started, 1, 5000), 0) << "nothing at start";
    // What the start sent (all off, and the slot's word when D0 is on) is read away; a slot start
    // less than a second ahead would mix with it, so the one after is waited for.
    for (pollfd more{master, POLLIN, 0}; ::poll(&more, 1, 300) > 0;)
        (void)::read(master, bytes, sizeof bytes);
    qint64 now = QDateTime::currentMSecsSinceEpoch();
    qint64 boundary = (now / 300000 + 1) * 300000;
    if (boundary - now < 1000)
        boundary += 300000;
    // The slot start's word: D0 is on in the even slots of the hour.
    const QTime local = QDateTime::fromMSecsSinceEpoch(boundary).time();
    const char expected = (local.minute() / 5) % 2 == 0 ? 0x01 : 0x00;

    pollfd due{master, POLLIN, 0};
    ASSERT_GT(
        ::poll(&due, 1, static_cast<int>(boundary - QDateTime::currentMSecsSinceEpoch()) + 1000), 0)
        << "no word within a second of the slot start";
    const qint64 arrived = QDateTime::currentMSecsSinceEpoch();
    ASSERT_EQ(::read(master, bytes, 1), 1);
    EXPECT_EQ(bytes[0], expected);
    EXPECT_GE(arrived, boundary - 50) << "switched before the slot start";
    EXPECT_LT(arrived - boundary, 1000);
    timer.terminate();
    EXPECT_TRUE(timer.waitForFinished(5000));
    ::close(slave);
    ::close(master);
}
