// The recording device on the simulated sound card: its calls in order, its events, its ring.

#include "audio/WaveIn.h"
#include "tests/audio/WaveFixture.h"

#include <cstring>

namespace {

using Strings = std::vector<std::string>;
const Strings Unprepares = {"waveInUnprepareHeader"};

class WaveIn : public WaveTest
{
protected:
    // A device of 50 ms buffers of 16-bit mono 8000 Hz (800 bytes), opened and running.
    void OpenRunning(TWaveAudioIn& in, std::uint16_t buffers)
    {
        Wire(in);
        in.SetBufferLength(50);
        in.SetBufferCount(buffers);
        in.SetActive(true);
        Pump();
        ASSERT_TRUE(in.Active());
    }
    HWAVE Handle() const { return Card.LastOpened(TWaveDirection::In); }
};

TEST_F(WaveIn, OpenQueuesTheRingStartsAndReportsEachFullBuffer)
{
    TWaveAudioIn in;
    OpenRunning(in, 3);
    EXPECT_EQ(Card.Log,
              (Strings{"waveInOpen/query", "waveInOpen", "MM_WIM_OPEN", "waveInPrepareHeader",
                       "waveInAddBuffer", "waveInPrepareHeader", "waveInAddBuffer",
                       "waveInPrepareHeader", "waveInAddBuffer", "waveInStart", "OnActivate"}));
    EXPECT_EQ(Card.QueuedCount(Handle()), 3u);
    EXPECT_EQ(in.HeaderList()[0]->dwBufferLength, 800u);

    Card.Log.clear();
    const auto half = Sample16(16384);
    EXPECT_EQ(Card.RecordBuffers(Handle(), 2, half), 1600u);
    Pump();
    EXPECT_EQ(Card.Calls("OnLevel"), (Strings{"OnLevel(50)", "OnLevel(50)"}));
    EXPECT_EQ(in.RingCount(), 3);
    EXPECT_EQ(Card.QueuedCount(Handle()), 3u) << "each buffer goes back to the device";
    EXPECT_EQ(in.Position(), 100u); // 1600 bytes at 16000 bytes a second
}

TEST_F(WaveIn, ClosingWithBuffersQueuedReturnsEveryOneThenCloses)
{
    TWaveAudioIn in;
    OpenRunning(in, 5);
    Card.Log.clear();
    in.SetActive(false);
    EXPECT_FALSE(in.Active()) << "closed when SetActive returns";
    EXPECT_EQ(LogFrom("", Unprepares),
              (Strings{"waveInStop", "waveInReset", "MM_WIM_DATA", "MM_WIM_DATA", "MM_WIM_DATA",
                       "MM_WIM_DATA", "MM_WIM_DATA", "waveInClose", "MM_WIM_CLOSE", "OnLevel(0)",
                       "OnDeactivate"}));
    EXPECT_EQ(Count("waveInUnprepareHeader"), 5u);
    EXPECT_EQ(in.RingCount(), 0);
    EXPECT_FALSE(in.Closing());
}

TEST_F(WaveIn, PartlyFilledBufferOfAStopIsStillReported)
{
    TWaveAudioIn in;
    OpenRunning(in, 2);
    const auto sample = Sample16(32767);
    Card.Record(Handle(), std::vector<std::uint8_t>(sample.begin(), sample.end()));
    Card.Log.clear();
    in.SetActive(false);
    EXPECT_EQ(Card.Calls("OnLevel"), (Strings{"OnLevel(100)", "OnLevel(0)"}));
}

TEST_F(WaveIn, PauseBeforeOpenKeepsTheDeviceStoppedUntilResume)
{
    TWaveAudioIn in;
    Wire(in);
    EXPECT_TRUE(in.Pause());
    EXPECT_FALSE(in.Pause()) << "already paused";
    in.SetActive(true);
    Pump();
    EXPECT_EQ(Count("OnPause"), 1u);
    EXPECT_EQ(Count("OnActivate"), 1u);
    EXPECT_EQ(Count("waveInStart"), 0u);
    EXPECT_EQ(Card.QueuedCount(Handle()), 2u);
    EXPECT_TRUE(in.Resume());
    EXPECT_EQ(Card.Log.back(), "OnResume");
    EXPECT_EQ(Count("waveInStart"), 1u);
}

TEST_F(WaveIn, RefusedFormatGoesThroughTheErrorPathWithOrWithoutOnError)
{
    for (bool withOnError : {true, false}) {
        SCOPED_TRACE(withOnError ? "with OnError" : "without OnError");
        Card.Fail("waveInOpen/query", WAVERR_BADFORMAT);
        TWaveAudioIn in;
        Wire(in, withOnError);
        Card.Log.clear();
        if (withOnError) {
            EXPECT_FALSE(in.OpenDevice());
            EXPECT_EQ(Count("OnError(32)"), 1u);
        } else {
            try {
                in.OpenDevice();
                ADD_FAILURE() << "no exception";
            } catch (const EWaveAudioSysError& e) {
                EXPECT_EQ(QString::fromStdString(e.what()), WaveErrorText(WAVERR_BADFORMAT));
            }
        }
        EXPECT_EQ(in.LastError(), WAVERR_BADFORMAT);
        EXPECT_FALSE(in.Active());
        EXPECT_EQ(+in.WaveFormat().nSamplesPerSec, 0u) << "the format is not taken";
        EXPECT_EQ(Count("waveInOpen"), 0u);
        Card.Fail("waveInOpen/query", 0);
    }
}

TEST_F(WaveIn, WrongStateCallsRaiseTheirMessages)
{
    TWaveAudioIn in;
    try {
        in.CloseDevice();
        ADD_FAILURE() << "no exception";
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Device is aleardy close");
    }
    in.SetActive(false); // nothing, no exception
    in.SetActive(true);
    try {
        in.OpenDevice();
        ADD_FAILURE() << "no exception";
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Device is aleardy open");
    }
    in.SetPCMFormat(Mono16bit8000Hz); // the same value: nothing
    try {
        in.SetPCMFormat(Stereo16bit44100Hz);
        ADD_FAILURE() << "no exception";
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Audio format cannot be changed while device is open");
    }
    EXPECT_EQ(in.PCMFormat(), Mono16bit8000Hz);
}

TEST_F(WaveIn, OutOfMemoryLeavesAShorterRingAndReportsCode7)
{
    TWaveAudioIn in;
    Wire(in);
    in.SetBufferCount(5);
    {
        // The format record, then one header and its block; the second header fails.
        TScopedWaveAllocFailure limit(3);
        in.SetActive(true);
        Pump();
    }
    EXPECT_EQ(Card.Calls("OnError"), Strings{"OnError(7)"});
    EXPECT_EQ(in.RingCount(), 1);
    EXPECT_EQ(Count("OnActivate"), 1u);
}

TEST_F(WaveIn, BufferCountRaisedFillsAtOnceLoweredShrinksAsBuffersReturn)
{
    TWaveAudioIn in;
    OpenRunning(in, 2);
    in.SetBufferCount(4);
    EXPECT_EQ(in.RingCount(), 4);
    EXPECT_EQ(Card.QueuedCount(Handle()), 4u);
    in.SetBufferCount(1);
    Card.RecordBuffers(Handle(), 2, Sample16(100));
    Pump();
    EXPECT_EQ(in.RingCount(), 2) << "two surplus buffers released as they came back";
    Card.RecordBuffers(Handle(), 2, Sample16(100));
    Pump();
    EXPECT_EQ(in.RingCount(), 1);
    EXPECT_EQ(Card.QueuedCount(Handle()), 1u);
}

class KeepingInput : public TWaveAudioIn
{
public:
    std::vector<void*> Kept;
    ~KeepingInput() override
    {
        for (void* block : Kept)
            FreeWaveBlock(block);
    }

protected:
    void DataReady(void* Buffer, std::uint32_t, bool& FreeIt) override
    {
        Kept.push_back(Buffer);
        FreeIt = false;
    }
};

TEST_F(WaveIn, DataReadyThatTakesTheBlockLeavesItAndQueuesAFreshOne)
{
    KeepingInput in;
    OpenRunning(in, 1);
    const char* before = in.HeaderList()[0]->lpData;
    Card.RecordBuffers(Handle(), 1, Sample16(1));
    Pump();
    ASSERT_EQ(in.Kept.size(), 1u);
    EXPECT_EQ(in.Kept[0], before);
    EXPECT_NE(in.HeaderList()[0]->lpData, before);
    EXPECT_EQ(WaveBlocksAlive(), 2u) << "the kept block and the new one";
}

TEST_F(WaveIn, AddExternalBufferFreesTheBlockOnlyWhenToldTo)
{
    TWaveAudioIn in;
    OpenRunning(in, 0);
    void* owned = AllocWaveBlock(800);
    std::vector<char> mine(800);
    EXPECT_TRUE(in.AddExternalBuffer(owned, 800, true));
    EXPECT_TRUE(in.AddExternalBuffer(mine.data(), 800, false));
    EXPECT_EQ(in.RingCount(), 2);
    EXPECT_FALSE(in.AddExternalBuffer(mine.data(), 0, false));
    EXPECT_EQ(Card.Calls("OnError"), std::vector<std::string>{"OnError(11)"})
        << "an empty block is refused through the error path";
    EXPECT_EQ(in.RingCount(), 2);
    in.SetActive(false);
    EXPECT_EQ(WaveBlocksAlive(), 0u) << "the owned block went with its header";
}

TEST_F(WaveIn, CloseRightAfterOpenMakesNoCallFromTheOpenNotification)
{
    TWaveAudioIn in;
    Wire(in);
    in.SetActive(true);
    in.SetActive(false);
    EXPECT_FALSE(in.Active());
    EXPECT_EQ(Count("waveInAddBuffer"), 0u);
    EXPECT_EQ(Count("waveInStart"), 0u);
    EXPECT_EQ(Count("OnActivate"), 0u);
    EXPECT_EQ(Count("OnDeactivate"), 1u);
    EXPECT_FALSE(in.Closing());
}

TEST_F(WaveIn, CloseThatIsNeverConfirmedGivesTheDeviceUpWithinTheBound)
{
    TWaveAudioIn in;
    OpenRunning(in, 3);
    in.CloseTimeout = std::chrono::milliseconds(100);
    Card.SwallowClose = true;
    in.SetActive(false);
    EXPECT_FALSE(in.Active());
    EXPECT_EQ(in.LastError(), WAVERR_CLOSETIMEOUT);
    EXPECT_EQ(LogFrom("waveInAbandon"),
              (Strings{"waveInAbandon", "OnLevel(0)", "OnDeactivate", "OnError(40)"}));
    EXPECT_EQ(in.RingCount(), 0);
}

TEST_F(WaveIn, NotificationsOfAnotherHandleOrHeaderAreDropped)
{
    TWaveAudioIn in;
    OpenRunning(in, 1);
    WAVEHDR stranger{};
    PostMessageA(in.DeviceWindow(), MM_WIM_DATA, Handle(), reinterpret_cast<LPARAM>(&stranger));
    PostMessageA(in.DeviceWindow(), MM_WIM_DATA, Handle() + 1,
                 reinterpret_cast<LPARAM>(in.HeaderList()[0]));
    PostMessageA(in.DeviceWindow(), MM_WIM_CLOSE, Handle() + 1, 0);
    Card.Log.clear();
    Pump();
    EXPECT_TRUE(Card.Log.empty());
    EXPECT_TRUE(in.Active());
}

TEST_F(WaveIn, LostServerGivesOneReportAndTheDeviceClosesByItself)
{
    TWaveAudioIn in;
    OpenRunning(in, 4);
    Card.LoseServer();
    Pump();
    EXPECT_FALSE(in.Active());
    EXPECT_EQ(Card.Calls("OnError"), Strings{"OnError(6)"});
    EXPECT_EQ(Count("OnDeactivate"), 1u);
}

TEST_F(WaveIn, DestroyedWhileRunningFiresNoLevelNorDeactivate)
{
    {
        TWaveAudioIn in;
        OpenRunning(in, 3);
        Card.RecordBuffers(Handle(), 1, Sample16(5000)); // its message still queued
        Card.Log.clear();
    }
    Pump();
    EXPECT_EQ(Count("waveInClose"), 1u);
    EXPECT_TRUE(Card.Calls("On").empty());
    EXPECT_TRUE(Errors.Messages.isEmpty());
}

TEST_F(WaveIn, FailureWhileDestroyedIsReportedAfterTheDeviceIsReleased)
{
    {
        TWaveAudioIn in;
        OpenRunning(in, 2);
        in.OnError = nullptr;
        Card.Fail("waveInStop", MMSYSERR_ERROR);
    }
    ASSERT_EQ(Errors.Messages.size(), 1);
    EXPECT_EQ(Errors.Messages[0], WaveErrorText(MMSYSERR_ERROR));
    EXPECT_EQ(Count("waveInAbandon"), 1u);
}

TEST_F(WaveIn, NonePCMWithoutAFormatFailsCleanly)
{
    TWaveAudioIn in;
    Wire(in);
    in.SetPCMFormat(nonePCM);
    EXPECT_FALSE(in.OpenDevice());
    EXPECT_EQ(Card.Calls("OnError"), Strings{"OnError(32)"});
    EXPECT_TRUE(Card.Calls("waveIn").empty());
    EXPECT_EQ(+in.WaveFormat().wFormatTag, 0);
}

TEST_F(WaveIn, OnFormatSuppliesTheFormatAndKeepsItWhenAsked)
{
    TWaveAudioIn in;
    Wire(in);
    in.SetPCMFormat(nonePCM);
    WAVEFORMATEX mine{};
    PCMFormatToWaveFormat(mine, Stereo16bit44100Hz);
    in.OnFormat = [&](QObject*, PWaveFormatEx& format, bool& freeIt) {
        format = &mine;
        freeIt = false;
    };
    in.SetBufferLength(50);
    in.SetActive(true);
    Pump();
    EXPECT_EQ(in.BufferBytes(), 8820u);
    EXPECT_EQ(+Card.FormatOf(Handle())->nChannels, 2);
}

TEST_F(WaveIn, DeviceFormatsAndNameFollowTheCapabilities)
{
    TWaveAudioIn in;
    Card.InDevices[0].Formats = 0;
    EXPECT_EQ(in.DeviceFormats(),
              (TPCMFormats{Mono8Bit8000Hz, Stereo8bit8000Hz, Mono16bit8000Hz, Stereo16bit8000Hz}));
    Card.InDevices[0].Formats = WAVE_FORMAT_1M08 | WAVE_FORMAT_4S16;
    EXPECT_TRUE(in.DeviceFormats().Contains(Mono8bit11025Hz));
    EXPECT_TRUE(in.DeviceFormats().Contains(Stereo16bit44100Hz));
    EXPECT_FALSE(in.DeviceFormats().Contains(Mono16bit48000Hz));
    EXPECT_EQ(in.DeviceName(), QString::fromUtf8("Micrófono simulado"));
    in.DeviceID = 7;
    EXPECT_TRUE(in.DeviceFormats().Empty());
    EXPECT_TRUE(in.DeviceName().isEmpty());
    EXPECT_EQ(in.CheckDevice(), MMSYSERR_BADDEVICEID);
}

} // namespace
