#pragma once
// One of the programs as a user of its own runs it: a folder of its own that holds its settings
// file (the text given), its state and its runtime folder (so its locks and its timer's socket are
// its own), and the files the test puts there. Ended with SIGTERM, its clean end, at the latest
// when the test lets it go.

#include "core/ScheduleFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/types.h>

#include <csignal>
#include <cstdint>

// The guard of a running program: its child process; 0 when it has none.
inline pid_t GuardOf(const QProcess& program)
{
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(program.processId()));
    return children.open(QIODevice::ReadOnly)
               ? children.readAll().trimmed().split(' ').value(0).toInt()
               : 0;
}

class TUserProgram
{
public:
    explicit TUserProgram(const QByteArray& settings)
    {
        QDir(FHome.path()).mkpath(QStringLiteral("PrVardo"));
        QFile file(FHome.filePath(QStringLiteral("PrVardo/PrVardo.conf")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        // The user's alone, as a settings file with a password must be.
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        file.write(settings);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* folder : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_STATE_HOME"})
            environment.insert(QString::fromLatin1(folder), FHome.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        Process.setProcessEnvironment(environment);
    }
    ~TUserProgram() { End(); }
    TUserProgram(const TUserProgram&) = delete;
    TUserProgram& operator=(const TUserProgram&) = delete;

    // Ends it with SIGTERM (its clean end), or SIGKILL when that does not end it within 15 s. Its
    // guard goes with it: one that was left to try a target the test has taken away (a
    // pseudo-terminal, a broker) would try for ever.
    void End()
    {
        if (Process.state() == QProcess::NotRunning)
            return;
        const pid_t guard = GuardOf(Process);
        Process.terminate();
        if (!Process.waitForFinished(15000))
            Process.kill();
        Process.waitForFinished();
        if (guard > 0)
            ::kill(guard, SIGKILL);
    }
    // A file in its folder.
    QString File(const QString& name) const { return FHome.filePath(name); }
    // What it logged so far.
    QByteArray Log()
    {
        FLog += Process.readAllStandardError();
        return FLog;
    }
    // "proceso N", as its messages and the lock files name it.
    QString Pid() const { return QStringLiteral("proceso %1").arg(Process.processId()); }

    QProcess Process;

private:
    QTemporaryDir FHome;
    QByteArray FLog;
};

// A schedule with the outputs of `word` on all day.
inline void SaveAllDay(const QString& path, std::uint8_t word)
{
    TSchedule schedule;
    for (int plane = 0; plane < TSchedule::Planes; ++plane)
        for (int slot = 0; slot < TSchedule::Slots; ++slot)
            for (int hour = 0; hour < TSchedule::Hours; ++hour)
                schedule.Set(plane, slot, hour, (word >> plane) & 1);
    WriteScheduleFile(path.toStdString(), schedule.Flags());
}
