// The microphone page against real PulseAudio servers: the level of the sine source on the
// page (the test command's server, PULSE_SERVER), and the echo as the null sink's monitor shows
// it (a server of the test's own, since the test plays into it).

#include "platform/drivers/PulseAudio.h"
#include "tests/app/FormFixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
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
    ASSERT_TRUE(WaitFor([&] { return levels.size() >= 10; }, 5000))
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

TEST_F(FormMicrophonePulse, EchoReachesTheSinkAsLoudAsEcoSaysAndCerrarStopsIt)
{
    OwnServer server;
    SinkMonitor monitor(server.Address);
    // A new recording of a null sink's monitor takes about a second to get data.
    ASSERT_TRUE(WaitFor([&] { return monitor.Samples() > 0; }, 10000));
    TScopedWaveDriver driver(std::make_unique<TPulseAudioDriver>(server.Address));
    auto form = MakeForm(14, 37);
    QTest::mouseClick(form->BtOpen, Qt::LeftButton);

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
            5000);
        EXPECT_TRUE(reached) << row.Percent << "%: peak " << monitor.RecentPeak(800)
                             << ", expected " << expected << ". "
                             << Errors.Messages.join(' ').toStdString();
        peaks[row.Percent] = monitor.RecentPeak(800);
    }
    ASSERT_GT(peaks[2], 0);
    const double ratio = double(peaks[50]) / double(peaks[2]);
    EXPECT_NEAR(ratio, 25.0, 2.0);

    QTest::mouseClick(form->BTClose, Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return monitor.RecentPeak(800) == 0; }, 5000))
        << "the echo goes on after Cerrar: peak " << monitor.RecentPeak(800);
    EXPECT_EQ(form->AudioLevel->value(), 0);
    EXPECT_EQ(LampWord(*form), 0);
    EXPECT_TRUE(Errors.Messages.isEmpty()) << Errors.Messages.join(' ').toStdString();
}

} // namespace
