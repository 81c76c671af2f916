#pragma once
// A PulseAudio server of the test's own (scripts/pulse-server, in a temporary directory), for the
// sound tests that change a server, play into it, stop or kill it: ctest runs test programs in
// parallel, and the shared server of the run (PULSE_SERVER) must stay as every test expects it.
// Like the shared one it has a null sink "testsink" (8000 Hz mono) and a 440 Hz sine source
// "testsource", both defaults.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <string>

class TPrivateServer
{
public:
    TPrivateServer() { Start(); }
    ~TPrivateServer()
    {
        Signal(SIGCONT); // a stopped server would never take the stop
        Run(PRVARDO_SOURCE_DIR "/scripts/pulse-server", {"stop", FDir.path()});
    }
    TPrivateServer(const TPrivateServer&) = delete;
    TPrivateServer& operator=(const TPrivateServer&) = delete;

    void Start()
    {
        Address =
            Run(PRVARDO_SOURCE_DIR "/scripts/pulse-server", {"start", FDir.path()}).toStdString();
    }
    // SIGKILL, SIGSTOP, SIGCONT ... to the server process; false when it is not running.
    bool Signal(int signal) const
    {
        QFile pid(FDir.filePath("server.pid"));
        return pid.open(QIODevice::ReadOnly) &&
               ::kill(pid.readAll().trimmed().toInt(), signal) == 0;
    }
    void Kill() const { ASSERT_TRUE(Signal(SIGKILL)); }
    // Whether the server process is stopped (SIGSTOP taken, not only sent).
    bool Stopped() const
    {
        QFile pid(FDir.filePath("server.pid"));
        if (!pid.open(QIODevice::ReadOnly))
            return false;
        QFile stat(
            QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid.readAll().trimmed())));
        // "PID (NAME) STATE ...": the state after the name's closing parenthesis.
        const QByteArray fields = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        const qsizetype close = fields.lastIndexOf(')');
        return close > 0 && fields.mid(close + 2, 1) == "T";
    }
    // pactl's output, trimmed.
    QByteArray Pactl(const QStringList& arguments) const { return Run("pactl", arguments); }
    QString Path(const QString& name) const { return FDir.filePath(name); }

    std::string Address;

private:
    QByteArray Run(const QString& program, const QStringList& arguments) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PULSE_SERVER", QString::fromStdString(Address));
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(15000) && process.exitCode() == 0)
            << arguments.join(' ').toStdString() << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput().trimmed();
    }
    QTemporaryDir FDir;
};
