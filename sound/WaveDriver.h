#pragma once
// A sound driver behind the wave functions of sound/MMSystem.h, and the one that is installed.
//
// Before a driver method runs, the wave functions have checked record sizes and null pointers,
// the open flags (a query, or CALLBACK_WINDOW with a callback window), and that a format is PCM
// with 1 or 2 channels of 8 or 16 bits at 1 to 192000 samples per second, whose block align and
// byte rate agree with those (anything else is WAVERR_BADFORMAT). Before Queue they have checked
// that the header is prepared, not queued and not empty, and marked it queued (WHDR_INQUEUE set,
// WHDR_DONE cleared); they undo that mark when Queue fails. Prepare and Unprepare change only
// WHDR_PREPARED, which the wave functions do after the driver accepted the handle.
//
// The driver checks device numbers (WAVE_MAPPER is its default device) and handles
// (MMSYSERR_INVALHANDLE for a handle it does not know or of the other direction).
//
// A queued header belongs to the driver until the driver posts it back: it sets dwBytesRecorded
// (input), clears WHDR_INQUEUE, sets WHDR_DONE, then posts MM_WIM_DATA / MM_WOM_DONE to the
// handle's window with the handle in wParam and the header in lParam, and never touches the header
// again. Headers come back in the order they were queued. Open posts MM_WIM_OPEN / MM_WOM_OPEN
// before it returns; a close that is accepted posts MM_WIM_CLOSE / MM_WOM_CLOSE.
//
// Methods are called on the GUI thread. A driver may own threads of its own; they only post.

#include "core/ScopedOverride.h"
#include "sound/MMSystem.h"

#include <memory>
#include <string>

enum class TWaveDirection : std::uint8_t
{
    In,
    Out
};

// What a device says of itself.
struct TWaveCaps
{
    std::string Name;  // cut to MAXPNAMELEN - 1 bytes by the wave functions
    DWORD Formats = 0; // WAVE_FORMAT_1M08 ...
    WORD Channels = 0;
    DWORD Support = 0; // WAVECAPS_* (output)
};

enum class TWaveControl : std::uint8_t
{
    Volume,      // low word left (or only) channel, high word right channel, 0..0xFFFF linear
    Pitch,       // 16.16 fixed point
    PlaybackRate // 16.16 fixed point
};

class TWaveDriver
{
public:
    virtual ~TWaveDriver() = default;

    virtual UINT NumDevs(TWaveDirection dir) = 0;
    virtual MMRESULT GetCaps(TWaveDirection dir, UINT device, TWaveCaps& caps) = 0;
    // 0 exactly when the device can record or play the format; makes no handle.
    virtual MMRESULT Query(TWaveDirection dir, UINT device, const WAVEFORMATEX& format) = 0;
    // Succeeds or fails inside the call, within a bounded time. On success `handle` is set and
    // the open notification has been posted to `window`.
    virtual MMRESULT Open(TWaveDirection dir, UINT device, const WAVEFORMATEX& format, HWND window,
                          HWAVE& handle) = 0;
    // WAVERR_STILLPLAYING while headers are queued; otherwise the handle is gone and the close
    // notification posted.
    virtual MMRESULT Close(TWaveDirection dir, HWAVE handle) = 0;
    virtual MMRESULT Prepare(TWaveDirection dir, HWAVE handle, WAVEHDR* header) = 0;
    virtual MMRESULT Unprepare(TWaveDirection dir, HWAVE handle, WAVEHDR* header) = 0;
    // waveInAddBuffer / waveOutWrite.
    virtual MMRESULT Queue(TWaveDirection dir, HWAVE handle, WAVEHDR* header) = 0;
    // waveInStart / waveOutRestart.
    virtual MMRESULT Start(TWaveDirection dir, HWAVE handle) = 0;
    // waveInStop (a partly filled buffer comes back, empty ones stay queued) / waveOutPause.
    virtual MMRESULT Stop(TWaveDirection dir, HWAVE handle) = 0;
    // Every queued header comes back; the position starts again at 0.
    virtual MMRESULT Reset(TWaveDirection dir, HWAVE handle) = 0;
    // Bytes recorded or played since the open (or the last reset); any MMTIME type will do.
    virtual MMRESULT GetPosition(TWaveDirection dir, HWAVE handle, MMTIME& time) = 0;
    virtual MMRESULT GetControl(HWAVE handle, TWaveControl control, DWORD& value) = 0;
    virtual MMRESULT SetControl(HWAVE handle, TWaveControl control, DWORD value) = 0;
    // waveOutGetLatency: what the device holds beyond the queued headers, in milliseconds.
    virtual MMRESULT GetLatency(HWAVE /*handle*/, DWORD& /*milliseconds*/)
    {
        return MMSYSERR_NOTSUPPORTED;
    }
    // waveOutGetAhead: how long until the last byte written so far is heard, in milliseconds.
    virtual MMRESULT GetAhead(HWAVE /*handle*/, DWORD& /*milliseconds*/)
    {
        return MMSYSERR_NOTSUPPORTED;
    }
    // Forget the handle at once: no access to its headers, no further posts.
    virtual void Abandon(TWaveDirection dir, HWAVE handle) = 0;
};

// The driver the wave functions forward to; none at start.
TWaveDriver* InstalledWaveDriver();

// Installs a driver, which it owns, for as long as it lives; then the one installed before is back.
class TScopedWaveDriver
{
public:
    explicit TScopedWaveDriver(std::unique_ptr<TWaveDriver> driver);

    TWaveDriver* Driver() const { return FDriver.get(); }

private:
    std::unique_ptr<TWaveDriver> FDriver;
    TScopedOverride<TWaveDriver*> FInstalled;
};
