#pragma once
// What every wave device shares: the 20 built-in PCM formats (and nonePCM), turning one into a
// WAVEFORMATEX, the peak level of a buffer (0..100), the output options and the channel names.

#include "sound/MMSystem.h"

#include <cstdint>

enum TPCMFormat : std::uint8_t
{
    nonePCM,
    Mono8Bit8000Hz,
    Stereo8bit8000Hz,
    Mono16bit8000Hz,
    Stereo16bit8000Hz,
    Mono8bit11025Hz,
    Stereo8bit11025Hz,
    Mono16bit11025Hz,
    Stereo16bit11025Hz,
    Mono8bit22050Hz,
    Stereo8bit22050Hz,
    Mono16bit22050Hz,
    Stereo16bit22050Hz,
    Mono8bit44100Hz,
    Stereo8bit44100Hz,
    Mono16bit44100Hz,
    Stereo16bit44100Hz,
    Mono8bit48000Hz,
    Stereo8bit48000Hz,
    Mono16bit48000Hz,
    Stereo16bit48000Hz
};

// A set of enumeration values held in one word, bit n for ordinal n.
template <class E, class Word> class TSmallSet
{
public:
    constexpr TSmallSet() = default;
    constexpr TSmallSet(std::initializer_list<E> values)
    {
        for (E v : values)
            Include(v);
    }
    constexpr bool Contains(E v) const { return (FBits >> static_cast<unsigned>(v)) & 1u; }
    constexpr void Include(E v) { FBits = static_cast<Word>(FBits | (Word(1) << unsigned(v))); }
    constexpr void Exclude(E v) { FBits = static_cast<Word>(FBits & ~(Word(1) << unsigned(v))); }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr Word Bits() const { return FBits; }
    constexpr bool operator==(const TSmallSet&) const = default;

private:
    Word FBits = 0;
};

using TPCMFormats = TSmallSet<TPCMFormat, std::uint32_t>;

enum TChannelMode : std::uint8_t
{
    cmMono,
    cmStereo
};

enum TSampleRateIndex : std::uint8_t
{
    sr8000,
    sr11025,
    sr22050,
    sr44100,
    sr48000
};

enum TSampleSize : std::uint8_t
{
    ss8Bit,
    ss16Bit
};

extern const char* const ChannelNames[2];

enum TWaveOutOption : std::uint8_t
{
    woSetVolume,
    woSetPitch,
    woSetPlaybackRate
};

using TWaveOutOptions = TSmallSet<TWaveOutOption, std::uint8_t>;

// Fills every field of the record: PCM, the channels, rate and size given, block align and byte
// rate that follow from them, cbSize 0.
void FillPCMWaveFormat(WAVEFORMATEX& WaveFormat, TChannelMode Channels, TSampleRateIndex Rate,
                       TSampleSize Size);
// The built-in format's record; nonePCM leaves the record as it was.
void PCMFormatToWaveFormat(WAVEFORMATEX& WaveFormat, TPCMFormat Format);

// Peak level 0..100 of the positive excursion: unsigned 8-bit samples (silence 128) ...
std::int32_t PeakLevel8(const void* Buffer, std::uint32_t BufferSize);
// ... and signed little-endian 16-bit samples (a trailing odd byte is not read).
std::int32_t PeakLevel16(const void* Buffer, std::uint32_t BufferSize);
// PeakLevel8 or PeakLevel16 by the sample size; -1 for any other size.
std::int32_t PeakLevel(const void* Buffer, std::uint32_t BufferSize, std::uint16_t BitsPerSample);
