#include "WaveUtils.h"

#include <algorithm>
#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "samples are little-endian words");

const char* const ChannelNames[2] = {"Mono", "Stereo"};

void FillPCMWaveFormat(WAVEFORMATEX& WaveFormat, TChannelMode Channels, TSampleRateIndex Rate,
                       TSampleSize Size)
{
    static constexpr DWORD rates[] = {8000, 11025, 22050, 44100, 48000};
    WaveFormat.wFormatTag = WAVE_FORMAT_PCM;
    WaveFormat.nChannels = Channels == cmMono ? 1 : 2;
    WaveFormat.nSamplesPerSec = rates[Rate];
    WaveFormat.wBitsPerSample = Size == ss8Bit ? 8 : 16;
    WaveFormat.nBlockAlign =
        static_cast<WORD>(MulDiv(WaveFormat.nChannels, WaveFormat.wBitsPerSample, 8));
    WaveFormat.nAvgBytesPerSec = WaveFormat.nBlockAlign * WaveFormat.nSamplesPerSec;
    WaveFormat.cbSize = 0;
}

void PCMFormatToWaveFormat(WAVEFORMATEX& WaveFormat, TPCMFormat Format)
{
    if (Format == nonePCM || Format > Stereo16bit48000Hz)
        return;
    const unsigned v = Format - 1u; // 4 x rate + 2 x size + channels
    FillPCMWaveFormat(WaveFormat, static_cast<TChannelMode>(v % 2),
                      static_cast<TSampleRateIndex>(v / 4), static_cast<TSampleSize>((v / 2) % 2));
}

namespace {

// The scans run at the speed of copying the buffer: 32-byte vectors, four at a time in separate
// accumulators, loaded unaligned; the tail goes byte by byte or sample by sample. Built twice,
// for AVX2 and for any x86-64, the better one picked when the program starts.
template <class T, std::size_t Bytes> using TVec __attribute__((vector_size(Bytes))) = T;

// The largest lane, found by folding the vector in halves.
template <class T, std::size_t Bytes>
[[gnu::always_inline]] inline T LargestLane(const TVec<T, Bytes>& v)
{
    if constexpr (Bytes == sizeof(T)) {
        return v[0];
    } else {
        TVec<T, Bytes / 2> low, high;
        std::memcpy(&low, &v, Bytes / 2);
        std::memcpy(&high, reinterpret_cast<const char*>(&v) + Bytes / 2, Bytes / 2);
        return LargestLane<T, Bytes / 2>(low > high ? low : high);
    }
}

// Inlined into each build of the callers below, so that it is compiled for their instruction set.
template <class T>
[[gnu::always_inline]] inline T ScanMax(const unsigned char* bytes, std::size_t count)
{
    using TVec32 = TVec<T, 32>;
    constexpr std::size_t Step = std::size_t{4} * 32 / sizeof(T);
    if (count < Step) {
        T maximum = 0;
        for (std::size_t i = 0; i < count; ++i) {
            T v;
            std::memcpy(&v, bytes + i * sizeof(T), sizeof v);
            maximum = std::max(maximum, v);
        }
        return maximum;
    }
    TVec32 m0{}, m1{}, m2{}, m3{}, v0, v1, v2, v3;
    // The tail is the last whole step again, overlapping what was scanned: a maximum does not
    // mind.
    for (std::size_t i = 0;; i = std::min(i + Step, count - Step)) {
        const unsigned char* p = bytes + i * sizeof(T);
        std::memcpy(&v0, p, 32);
        std::memcpy(&v1, p + 32, 32);
        std::memcpy(&v2, p + 64, 32);
        std::memcpy(&v3, p + 96, 32);
        m0 = m0 > v0 ? m0 : v0;
        m1 = m1 > v1 ? m1 : v1;
        m2 = m2 > v2 ? m2 : v2;
        m3 = m3 > v3 ? m3 : v3;
        if (i + Step >= count)
            break;
    }
    m0 = m0 > m1 ? m0 : m1;
    m2 = m2 > m3 ? m2 : m3;
    m0 = m0 > m2 ? m0 : m2;
    return std::max<T>(0, LargestLane<T, 32>(m0));
}

#if defined(__x86_64__)
#define PRVARDO_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define PRVARDO_CLONES
#endif

PRVARDO_CLONES std::uint8_t MaxByte(const unsigned char* bytes, std::size_t count)
{
    return ScanMax<std::uint8_t>(bytes, count);
}

PRVARDO_CLONES std::int16_t MaxSample(const unsigned char* bytes, std::size_t count)
{
    return ScanMax<std::int16_t>(bytes, count);
}

} // namespace

std::int32_t PeakLevel8(const void* Buffer, std::uint32_t BufferSize)
{
    if (BufferSize == 0)
        return 0;
    const std::uint8_t maximum = MaxByte(static_cast<const unsigned char*>(Buffer), BufferSize);
    if (maximum < 128)
        return 0;
    return (maximum - 128) * 100 / 127;
}

std::int32_t PeakLevel16(const void* Buffer, std::uint32_t BufferSize)
{
    if (BufferSize < 2)
        return 0;
    const std::int16_t maximum =
        MaxSample(static_cast<const unsigned char*>(Buffer), BufferSize / 2);
    return maximum * 100 / 32767;
}

std::int32_t PeakLevel(const void* Buffer, std::uint32_t BufferSize, std::uint16_t BitsPerSample)
{
    switch (BitsPerSample) {
    case 8:
        return PeakLevel8(Buffer, BufferSize);
    case 16:
        return PeakLevel16(Buffer, BufferSize);
    default:
        return -1;
    }
}
