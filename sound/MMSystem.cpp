#include "MMSystem.h"

#include "sound/WaveDriver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const long long product = static_cast<long long>(a) * b;
    long long quotient = product / c;
    const long long remainder = product % c;
    // Round half away from zero: compare twice the remainder with the divisor.
    if (2 * std::llabs(remainder) >= std::llabs(static_cast<long long>(c)))
        quotient += ((product < 0) != (c < 0)) ? -1 : 1;
    if (quotient > std::numeric_limits<int>::max() || quotient < std::numeric_limits<int>::min())
        return -1;
    return static_cast<int>(quotient);
}

QString WaveErrorText(MMRESULT code)
{
    switch (code) {
    case MMSYSERR_NOERROR:
        return QStringLiteral("No hay ningún error.");
    case MMSYSERR_ERROR:
        return QStringLiteral("Error del sistema de sonido.");
    case MMSYSERR_BADDEVICEID:
        return QStringLiteral("No se encuentra el dispositivo de sonido pedido.");
    case MMSYSERR_ALLOCATED:
        return QStringLiteral("El dispositivo de sonido está ocupado.");
    case MMSYSERR_INVALHANDLE:
        return QStringLiteral("El dispositivo de sonido no está abierto.");
    case MMSYSERR_NODRIVER:
        return QStringLiteral("No hay servidor de sonido, o se ha perdido la conexión con él.");
    case MMSYSERR_NOMEM:
        return QStringLiteral("No hay memoria suficiente para el sonido.");
    case MMSYSERR_NOTSUPPORTED:
        return QStringLiteral("El dispositivo de sonido no ofrece esta función.");
    case MMSYSERR_INVALFLAG:
        return QStringLiteral("Opción no válida en una llamada de sonido.");
    case MMSYSERR_INVALPARAM:
        return QStringLiteral("Parámetro no válido en una llamada de sonido.");
    case WAVERR_BADFORMAT:
        return QStringLiteral("El dispositivo de sonido no admite este formato de audio.");
    case WAVERR_STILLPLAYING:
        return QStringLiteral("El dispositivo de sonido todavía tiene búferes en uso.");
    case WAVERR_UNPREPARED:
        return QStringLiteral("El búfer de sonido no está preparado.");
    case WAVERR_CLOSETIMEOUT:
        return QStringLiteral(
            "El dispositivo de sonido no respondió al cerrarlo; se ha dado por cerrado.");
    default:
        return {};
    }
}

namespace {

// The formats every driver can take: plain PCM whose block align and byte rate follow from
// channels, bits and rate, so no buffer of 0 bytes or odd frame ever reaches a driver.
bool FormatIsPlayable(const WAVEFORMATEX& f)
{
    if (f.wFormatTag != WAVE_FORMAT_PCM)
        return false;
    if (f.nChannels < 1 || f.nChannels > 2)
        return false;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16)
        return false;
    if (f.nSamplesPerSec < 1 || f.nSamplesPerSec > 192000)
        return false;
    const DWORD align = f.nChannels * f.wBitsPerSample / 8u;
    return f.nBlockAlign == align && f.nAvgBytesPerSec == align * f.nSamplesPerSec;
}

MMRESULT OpenOrQuery(TWaveDirection dir, HWAVE* handle, UINT device, const WAVEFORMATEX* format,
                     DWORD_PTR callback, DWORD flags)
{
    if (format == nullptr)
        return MMSYSERR_INVALPARAM;
    const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    if ((flags & ~(WAVE_FORMAT_QUERY | CALLBACK_WINDOW)) != 0)
        return MMSYSERR_INVALFLAG;
    if (!query && (handle == nullptr || (flags & CALLBACK_WINDOW) == 0 || callback == 0))
        return MMSYSERR_INVALPARAM;
    TWaveDriver* driver = InstalledWaveDriver();
    if (driver == nullptr)
        return MMSYSERR_NODRIVER;
    if (!FormatIsPlayable(*format))
        return WAVERR_BADFORMAT;
    if (query)
        return driver->Query(dir, device, *format);
    HWAVE opened = 0;
    const MMRESULT result = driver->Open(dir, device, *format, static_cast<HWND>(callback), opened);
    if (result == MMSYSERR_NOERROR)
        *handle = opened;
    return result;
}

template <class F> MMRESULT WithDriver(F&& f)
{
    TWaveDriver* driver = InstalledWaveDriver();
    return driver != nullptr ? f(*driver) : MMSYSERR_INVALHANDLE;
}

MMRESULT PrepareHeader(TWaveDirection dir, HWAVE handle, WAVEHDR* header, UINT size)
{
    if (header == nullptr || size != sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    return WithDriver([&](TWaveDriver& d) {
        const MMRESULT result = d.Prepare(dir, handle, header);
        if (result == MMSYSERR_NOERROR)
            header->dwFlags |= WHDR_PREPARED;
        return result;
    });
}

MMRESULT UnprepareHeader(TWaveDirection dir, HWAVE handle, WAVEHDR* header, UINT size)
{
    if (header == nullptr || size != sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    if ((header->dwFlags & WHDR_INQUEUE) != 0)
        return WAVERR_STILLPLAYING;
    return WithDriver([&](TWaveDriver& d) {
        const MMRESULT result = d.Unprepare(dir, handle, header);
        if (result == MMSYSERR_NOERROR)
            header->dwFlags &= ~WHDR_PREPARED;
        return result;
    });
}

MMRESULT SubmitHeader(TWaveDirection dir, HWAVE handle, WAVEHDR* header, UINT size)
{
    if (header == nullptr || size != sizeof(WAVEHDR) || header->lpData == nullptr ||
        header->dwBufferLength == 0)
        return MMSYSERR_INVALPARAM;
    if ((header->dwFlags & WHDR_PREPARED) == 0)
        return WAVERR_UNPREPARED;
    if ((header->dwFlags & WHDR_INQUEUE) != 0)
        return WAVERR_STILLPLAYING;
    return WithDriver([&](TWaveDriver& d) {
        const DWORD before = header->dwFlags;
        header->dwFlags = (before | WHDR_INQUEUE) & ~WHDR_DONE;
        if (dir == TWaveDirection::In)
            header->dwBytesRecorded = 0;
        const MMRESULT result = d.Queue(dir, handle, header);
        if (result != MMSYSERR_NOERROR)
            header->dwFlags = before;
        return result;
    });
}

MMRESULT ReadPosition(TWaveDirection dir, HWAVE handle, MMTIME* time, UINT size)
{
    if (time == nullptr || size != sizeof(MMTIME))
        return MMSYSERR_INVALPARAM;
    return WithDriver([&](TWaveDriver& d) { return d.GetPosition(dir, handle, *time); });
}

template <class Caps> MMRESULT DevCaps(TWaveDirection dir, UINT_PTR id, Caps* caps, UINT size)
{
    if (caps == nullptr || size != sizeof(Caps))
        return MMSYSERR_INVALPARAM;
    TWaveDriver* driver = InstalledWaveDriver();
    if (driver == nullptr)
        return MMSYSERR_BADDEVICEID;
    // A device number wider than 32 bits is the mapper only when all its bits are set.
    const UINT device =
        id == std::numeric_limits<UINT_PTR>::max() ? WAVE_MAPPER : static_cast<UINT>(id);
    if (id != std::numeric_limits<UINT_PTR>::max() && id > std::numeric_limits<UINT>::max())
        return MMSYSERR_BADDEVICEID;
    TWaveCaps found;
    const MMRESULT result = driver->GetCaps(dir, device, found);
    if (result != MMSYSERR_NOERROR)
        return result;
    std::memset(caps, 0, sizeof(Caps));
    const std::size_t length = std::min<std::size_t>(found.Name.size(), MAXPNAMELEN - 1);
    std::memcpy(caps->szPname, found.Name.data(), length);
    caps->dwFormats = found.Formats;
    caps->wChannels = found.Channels;
    if constexpr (std::is_same_v<Caps, WAVEOUTCAPSA>)
        caps->dwSupport = found.Support;
    return MMSYSERR_NOERROR;
}

MMRESULT ErrorText(MMRESULT code, char* text, UINT size)
{
    if (text == nullptr || size == 0)
        return MMSYSERR_INVALPARAM;
    const QByteArray utf8 = WaveErrorText(code).toUtf8();
    text[0] = '\0';
    if (utf8.isEmpty())
        return MMSYSERR_BADERRNUM;
    // Cut at a character boundary when the buffer is short.
    std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(utf8.size()), size - 1);
    while (length > 0 && length < static_cast<std::size_t>(utf8.size()) &&
           (static_cast<unsigned char>(utf8[static_cast<qsizetype>(length)]) & 0xC0) == 0x80)
        --length;
    std::memcpy(text, utf8.constData(), length);
    text[length] = '\0';
    return MMSYSERR_NOERROR;
}

MMRESULT ReadControl(HWAVE handle, TWaveControl control, DWORD* value)
{
    if (value == nullptr)
        return MMSYSERR_INVALPARAM;
    return WithDriver([&](TWaveDriver& d) { return d.GetControl(handle, control, *value); });
}

MMRESULT WriteControl(HWAVE handle, TWaveControl control, DWORD value)
{
    return WithDriver([&](TWaveDriver& d) { return d.SetControl(handle, control, value); });
}

constexpr auto In = TWaveDirection::In;
constexpr auto Out = TWaveDirection::Out;

} // namespace

UINT waveInGetNumDevs()
{
    TWaveDriver* driver = InstalledWaveDriver();
    return driver != nullptr ? driver->NumDevs(In) : 0;
}

MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, WAVEINCAPSA* pwic, UINT cbwic)
{
    return DevCaps(In, uDeviceID, pwic, cbwic);
}

MMRESULT waveInGetErrorTextA(MMRESULT mmrError, char* pszText, UINT cchText)
{
    return ErrorText(mmrError, pszText, cchText);
}

MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR /*dwInstance*/, DWORD fdwOpen)
{
    return OpenOrQuery(In, phwi, uDeviceID, pwfx, dwCallback, fdwOpen);
}

MMRESULT waveInClose(HWAVEIN hwi)
{
    return WithDriver([&](TWaveDriver& d) { return d.Close(In, hwi); });
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh)
{
    return PrepareHeader(In, hwi, pwh, cbwh);
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh)
{
    return UnprepareHeader(In, hwi, pwh, cbwh);
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh)
{
    return SubmitHeader(In, hwi, pwh, cbwh);
}

MMRESULT waveInStart(HWAVEIN hwi)
{
    return WithDriver([&](TWaveDriver& d) { return d.Start(In, hwi); });
}

MMRESULT waveInStop(HWAVEIN hwi)
{
    return WithDriver([&](TWaveDriver& d) { return d.Stop(In, hwi); });
}

MMRESULT waveInReset(HWAVEIN hwi)
{
    return WithDriver([&](TWaveDriver& d) { return d.Reset(In, hwi); });
}

MMRESULT waveInGetPosition(HWAVEIN hwi, MMTIME* pmmt, UINT cbmmt)
{
    return ReadPosition(In, hwi, pmmt, cbmmt);
}

UINT waveOutGetNumDevs()
{
    TWaveDriver* driver = InstalledWaveDriver();
    return driver != nullptr ? driver->NumDevs(Out) : 0;
}

MMRESULT waveOutGetDevCapsA(UINT_PTR uDeviceID, WAVEOUTCAPSA* pwoc, UINT cbwoc)
{
    return DevCaps(Out, uDeviceID, pwoc, cbwoc);
}

MMRESULT waveOutGetErrorTextA(MMRESULT mmrError, char* pszText, UINT cchText)
{
    return ErrorText(mmrError, pszText, cchText);
}

MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR /*dwInstance*/, DWORD fdwOpen)
{
    return OpenOrQuery(Out, phwo, uDeviceID, pwfx, dwCallback, fdwOpen);
}

MMRESULT waveOutClose(HWAVEOUT hwo)
{
    return WithDriver([&](TWaveDriver& d) { return d.Close(Out, hwo); });
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
{
    return PrepareHeader(Out, hwo, pwh, cbwh);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
{
    return UnprepareHeader(Out, hwo, pwh, cbwh);
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
{
    return SubmitHeader(Out, hwo, pwh, cbwh);
}

MMRESULT waveOutPause(HWAVEOUT hwo)
{
    return WithDriver([&](TWaveDriver& d) { return d.Stop(Out, hwo); });
}

MMRESULT waveOutRestart(HWAVEOUT hwo)
{
    return WithDriver([&](TWaveDriver& d) { return d.Start(Out, hwo); });
}

MMRESULT waveOutReset(HWAVEOUT hwo)
{
    return WithDriver([&](TWaveDriver& d) { return d.Reset(Out, hwo); });
}

MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* pmmt, UINT cbmmt)
{
    return ReadPosition(Out, hwo, pmmt, cbmmt);
}

MMRESULT waveOutGetVolume(HWAVEOUT hwo, DWORD* pdwVolume)
{
    return ReadControl(hwo, TWaveControl::Volume, pdwVolume);
}

MMRESULT waveOutSetVolume(HWAVEOUT hwo, DWORD dwVolume)
{
    return WriteControl(hwo, TWaveControl::Volume, dwVolume);
}

MMRESULT waveOutGetPitch(HWAVEOUT hwo, DWORD* pdwPitch)
{
    return ReadControl(hwo, TWaveControl::Pitch, pdwPitch);
}

MMRESULT waveOutSetPitch(HWAVEOUT hwo, DWORD dwPitch)
{
    return WriteControl(hwo, TWaveControl::Pitch, dwPitch);
}

MMRESULT waveOutGetPlaybackRate(HWAVEOUT hwo, DWORD* pdwRate)
{
    return ReadControl(hwo, TWaveControl::PlaybackRate, pdwRate);
}

MMRESULT waveOutSetPlaybackRate(HWAVEOUT hwo, DWORD dwRate)
{
    return WriteControl(hwo, TWaveControl::PlaybackRate, dwRate);
}

void waveInAbandon(HWAVEIN hwi)
{
    if (TWaveDriver* driver = InstalledWaveDriver())
        driver->Abandon(In, hwi);
}

MMRESULT waveOutGetLatency(HWAVEOUT hwo, DWORD* pdwMilliseconds)
{
    if (pdwMilliseconds == nullptr)
        return MMSYSERR_INVALPARAM;
    return WithDriver([&](TWaveDriver& d) { return d.GetLatency(hwo, *pdwMilliseconds); });
}

MMRESULT waveOutGetAhead(HWAVEOUT hwo, DWORD* pdwMilliseconds)
{
    if (pdwMilliseconds == nullptr)
        return MMSYSERR_INVALPARAM;
    return WithDriver([&](TWaveDriver& d) { return d.GetAhead(hwo, *pdwMilliseconds); });
}

void waveOutAbandon(HWAVEOUT hwo)
{
    if (TWaveDriver* driver = InstalledWaveDriver())
        driver->Abandon(Out, hwo);
}
