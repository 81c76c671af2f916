// The built-in formats and the peak level.

#include "audio/WaveUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(PCMFormats, EveryFormatFollowsTheRateSizeChannelsOrder)
{
    const DWORD rates[] = {8000, 11025, 22050, 44100, 48000};
    for (int v = Mono8Bit8000Hz; v <= Stereo16bit48000Hz; ++v) {
        SCOPED_TRACE(v);
        WAVEFORMATEX f{};
        std::memset(&f, 0xAB, sizeof f);
        PCMFormatToWaveFormat(f, static_cast<TPCMFormat>(v));
        const int i = v - 1;
        const int channels = 1 + i % 2;
        const int bits = (i / 2) % 2 ? 16 : 8;
        EXPECT_EQ(+f.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(+f.nChannels, channels);
        EXPECT_EQ(+f.wBitsPerSample, bits);
        EXPECT_EQ(+f.nSamplesPerSec, rates[i / 4]);
        EXPECT_EQ(+f.nBlockAlign, channels * bits / 8);
        EXPECT_EQ(+f.nAvgBytesPerSec, rates[i / 4] * channels * bits / 8);
        EXPECT_EQ(+f.cbSize, 0);
    }
}

TEST(PCMFormats, NonePCMLeavesTheRecordAsItWas)
{
    WAVEFORMATEX f{};
    std::memset(&f, 0x5A, sizeof f);
    const WAVEFORMATEX before = f;
    PCMFormatToWaveFormat(f, nonePCM);
    EXPECT_EQ(std::memcmp(&f, &before, sizeof f), 0);
}

TEST(PeakLevel, MeasuresThePositiveExcursionOnly)
{
    struct Row
    {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::uint16_t bits;
        std::int32_t level;
    };
    const Row rows[] = {
        {"8-bit silence", {128, 128, 128}, 8, 0},
        {"8-bit below silence", {0, 64, 127}, 8, 0},
        {"8-bit full", {255}, 8, 100},
        {"8-bit 200", {200, 3}, 8, 56},
        {"8-bit just above silence", {129}, 8, 0},
        {"16-bit negative only", {0x00, 0x80, 0xFF, 0xFF}, 16, 0},
        {"16-bit full", {0x00, 0x00, 0xFF, 0x7F}, 16, 100},
        {"16-bit half", {0x00, 0x40}, 16, 50},
        {"16-bit 327", {0x47, 0x01}, 16, 0},
        {"16-bit odd byte not read", {0x00, 0x40, 0xFF}, 16, 50},
        {"16-bit three bytes, first sample only", {0x00, 0x00, 0x7F}, 16, 0},
        {"stereo, left at half, right silent", {0x00, 0x40, 0, 0, 0x00, 0x20, 0, 0}, 16, 50},
        {"empty", {}, 16, 0},
        {"24 bits", {0xFF, 0x7F, 0x00}, 24, -1},
        {"0 bits", {0xFF}, 0, -1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(
            PeakLevel(row.bytes.data(), static_cast<std::uint32_t>(row.bytes.size()), row.bits),
            row.level)
            << row.name;
}

TEST(PeakLevel, FindsThePeakAnywhereInALongUnalignedBuffer)
{
    std::vector<std::uint8_t> bytes(2 * 1000 + 1, 0);
    for (std::size_t at : {1u, 513u, 1999u}) {
        SCOPED_TRACE(at);
        std::fill(bytes.begin(), bytes.end(), 0);
        bytes[at] = 0x00;
        bytes[at + 1] = 0x40; // 16384 at an odd address
        EXPECT_EQ(PeakLevel16(bytes.data() + 1, 2000), 50);
        std::fill(bytes.begin(), bytes.end(), 0);
        bytes[at] = 255;
        EXPECT_EQ(PeakLevel8(bytes.data() + 1, 2000), 100);
        EXPECT_EQ(PeakLevel8(bytes.data() + 1, static_cast<std::uint32_t>(at) - 1), 0);
    }
}

} // namespace
