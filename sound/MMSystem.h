#pragma once
// The waveform audio services the wave devices are written against: the records, the codes and
// the waveIn* / waveOut* functions with the arguments and results a Windows program expects of
// them, plus MulDiv. The functions check their arguments (record sizes, null pointers, flag
// words, the format, the state of a header) and forward to the installed sound driver
// (sound/WaveDriver.h); with no driver installed there are no devices and every open fails
// with MMSYSERR_NODRIVER.
//
// Notifications (MM_WIM_* / MM_WOM_*) are posted to the callback window given to the open (a
// DeviceWindow handle), with the device handle in wParam and, for data and done, the header in
// lParam. A successful open has posted its open notification before the call returns.
//
// Every code these functions return has a Spanish text (waveInGetErrorTextA /
// waveOutGetErrorTextA and WaveErrorText).

#include <QString>

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using MMRESULT = std::uint32_t;
using HWND = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using HWAVEIN = std::uint32_t;
using HWAVEOUT = std::uint32_t;
using HWAVE = std::uint32_t; // either kind

// Result codes.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
// Ours: a device that did not report its close in time and was given up as closed.
constexpr MMRESULT WAVERR_CLOSETIMEOUT = 40;

// Notification messages.
constexpr UINT MM_WOM_OPEN = 955;
constexpr UINT MM_WOM_CLOSE = 956;
constexpr UINT MM_WOM_DONE = 957;
constexpr UINT MM_WIM_OPEN = 958;
constexpr UINT MM_WIM_CLOSE = 959;
constexpr UINT MM_WIM_DATA = 960;

constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;
constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr WORD WAVE_FORMAT_PCM = 1;

// WAVEHDR.dwFlags
constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_BEGINLOOP = 0x04;
constexpr DWORD WHDR_ENDLOOP = 0x08;
constexpr DWORD WHDR_INQUEUE = 0x10;

// MMTIME.wType
constexpr UINT TIME_MS = 0x01;
constexpr UINT TIME_SAMPLES = 0x02;
constexpr UINT TIME_BYTES = 0x04;
constexpr UINT TIME_SMPTE = 0x08;

// WAVEOUTCAPSA.dwSupport
constexpr DWORD WAVECAPS_PITCH = 0x01;
constexpr DWORD WAVECAPS_PLAYBACKRATE = 0x02;
constexpr DWORD WAVECAPS_VOLUME = 0x04;
constexpr DWORD WAVECAPS_LRVOLUME = 0x08;

// dwFormats: the twelve standard formats, 11.025 kHz mono 8-bit first.
constexpr DWORD WAVE_FORMAT_1M08 = 0x001;
constexpr DWORD WAVE_FORMAT_1S08 = 0x002;
constexpr DWORD WAVE_FORMAT_1M16 = 0x004;
constexpr DWORD WAVE_FORMAT_1S16 = 0x008;
constexpr DWORD WAVE_FORMAT_2M08 = 0x010;
constexpr DWORD WAVE_FORMAT_2S08 = 0x020;
constexpr DWORD WAVE_FORMAT_2M16 = 0x040;
constexpr DWORD WAVE_FORMAT_2S16 = 0x080;
constexpr DWORD WAVE_FORMAT_4M08 = 0x100;
constexpr DWORD WAVE_FORMAT_4S08 = 0x200;
constexpr DWORD WAVE_FORMAT_4M16 = 0x400;
constexpr DWORD WAVE_FORMAT_4S16 = 0x800;

constexpr UINT MAXPNAMELEN = 32;

#pragma pack(push, 1)
struct WAVEFORMATEX
{
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes on every platform");
using PWaveFormatEx = WAVEFORMATEX*;

struct WAVEHDR
{
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};

struct MMTIME
{
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
        struct
        {
            BYTE hour;
            BYTE min;
            BYTE sec;
            BYTE frame;
            BYTE fps;
            BYTE dummy;
            BYTE pad[2];
        } smpte;
    } u;
};
static_assert(sizeof(MMTIME) == 12);

struct WAVEINCAPSA
{
    WORD wMid;
    WORD wPid;
    DWORD vDriverVersion;
    char szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
};
static_assert(sizeof(WAVEINCAPSA) == 48);

struct WAVEOUTCAPSA
{
    WORD wMid;
    WORD wPid;
    DWORD vDriverVersion;
    char szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
    DWORD dwSupport;
};
static_assert(sizeof(WAVEOUTCAPSA) == 52);

// The header a MM_WIM_DATA or MM_WOM_DONE notification carries in its lParam.
inline WAVEHDR* NotifiedHeader(LPARAM lParam)
{
    return reinterpret_cast<WAVEHDR*>(lParam); // NOLINT(performance-no-int-to-ptr): by design
}

// a * b / c with a 64-bit intermediate, rounded to the nearest integer, halves away from zero.
// -1 when c is 0 or the result does not fit in 32 bits.
int MulDiv(int a, int b, int c);

// The Spanish text for a code these functions return; empty for a code they never return.
QString WaveErrorText(MMRESULT code);

UINT waveInGetNumDevs();
MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, WAVEINCAPSA* pwic, UINT cbwic);
MMRESULT waveInGetErrorTextA(MMRESULT mmrError, char* pszText, UINT cchText);
MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveInClose(HWAVEIN hwi);
MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInStart(HWAVEIN hwi);
MMRESULT waveInStop(HWAVEIN hwi);
MMRESULT waveInReset(HWAVEIN hwi);
MMRESULT waveInGetPosition(HWAVEIN hwi, MMTIME* pmmt, UINT cbmmt);

UINT waveOutGetNumDevs();
MMRESULT waveOutGetDevCapsA(UINT_PTR uDeviceID, WAVEOUTCAPSA* pwoc, UINT cbwoc);
MMRESULT waveOutGetErrorTextA(MMRESULT mmrError, char* pszText, UINT cchText);
MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveOutClose(HWAVEOUT hwo);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* pmmt, UINT cbmmt);
MMRESULT waveOutGetVolume(HWAVEOUT hwo, DWORD* pdwVolume);
MMRESULT waveOutSetVolume(HWAVEOUT hwo, DWORD dwVolume);
MMRESULT waveOutGetPitch(HWAVEOUT hwo, DWORD* pdwPitch);
MMRESULT waveOutSetPitch(HWAVEOUT hwo, DWORD dwPitch);
MMRESULT waveOutGetPlaybackRate(HWAVEOUT hwo, DWORD* pdwRate);
MMRESULT waveOutSetPlaybackRate(HWAVEOUT hwo, DWORD dwRate);

// Ours, for a device that gave up waiting for its close: the driver forgets the handle at once,
// never touches its headers again and posts nothing more for it. The headers are the caller's.
void waveInAbandon(HWAVEIN hwi);
void waveOutAbandon(HWAVEOUT hwo);

// Ours: how long the output device itself holds what it has been given before it is heard (a
// sink's own latency, in milliseconds), beyond the headers still queued with the driver.
// MMSYSERR_NOTSUPPORTED from a driver that cannot tell.
MMRESULT waveOutGetLatency(HWAVEOUT hwo, DWORD* pdwMilliseconds);

// Ours: how long from now until the last byte given to the output so far is heard (what the driver
// still holds and what the device holds of its own), in milliseconds, as far as the driver can
// tell without asking the device. MMSYSERR_NOTSUPPORTED from a driver that cannot tell.
MMRESULT waveOutGetAhead(HWAVEOUT hwo, DWORD* pdwMilliseconds);
