// The microphone page against real PulseAudio servers: the level of the sine source on the
// page (the test command's server, PULSE_SERVER), and the echo as the null sink's monitor shows
// it (a server of the test's own, since the test plays into it).

#include "sound/drivers/PulseAudio.h"
#include "tests/app/FormFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

// The sine source peaks at half of full scale.
constexpr int SinePeak = 16384;

// A PulseAudio server of the test's own, configured like the test command's.
class OwnServer
{
public:
    OwnServer() { Address = Script("start").trimmed().toStdString(); }
    ~OwnServer() { Script("stop"); }
    OwnServer(const OwnServer&) = delete;
    OwnServer& operator=(const OwnServer&) = delete;

    std::string Address;

    // Runs pactl against this server; its standard output.
    QByteArray Pactl(const QStringList& arguments)
    {
        QProcess pactl;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PULSE_SERVER"), QString::fromStdString(Address));
        pactl.setProcessEnvironment(environment);
        pactl.start(QStringLiteral("pactl"), arguments);
        EXPECT_TRUE(pactl.waitForFinished(15000)) << arguments.join(' ').toStdString();
        EXPECT_EQ(pactl.exitCode(), 0) << pactl.readAllStandardError().toStdString();
        return pactl.readAllStandardOutput();
    }
    // Freezes (SIGSTOP) or thaws (SIGCONT) the server process.
    void Signal(int signal)
    {
        QFile pid(FDir.filePath(QStringLiteral("server.pid")));
        ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
        ASSERT_EQ(::kill(pid.readAll().trimmed().toInt(), signal), 0);
    }

private:
    QByteArray Script(const char* command)
    {
        QProcess script;
        script.start(PRVARDO_SOURCE_DIR "/scripts/pulse-server",
                     {QString::fromLatin1(command), FDir.path()});
        EXPECT_TRUE(script.waitForFinished(15000)) << command;
        EXPECT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();
        return script.readAllStandardOutput();
    }

    QTemporaryDir FDir;
};

// What the server's null sink plays, read from its monitor: 16-bit mono samples at 8000 Hz.
class SinkMonitor
{
public:
    explicit SinkMonitor(const std::string& server)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PULSE_SERVER"), QString::fromStdString(server));
        FRecorder.setProcessEnvironment(environment);
        FRecorder.start(QStringLiteral("parecord"),
                        {"--raw", "--format=s16le", "--rate=8000", "--channels=1",
                         "--latency-msec=20", "--device=testsink.monitor"});
    }
    ~SinkMonitor()
    {
        FRecorder.kill();
        FRecorder.waitForFinished();
    }
    SinkMonitor(const SinkMonitor&) = delete;
    SinkMonitor& operator=(const SinkMonitor&) = delete;

    std::size_t Samples()
    {
        FBytes += FRecorder.readAllStandardOutput();
        return static_cast<std::size_t>(FBytes.size()) / 2;
    }
    // The largest magnitude among the last `count` samples; -1 while fewer have arrived.
    int RecentPeak(std::size_t count)
    {
        const std::size_t total = Samples();
        if (total < count)
            return -1;
        int peak = 0;
        for (std::size_t i = total - count; i < total; ++i) {
            std::int16_t sample = 0;
            std::memcpy(&sample, FBytes.constData() + 2 * i, 2);
            peak = std::max(peak, std::abs(int(sample)));
        }
        return peak;
    }

private:
    QProcess FRecorder;
    QByteArray FBytes;
};

// The window echoing into a server of the test's own, whose sink's monitor is recorded.
struct EchoOnOwnServer
{
    OwnServer Server;
    SinkMonitor Monitor{Server.Address};
    TScopedWaveDriver Driver{std::make_unique<TPulseAudioDriver>(Server.Address)};
    std::unique_ptr<RecordingForm> Form;

    // "Abrir", once the monitor gives data (a new recording of a null sink's monitor takes about
    // a second to get any); false when it gives none.
    bool Open()
    {
        if (!WaitFor([&] { return Monitor.Samples() > 0; }, 10000))
            return false;
        Form = MakeForm(14, 37);
        QTest::mouseClick(Form->BtOpen, Qt::LeftButton);
        return true;
    }
};

class FormMicrophonePulse : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            << "PULSE_SERVER is not set: the sound tests need the private PulseAudio server that "
               "scripts/test starts (scripts/pulse-server start <dir>)";
    }

    static int LampWord(const TFormVardo& form)
    {
        int word = 0;
        for (int p = 0; p < 6; ++p)
            word |= (form.Lamp(p)->FrameActual() == 1 ? 1 : 0) << p;
        return word;
    }

    ErrorRecorder Errors;
};

TEST_F(FormMicrophonePulse, AbrirShowsTheSineLevelAndCerrarLeavesZero)
{
    TScopedWaveDriver driver(std::make_unique<TPulseAudioDriver>());
    auto form = MakeForm(14, 37);
    std::vector<int> levels;
    TWaveAudioLevelEvent shown = form->AudioRedirector1->AudioIn()->OnLevel;
    form->AudioRedirector1->AudioIn()->OnLevel = [&](QObject* sender, std::int32_t level) {
        levels.push_back(level);
        shown(sender, level);
    };

    QTest::mouseClick(form->BtOpen, Qt::LeftButton);
    // Ten 50 ms buffers; the server delivers the first ones at once.
    ASSERT_TRUE(WaitFor([&] { return levels.size() >= 10; }))
        << Errors.Messages.join(' ').toStdString();
    EXPECT_TRUE(form->CkActive->isChecked());
    for (std::size_t i = 0; i < levels.size(); ++i)
        EXPECT_TRUE(levels[i] == 49 || levels[i] == 50) << "buffer " << i << ": " << levels[i];
    EXPECT_EQ(form->AudioLevel->value(), levels.back());
    EXPECT_EQ(form->LCDControl1->Number(), levels.back());
    EXPECT_EQ(LampWord(*form), 15) << "D0 to D3";
    EXPECT_EQ(form->Written.back(), 15);

    QTest::mouseClick(form->BTClose, Qt::LeftButton);
    EXPECT_FALSE(form->AudioRedirector1->Active());
    EXPECT_EQ(levels.back(), 0) << "closing the input reports silence";
    EXPECT_EQ(form->AudioLevel->value(), 0);
    EXPECT_EQ(form->LCDControl1->Number(), 0);
    EXPECT_EQ(LampWord(*form), 0);
    EXPECT_EQ(form->Written.back(), 0);
    EXPECT_TRUE(Errors.Messages.isEmpty()) << Errors.Messages.join(' ').toStdString();
}

// How long the event loop went without a turn while `action` ran: what a window manager sees as
// the window's answer to its ping.
template <class F> qint64 LongestStall(F&& action)
{
    QElapsedTimer sinceTurn;
    sinceTurn.start();
    qint64 longest = 0;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout,
                     [&] { longest = std::max(longest, sinceTurn.restart()); });
    turns.start(10);
    action();
    return std::max(longest, sinceTurn.elapsed());
}

// The only loudspeaker goes away under the echo (its module unloaded, as when a USB speaker is
// unplugged): one report, whose box the user reads for a while; the echo goes off, the window
// answers throughout, and with a new loudspeaker "Cerrar" and "Abrir" bring the echo back.
TEST_F(FormMicrophonePulse, LoudspeakerRemovedUnderTheEchoGivesOneReportAndTheEchoOff)
{
    OwnServer server;
    TScopedWaveDriver driver(std::make_unique<TPulseAudioDriver>(server.Address));
    auto form = MakeForm(14, 37);
    TAudioRedirector* echo = form->AudioRedirector1;
    QTest::mouseClick(form->BtOpen, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return echo->AudioOut()->Active(); }))
        << Errors.Messages.join(' ').toStdString();

    QStringList reports;
    bool offWhileShown = false;
    const TScopedExceptionReporter box([&](QObject*, const QString& message) {
        reports.push_back(message);
        offWhileShown = WaitFor([&] { return !echo->Active(); });
    });
    const QString modules = QString::fromUtf8(server.Pactl({"list", "short", "modules"}));
    QString module;
    for (const QString& line : modules.split('\n'))
        if (line.contains(QStringLiteral("module-null-sink")))
            module = line.section('\t', 0, 0);
    ASSERT_FALSE(module.isEmpty());
    const qint64 stall = LongestStall([&] {
        server.Pactl({"unload-module", module});
        EXPECT_TRUE(WaitFor([&] { return !reports.isEmpty() && !form->CkActive->isChecked(); }))
            << "no report, or the echo still on";
        // Blocks keep coming from the microphone until the input has closed.
        EXPECT_TRUE(WaitFor([&] { return !echo->AudioIn()->Active(); }));
    });
    EXPECT_EQ(reports.size(), 1) << reports.join(" | ").toStdString();
    EXPECT_TRUE(offWhileShown);
    // A window that waited for the server would wait for its answer's bound (2 s) at least.
    EXPECT_LT(stall, 1900) << "the window froze for " << stall << " ms";
    EXPECT_FALSE(echo->AudioOut()->Active());

    server.Pactl({"load-module", "module-null-sink", "sink_name=newsink"});
    server.Pactl({"set-default-sink", "newsink"});
    QTest::mouseClick(form->BTClose, Qt::LeftButton);
    QTest::mouseClick(form->BtOpen, Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return echo->AudioOut()->Active(); }));
    EXPECT_EQ(reports.size(), 1) << reports.join(" | ").toStdString();
    EXPECT_TRUE(Errors.Messages.isEmpty()) << Errors.Messages.join(' ').toStdString();
}

// "ECO on/off" pressed five times while the server is frozen: no press waits for the server, and
// once it answers again the echo is as loud as the last press says (50%: on).
TEST_F(FormMicrophonePulse, EcoPressesOnAFrozenServerNeitherWaitNorGetLost)
{
    EchoOnOwnServer echo;
    ASSERT_TRUE(echo.Open());
    OwnServer& server = echo.Server;
    SinkMonitor& monitor = echo.Monitor;
    auto& form = echo.Form;
    ASSERT_TRUE(WaitFor([&] { return form->AudioRedirector1->AudioOut()->Active(); }));

    server.Signal(SIGSTOP);
    const qint64 stall = LongestStall([&] {
        for (int press = 0; press < 5; ++press) {
            QTest::mouseClick(form->PonerECO, Qt::LeftButton);
            QCoreApplication::processEvents();
        }
    });
    server.Signal(SIGCONT);
    // A press that waited would wait for the server's answer's bound (2 s) at least.
    EXPECT_LT(stall, 1900) << "a press waited " << stall << " ms for the frozen server";
    const int expected = SinePeak * 50 / 100;
    EXPECT_TRUE(WaitFor(
        [&] { return std::abs(monitor.RecentPeak(800) - expected) <= expected / 20 + 2; }, 10000))
        << "peak " << monitor.RecentPeak(800) << ", expected " << expected;
    EXPECT_TRUE(Errors.Messages.isEmpty()) << Errors.Messages.join(' ').toStdString();
}

TEST_F(FormMicrophonePulse, EchoReachesTheSinkAsLoudAsEcoSaysAndCerrarStopsIt)
{
    EchoOnOwnServer echo;
    ASSERT_TRUE(echo.Open());
    SinkMonitor& monitor = echo.Monitor;
    auto& form = echo.Form;

    // The output's volume is linear in amplitude: 75% until the first press of "ECO on/off",
    // then 50%, 2%, 50%. Peaks are taken over 100 ms (44 periods of the sine).
    const struct
    {
        int Presses;
        int Percent;
    } rows[] = {{0, 75}, {1, 50}, {2, 2}, {3, 50}};
    std::map<int, int> peaks;
    for (const auto& row : rows) {
        if (row.Presses > 0)
            QTest::mouseClick(form->PonerECO, Qt::LeftButton);
        const int expected = SinePeak * row.Percent / 100;
        const bool reached = WaitFor(
            [&] { return std::abs(monitor.RecentPeak(800) - expected) <= expected / 20 + 2; },
            30000);
        EXPECT_TRUE(reached) << row.Percent << "%: peak " << monitor.RecentPeak(800)
                             << ", expected " << expected << ". "
                             << Errors.Messages.join(' ').toStdString();
        peaks[row.Percent] = monitor.RecentPeak(800);
    }
    ASSERT_GT(peaks[2], 0);
    const double ratio = double(peaks[50]) / double(peaks[2]);
    EXPECT_NEAR(ratio, 25.0, 2.0);

    QTest::mouseClick(form->BTClose, Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return monitor.RecentPeak(800) == 0; }))
        << "the echo goes on after Cerrar: peak " << monitor.RecentPeak(800);
    EXPECT_EQ(form->AudioLevel->value(), 0);
    EXPECT_EQ(LampWord(*form), 0);
    EXPECT_TRUE(Errors.Messages.isEmpty()) << Errors.Messages.join(' ').toStdString();
}

} // namespace
