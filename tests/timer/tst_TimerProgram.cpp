// prvardo-timer as a user runs it, with a serial target on a pseudo-terminal: all off and then
// the current slot at once, a schedule saved again (by rename) picked up, a file that cannot be
// read leaving the last schedule, SIGHUP reading the file again, SIGTERM ending with every output
// off and status 0; the dry run and bad usage.

#include "core/ScheduleFile.h"
#include "tests/support/CoreSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace {

// A schedule with the outputs of `word` on all day.
void SaveAllDay(const QString& path, std::uint8_t word)
{
    TSchedule schedule;
    for (int plane = 0; plane < TSchedule::Planes; ++plane)
        for (int slot = 0; slot < TSchedule::Slots; ++slot)
            for (int hour = 0; hour < TSchedule::Hours; ++hour)
                schedule.Set(plane, slot, hour, (word >> plane) & 1);
    WriteScheduleFile(path.toStdString(), schedule.Flags());
}

QProcessEnvironment WithoutSettings(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
    return environment;
}

} // namespace

TEST(TimerProgram, SwitchesAtOnceFollowsTheFileAndEndsAllOff)
{
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    SaveAllDay(schedule, 0x05);
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    std::string received;
    const auto receivedEndsWith = [&](const std::string& tail) {
        char bytes[64];
        for (ssize_t n; (n = ::read(master, bytes, sizeof bytes)) > 0;)
            received.append(bytes, static_cast<std::size_t>(n));
        return received.size() >= tail.size() &&
               received.compare(received.size() - tail.size(), tail.size(), tail) == 0;
    };

    QProcess timer;
    timer.setProcessEnvironment(WithoutSettings(dir.path()));
    timer.start(QStringLiteral(PRVARDO_TIMER),
                {schedule, QStringLiteral("--output"),
                 QStringLiteral("serial:") + QString::fromLatin1(name)});
    EXPECT_TRUE(WaitFor([&] { return receivedEndsWith(std::string("\x00\x05", 2)); }))
        << "all off, then the slot's word";

    SaveAllDay(schedule, 0x02); // a save replaces the file
    EXPECT_TRUE(WaitFor([&] { return receivedEndsWith("\x02"); }));

    // A file that cannot be read leaves the last schedule in force, and says why; SIGHUP reads
    // the file again.
    QByteArray log;
    const auto logged = [&](const char* text) {
        log += timer.readAllStandardError();
        return log.contains(text);
    };
    ASSERT_TRUE(QFile::remove(schedule));
    ASSERT_EQ(::mkfifo(QFile::encodeName(schedule).constData(), 0600), 0);
    EXPECT_TRUE(WaitFor([&] { return logged("sigue el horario anterior"); }));
    ASSERT_TRUE(QFile::remove(schedule));
    SaveAllDay(schedule, 0x02);
    log.clear();
    ::kill(static_cast<pid_t>(timer.processId()), SIGHUP);
    EXPECT_TRUE(WaitFor([&] { return logged("horario leído de nuevo"); }));

    timer.terminate(); // SIGTERM
    ASSERT_TRUE(timer.waitForFinished(5000));
    EXPECT_EQ(timer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(timer.exitCode(), 0);
    EXPECT_TRUE(receivedEndsWith(std::string("\x02\x00", 2))) << "every output off at the end";
    ::close(slave);
    ::close(master);
}

TEST(TimerProgram, DryRunAndBadUsage)
{
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    SaveAllDay(schedule, 0x21);
    const struct
    {
        QStringList Arguments;
        int Status;
        const char* Out;
        const char* Err;
    } rows[] = {
        {{schedule, "--dry-run"}, 0, "0x21  D0 D5\n", ""},
        {{schedule}, 2, "", "prvardo-timer: ninguna salida"},
        {{}, 2, "", "prvardo-timer: hace falta un archivo de horario"},
        {{schedule, schedule}, 2, "", "prvardo-timer: hace falta un archivo de horario"},
        {{dir.filePath("no-existe.tem"), "--dry-run"}, 2, "", "no-existe.tem"},
        {{"--help"}, 0, "--dry-run", ""},
    };
    for (const auto& row : rows) {
        const std::string what = row.Arguments.join(u' ').toStdString();
        QProcess timer;
        timer.setProcessEnvironment(WithoutSettings(dir.path()));
        timer.start(QStringLiteral(PRVARDO_TIMER), row.Arguments);
        ASSERT_TRUE(timer.waitForFinished(5000)) << what;
        EXPECT_EQ(timer.exitCode(), row.Status) << what;
        EXPECT_TRUE(timer.readAllStandardOutput().contains(row.Out)) << what;
        EXPECT_TRUE(timer.readAllStandardError().contains(row.Err)) << what;
    }
}
