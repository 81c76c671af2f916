// The playback device on the simulated sound card: the refill cycle, blocks played in place,
// the wind-down, and the volume, pitch and rate controls.

#include "audio/WaveOut.h"
#include "tests/audio/WaveFixture.h"

#include <cstring>

namespace {

using Strings = std::vector<std::string>;

// Plays 16-bit mono 8000 Hz; FillBuffer gives `Bytes` bytes of `Value` per buffer, `Buffers`
// times, then nothing.
class Source : public TWaveAudioOut
{
public:
    std::uint32_t Bytes = 0xFFFFFFFF;
    int Buffers = 1000;
    std::uint8_t Value = 0x40;

protected:
    void GetWaveFormat(PWaveFormatEx& format, bool& freeIt) override
    {
        format = AllocWaveFormat();
        PCMFormatToWaveFormat(*format, Mono16bit8000Hz);
        freeIt = true;
    }
    std::uint32_t FillBuffer(void* buffer, std::uint32_t size, DWORD&) override
    {
        if (Buffers-- <= 0)
            return 0;
        const std::uint32_t n = std::min(size, Bytes);
        std::memset(buffer, Value, n);
        return n;
    }
};

class WaveOut : public WaveTest
{
protected:
    void OpenPlaying(TWaveAudioOut& out, std::uint16_t buffers)
    {
        Wire(out);
        out.SetBufferLength(50);
        out.SetBufferCount(buffers);
        out.SetActive(true);
        Pump();
        ASSERT_TRUE(out.Active());
    }
    HWAVE Handle() const { return Card.LastOpened(TWaveDirection::Out); }
};

TEST_F(WaveOut, RingIsPrimedFromTheMessageLoopAndRefilledAsBuffersPlay)
{
    Source out;
    OpenPlaying(out, 3);
    EXPECT_EQ(LogFrom("MM_WOM_OPEN", {"waveOutGetDevCapsA"}),
              (Strings{"MM_WOM_OPEN", "OnActivate", "waveOutPrepareHeader", "OnLevel(50)",
                       "waveOutWrite", "waveOutPrepareHeader", "OnLevel(50)", "waveOutWrite",
                       "waveOutPrepareHeader", "OnLevel(50)", "waveOutWrite"}));
    EXPECT_EQ(Card.QueuedCount(Handle()), 3u);
    EXPECT_EQ(Card.Play(Handle(), 2), 2u);
    Pump();
    EXPECT_EQ(Card.QueuedCount(Handle()), 3u);
    EXPECT_EQ(Card.Played.size(), 1600u);
    EXPECT_EQ(out.Position(), 100u);
}

TEST_F(WaveOut, SourceThatRunsDryWindsDownAndClosesByItself)
{
    Source out;
    out.Buffers = 2;
    OpenPlaying(out, 3);
    EXPECT_TRUE(out.Closing());
    EXPECT_EQ(Card.Play(Handle(), 2), 2u);
    Pump();
    EXPECT_FALSE(out.Active());
    EXPECT_EQ(Count("waveOutClose"), 1u);
    EXPECT_EQ(Card.Log.back(), "OnDeactivate");
    EXPECT_EQ(Card.Played.size(), 1600u);
}

TEST_F(WaveOut, DeviceWithoutDataOpensAndClosesWithoutPlaying)
{
    Source out;
    out.Buffers = 0;
    Wire(out);
    out.SetBufferCount(1);
    out.SetActive(true);
    Pump();
    EXPECT_FALSE(out.Active());
    EXPECT_EQ(Count("OnActivate"), 1u);
    EXPECT_EQ(Count("OnDeactivate"), 1u);
    EXPECT_EQ(Count("waveOutWrite"), 0u);
}

TEST_F(WaveOut, PartlyFilledBufferPlaysExactlyWhatWasFilled)
{
    Source out;
    out.Bytes = 300;
    out.Buffers = 1;
    OpenPlaying(out, 1);
    Card.Play(Handle());
    Pump();
    EXPECT_EQ(Card.Played, std::vector<std::uint8_t>(300, 0x40));
}

TEST_F(WaveOut, PlayBufferPlaysTheBlockInPlaceAndFreesItWhenTold)
{
    Source out;
    out.Buffers = 0;
    out.SetBufferCount(0);
    Wire(out);
    out.SetActive(true);
    Pump();
    void* block = AllocWaveBlock(800);
    std::memset(block, 0x7F, 800);
    ASSERT_TRUE(out.PlayBuffer(block, 800, true, 0));
    EXPECT_EQ(out.HeaderList()[0]->lpData, block) << "not copied";
    Card.Play(Handle());
    Pump();
    EXPECT_EQ(Card.Played.size(), 800u);
    EXPECT_EQ(WaveBlocksAlive(), 0u);
    Card.Fail("waveOutWrite", MMSYSERR_NOMEM);
    std::vector<char> mine(100);
    EXPECT_FALSE(out.PlayBuffer(mine.data(), 100, false, 0));
    EXPECT_EQ(out.RingCount(), 0);
}

TEST_F(WaveOut, CloseWithBuffersQueuedReturnsAfterEveryOneCameBack)
{
    Source out;
    OpenPlaying(out, 4);
    Card.Log.clear();
    out.SetActive(false);
    EXPECT_FALSE(out.Active());
    EXPECT_EQ(out.RingCount(), 0);
    EXPECT_EQ(Count("MM_WOM_DONE"), 4u);
    EXPECT_EQ(Count("waveOutClose"), 1u);
    EXPECT_EQ(Card.Log.back(), "OnDeactivate");
}

TEST_F(WaveOut, CloseBeforeThePrimingMessagesRanClosesOnce)
{
    Source out;
    Wire(out);
    out.SetBufferCount(3);
    out.SetActive(true);
    TMessage open; // its handler posts three buffer requests
    ASSERT_TRUE(GetMessageFor(out.DeviceWindow(), open, std::chrono::steady_clock::now()));
    DispatchMessageA(open);
    ASSERT_EQ(out.RingCount(), 0);
    out.SetActive(false);
    EXPECT_FALSE(out.Active());
    EXPECT_EQ(Count("waveOutClose"), 1u);
    EXPECT_TRUE(Card.Calls("OnError").empty());
}

TEST_F(WaveOut, LoweringBufferCountShrinksTheRingAsBuffersReturn)
{
    Source out;
    OpenPlaying(out, 4);
    out.SetBufferCount(2);
    Card.Play(Handle(), 2);
    Pump();
    EXPECT_EQ(out.RingCount(), 2);
    Card.Play(Handle(), 2);
    Pump();
    EXPECT_EQ(out.RingCount(), 2);
    EXPECT_EQ(Card.QueuedCount(Handle()), 2u);
}

TEST_F(WaveOut, PauseBeforeOpenStartsPausedUntilResume)
{
    Source out;
    Wire(out);
    EXPECT_TRUE(out.Pause());
    EXPECT_EQ(Card.Log, Strings{"OnPause"});
    out.SetActive(true);
    Pump();
    EXPECT_TRUE(out.Paused());
    EXPECT_EQ(Count("waveOutPause"), 1u);
    EXPECT_EQ(Card.Play(Handle()), 0u) << "held";
    EXPECT_TRUE(out.Resume());
    EXPECT_EQ(Count("waveOutRestart"), 1u);
    EXPECT_EQ(Card.Play(Handle()), 1u);
}

TEST_F(WaveOut, ControlsReachTheDeviceOnlyWithTheirOptionAndSupport)
{
    struct Row
    {
        const char* name;
        TWaveOutOptions options;
        DWORD support;
        std::function<void(TWaveAudioOut&)> write;
        TWaveControl control;
        DWORD expected; // 0: the device keeps its value
    };
    const DWORD all = WAVECAPS_VOLUME | WAVECAPS_PITCH | WAVECAPS_PLAYBACKRATE;
    const Row rows[] = {
        {"volume 50",
         {woSetVolume},
         all,
         [](auto& o) { o.SetVolume(50); },
         TWaveControl::Volume,
         32768},
        {"volume 2",
         {woSetVolume},
         all,
         [](auto& o) { o.SetVolume(2); },
         TWaveControl::Volume,
         1311},
        {"volume above 100",
         {woSetVolume},
         all,
         [](auto& o) { o.SetVolume(150); },
         TWaveControl::Volume,
         65535},
        {"volume without option",
         {},
         all,
         [](auto& o) { o.SetVolume(50); },
         TWaveControl::Volume,
         0},
        {"volume without support",
         {woSetVolume},
         0,
         [](auto& o) { o.SetVolume(50); },
         TWaveControl::Volume,
         0},
        {"pitch", {woSetPitch}, all, [](auto& o) { o.SetPitch(1.5); }, TWaveControl::Pitch, 98304},
        {"rate goes to the rate",
         {woSetPlaybackRate},
         all,
         [](auto& o) { o.SetPlaybackRate(2.25); },
         TWaveControl::PlaybackRate,
         147456},
        {"rate never to the pitch",
         {woSetPlaybackRate},
         all,
         [](auto& o) { o.SetPlaybackRate(2.25); },
         TWaveControl::Pitch,
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Card.OutDevices[0].Support = row.support;
        Source out;
        out.SetOptions(row.options);
        OpenPlaying(out, 1);
        const DWORD before = Card.ControlOf(Handle(), row.control);
        row.write(out);
        EXPECT_EQ(Card.ControlOf(Handle(), row.control), row.expected ? row.expected : before);
        out.SetActive(false);
    }
}

TEST_F(WaveOut, ControlsAreReadFromTheOpenDeviceOrTheStoredValue)
{
    Card.OutDevices[0].Support = WAVECAPS_VOLUME;
    Source out;
    EXPECT_EQ(out.Volume(), 75);
    out.SetVolume(150);
    EXPECT_EQ(out.Volume(), 150) << "stored as written";
    out.SetPitch(1.5);
    EXPECT_EQ(out.Pitch(), 1.5);
    out.SetOptions({woSetVolume});
    OpenPlaying(out, 1);
    EXPECT_EQ(Card.ControlOf(Handle(), TWaveControl::Volume), 65535u) << "applied at open";
    EXPECT_EQ(out.Volume(), 100);
    EXPECT_EQ(out.Pitch(), 1.0) << "no pitch control on this device";
}

TEST(WaveOutConversions, FixedPointAndPercentFollowThePlatformRules)
{
    EXPECT_EQ(TWaveAudioOut::FloatToFixed(1.0), 65536u);
    EXPECT_EQ(TWaveAudioOut::FloatToFixed(1.5), 98304u);
    EXPECT_EQ(TWaveAudioOut::FloatToFixed(0.75), 49152u);
    EXPECT_EQ(TWaveAudioOut::FloatToFixed(2.25), 147456u);
    EXPECT_EQ(TWaveAudioOut::FixedToFloat(98304), 1.5);
    EXPECT_EQ(TWaveAudioOut::FixedToFloat(0xFFFF8000u), -0.5);
    for (auto [percent, volume] : {std::pair{100, 65535}, {75, 49151}, {50, 32768}, {2, 1311}}) {
        EXPECT_EQ(TWaveAudioOut::PercentToVolume(static_cast<std::uint16_t>(percent)),
                  static_cast<DWORD>(volume));
        EXPECT_EQ(TWaveAudioOut::VolumeToPercent(static_cast<DWORD>(volume)), percent);
    }
}

} // namespace
