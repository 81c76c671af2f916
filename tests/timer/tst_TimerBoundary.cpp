// prvardo-timer at a slot start of the real clock: the new slot's word leaves within a second of
// it, as the program's own log stamps it. The program runs in a time zone chosen so that a slot
// start comes a few seconds after it starts: an offset from UTC with seconds, as some zones had.

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
    // The offset that makes local time a multiple of 5 minutes `Ahead` seconds from now (POSIX
    // writes an offset east of Greenwich with a minus; a name needs three letters).
    constexpr qint64 Ahead = 15;
    const qint64 boundary = QDateTime::currentSecsSinceEpoch() + Ahead;
    const qint64 offset = (300 - boundary % 300) % 300;
    const QString zone = QStringLiteral("XXX-0:%1:%2")
                             .arg(offset / 60, 2, 10, QLatin1Char('0'))
                             .arg(offset % 60, 2, 10, QLatin1Char('0'));
    // The slot start's word: D0 is on in the even slots of the hour.
    const char expected = ((boundary + offset) % 3600 / 300) % 2 == 0 ? 0x01 : 0x00;

    QProcess timer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_STATE_HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    environment.insert(QStringLiteral("TZ"), zone);
    timer.setProcessEnvironment(environment);
    timer.start(QStringLiteral(PRVARDO_TIMER), {path, QStringLiteral("--output"),
                                                QStringLiteral("serial:") + QLatin1String(name)});
    char bytes[16];
    pollfd started{master, POLLIN, 0};
    ASSERT_GT(::poll(&started, 1, 30000), 0) << "nothing at start";
    // The start's word, then the same again every second until the slot start changes it.
    ASSERT_EQ(::read(master, bytes, 1), 1);
    ASSERT_NE(bytes[0], expected) << "started after the slot start: too slowly to tell";
    const qint64 due = boundary * 1000;

    // The new word, however late the test looks.
    for (const char before = bytes[0]; bytes[0] == before;) {
        pollfd word{master, POLLIN, 0};
        ASSERT_GT(
            ::poll(&word, 1, static_cast<int>(due - QDateTime::currentMSecsSinceEpoch()) + 30000),
            0)
            << "no new word after the slot start";
        ASSERT_EQ(::read(master, bytes, 1), 1);
    }
    EXPECT_EQ(bytes[0], expected) << zone.toStdString();
    timer.terminate();
    EXPECT_TRUE(timer.waitForFinished(30000));
    // When the target sent it, in the log's local time: the slot start is a whole five minutes
    // there.
    const QByteArray sent = QByteArray(": 0x0") + char('0' + expected) + " (";
    const QByteArray log = timer.readAllStandardError();
    const int stamp = LogStamp(log, {"serial:", sent.constData()});
    ASSERT_GE(stamp, 0) << log.data();
    const int late = StampsApart(int((boundary + offset) % (24 * 3600) * 1000), stamp);
    EXPECT_GE(late, -50) << "switched before the slot start\n" << log.data();
    EXPECT_LT(late, 1000) << log.data();
    ::close(slave);
    ::close(master);
}
