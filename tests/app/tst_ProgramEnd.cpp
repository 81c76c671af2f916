// However PrVardo ends, its outputs go all off first: SIGTERM (a logout, kill), SIGINT (Ctrl+C),
// SIGHUP (the terminal closed), and the loss of the display (the X server ending). The program
// runs with a relay board on a pseudo-terminal; it says in its log that every output is off, and
// its status says how it ended.

#include "tests/support/CoreSupport.h"
#include "tests/support/PtyBoard.h"
#include "tests/support/UserProgram.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTime>
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <string>

namespace {

// PrVardo driving a board on a pseudo-terminal, started and with the board all off.
class TRunning
{
public:
    // `text`: the settings file's, if any.
    explicit TRunning(const QProcessEnvironment& environment, const QByteArray& text = {})
    {
        if (!text.isEmpty()) {
            QDir(FHome.path()).mkpath(QStringLiteral("PrVardo"));
            QFile file(FHome.filePath(QStringLiteral("PrVardo/PrVardo.conf")));
            EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        }
        QProcessEnvironment settings = environment;
        settings.insert(QStringLiteral("XDG_CONFIG_HOME"), FHome.path());
        // The sanitizer build's leak check lists the libraries' leaks it leaves out (not the
        // program's log): only a leak of the program's own would print.
        settings.insert(QStringLiteral("LSAN_OPTIONS"), QStringLiteral("print_suppressions=0"));
        Program.setProcessEnvironment(settings);
        Program.start(QStringLiteral(PRVARDO_PROGRAM),
                      {QStringLiteral("--output"), FBoard.Target()});
        EXPECT_TRUE(WaitFor([this] { return FBoard.Shows(0); }))
            << "the board never got its all off";
    }
    ~TRunning()
    {
        Program.kill();
        Program.waitForFinished();
    }
    TRunning(const TRunning&) = delete;
    TRunning& operator=(const TRunning&) = delete;

    QProcess Program;

private:
    QTemporaryDir FHome;
    TPtyBoard FBoard;
};

// An X server of the test's own (Xvfb, without a window manager), which the test may end.
class TOwnDisplay
{
public:
    TOwnDisplay()
    {
        // A display number of this process's own: two servers starting at once never share one,
        // and one that ends elsewhere never takes this one's socket with it. A number in use by
        // another server ends this one at once: the next is tried.
        static int started = 0;
        for (int attempt = 0; attempt < 5 && !Start(300 + (::getpid() * 5 + started++) % 600);
             ++attempt) {
            Server.kill();
            Server.waitForFinished();
        }
    }
    ~TOwnDisplay()
    {
        Server.terminate();
        Server.waitForFinished();
    }
    TOwnDisplay(const TOwnDisplay&) = delete;
    TOwnDisplay& operator=(const TOwnDisplay&) = delete;

    // The environment of a program on this display.
    QProcessEnvironment Environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), ':' + QString::fromLatin1(FDisplay));
        return environment;
    }

    // Whether a window whose name holds `name` comes up on the display (within 20 s: slow in
    // the sanitizer build on a busy machine).
    bool Shows(const char* name, int withinMs = 20000) const
    {
        return WaitFor(
            [&] {
                QProcess tree;
                tree.setProcessEnvironment(Environment());
                tree.start(QStringLiteral("xwininfo"),
                           {QStringLiteral("-root"), QStringLiteral("-tree")});
                return tree.waitForFinished(2000) && tree.readAllStandardOutput().contains(name);
            },
            withinMs);
    }

    QProcess Server;

private:
    // Starts the server on display `number`; whether a client reaches this server there. A
    // server of another test on the same number answers too, until our own finds the number taken
    // and ends: the display's lock file names the server that holds it.
    bool Start(int number)
    {
        FDisplay = QByteArray::number(number);
        Server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Server.start(QStringLiteral("Xvfb"), {':' + QString::fromLatin1(FDisplay),
                                              QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        const auto ours = [&] {
            QFile lock(QStringLiteral("/tmp/.X%1-lock").arg(QString::fromLatin1(FDisplay)));
            return lock.open(QIODevice::ReadOnly) &&
                   lock.readAll().trimmed().toLongLong() == Server.processId();
        };
        return WaitFor([&] {
                   if (Server.state() == QProcess::NotRunning)
                       return true; // the number was taken: said below
                   if (!ours())
                       return false;
                   QProcess root;
                   root.setProcessEnvironment(Environment());
                   root.start(QStringLiteral("xwininfo"), {QStringLiteral("-root")});
                   return root.waitForFinished(2000) && root.exitCode() == 0;
               }) &&
               Server.state() != QProcess::NotRunning && ours();
    }

    QByteArray FDisplay;
};

// The program ended with `status`, its outputs all off within 1.5 s of the moment it was asked to
// end: its log's line that says why (`cause`), or else `askedMs`, a moment of the test's (in
// milliseconds since midnight) no earlier than it. Judged by the program's own time stamps, not
// by when the test looked.
void ExpectEndedAllOff(QProcess& program, int status, const char* what, const char* cause,
                       int askedMs = -1)
{
    ASSERT_TRUE(program.waitForFinished(30000)) << what;
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << what << ": ended by the signal";
    EXPECT_EQ(program.exitCode(), status) << what;
    const QByteArray log = program.readAllStandardError();
    EXPECT_EQ(log.count("fin: todas las salidas apagadas"), 1) << what << ":\n" << log.data();
    const int asked = cause != nullptr ? LogStamp(log, {cause}) : askedMs;
    const int off = LogStamp(log, {"fin: todas las salidas apagadas"});
    ASSERT_TRUE(asked >= 0 && off >= 0) << what << ":\n" << log.data();
    EXPECT_LT(StampsApart(asked, off), 1500) << what << ":\n" << log.data();
    // Every line with its time, the toolkit's and the X library's too.
    const QRegularExpression stamped(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d "));
    for (const QByteArray& line : log.split('\n'))
        EXPECT_TRUE(line.isEmpty() || stamped.match(QString::fromLocal8Bit(line)).hasMatch())
            << what << ": " << line.data();
}

} // namespace

TEST(ProgramEnd, EachSignalEndsThroughTheAllOff)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const struct
    {
        const char* What;
        int Signal;
    } rows[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT},   {"SIGHUP", SIGHUP},
                {"SIGUSR1", SIGUSR1}, {"SIGALRM", SIGALRM}, {"SIGXCPU", SIGXCPU},
                {"SIGTRAP", SIGTRAP}};
    for (const auto& row : rows) {
        TRunning running(environment);
        ::kill(static_cast<pid_t>(running.Program.processId()), row.Signal);
        ExpectEndedAllOff(running.Program, 128 + row.Signal, row.What,
                          (std::string("fin pedido por la señal ") + row.What).c_str());
    }
}

TEST(ProgramEnd, TheDisplayGoneEndsThroughTheAllOff)
{
    TOwnDisplay display;
    const QProcessEnvironment environment = display.Environment();
    TRunning running(environment);
    // The window up on the server first: the display goes while the program runs, not while it
    // is still starting (slow in the sanitizer build on a busy machine).
    EXPECT_TRUE(display.Shows("PrVardo")) << "no window of PrVardo on the display";
    display.Server.terminate();
    // The program cannot have lost its display before the server was told to end.
    const int asked = QTime::currentTime().msecsSinceStartOfDay();
    ASSERT_TRUE(display.Server.waitForFinished(30000));
    // The toolkit ends the program with status 1 when its display is gone.
    ExpectEndedAllOff(running.Program, 1, "the display gone", nullptr, asked);
}

// Started from a menu (standard error read by nobody), a program that cannot start says why in
// the error box on the screen, and waits for the user to read it.
TEST(ProgramEnd, ARefusedStartOnAScreenShowsWhy)
{
    QTemporaryDir home;
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("PrVardo")));
    QFile settings(home.filePath(QStringLiteral("PrVardo/PrVardo.conf")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[outputs]\npassword = secreto\n");
    settings.close();
    settings.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    TOwnDisplay display;
    QProcessEnvironment environment = display.Environment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(PRVARDO_PROGRAM), QStringList{});
    ASSERT_TRUE(program.waitForStarted(30000));
    EXPECT_TRUE(display.Shows("PrVardo")) << "no box on the display";
    EXPECT_NE(program.state(), QProcess::NotRunning)
        << "ended before the box was read, with status " << program.exitCode() << ":\n"
        << program.readAllStandardError().toStdString();
    program.kill();
    program.waitForFinished();
}

// A dialog open in the window (here the file dialog of the folder button, clicked on the X
// server) keeps the guard's watchdog fed: its nested event loop beats, and the guard does not end
// the program however long the dialog stays.
TEST(ProgramEnd, AnOpenDialogKeepsTheGuardsWatchdogFed)
{
    TOwnDisplay display;
    // A watchdog of 3 s: short enough to lapse in the test's time, long enough that a machine
    // busy with the rest of the suite does not hold a healthy program up for all of it.
    TRunning running(display.Environment(), "[outputs]\nwatchdog = 3\n");
    ASSERT_TRUE(display.Shows("PrVardo")) << "no window of PrVardo on the display";
    ASSERT_GT(GuardOf(running.Program), 0) << "no guard beside the program";
    // The folder button clicked once the window is on the screen, and again until the dialog
    // shows: a slow start (the sanitizer build) may take a click before the button does.
    const auto clickFolder = [&] {
        QProcess click;
        click.setProcessEnvironment(display.Environment());
        click.start(QStringLiteral("xdotool"),
                    {QStringLiteral("search"), QStringLiteral("--sync"),
                     QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                     QStringLiteral("^Control de Brelom$"), QStringLiteral("mousemove"),
                     QStringLiteral("--window"), QStringLiteral("%1"), QStringLiteral("19"),
                     QStringLiteral("18"), QStringLiteral("click"), QStringLiteral("1")});
        EXPECT_TRUE(click.waitForFinished(10000) && click.exitCode() == 0)
            << click.readAllStandardError().toStdString();
    };
    bool shown = false;
    for (int attempt = 0; attempt < 5 && !shown; ++attempt) {
        clickFolder();
        shown = display.Shows("Abrir", 10000);
    }
    ASSERT_TRUE(shown) << "no file dialog on the display";
    // More than twice the watchdog with the dialog open: the program is still there.
    EXPECT_FALSE(WaitFor([&] { return running.Program.state() == QProcess::NotRunning; }, 7000))
        << running.Program.readAllStandardError().toStdString();
}
