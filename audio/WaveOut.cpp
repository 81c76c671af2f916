#include "WaveOut.h"

#include <QScopeGuard>

#include <algorithm>
#include <cmath>

TWaveAudioOut::TWaveAudioOut(QObject* Owner) : TWaveAudioIO(Owner) {}

TWaveAudioOut::~TWaveAudioOut()
{
    BeginDestroy();
}

DWORD TWaveAudioOut::PercentToVolume(std::uint16_t P)
{
    return static_cast<DWORD>(MulDiv(P, 65535, 100));
}

std::uint16_t TWaveAudioOut::VolumeToPercent(DWORD V)
{
    return static_cast<std::uint16_t>(MulDiv(static_cast<int>(V & 0xFFFF), 100, 65535));
}

DWORD TWaveAudioOut::FloatToFixed(double X)
{
    double whole = 0;
    double fraction = std::modf(X, &whole);
    DWORD bits = 0;
    for (int i = 0; i < 16; ++i) {
        bits *= 2;
        fraction *= 2;
        if (fraction >= 1) {
            bits += 1;
            fraction -= 1;
        }
    }
    const auto high = static_cast<DWORD>(static_cast<long long>(whole) & 0xFFFF);
    return (high << 16) | bits;
}

double TWaveAudioOut::FixedToFloat(DWORD D)
{
    double value = static_cast<std::int16_t>(D >> 16);
    for (int k = 15; k >= 0; --k)
        if (D & (1u << k))
            value += std::ldexp(1.0, k - 16);
    return value;
}

TDeviceSupport TWaveAudioOut::DeviceSupport()
{
    return GetActive() ? FSupport : QuerySupport();
}

TDeviceSupport TWaveAudioOut::QuerySupport()
{
    WAVEOUTCAPSA caps;
    if (QueryCaps(waveOutGetDevCapsA, caps) != MMSYSERR_NOERROR)
        return {};
    return {(caps.dwSupport & WAVECAPS_VOLUME) != 0, (caps.dwSupport & WAVECAPS_PITCH) != 0,
            (caps.dwSupport & WAVECAPS_PLAYBACKRATE) != 0};
}

void TWaveAudioOut::ApplyOptions()
{
    const TDeviceSupport support = DeviceSupport();
    if (FOptions.Contains(woSetVolume) && support.Volume)
        waveOutSetVolume(FDeviceHandle, PercentToVolume(std::min<std::uint16_t>(FVolume, 100)));
    if (FOptions.Contains(woSetPitch) && support.Pitch)
        waveOutSetPitch(FDeviceHandle, FloatToFixed(FPitch));
    if (FOptions.Contains(woSetPlaybackRate) && support.PlaybackRate)
        waveOutSetPlaybackRate(FDeviceHandle, FloatToFixed(FPlaybackRate));
}

std::uint16_t TWaveAudioOut::Volume()
{
    DWORD value = 0;
    if (GetActive() && FSupport.Volume &&
        waveOutGetVolume(FDeviceHandle, &value) == MMSYSERR_NOERROR)
        return VolumeToPercent(value);
    return FVolume;
}

void TWaveAudioOut::SetVolume(std::uint16_t Value)
{
    if (Value == FVolume)
        return;
    FVolume = Value;
    if (GetActive() && FOptions.Contains(woSetVolume) && FSupport.Volume)
        waveOutSetVolume(FDeviceHandle, PercentToVolume(std::min<std::uint16_t>(FVolume, 100)));
}

double TWaveAudioOut::Pitch()
{
    if (!GetActive())
        return FPitch;
    DWORD value = 0;
    if (!FSupport.Pitch)
        return 1.0;
    return waveOutGetPitch(FDeviceHandle, &value) == MMSYSERR_NOERROR ? FixedToFloat(value)
                                                                      : FPitch;
}

void TWaveAudioOut::SetPitch(double Value)
{
    if (Value == FPitch)
        return;
    FPitch = Value;
    if (GetActive() && FOptions.Contains(woSetPitch) && FSupport.Pitch)
        waveOutSetPitch(FDeviceHandle, FloatToFixed(FPitch));
}

double TWaveAudioOut::PlaybackRate()
{
    if (!GetActive())
        return FPlaybackRate;
    DWORD value = 0;
    if (!FSupport.PlaybackRate)
        return 1.0;
    return waveOutGetPlaybackRate(FDeviceHandle, &value) == MMSYSERR_NOERROR ? FixedToFloat(value)
                                                                             : FPlaybackRate;
}

void TWaveAudioOut::SetPlaybackRate(double Value)
{
    if (Value == FPlaybackRate)
        return;
    FPlaybackRate = Value;
    if (GetActive() && FOptions.Contains(woSetPlaybackRate) && FSupport.PlaybackRate)
        waveOutSetPlaybackRate(FDeviceHandle, FloatToFixed(FPlaybackRate));
}

void TWaveAudioOut::SetOptions(TWaveOutOptions Value)
{
    if (Value == FOptions)
        return;
    FOptions = Value;
    if (GetActive())
        ApplyOptions();
}

std::uint32_t TWaveAudioOut::NumDevices()
{
    return waveOutGetNumDevs();
}

QString TWaveAudioOut::DeviceName()
{
    return NameFrom(waveOutGetDevCapsA);
}

TPCMFormats TWaveAudioOut::DeviceFormats()
{
    return FormatsFrom(waveOutGetDevCapsA);
}

std::uint32_t TWaveAudioOut::Position()
{
    return PositionFrom(waveOutGetPosition);
}

QString TWaveAudioOut::ErrorTextOf(MMRESULT Code)
{
    return ErrorTextFrom(waveOutGetErrorTextA, Code);
}

MMRESULT TWaveAudioOut::CheckDevice()
{
    WAVEOUTCAPSA caps;
    return QueryCaps(waveOutGetDevCapsA, caps);
}

bool TWaveAudioOut::QueryFormat(const WAVEFORMATEX* pWaveFormat)
{
    return waveOutOpen(nullptr, static_cast<UINT>(DeviceID), pWaveFormat, 0, 0,
                       WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

bool TWaveAudioOut::OpenDevice()
{
    const auto id = static_cast<UINT>(DeviceID);
    const bool opened = OpenWith(
        [&](const WAVEFORMATEX& f) {
            return waveOutOpen(nullptr, id, &f, 0, 0, WAVE_FORMAT_QUERY);
        },
        [&](const WAVEFORMATEX& f) {
            return waveOutOpen(&FDeviceHandle, id, &f, DeviceWindow(), 0, CALLBACK_WINDOW);
        });
    if (opened)
        FSupport = QuerySupport();
    return opened;
}

void TWaveAudioOut::HandleOutOpen()
{
    // Closed again before the open was handled: touch nothing, the close is under way.
    if (Closing())
        return;
    ApplyOptions();
    if (Paused())
        SetPaused(Succeeded(waveOutPause(FDeviceHandle)));
    FillBufferRing();
    NotifyActivate();
}

void TWaveAudioOut::HandleOutClose()
{
    FDeviceHandle = 0;
    NotifyDeactivate();
}

void TWaveAudioOut::FillBufferRing()
{
    for (unsigned i = RingCount(); i < BufferCount() && GetActive() && !Closing(); ++i)
        PostMessageA(DeviceWindow(), MM_WOM_DONE, 0, 0);
}

bool TWaveAudioOut::WriteHeader(WAVEHDR* Header)
{
    const bool wasPrepared = (Header->dwFlags & WHDR_PREPARED) != 0;
    if (!wasPrepared && !Succeeded(waveOutPrepareHeader(FDeviceHandle, Header, sizeof(WAVEHDR))))
        return false;
    auto unprepare = qScopeGuard([&] {
        if (!wasPrepared)
            waveOutUnprepareHeader(FDeviceHandle, Header, sizeof(WAVEHDR));
    });
    NotifyFilter(Header->lpData, Header->dwBufferLength);
    NotifyLevel(Header->lpData, Header->dwBufferLength);
    // A close asked for by the filter or the level handler: the header is not written.
    if (Closing() || !Succeeded(waveOutWrite(FDeviceHandle, Header, sizeof(WAVEHDR))))
        return false;
    unprepare.dismiss();
    return true;
}

bool TWaveAudioOut::PlayBuffer(void* Buffer, std::uint32_t BufferSize, bool FreeIt, DWORD Loops)
{
    bool takenOver = false;
    return PlayBuffer(Buffer, BufferSize, FreeIt, Loops, takenOver);
}

bool TWaveAudioOut::PlayBuffer(void* Buffer, std::uint32_t BufferSize, bool FreeIt, DWORD Loops,
                               bool& TakenOver)
{
    TakenOver = false;
    if (Buffer == nullptr || BufferSize == 0)
        return false;
    const THeaderInHand inHand(*this);
    WAVEHDR* header = nullptr;
    try {
        if (!ReallocHeader(header, BufferSize, Buffer))
            return false;
        TakenOver = true;
        if (FreeIt)
            header->dwUser = OwnerTag();
        if (Loops != 0) {
            header->dwFlags = WHDR_BEGINLOOP;
            header->dwLoops = Loops;
        }
        if (WriteHeader(header))
            return true;
    } catch (...) {
        // Not taken over when the header could not even be made.
        if (header == nullptr)
            return false;
    }
    ReallocHeader(header, 0, nullptr);
    try {
        CloseWhenEmpty(); // a close asked for while the header was in hand
    } catch (...) {
    }
    return false;
}

std::uint32_t TWaveAudioOut::FillBuffer(void* /*Buffer*/, std::uint32_t /*BufferSize*/,
                                        DWORD& /*Loops*/)
{
    return 0;
}

std::uint32_t TWaveAudioOut::SupplyBuffer(void*& /*Buffer*/, DWORD& /*Loops*/, bool& /*FreeIt*/)
{
    return 0;
}

bool TWaveAudioOut::Refill(WAVEHDR*& Header)
{
    std::uint32_t bytes = 0;
    DWORD loops = 0;
    if (BufferInternally) {
        if (ReallocHeader(Header, BufferBytes(), nullptr)) {
            bytes = FillBuffer(Header->lpData, Header->dwBufferLength, loops);
            if (bytes < Header->dwBufferLength)
                ReallocHeader(Header, bytes, nullptr);
        }
    } else {
        void* block = nullptr;
        bool freeIt = true;
        bytes = SupplyBuffer(block, loops, freeIt);
        if (block == nullptr)
            bytes = 0;
        else if (bytes == 0 && freeIt)
            FreeWaveBlock(block); // handed over, but nothing to play
        ReallocHeader(Header, bytes, bytes != 0 ? block : nullptr);
        if (Header != nullptr && freeIt)
            Header->dwUser = OwnerTag();
    }
    if (bytes == 0)
        SetClosing(true);
    if (Closing() || Header == nullptr)
        return false;
    if (loops != 0) {
        Header->dwFlags = WHDR_BEGINLOOP;
        Header->dwLoops = loops;
    }
    return WriteHeader(Header);
}

void TWaveAudioOut::HandleOutDone(WAVEHDR* Header)
{
    bool written = false;
    WithHeaderInHand(
        [&] {
            if (Header != nullptr)
                Succeeded(waveOutUnprepareHeader(FDeviceHandle, Header, sizeof(WAVEHDR)));
            if (!Closing() && GetActive() && RingCount() <= BufferCount())
                written = Refill(Header);
        },
        [&] {
            if (!written)
                Release(Header);
        });
}

void TWaveAudioOut::Release(WAVEHDR*& Header)
{
    if (Header == nullptr)
        return;
    if (Header->dwFlags & WHDR_PREPARED)
        waveOutUnprepareHeader(FDeviceHandle, Header, sizeof(WAVEHDR));
    ReallocHeader(Header, 0, nullptr);
}

MMRESULT TWaveAudioOut::ResetDevice()
{
    return waveOutReset(FDeviceHandle);
}

MMRESULT TWaveAudioOut::CloseHandle()
{
    return waveOutClose(FDeviceHandle);
}

MMRESULT TWaveAudioOut::StopDevice()
{
    return waveOutPause(FDeviceHandle);
}

MMRESULT TWaveAudioOut::StartDevice()
{
    return waveOutRestart(FDeviceHandle);
}

void TWaveAudioOut::AbandonDevice()
{
    if (FDeviceHandle != 0)
        waveOutAbandon(FDeviceHandle);
    FDeviceHandle = 0;
}
