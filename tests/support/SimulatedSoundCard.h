#pragma once
// A sound card in memory, for tests: devices, capabilities and refusals set by the test, any
// wave call made to fail with a code, input fed by the test, output played when the test says,
// and a log of every call in order.
//
// The log holds the wave function's name for each call that reaches the card ("waveInOpen",
// "waveInOpen/query", "waveOutWrite", ...), followed by the name of each notification it posts
// ("MM_WIM_DATA", ...). Tests may add their own entries (events) to see the whole order.

#include "sound/WaveDriver.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

class TSimulatedSoundCard : public TWaveDriver
{
public:
    struct TDevice
    {
        std::string Name;
        DWORD Formats = 0;
        WORD Channels = 2;
        DWORD Support = 0;
        // Formats the device refuses (WAVERR_BADFORMAT); none when empty.
        std::function<bool(const WAVEFORMATEX&)> Refuses;
    };

    // One microphone and one loudspeaker with volume control, every standard format.
    TSimulatedSoundCard();

    std::vector<TDevice> InDevices;
    std::vector<TDevice> OutDevices;
    // Index of the device WAVE_MAPPER stands for.
    UINT DefaultIn = 0;
    UINT DefaultOut = 0;
    // What every output holds beyond its queued buffers (waveOutGetLatency), in milliseconds.
    DWORD OutLatency = 0;
    // What every output has ahead of the speaker (waveOutGetAhead), in milliseconds; unset: the
    // card cannot tell.
    std::optional<DWORD> OutAhead;
    // A stuck server: an accepted close never posts its closed message.
    bool SwallowClose = false;

    std::vector<std::string> Log;
    // Entries of the log that start with `prefix`.
    std::vector<std::string> Calls(const std::string& prefix) const;

    // Every later call of that name fails with `code`; code 0 lets them succeed again.
    void Fail(const std::string& call, MMRESULT code);

    // The handle of the last device opened in that direction (0: none open).
    HWAVE LastOpened(TWaveDirection dir) const;
    std::size_t QueuedCount(HWAVE handle) const;
    const WAVEFORMATEX* FormatOf(HWAVE handle) const;
    DWORD ControlOf(HWAVE handle, TWaveControl control) const;

    // Records bytes into the queued buffers of a started input, in order, posting MM_WIM_DATA for
    // each one that is full. Returns the bytes taken (the rest found no buffer).
    std::size_t Record(HWAVE handle, std::span<const std::uint8_t> bytes);
    // Fills the next `count` queued buffers completely with copies of `sample` (one frame's bytes).
    std::size_t RecordBuffers(HWAVE handle, std::size_t count,
                              std::span<const std::uint8_t> sample);
    // Plays the oldest `count` queued output buffers of a running output (MM_WOM_DONE each);
    // returns how many were played. What they held is appended to Played.
    std::size_t Play(HWAVE handle, std::size_t count = 1);
    std::vector<std::uint8_t> Played;

    // The server goes away: every queued buffer comes back as a reset returns it; the handles
    // accept only prepare, unprepare, stop, reset and close (which posts its closed message).
    void LoseServer();

    UINT NumDevs(TWaveDirection dir) override;
    MMRESULT GetCaps(TWaveDirection dir, UINT device, TWaveCaps& caps) override;
    MMRESULT Query(TWaveDirection dir, UINT device, const WAVEFORMATEX& format) override;
    MMRESULT Open(TWaveDirection dir, UINT device, const WAVEFORMATEX& format, HWND window,
                  HWAVE& handle) override;
    MMRESULT Close(TWaveDirection dir, HWAVE handle) override;
    MMRESULT Prepare(TWaveDirection dir, HWAVE handle, WAVEHDR* header) override;
    MMRESULT Unprepare(TWaveDirection dir, HWAVE handle, WAVEHDR* header) override;
    MMRESULT Queue(TWaveDirection dir, HWAVE handle, WAVEHDR* header) override;
    MMRESULT Start(TWaveDirection dir, HWAVE handle) override;
    MMRESULT Stop(TWaveDirection dir, HWAVE handle) override;
    MMRESULT Reset(TWaveDirection dir, HWAVE handle) override;
    MMRESULT GetPosition(TWaveDirection dir, HWAVE handle, MMTIME& time) override;
    MMRESULT GetControl(HWAVE handle, TWaveControl control, DWORD& value) override;
    MMRESULT SetControl(HWAVE handle, TWaveControl control, DWORD value) override;
    MMRESULT GetLatency(HWAVE handle, DWORD& milliseconds) override;
    MMRESULT GetAhead(HWAVE handle, DWORD& milliseconds) override;
    void Abandon(TWaveDirection dir, HWAVE handle) override;

private:
    struct TStream
    {
        TWaveDirection Dir = TWaveDirection::In;
        HWND Window = 0;
        WAVEFORMATEX Format{};
        bool Running = false;
        bool Lost = false;
        std::deque<WAVEHDR*> Queued;
        DWORD Position = 0;
        std::map<TWaveControl, DWORD> Controls;
    };

    // Logs the call; the code it was made to fail with, or 0.
    MMRESULT Enter(TWaveDirection dir, const char* inName, const char* outName);
    // Enter, then the handle's stream (MMSYSERR_INVALHANDLE when there is none).
    MMRESULT EnterStream(TWaveDirection dir, const char* inName, const char* outName, HWAVE handle,
                         TStream*& stream);
    // The stream of a handle in that direction, or nullptr.
    TStream* Find(TWaveDirection dir, HWAVE handle);
    void Return(HWAVE handle, TStream& stream, WAVEHDR* header);
    const TDevice* Device(TWaveDirection dir, UINT device) const;

    std::map<std::string, MMRESULT> FFailures;
    std::map<HWAVE, TStream> FStreams;
    HWAVE FNextHandle = 0x100;
    HWAVE FLastIn = 0;
    HWAVE FLastOut = 0;
};
