// The guard beside each program, with the real binaries killed for real: whatever way the
// program dies (killed, crashed, aborted, stopped past its watchdog), its outputs go off within
// the bound, on a relay board on a pseudo-terminal and on a plug on the broker of the test run;
// a clean end is no death.

#include "tests/support/CoreSupport.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/PtyBoard.h"
#include "tests/support/UserProgram.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

// One of the programs on one target, D2 on by its schedule, as a user of its own with a watchdog
// of `watchdog` seconds (0: none).
class TGuarded : public TUserProgram
{
public:
    TGuarded(bool timer, const QString& target, int watchdog)
        : TUserProgram(QByteArray("[outputs]\nwatchdog = ") + QByteArray::number(watchdog) + '\n')
    {
        SaveAllDay(File(QStringLiteral("aula.tem")), 0x04);
        // In a file, which the guard writes to as well after the program is gone.
        Process.setStandardErrorFile(File(QStringLiteral("registro")));
        // A process group of its own, as a terminal or a service gives it, for a kill of the
        // whole group.
        Process.setChildProcessModifier([] { ::setpgid(0, 0); });
        if (timer)
            Process.start(QStringLiteral(PRVARDO_TIMER),
                          {File(QStringLiteral("aula.tem")), QStringLiteral("--output"), target});
        else
            Process.start(QStringLiteral(PRVARDO_PROGRAM), {QStringLiteral("--output"), target});
    }

    // What the program and its guard logged so far.
    QByteArray Said() const
    {
        QFile log(File(QStringLiteral("registro")));
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }
};

// How long after it saw the program go the guard had every output off, as its log says; -1 when
// it does not say so.
double GuardsOffSeconds(const QByteArray& log)
{
    static const QRegularExpression said(
        QStringLiteral("sin apagar las salidas; todas apagadas (\\d+),(\\d\\d) s después"));
    const QRegularExpressionMatch match = said.match(QString::fromUtf8(log));
    return match.hasMatch() ? match.captured(1).toDouble() + match.captured(2).toDouble() / 100
                            : -1;
}

// Each way of dying of one program on one kind of target: the outputs off within the bound.
void ExpectEveryDeathSwitchesOff(bool timer, bool plug)
{
    const std::string broker = SharedBroker();
    ASSERT_FALSE(broker.empty()) << "PRVARDO_MQTT_BROKER is not set: this test needs the private "
                                    "broker that scripts/test starts";
    // Each death, and the guard's promise after it: every output off within a second of the
    // program's end, as the guard itself measures it (not when the test looked). A program that
    // stops is ended at its watchdog first; the others have none, so that a healthy program that a
    // busy machine holds up for a while is never taken for a hung one.
    const struct
    {
        const char* What;
        int Signal;
        int Watchdog;
        bool Group; // to the program's whole process group, which the guard left
    } deaths[] = {
        {"SIGKILL", SIGKILL, 0, false},
        {"SIGSEGV", SIGSEGV, 0, false},
        {"SIGABRT", SIGABRT, 0, false},
        {"SIGSTOP", SIGSTOP, 3, false},
        {"SIGKILL to the process group", SIGKILL, 0, true},
    };
    int run = 0;
    for (const auto& death : deaths) {
        const std::string what = std::string(timer ? "prvardo-timer" : "PrVardo") +
                                 (plug ? " on a plug, " : " on a board, ") + death.What;
        TPtyBoard board;
        const QString topic =
            QStringLiteral("guardia%1_%2_%3_%4").arg(::getpid()).arg(timer).arg(plug).arg(++run);
        TSubscriber plugs(broker, {"cmnd/" + topic.toStdString() + "/#"});
        const QString target =
            plug ? QStringLiteral("mqtt://%1/%2").arg(QString::fromStdString(broker), topic)
                 : board.Target();
        const QString power3 = QStringLiteral("cmnd/%1/POWER3 ").arg(topic);
        // Off at the end: the board's last byte, the plug's last word for D2.
        const auto off = [&] {
            if (!plug)
                return board.EndsWith(std::string(1, '\0'));
            const QStringList all = plugs.All().filter(power3);
            return !all.isEmpty() && all.last().endsWith(QStringLiteral("OFF"));
        };
        TGuarded program(timer, target, death.Watchdog);
        // The timer switches D2 on; the window starts all off, and its guard's all off
        // is the byte or word that comes after the death.
        ASSERT_TRUE(WaitFor([&] {
            return plug ? !plugs.All().filter(power3).isEmpty() : !board.Received().empty();
        })) << what
            << ": never switched";
        if (timer) {
            ASSERT_TRUE(WaitFor([&] { return !off(); })) << what << ": D2 never on";
        }
        const pid_t guard = GuardOf(program.Process);
        ASSERT_GT(guard, 0) << what << ": no guard beside the program";
        // Killed right after a byte came: the next one the program would send is a second away,
        // so what comes after the death is the guard's (or the program's own end).
        const auto sent = [&] { return plug ? std::size_t(plugs.All().size()) : board.Bytes(); };
        if (!plug) {
            const std::size_t beat = sent();
            ASSERT_TRUE(WaitFor([&] { return sent() > beat; })) << what << ": no heartbeat";
        }
        const std::size_t before = sent();
        const auto pid = static_cast<pid_t>(program.Process.processId());
        ::kill(death.Group ? -pid : pid, death.Signal);
        EXPECT_TRUE(WaitFor([&] { return sent() > before && off(); }))
            << what << ": " << program.Said().data();
        ASSERT_TRUE(program.Process.state() == QProcess::NotRunning ||
                    program.Process.waitForFinished(30000))
            << what;
        EXPECT_TRUE(WaitFor([&] { return ::kill(guard, 0) != 0; }))
            << what << ": the guard did not end";
        const QByteArray log = program.Said();
        const double seconds = GuardsOffSeconds(log);
        EXPECT_GE(seconds, 0) << what << ": the guard does not say it switched off\n" << log.data();
        EXPECT_LE(seconds, 1.0) << what << "\n" << log.data();
        EXPECT_EQ(log.contains("no da señales de vida"), death.Signal == SIGSTOP) << what << "\n"
                                                                                  << log.data();
    }
}

} // namespace

TEST(Guard, TheTimerOnABoard)
{
    ExpectEveryDeathSwitchesOff(true, false);
}

TEST(Guard, TheTimerOnAPlug)
{
    ExpectEveryDeathSwitchesOff(true, true);
}

TEST(Guard, TheWindowOnABoard)
{
    ExpectEveryDeathSwitchesOff(false, false);
}

TEST(Guard, TheWindowOnAPlug)
{
    ExpectEveryDeathSwitchesOff(false, true);
}

// A clean end is no death: the guard ends with the program, quietly.
TEST(Guard, ACleanEndIsNoDeath)
{
    for (const bool timer : {true, false}) {
        TPtyBoard board;
        TGuarded program(timer, board.Target(), 0);
        ASSERT_TRUE(WaitFor([&] { return !board.Received().empty(); }));
        const pid_t guard = GuardOf(program.Process);
        ASSERT_GT(guard, 0) << "no guard beside the program";
        program.Process.terminate();
        ASSERT_TRUE(program.Process.waitForFinished(30000));
        const std::size_t ended = board.Bytes();
        EXPECT_TRUE(board.EndsWith(std::string(1, '\0'))) << "the program's own all off";
        EXPECT_TRUE(WaitFor([&] { return ::kill(guard, 0) != 0; })) << "the guard stayed";
        EXPECT_EQ(board.Bytes(), ended) << "the guard switched after a clean end";
    }
}

// A guard that dies is replaced at once, and says so; the new one switches off at a death.
TEST(Guard, AGuardKilledIsReplaced)
{
    for (const bool timer : {true, false}) {
        const char* what = timer ? "prvardo-timer" : "PrVardo";
        TPtyBoard board;
        TGuarded program(timer, board.Target(), 0);
        ASSERT_TRUE(WaitFor([&] { return !board.Received().empty(); })) << what;
        const pid_t first = GuardOf(program.Process);
        ASSERT_GT(first, 0) << what;
        ::kill(first, SIGKILL);
        ASSERT_TRUE(WaitFor([&] { return program.Said().contains("lo sustituye el proceso"); }))
            << what << "\n"
            << program.Said().data();
        const pid_t second = GuardOf(program.Process);
        EXPECT_GT(second, 0) << what;
        EXPECT_NE(second, first) << what;
        const std::size_t before = board.Bytes();
        ::kill(static_cast<pid_t>(program.Process.processId()), SIGKILL);
        EXPECT_TRUE(WaitFor([&] {
            return board.Bytes() > before && board.EndsWith(std::string(1, '\0'));
        })) << what
            << "\n"
            << program.Said().data();
        EXPECT_TRUE(WaitFor([&] { return GuardsOffSeconds(program.Said()) >= 0; }))
            << what << "\n"
            << program.Said().data();
    }
}

// A board away when the program dies (its cable out) is switched off by the guard once it is
// back, and the guard says which target it still tries, then that it is done.
TEST(Guard, ATargetAwayAtTheDeathIsSwitchedOffWhenItIsBack)
{
    TPtyBoard board;
    QTemporaryDir folder;
    const QString cable = folder.filePath(QStringLiteral("ttyRelays"));
    ASSERT_TRUE(QFile::link(board.Device, cable));
    TGuarded program(true, QStringLiteral("serial:") + cable, 0);
    ASSERT_TRUE(WaitFor([&] { return board.EndsWith("\x04"); })) << program.Said().data();
    // The cable out, as the guard will find it: the program keeps the port it has open.
    ASSERT_TRUE(QFile::remove(cable));
    ::kill(static_cast<pid_t>(program.Process.processId()), SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return program.Said().contains("se siguen intentando"); }))
        << program.Said().data();
    EXPECT_TRUE(board.EndsWith("\x04")) << "switched off without its cable";
    EXPECT_FALSE(program.Said().contains("todas apagadas")) << program.Said().data();
    // The cable back: the guard finds it at its next try.
    ASSERT_TRUE(QFile::link(board.Device, cable));
    EXPECT_TRUE(WaitFor([&] { return board.EndsWith(std::string(1, '\0')); }))
        << program.Said().data();
    EXPECT_TRUE(WaitFor([&] { return program.Said().contains("apagada, "); }))
        << program.Said().data();
}

// A clean end that takes longer than the watchdog (a broker that stopped answering holds the
// plugs' last word for its second) is not taken for a hang: the program said it was ending.
TEST(Guard, ACleanEndSlowerThanTheWatchdogIsNoHang)
{
    TPrivateBroker broker;
    TPtyBoard board;
    TUserProgram program("[outputs]\nwatchdog = 1\n");
    SaveAllDay(program.File(QStringLiteral("aula.tem")), 0x04);
    program.Process.start(QStringLiteral(PRVARDO_TIMER),
                          {program.File(QStringLiteral("aula.tem")), QStringLiteral("--output"),
                           board.Target(), QStringLiteral("--output"),
                           QStringLiteral("mqtt://%1/lenta%2")
                               .arg(QString::fromStdString(broker.Address))
                               .arg(::getpid())});
    ASSERT_TRUE(WaitFor([&] { return program.Log().contains("mqtt://"); })) << program.Log().data();
    ASSERT_TRUE(WaitFor([&] { return board.EndsWith("\x04"); })) << program.Log().data();
    ASSERT_TRUE(broker.Signal(SIGSTOP));
    program.Process.terminate();
    ASSERT_TRUE(program.Process.waitForFinished(30000));
    ASSERT_TRUE(broker.Signal(SIGCONT));
    const QByteArray log = program.Log();
    EXPECT_EQ(program.Process.exitStatus(), QProcess::NormalExit) << log.data();
    // Its own end, all the way: the board off, the plug unconfirmed (status 1), never killed.
    EXPECT_EQ(program.Process.exitCode(), 1) << log.data();
    EXPECT_TRUE(board.EndsWith(std::string(1, '\0')));
    EXPECT_FALSE(log.contains("se termina")) << log.data();
}

// The guard switches off the targets the program had, from the settings as they were at its start:
// a settings file broken since then changes nothing.
TEST(Guard, TheSettingsOfTheStartHold)
{
    TPtyBoard board;
    TUserProgram timer(
        QStringLiteral("[outputs]\nwatchdog = 0\noutput = %1\n").arg(board.Target()).toUtf8());
    SaveAllDay(timer.File(QStringLiteral("aula.tem")), 0x04);
    timer.Process.start(QStringLiteral(PRVARDO_TIMER), {timer.File(QStringLiteral("aula.tem"))});
    ASSERT_TRUE(WaitFor([&] { return board.EndsWith("\x04"); })) << timer.Log().data();
    QFile settings(timer.File(QStringLiteral("PrVardo/PrVardo.conf")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly | QIODevice::Truncate));
    settings.write("[outputs]\noutput = serial:\n");
    settings.close();
    ::kill(static_cast<pid_t>(timer.Process.processId()), SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return board.EndsWith(std::string(1, '\0')); }))
        << timer.Log().data();
}
