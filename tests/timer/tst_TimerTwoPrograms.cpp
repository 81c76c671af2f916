// Two programs, one target: the second timer started on a target that the first drives is told
// which program holds it, leaves it alone, and takes it over once the first has ended. On a
// relay board on a pseudo-terminal, and on one topic of the broker of the test run.

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

TEST(TimerTwoPrograms, TheSecondLeavesTheTargetToTheFirstAndTakesItOverAfter)
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
        TTimer second(schedule, target, dir.path());
        const QString holder =
            QStringLiteral("prvardo-timer, proceso %1").arg(first.Process.processId());
        EXPECT_TRUE(WaitFor([&] { return second.Logged(holder); }))
            << what << ": " << second.Log().toStdString();
        EXPECT_FALSE(second.Logged(switched)) << what << ": the second one switched too";

        first.Process.terminate();
        ASSERT_TRUE(first.Process.waitForFinished(5000)) << what;
        EXPECT_TRUE(WaitFor([&] { return second.Logged(switched); }, 10000))
            << what << ": not taken over; " << second.Log().toStdString();
    }
}
