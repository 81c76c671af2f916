// The wave devices on PulseAudio servers of the test's own: what a device's open reports when no
// server answers, and the echo on a loudspeaker that holds about a fifth of a second of its own.

#include "audio/WaveRedirector.h"
#include "sound/drivers/PulseAudio.h"

#include "tests/support/CoreSupport.h"
#include "tests/support/PulseServer.h"

#include <chrono>
#include <cstdint>
#include <deque>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The server's default sink holds 180-190 ms of its own, as a Bluetooth speaker does: a pipe sink
// (59000 Hz stereo, up to 277 ms in its 64 KiB pipe) that pacat plays into the null sink, whose
// clock sets the pace. (A latency just under a whole number of blocks, as 200 ms is, leaves the
// echo's backlog rule one block of slack, and a block that comes late then is dropped.) The
// default source is clocked: the sine source hands out two seconds at a time.
class TSlowSink
{
public:
    explicit TSlowSink(const TPrivateServer& server)
    {
        const QString fifo = server.Path("slow.fifo");
        server.Pactl({"load-module", "module-pipe-sink", "sink_name=slow", "file=" + fifo,
                      "format=s16le", "rate=59000", "channels=2"});
        server.Pactl({"set-default-sink", "slow"});
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PULSE_SERVER", QString::fromStdString(server.Address));
        FPlayer.setProcessEnvironment(environment);
        FPlayer.setStandardInputFile(fifo);
        FPlayer.start("pacat", {"--playback", "--raw", "--format=s16le", "--rate=59000",
                                "--channels=2", "--device=testsink", "--latency-msec=20"});
        EXPECT_TRUE(WaitFor(
            [&] {
                return !server.Pactl({"list", "short", "sink-inputs"}).isEmpty();
            },
            5000));
        // The idle null sink has rendered two seconds ahead: restarted, it plays pacat at once.
        server.Pactl({"suspend-sink", "testsink", "1"});
        server.Pactl({"suspend-sink", "testsink", "0"});
        server.Pactl({"load-module", "module-null-source", "source_name=clocked"});
        server.Pactl({"set-default-source", "clocked"});
    }
    ~TSlowSink()
    {
        FPlayer.kill();
        FPlayer.waitForFinished();
    }
    TSlowSink(const TSlowSink&) = delete;
    TSlowSink& operator=(const TSlowSink&) = delete;

private:
    QProcess FPlayer;
};

TEST(WavePulse, AnOpenWithoutAServerThatAnswersSaysThereIsNoServer)
{
    TPrivateServer stopped;
    ASSERT_TRUE(stopped.Signal(SIGSTOP));
    ASSERT_TRUE(WaitFor([&] { return stopped.Stopped(); })) << "the server did not stop";
    for (const std::string& address : {std::string("unix:/nonexistent/native"), stopped.Address}) {
        TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(address));
        TWaveAudioIn in;
        in.OnError = [](QObject*) {};
        EXPECT_FALSE(in.OpenDevice()) << address;
        EXPECT_EQ(in.LastError(), MMSYSERR_NODRIVER) << address;
    }
}

// The output holds more blocks than the backlog rule allows on its own, all of them in the sink;
// counted beyond what the sink holds, none is dropped. After a stall the blocks that waited are
// played late, and the rule drops as many later ones as it takes to be back on time.
TEST(WavePulse, TheEchoOnASlowSinkDropsNoBlockAndIsBackOnTimeSoonAfterAStall)
{
    TPrivateServer server;
    TSlowSink slow(server);
    TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(server.Address));
    TAudioRedirector echo;
    int recorded = 0;
    std::deque<Clock::time_point> passedOn; // when each block was handed to the output
    echo.AudioIn()->OnFilter = [&](QObject*, void*, std::uint32_t) { ++recorded; };
    echo.AudioOut()->OnFilter = [&](QObject*, void*, std::uint32_t) {
        passedOn.push_back(Clock::now());
    };
    // The age of the last block heard in full: blocks are 50 ms, recorded as they are handed on.
    const auto latency = [&] {
        const std::size_t heard = echo.AudioOut()->Position() / 50;
        return heard == 0 ? Clock::duration(1h) : Clock::now() - passedOn.at(heard - 1);
    };
    echo.SetActive(true);

    // Settled (the first blocks trim what the start left standing in the stream), two seconds of
    // echo lose no block. A machine busy with other work stalls the echo now and then, which the
    // rule answers by dropping: one of ten such stretches must pass without.
    ASSERT_TRUE(WaitFor([&] { return recorded >= 40; })) << recorded;
    std::size_t fewest = SIZE_MAX;
    for (int stretch = 0; stretch < 10 && fewest != 0; ++stretch) {
        const std::size_t droppedBefore = recorded - passedOn.size();
        const int until = recorded + 40;
        ASSERT_TRUE(WaitFor([&] { return recorded >= until; })) << recorded;
        fewest = std::min(fewest, recorded - passedOn.size() - droppedBefore);
    }
    EXPECT_EQ(fewest, 0u) << "blocks dropped in the best 2 s of echo";
    DWORD sinkMs = 0;
    ASSERT_EQ(waveOutGetLatency(echo.AudioOut()->DeviceHandle(), &sinkMs), MMSYSERR_NOERROR);
    EXPECT_GT(sinkMs, 150u);
    EXPECT_LT(sinkMs, 300u);
    Clock::duration steady{};
    const int until = recorded + 20;
    ASSERT_TRUE(WaitFor([&] {
        steady = std::max(steady, latency());
        return recorded >= until;
    }));

    const auto busyUntil = Clock::now() + 1s; // the GUI thread busy for a second
    while (Clock::now() < busyUntil) {
    }
    // The echo catches up by dropping what the stall left (how soon is bench_echo's figure).
    EXPECT_TRUE(WaitFor([&] { return latency() <= steady; }, 10000))
        << "steady " << std::chrono::duration_cast<std::chrono::milliseconds>(steady).count()
        << " ms";
    EXPECT_TRUE(echo.Active());
}

} // namespace
