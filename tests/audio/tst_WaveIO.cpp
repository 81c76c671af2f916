// What every wave device shares: buffer sizes, positions, the header ring and its ownership.

#include "audio/WaveIn.h"
#include "audio/WaveOut.h"
#include "tests/audio/WaveFixture.h"

#include <functional>

namespace {

class WaveIO : public WaveTest
{
};

// The format a device was opened with, for the size and time arithmetic.
void OpenIn(TWaveAudioIn& in, TPCMFormat format, std::uint16_t ms)
{
    in.SetPCMFormat(format);
    in.SetBufferLength(ms);
    in.SetBufferCount(0);
    in.SetActive(true);
}

TEST_F(WaveIO, BufferLengthIsAtLeastTenMilliseconds)
{
    TWaveAudioIn in;
    for (auto [written, stored] : {std::pair{0, 10}, {9, 10}, {10, 10}, {50, 50}}) {
        in.SetBufferLength(static_cast<std::uint16_t>(written));
        EXPECT_EQ(in.BufferLength(), stored) << written;
    }
}

TEST_F(WaveIO, BufferBytesRoundsToWholeFrames)
{
    struct Row
    {
        TPCMFormat format;
        std::uint16_t ms;
        std::uint32_t bytes;
    };
    for (const Row& row :
         {Row{Mono16bit8000Hz, 1000, 16000}, Row{Mono16bit8000Hz, 50, 800},
          Row{Mono16bit11025Hz, 50, 1104}, Row{Mono8bit11025Hz, 50, 551},
          Row{Stereo16bit44100Hz, 1000, 176400}, Row{Stereo16bit44100Hz, 50, 8820}}) {
        TWaveAudioIn in;
        OpenIn(in, row.format, row.ms);
        EXPECT_EQ(in.BufferBytes(), row.bytes) << int(row.format) << " " << row.ms;
    }
}

TEST_F(WaveIO, MMTimeToMsByTheRecordsType)
{
    TWaveAudioIn in;
    MMTIME t{};
    t.wType = TIME_BYTES;
    t.u.cb = 1000;
    EXPECT_EQ(in.MMTimeToMs(t), 0u) << "no byte rate before the first open";
    OpenIn(in, Mono16bit8000Hz, 50);
    t.wType = TIME_MS;
    t.u.ms = 1234;
    EXPECT_EQ(in.MMTimeToMs(t), 1234u);
    t.wType = TIME_SAMPLES;
    t.u.sample = 8000;
    EXPECT_EQ(in.MMTimeToMs(t), 1000u);
    t.wType = TIME_BYTES;
    t.u.cb = 24;
    EXPECT_EQ(in.MMTimeToMs(t), 2u) << "1.5 ms rounds away from zero";
    t.wType = TIME_SMPTE;
    t.u.smpte.hour = 1;
    t.u.smpte.min = 2;
    t.u.smpte.sec = 3;
    t.u.smpte.frame = 20;
    EXPECT_EQ(in.MMTimeToMs(t), 3723000u);
    t.wType = 16;
    EXPECT_EQ(in.MMTimeToMs(t), 0u);
}

TEST_F(WaveIO, ReallocHeaderOwnsOnlyTheBlocksItMadeItself)
{
    TWaveAudioIn in;
    WAVEHDR* none = nullptr;
    EXPECT_TRUE(in.ReallocHeader(none, 0, nullptr));
    EXPECT_EQ(in.RingCount(), 0);

    WAVEHDR* header = nullptr;
    ASSERT_TRUE(in.ReallocHeader(header, 100, nullptr));
    EXPECT_EQ(header->dwUser, in.OwnerTag());
    EXPECT_EQ(header->dwBufferLength, 100u);
    EXPECT_EQ(WaveBlocksAlive(), 1u);

    char theirs[64];
    ASSERT_TRUE(in.ReallocHeader(header, sizeof theirs, theirs));
    EXPECT_EQ(WaveBlocksAlive(), 0u) << "the device's own block is freed";
    EXPECT_EQ(header->lpData, theirs);
    EXPECT_EQ(header->dwUser, 0u);

    ASSERT_TRUE(in.ReallocHeader(header, 200, nullptr));
    EXPECT_NE(header->lpData, theirs) << "a block of somebody else's is never re-sized";
    EXPECT_EQ(in.RingCount(), 1);

    EXPECT_TRUE(in.ReallocHeader(header, 0, nullptr));
    EXPECT_EQ(header, nullptr);
    EXPECT_EQ(in.RingCount(), 0);
}

TEST_F(WaveIO, ErrorWithoutHandlerRaisesWithTheErrorText)
{
    TWaveAudioIn in;
    EXPECT_TRUE(in.Succeeded(MMSYSERR_NOERROR));
    EXPECT_THROW(in.Succeeded(MMSYSERR_NOMEM), EWaveAudioSysError);
    EXPECT_EQ(in.LastError(), MMSYSERR_NOMEM);
    EXPECT_EQ(in.LastErrorText(), WaveErrorText(MMSYSERR_NOMEM));
    int errors = 0;
    in.OnError = [&](QObject* sender) {
        EXPECT_EQ(sender, &in);
        ++errors;
    };
    EXPECT_FALSE(in.Succeeded(WAVERR_BADFORMAT));
    EXPECT_EQ(errors, 1);
}

TEST_F(WaveIO, QueryPCMFormatAsksTheDeviceWithoutAnErrorEvent)
{
    Card.InDevices[0].Refuses = [](const WAVEFORMATEX& f) { return f.nSamplesPerSec == 48000; };
    TWaveAudioIn in;
    Wire(in);
    EXPECT_TRUE(in.QueryPCMFormat(Stereo16bit44100Hz));
    EXPECT_FALSE(in.QueryPCMFormat(Stereo16bit48000Hz));
    EXPECT_FALSE(in.QueryPCMFormat(nonePCM));
    EXPECT_TRUE(Card.Calls("OnError").empty());
}

// An input whose DataReady runs a hook; an output that plays 16-bit mono 8000 Hz buffers of its
// own (FillBuffer), or what it is handed (PlayBuffer).
class HookedInput : public TWaveAudioIn
{
public:
    std::function<void()> OnDataReady;

protected:
    void DataReady(void*, std::uint32_t, bool&) override
    {
        if (OnDataReady)
            OnDataReady();
    }
};

class FilledOutput : public TWaveAudioOut
{
protected:
    void GetWaveFormat(PWaveFormatEx& format, bool& freeIt) override
    {
        format = AllocWaveFormat();
        PCMFormatToWaveFormat(*format, Mono16bit8000Hz);
        freeIt = true;
    }
    std::uint32_t FillBuffer(void*, std::uint32_t size, DWORD&) override { return size; }
};

// A close asked for from inside one of the device's own events neither waits for the header in
// hand (it would never come back: the timeout would report WAVERR_CLOSETIMEOUT) nor frees it under
// the handler: it completes once the event has returned. The second event of each kind closes,
// so that another header is queued with the driver and must be called back.
TEST_F(WaveIO, CloseFromInsideTheDevicesOwnEventCompletesWhenTheEventReturns)
{
    enum class Event : std::uint8_t
    {
        InLevel,
        InFilter,
        InDataReady,
        OutFilter,
        OutLevel,
        OutPlay
    };
    const std::pair<Event, const char*> rows[] = {
        {Event::InLevel, "input OnLevel"},
        {Event::InFilter, "input OnFilter"},
        {Event::InDataReady, "input DataReady"},
        {Event::OutFilter, "output OnFilter (refill)"},
        {Event::OutLevel, "output OnLevel (refill)"},
        {Event::OutPlay, "output OnFilter (PlayBuffer)"},
    };
    for (const auto& [event, name] : rows) {
        SCOPED_TRACE(name);
        Card.Log.clear();
        const bool input =
            event == Event::InLevel || event == Event::InFilter || event == Event::InDataReady;
        HookedInput in;
        FilledOutput out;
        TWaveAudioIO& device = input ? static_cast<TWaveAudioIO&>(in) : out;
        Wire(device);
        device.SetBufferLength(50);
        device.SetBufferCount(event == Event::OutPlay ? 0 : 2);
        int calls = 0;
        bool closedInside = false;
        const auto closeOnSecond = [&] {
            if (++calls != 2)
                return;
            device.SetActive(false);
            closedInside = device.Closing();
        };
        switch (event) {
        case Event::InLevel:
        case Event::OutLevel:
            device.OnLevel = [&](QObject*, std::int32_t) { closeOnSecond(); };
            break;
        case Event::InFilter:
        case Event::OutFilter:
        case Event::OutPlay:
            device.OnFilter = [&](QObject*, void*, std::uint32_t) { closeOnSecond(); };
            break;
        case Event::InDataReady:
            in.OnDataReady = closeOnSecond;
            break;
        }
        device.SetActive(true);
        Pump();
        if (input) {
            Card.RecordBuffers(Card.LastOpened(TWaveDirection::In), 2, Sample16(100));
        } else if (event == Event::OutPlay) {
            for (int i = 0; i < 2; ++i)
                out.PlayBuffer(AllocWaveBlock(800), 800, true, 0);
        }
        Pump();
        EXPECT_TRUE(closedInside) << "the close was still under way when the event returned";
        EXPECT_FALSE(device.Active());
        EXPECT_FALSE(device.Closing());
        EXPECT_EQ(device.RingCount(), 0);
        EXPECT_EQ(Count(input ? "waveInClose" : "waveOutClose"), 1u);
        EXPECT_EQ(Count("OnDeactivate"), 1u);
        EXPECT_TRUE(Card.Calls("OnError").empty()) << ::testing::PrintToString(Card.Log);
        EXPECT_TRUE(Errors.Messages.isEmpty());
    }
}

} // namespace
