// The PulseAudio driver through the wave functions, against real PulseAudio servers: the shared
// private server of the test run (PULSE_SERVER: null sink "testsink", 440 Hz sine source
// "testsource" at half of full scale) for what only reads it, and servers of the test's own
// (scripts/pulse-server) for whatever changes a server, plays into it or kills it.

#include "sound/DeviceWindow.h"
#include "sound/MMSystem.h"
#include "sound/WaveDriver.h"
#include "sound/drivers/PulseAudio.h"

#include "tests/support/CoreSupport.h"
#include "tests/support/PulseServer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string SharedServer()
{
    const char* address = std::getenv("PULSE_SERVER");
    return address != nullptr ? address : "";
}

WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits)
{
    const WORD align = static_cast<WORD>(channels * bits / 8);
    return {WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

// The notifications of the devices, in the order they were dispatched.
struct TNotifications
{
    struct TEntry
    {
        UINT Msg;
        HWAVE Handle;
        WAVEHDR* Header;
        Clock::time_point At;
    };
    std::vector<TEntry> Entries;
    TDeviceWindow Window{[this](TMessage& m) {
        Entries.push_back(
            {m.Msg, static_cast<HWAVE>(m.WParam), NotifiedHeader(m.LParam), Clock::now()});
    }};

    std::vector<TEntry> Of(UINT msg) const
    {
        std::vector<TEntry> found;
        for (const TEntry& entry : Entries)
            if (entry.Msg == msg)
                found.push_back(entry);
        return found;
    }
    bool WaitFor(UINT msg, std::size_t count, int timeoutMs = 30000)
    {
        return ::WaitFor([&] { return Of(msg).size() >= count; }, timeoutMs);
    }
    HWAVE Open(TWaveDirection dir, UINT device, const WAVEFORMATEX& format)
    {
        HWAVE handle = 0;
        const MMRESULT result =
            dir == TWaveDirection::In
                ? waveInOpen(&handle, device, &format, Window.Handle(), 0, CALLBACK_WINDOW)
                : waveOutOpen(&handle, device, &format, Window.Handle(), 0, CALLBACK_WINDOW);
        EXPECT_EQ(result, MMSYSERR_NOERROR);
        return handle;
    }
};

// Headers with their buffers, prepared and queued on a handle (16-bit samples of one value).
struct TBuffers
{
    TBuffers(std::vector<DWORD> sizes, HWAVE handle, TWaveDirection dir, std::int16_t value = 0)
        : Data(sizes.size()), Headers(sizes.size())
    {
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            Data[i].assign(sizes[i] / 2, value);
            Headers[i].lpData = reinterpret_cast<char*>(Data[i].data());
            Headers[i].dwBufferLength = sizes[i];
            WAVEHDR* header = &Headers[i];
            EXPECT_EQ(dir == TWaveDirection::In
                          ? waveInPrepareHeader(handle, header, sizeof(WAVEHDR)) |
                                waveInAddBuffer(handle, header, sizeof(WAVEHDR))
                          : waveOutPrepareHeader(handle, header, sizeof(WAVEHDR)) |
                                waveOutWrite(handle, header, sizeof(WAVEHDR)),
                      MMSYSERR_NOERROR);
        }
    }
    std::vector<std::vector<std::int16_t>> Data;
    std::vector<WAVEHDR> Headers;
};

// Records a sink's monitor with parecord, as 16-bit samples at 8000 Hz.
class TMonitor
{
public:
    TMonitor(const std::string& server, const char* source, int channels)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PULSE_SERVER", QString::fromStdString(server));
        FRecorder.setProcessEnvironment(environment);
        FRecorder.start("parecord", {"--raw", "--format=s16le", "--rate=8000",
                                     QString("--channels=%1").arg(channels),
                                     QString("--device=%1").arg(source), "--latency-msec=10"});
        // The sink renders ahead for a while before a new recording of its monitor gets data.
        EXPECT_TRUE(::WaitFor([this] { return !Samples().empty(); }));
    }
    ~TMonitor()
    {
        FRecorder.kill();
        FRecorder.waitForFinished();
    }
    std::vector<std::int16_t> Samples()
    {
        FBytes += FRecorder.readAllStandardOutput();
        std::vector<std::int16_t> samples(FBytes.size() / 2);
        if (!samples.empty())
            std::memcpy(samples.data(), FBytes.constData(), samples.size() * 2);
        return samples;
    }

private:
    QProcess FRecorder;
    QByteArray FBytes;
};

// max * 100 / 32767 over a recorded buffer.
int Level(const WAVEHDR& header, WORD bits)
{
    int peak = 0;
    for (DWORD i = 0; i + bits / 8 <= header.dwBytesRecorded; i += bits / 8) {
        std::int16_t sample =
            std::int16_t((static_cast<std::uint8_t>(header.lpData[i]) - 128) * 256);
        if (bits == 16)
            std::memcpy(&sample, header.lpData + i, 2);
        peak = std::max(peak, std::abs(int(sample)));
    }
    return peak * 100 / 32767;
}

// A device's open, as the devices make it: the query, then the open. Without a server that
// answers, each says so (not "no such device") within one bound of 2 s: sooner than two of them
// could take, whatever a busy machine adds.
void ExpectNoDriverWithinTheBound(TNotifications& notes, const std::string& server)
{
    const WAVEFORMATEX format = Pcm(1, 8000, 16);
    for (const bool query : {true, false}) {
        HWAVEIN in = 0;
        const auto start = Clock::now();
        const MMRESULT result =
            query
                ? waveInOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY)
                : waveInOpen(&in, WAVE_MAPPER, &format, notes.Window.Handle(), 0, CALLBACK_WINDOW);
        EXPECT_EQ(result, MMSYSERR_NODRIVER) << server << (query ? ", query" : ", open");
        EXPECT_LT(Clock::now() - start, milliseconds(3900)) << server;
    }
}

class PulseAudio : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(SharedServer().empty())
            << "PULSE_SERVER is not set: the sound tests need the private PulseAudio server that "
               "scripts/test starts (scripts/pulse-server start <dir>)";
    }
};

TEST_F(PulseAudio, DevicesAreSinksAndSourcesButNoMonitorsAndTheMapperPassesOverAMonitor)
{
    TPrivateServer server;
    server.Pactl(
        {"load-module", "module-null-sink", "sink_name=second", "channels=2",
         "sink_properties=\"device.description='Altavoz estéreo de prueba, señal ñandú'\""});
    server.Pactl({"load-module", "module-null-source", "source_name=mic", "channels=2",
                  "description=Micrófono"});
    TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(server.Address));
    ASSERT_EQ(waveInGetNumDevs(), 2u);
    ASSERT_EQ(waveOutGetNumDevs(), 2u);

    // The product name is the description, cut to 31 bytes between two characters.
    const struct
    {
        UINT Device;
        const char *In, *Out;
        WORD Channels;
    } rows[] = {{0, "Sine source at 440 Hz", "Null Output", 1},
                {1, "Micrófono", "Altavoz estéreo de prueba, se", 2}};
    for (const auto& row : rows) {
        WAVEINCAPSA in{};
        WAVEOUTCAPSA out{};
        ASSERT_EQ(waveInGetDevCapsA(row.Device, &in, sizeof in), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutGetDevCapsA(row.Device, &out, sizeof out), MMSYSERR_NOERROR);
        EXPECT_STREQ(in.szPname, row.In);
        EXPECT_STREQ(out.szPname, row.Out);
        EXPECT_EQ(in.wChannels, row.Channels) << row.In;
        EXPECT_EQ(out.wChannels, row.Channels) << row.Out;
        EXPECT_EQ(in.dwFormats & out.dwFormats, 0xFFFu) << row.Device;
        EXPECT_EQ(out.dwSupport, WAVECAPS_VOLUME | WAVECAPS_LRVOLUME) << row.Out;
    }
    WAVEINCAPSA caps{};
    EXPECT_EQ(waveInGetDevCapsA(2, &caps, sizeof caps), MMSYSERR_BADDEVICEID);

    // The mapper follows the server's default source, unless that is a monitor.
    for (const auto& [source, name] :
         {std::pair{"mic", "Micrófono"}, std::pair{"testsink.monitor", "Sine source at 440 Hz"}}) {
        server.Pactl({"set-default-source", source});
        ASSERT_EQ(waveInGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
        EXPECT_STREQ(caps.szPname, name) << "default source " << source;
    }
    server.Pactl({"set-default-sink", "second"});
    WAVEOUTCAPSA out{};
    ASSERT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &out, sizeof out), MMSYSERR_NOERROR);
    EXPECT_STREQ(out.szPname, "Altavoz estéreo de prueba, se");

    for (const WAVEFORMATEX& format : {Pcm(1, 11025, 8), Pcm(2, 44100, 16), Pcm(1, 192000, 16)}) {
        EXPECT_EQ(waveInOpen(nullptr, 1, &format, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY), 0u);
        EXPECT_EQ(waveOutOpen(nullptr, 2, &format, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
    }
}

TEST_F(PulseAudio, RecordingTheSineSourceGivesHalfOfFullScaleBufferAfterBuffer)
{
    TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(SharedServer()));
    for (const WAVEFORMATEX& format : {Pcm(1, 8000, 16), Pcm(1, 8000, 8), Pcm(2, 44100, 16)}) {
        const std::string name = std::to_string(format.nChannels) + "x" +
                                 std::to_string(format.wBitsPerSample) + " bits at " +
                                 std::to_string(format.nSamplesPerSec) + " Hz";
        TNotifications notes;
        const HWAVEIN in = notes.Open(TWaveDirection::In, WAVE_MAPPER, format);
        // 50 ms buffers. The sine source delivers two seconds at a time: all are queued at once.
        TBuffers buffers(std::vector<DWORD>(12, format.nAvgBytesPerSec / 20), in,
                         TWaveDirection::In);
        ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
        ASSERT_TRUE(notes.WaitFor(MM_WIM_DATA, 12)) << name;
        const auto data = notes.Of(MM_WIM_DATA);
        for (std::size_t i = 0; i < data.size(); ++i) {
            EXPECT_EQ(data[i].Header, &buffers.Headers[i]) << name << ", in queue order";
            EXPECT_EQ(data[i].Header->dwBytesRecorded, data[i].Header->dwBufferLength) << name;
            EXPECT_EQ(data[i].Header->dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE) << name;
            // 50 at the crest, 49 when no sample falls on it. A resampler starts from silence,
            // and its first buffer may overshoot.
            const int level = Level(*data[i].Header, format.wBitsPerSample);
            if (i > 0 || format.nSamplesPerSec == 8000) {
                EXPECT_TRUE(level == 49 || level == 50)
                    << name << ", buffer " << i << ": " << level;
            }
        }
        MMTIME time{TIME_BYTES, {}};
        ASSERT_EQ(waveInGetPosition(in, &time, sizeof time), MMSYSERR_NOERROR);
        EXPECT_EQ(time.u.cb, 12 * format.nAvgBytesPerSec / 20) << name;
        EXPECT_EQ(waveInReset(in) | waveInClose(in), MMSYSERR_NOERROR) << name;
        EXPECT_TRUE(notes.WaitFor(MM_WIM_CLOSE, 1)) << name;
        EXPECT_EQ(notes.Entries.front().Msg, MM_WIM_OPEN) << name;
    }
}

TEST_F(PulseAudio, StopReturnsOnlyAPartlyFilledBufferAndResetReturnsTheRest)
{
    TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(SharedServer()));
    TNotifications notes;
    const WAVEFORMATEX format = Pcm(1, 8000, 16);
    const HWAVEIN in = notes.Open(TWaveDirection::In, 0, format);
    // Two seconds come at once: the first buffer fills, the long second one takes the rest.
    TBuffers buffers({800, 5 * 16000, 800}, in, TWaveDirection::In);
    EXPECT_EQ(waveInClose(in), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(notes.WaitFor(MM_WIM_DATA, 1));
    ASSERT_EQ(waveInStop(in), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStop(in), MMSYSERR_NOERROR); // leaves the empty third buffer queued
    constexpr UINT StopDone = 0x8000;            // what comes before it came from the stop
    ASSERT_TRUE(PostMessageA(notes.Window.Handle(), StopDone, 0, 0));
    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(notes.WaitFor(MM_WIM_DATA, 3));
    bool byReset = false;
    std::size_t i = 0;
    for (const auto& entry : notes.Entries) {
        byReset = byReset || entry.Msg == StopDone;
        if (entry.Msg != MM_WIM_DATA)
            continue;
        EXPECT_EQ(entry.Header, &buffers.Headers[i]) << "in queue order";
        const DWORD bytes = entry.Header->dwBytesRecorded;
        EXPECT_TRUE(i == 0    ? bytes == 800
                    : byReset ? bytes == 0
                              : bytes > 0)
            << "buffer " << i << " with " << bytes << " bytes, returned by "
            << (byReset ? "the reset" : "the stop");
        ++i;
    }
    EXPECT_EQ(buffers.Headers[2].dwBytesRecorded, 0u);
    MMTIME time{TIME_BYTES, {}};
    ASSERT_EQ(waveInGetPosition(in, &time, sizeof time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.u.cb, 0u) << "after a reset";

    // One space of handles for both directions, never given twice.
    const HWAVEIN second = notes.Open(TWaveDirection::In, 0, format);
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, in);
    EXPECT_EQ(waveOutReset(in), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInClose(second), MMSYSERR_NOERROR);
    const HWAVEIN third = notes.Open(TWaveDirection::In, 0, format);
    EXPECT_GT(third, second);
    EXPECT_EQ(waveInClose(third), MMSYSERR_NOERROR);
    EXPECT_TRUE(notes.WaitFor(MM_WIM_CLOSE, 3));
}

TEST_F(PulseAudio, BlocksAppearOnTheMonitorComeBackOnceTheyWerePlayedAndAllComeBackOnReset)
{
    TPrivateServer server;
    TMonitor monitor(server.Address, "testsink.monitor", 1);
    TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(server.Address));
    TNotifications notes;
    const HWAVEOUT out = notes.Open(TWaveDirection::Out, WAVE_MAPPER, Pcm(1, 8000, 16));
    const auto start = Clock::now();
    std::vector<std::unique_ptr<TBuffers>> blocks; // 50 ms each, samples 1000, 2000, ...
    for (std::int16_t i = 1; i <= 6; ++i)
        blocks.push_back(std::make_unique<TBuffers>(std::vector<DWORD>{800}, out,
                                                    TWaveDirection::Out, std::int16_t(1000 * i)));
    ASSERT_TRUE(notes.WaitFor(MM_WOM_DONE, 6));
    const auto done = notes.Of(MM_WOM_DONE);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(done[i].Header, &blocks[i]->Headers[0]) << "in queue order";
        EXPECT_EQ(done[i].Header->dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
        // All were written at once: block i cannot have been heard before (i + 1) * 50 ms.
        EXPECT_GE(done[i].At - start, milliseconds(50 * (i + 1))) << "block " << i;
    }
    MMTIME time{TIME_BYTES, {}};
    ASSERT_EQ(waveOutGetPosition(out, &time, sizeof time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.u.cb, 6 * 800u);
    EXPECT_TRUE(WaitFor(
        [&] {
            const std::vector<std::int16_t> samples = monitor.Samples();
            const std::size_t at =
                std::find(samples.begin(), samples.end(), 1000) - samples.begin();
            for (std::size_t i = 0; i < std::size_t{6} * 400; ++i)
                if (at + i >= samples.size() ||
                    samples[at + i] != std::int16_t(1000 * (i / 400 + 1)))
                    return false;
            return true;
        },
        3000))
        << "the monitor shows every block whole, in order";

    // Close waits for every block, which a reset returns at once.
    TBuffers more(std::vector<DWORD>(8, 1600), out, TWaveDirection::Out);
    ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    ASSERT_TRUE(notes.WaitFor(MM_WOM_DONE, 6 + 8));
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(notes.Of(MM_WOM_DONE)[6 + i].Header, &more.Headers[i]) << "in queue order";
    ASSERT_EQ(waveOutGetPosition(out, &time, sizeof time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.u.cb, 0u) << "after a reset";
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_TRUE(notes.WaitFor(MM_WOM_CLOSE, 1));
}

TEST_F(PulseAudio, TheFirstBlockOnAnIdleSinkIsNotQueuedBehindWhatTheSinkRenderedAhead)
{
    TPrivateServer server; // a null sink that just started has rendered two seconds ahead
    TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(server.Address));
    TNotifications notes;
    const HWAVEOUT out = notes.Open(TWaveDirection::Out, WAVE_MAPPER, Pcm(1, 8000, 16));
    const auto start = Clock::now();
    TBuffers buffers(std::vector<DWORD>(4, 800), out, TWaveDirection::Out);
    ASSERT_TRUE(notes.WaitFor(MM_WOM_DONE, 4));
    // 210 ms of sound with the lead silence; behind the sink's silence it could not be done
    // before 2 s (a busy machine only makes the test see it later).
    EXPECT_LT(notes.Of(MM_WOM_DONE).back().At - start, milliseconds(1900));
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

// What is ahead of the speaker counts down with the clock between the server's timing reports:
// at any moment, the time since the blocks were written and what is still ahead add up to the
// same.
TEST_F(PulseAudio, WhatIsAheadOfTheSpeakerCountsDownWithTheClock)
{
    TPrivateServer server;
    TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(server.Address));
    TNotifications notes;
    const HWAVEOUT out = notes.Open(TWaveDirection::Out, WAVE_MAPPER, Pcm(1, 8000, 16));
    DWORD ahead = 0;
    ASSERT_TRUE(WaitFor([&] { return waveOutGetAhead(out, &ahead) == MMSYSERR_NOERROR; }));
    const auto start = Clock::now();
    TBuffers buffers(std::vector<DWORD>(6, 800), out, TWaveDirection::Out);
    // ms since the write + ms ahead, while a block is still ahead; only from the looks that
    // nothing held up (a busy machine may stop the test between its clock and the call).
    std::vector<long> sums;
    ASSERT_TRUE(WaitFor([&] {
        const auto before = Clock::now();
        const bool told = waveOutGetAhead(out, &ahead) == MMSYSERR_NOERROR;
        const auto after = Clock::now();
        const long since = std::chrono::duration_cast<milliseconds>(before - start).count();
        if (told && after - before < milliseconds(1) && ahead > 60 && since > 20)
            sums.push_back(since + static_cast<long>(ahead));
        return notes.Of(MM_WOM_DONE).size() == 6;
    }));
    ASSERT_GE(sums.size(), 5u);
    const auto [least, most] = std::minmax_element(sums.begin(), sums.end());
    EXPECT_LE(*most - *least, 10) << "from " << *least << " to " << *most << " ms";
    EXPECT_GE(*least, 300) << "six 50 ms blocks";
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

TEST_F(PulseAudio, VolumeScalesTheStreamLinearlyInAmplitudePerChannel)
{
    TPrivateServer server;
    server.Pactl(
        {"load-module", "module-null-sink", "sink_name=stereo", "channels=2", "rate=8000"});
    TMonitor monitor(server.Address, "stereo.monitor", 2);
    TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(server.Address));
    const struct
    {
        WORD Channels;
        DWORD Volume;
        int Left, Right; // of 16000
    } rows[] = {{2, 0x80008000, 8000, 8000},
                {2, 0x0000FFFF, 16000, 16000},
                {2, 0x4000FFFF, 16000, 4000},
                {1, 0x20008000, 8000, 8000}}; // a mono stream takes the low word only
    for (const auto& row : rows) {
        TNotifications notes;
        const WAVEFORMATEX format = Pcm(row.Channels, 8000, 16);
        const HWAVEOUT out = notes.Open(TWaveDirection::Out, 1, format);
        DWORD volume = 0;
        EXPECT_EQ(waveOutGetVolume(out, &volume), MMSYSERR_NOERROR);
        EXPECT_EQ(volume, 0xFFFFFFFFu);
        ASSERT_EQ(waveOutSetVolume(out, row.Volume), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutGetVolume(out, &volume), MMSYSERR_NOERROR);
        EXPECT_EQ(volume, row.Volume);
        EXPECT_EQ(waveOutSetPitch(out, 0x10000), MMSYSERR_NOTSUPPORTED);
        TBuffers buffers({format.nAvgBytesPerSec / 5}, out, TWaveDirection::Out, 16000);
        ASSERT_TRUE(notes.WaitFor(MM_WOM_DONE, 1));
        // 100 frames in a row at the scaled levels, give or take the volume's rounding.
        EXPECT_TRUE(WaitFor(
            [&] {
                const std::vector<std::int16_t> samples = monitor.Samples();
                int run = 0;
                for (std::size_t i = 0; i + 1 < samples.size() && run < 100; i += 2)
                    run = std::abs(samples[i] - row.Left) <= 16 &&
                                  std::abs(samples[i + 1] - row.Right) <= 16
                              ? run + 1
                              : 0;
                return run == 100;
            },
            3000))
            << std::hex << row.Volume << " on " << row.Channels << " channels";
        EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    }
}

TEST_F(PulseAudio, ALostServerReturnsEveryBufferAndLeavesNothingBehind)
{
    TPrivateServer server;
    TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(server.Address));
    TNotifications notes;
    const WAVEFORMATEX format = Pcm(1, 8000, 16);
    const HWAVEIN in = notes.Open(TWaveDirection::In, 0, format);
    const HWAVEIN abandoned = notes.Open(TWaveDirection::In, 0, format);
    const HWAVEOUT out = notes.Open(TWaveDirection::Out, 0, format);
    const std::vector<DWORD> long3(3, 5 * 16000);
    TBuffers inBuffers(long3, in, TWaveDirection::In), outBuffers(long3, out, TWaveDirection::Out);
    TBuffers abandonedBuffers({800, 800}, abandoned, TWaveDirection::In);
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    waveInAbandon(abandoned);

    server.Kill();
    const auto killed = Clock::now();
    // Each block is five seconds long: none could be done before the first five, but at the loss.
    ASSERT_TRUE(notes.WaitFor(MM_WIM_DATA, 3) && notes.WaitFor(MM_WOM_DONE, 3));
    for (const auto& entry : notes.Entries)
        EXPECT_TRUE((entry.Msg != MM_WIM_DATA && entry.Msg != MM_WOM_DONE) ||
                    entry.At - killed < std::chrono::milliseconds(4900))
            << "message " << entry.Msg << " came long after the loss";
    for (const auto& entry : notes.Entries)
        EXPECT_TRUE(entry.Handle != abandoned || entry.Msg == MM_WIM_OPEN)
            << "message " << entry.Msg << " for an abandoned handle";
    for (const WAVEHDR& header : abandonedBuffers.Headers)
        EXPECT_EQ(header.dwFlags & WHDR_INQUEUE, WHDR_INQUEUE) << "left alone";

    // A lost handle takes no more work, but can be stopped, reset and closed.
    WAVEHDR& again = inBuffers.Headers[0];
    EXPECT_EQ(waveInAddBuffer(in, &again, sizeof again), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInStart(in), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutWrite(out, &outBuffers.Headers[0], sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInStop(in) | waveInReset(in) | waveInUnprepareHeader(in, &again, sizeof again),
              MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in) | waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_TRUE(notes.WaitFor(MM_WIM_CLOSE, 1) && notes.WaitFor(MM_WOM_CLOSE, 1));
    EXPECT_EQ(PendingDeviceMessages(), 0u);

    // A refused socket answers at once, never after a wait for an answer (2 s); a server that
    // comes back is used again.
    const auto asked = Clock::now();
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_LT(Clock::now() - asked, milliseconds(1900));
    server.Start();
    EXPECT_EQ(waveInGetNumDevs(), 1u);
}

TEST_F(PulseAudio, AVolumeChangedElsewhereIsReadBackAndAStoppedServerHoldsNoCallBeyondTheBound)
{
    TPrivateServer server;
    TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(server.Address));
    TNotifications notes;
    const HWAVEOUT out = notes.Open(TWaveDirection::Out, 0, Pcm(2, 8000, 16));
    const QString input = server.Pactl({"list", "short", "sink-inputs"}).split('\t').value(0);
    const struct
    {
        QStringList Percent; // pactl's scale is cubic: 50 % is an eighth in amplitude
        DWORD Volume;
    } rows[] = {{{"50%"}, 0x20002000}, {{"100%", "50%"}, 0x2000FFFF}, {{"100%"}, 0xFFFFFFFF}};
    for (const auto& row : rows) {
        server.Pactl(QStringList{"set-sink-input-volume", input} + row.Percent);
        DWORD volume = 0;
        EXPECT_TRUE(WaitFor(
            [&] {
                return waveOutGetVolume(out, &volume) == MMSYSERR_NOERROR && volume == row.Volume;
            },
            30000))
            << row.Percent.join(' ').toStdString() << " read as " << std::hex << volume;
    }

    ASSERT_TRUE(server.Signal(SIGSTOP));
    const auto stopped = Clock::now();
    DWORD volume = 0, latency = 0;
    EXPECT_EQ(waveOutSetVolume(out, 0x40008000) | waveOutGetVolume(out, &volume) |
                  waveOutGetLatency(out, &latency),
              MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 0x40008000u) << "what was sent";
    // A call that waited for the stopped server would wait for its answer's bound (2 s).
    EXPECT_LT(Clock::now() - stopped, milliseconds(1900)) << "the volume and latency never wait";
    ExpectNoDriverWithinTheBound(notes, "a stopped server");
    ASSERT_TRUE(server.Signal(SIGCONT));
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

TEST_F(PulseAudio, AHandleWhoseDeviceWentAwayFindsNoDeviceAndOneWhoseServerWentAwayNoServer)
{
    const struct
    {
        TWaveDirection Dir;
        const char* Module; // the only sink, or a source added for the test
    } rows[] = {{TWaveDirection::In, "module-null-source"},
                {TWaveDirection::Out, "module-null-sink"}};
    for (const auto& row : rows) {
        TPrivateServer server;
        server.Pactl({"load-module", "module-null-source", "source_name=mic"});
        TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(server.Address));
        TNotifications notes;
        const bool in = row.Dir == TWaveDirection::In;
        const HWAVE handle = notes.Open(row.Dir, in ? 1 : 0, Pcm(1, 8000, 16));
        TBuffers buffers({5 * 16000}, handle, row.Dir); // queued when the device goes away
        server.Pactl({"unload-module", row.Module});
        ASSERT_TRUE(notes.WaitFor(in ? MM_WIM_DATA : MM_WOM_DONE, 1)) << row.Module;
        WAVEHDR* header = &buffers.Headers[0];
        const auto queue = [&] {
            return in ? waveInAddBuffer(handle, header, sizeof *header)
                      : waveOutWrite(handle, header, sizeof *header);
        };
        const auto start = [&] { return in ? waveInStart(handle) : waveOutRestart(handle); };
        EXPECT_EQ(queue(), MMSYSERR_BADDEVICEID) << row.Module;
        EXPECT_EQ(start(), MMSYSERR_BADDEVICEID) << row.Module;
        server.Kill();
        EXPECT_TRUE(WaitFor([&] { return start() == MMSYSERR_NODRIVER; })) << row.Module;
        EXPECT_EQ(queue(), MMSYSERR_NODRIVER) << row.Module;
        EXPECT_EQ(in ? waveInClose(handle) : waveOutClose(handle), MMSYSERR_NOERROR);
    }
}

TEST(PulseAudioWithoutServer, NoDevicesAndOpensFailWithNoDriverWithinTheBound)
{
    // A socket that takes connections and never answers, as a hung server does.
    QTemporaryDir dir;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, qPrintable(dir.filePath("silent")), sizeof address.sun_path - 1);
    const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 8), 0);

    for (const std::string& server :
         {std::string("unix:/nonexistent/native"), std::string("unix:") + address.sun_path}) {
        TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(server));
        TNotifications notes;
        EXPECT_EQ(waveInGetNumDevs(), 0u) << server;
        ExpectNoDriverWithinTheBound(notes, server);
        WAVEOUTCAPSA caps{};
        EXPECT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NODRIVER) << server;
        EXPECT_TRUE(notes.Entries.empty()) << server;
    }
    ::close(silent);
}

} // namespace
