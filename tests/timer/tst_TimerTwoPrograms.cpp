// Two timers of one user: the second ends at once, naming the first, without touching the target
// that the first drives; once the first has ended, a timer started again takes the target over.
// On a relay board on a pseudo-terminal, and on one topic of the broker of the test run.

#include "core/ScheduleFile.h"
#include "tests/support/CoreSupport.h"
#include "tests/support/PtyBoard.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {

class TTimer
{
public:
    TTimer(const QString& schedule, const QString& target, const QString& runtime)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), runtime);
        environment.insert(QStringLiteral("XDG_STATE_HOME"), runtime);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        Process.setProcessEnvironment(environment);
        Process.start(QStringLiteral(PRVARDO_TIMER),
                      {schedule, QStringLiteral("--output"), target});
    }
    ~TTimer()
    {
        Process.terminate();
        Process.waitForFinished();
    }
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    bool Logged(const QString& text)
    {
        FLog += QString::fromUtf8(Process.readAllStandardError());
        return FLog.contains(text);
    }
    QString Log() const { return FLog; }

    QProcess Process;

private:
    QString FLog;
};

} // namespace

TEST(TimerTwoPrograms, TheSecondEndsAtOnceAndATimerStartedAfterTheFirstTakesOver)
{
    const char* broker = std::getenv("PRVARDO_MQTT_BROKER");
    ASSERT_NE(broker, nullptr) << "PRVARDO_MQTT_BROKER is not set: this test needs the private "
                                  "broker that scripts/test starts";
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    WriteScheduleFile(schedule.toStdString(), TSchedule{}.Flags());
    const TPtyBoard board;
    const QString rows[] = {
        board.Target(),
        QStringLiteral("mqtt://%1/aula%2").arg(QString::fromLatin1(broker)).arg(::getpid()),
    };
    for (const QString& target : rows) {
        const std::string what = target.toStdString();
        const QString switched = target + QStringLiteral(": 0x00");
        TTimer first(schedule, target, dir.path());
        ASSERT_TRUE(WaitFor([&] { return first.Logged(switched); })) << what;
        {
            TTimer second(schedule, target, dir.path());
            ASSERT_TRUE(second.Process.waitForFinished(30000)) << what;
            EXPECT_EQ(second.Process.exitCode(), 1) << what;
            const QString holder = QStringLiteral("proceso %1").arg(first.Process.processId());
            EXPECT_TRUE(second.Logged(holder)) << what << ": " << second.Log().toStdString();
            EXPECT_FALSE(second.Logged(target)) << what << ": the second one reached the target";
        }
        first.Process.terminate();
        ASSERT_TRUE(first.Process.waitForFinished(30000)) << what;
        TTimer again(schedule, target, dir.path());
        EXPECT_TRUE(WaitFor([&] { return again.Logged(switched); }, 10000))
            << what << ": not taken over; " << again.Log().toStdString();
    }
}
