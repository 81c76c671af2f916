// What every wave device shares: buffer sizes, positions, the header ring and its ownership.

#include "audio/WaveIn.h"
#include "tests/audio/WaveFixture.h"

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

} // namespace
