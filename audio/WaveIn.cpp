#include "WaveIn.h"

#include <QScopeGuard>

TWaveAudioIn::TWaveAudioIn(QObject* Owner) : TWaveAudioIO(Owner) {}

TWaveAudioIn::~TWaveAudioIn()
{
    BeginDestroy();
}

void TWaveAudioIn::SetPCMFormat(TPCMFormat Value)
{
    if (Value == FPCMFormat)
        return;
    if (GetActive())
        throw EWaveAudioInvalidOperation(
            QStringLiteral("Audio format cannot be changed while device is open"));
    FPCMFormat = Value;
}

std::uint32_t TWaveAudioIn::NumDevices()
{
    return waveInGetNumDevs();
}

QString TWaveAudioIn::DeviceName()
{
    return NameFrom(waveInGetDevCapsA);
}

TPCMFormats TWaveAudioIn::DeviceFormats()
{
    return FormatsFrom(waveInGetDevCapsA);
}

std::uint32_t TWaveAudioIn::Position()
{
    return PositionFrom(waveInGetPosition);
}

QString TWaveAudioIn::ErrorTextOf(MMRESULT Code)
{
    return ErrorTextFrom(waveInGetErrorTextA, Code);
}

MMRESULT TWaveAudioIn::CheckDevice()
{
    WAVEINCAPSA caps;
    return QueryCaps(waveInGetDevCapsA, caps);
}

bool TWaveAudioIn::QueryFormat(const WAVEFORMATEX* pWaveFormat)
{
    return waveInOpen(nullptr, static_cast<UINT>(DeviceID), pWaveFormat, 0, 0, WAVE_FORMAT_QUERY) ==
           MMSYSERR_NOERROR;
}

void TWaveAudioIn::GetWaveFormat(PWaveFormatEx& pWaveFormat, bool& FreeIt)
{
    if (FPCMFormat != nonePCM) {
        FreeIt = true;
        pWaveFormat = AllocWaveFormat();
        if (pWaveFormat == nullptr) {
            Succeeded(MMSYSERR_NOMEM);
            return;
        }
        PCMFormatToWaveFormat(*pWaveFormat, FPCMFormat);
        return;
    }
    if (OnFormat)
        OnFormat(this, pWaveFormat, FreeIt);
}

bool TWaveAudioIn::OpenDevice()
{
    const auto id = static_cast<UINT>(DeviceID);
    return OpenWith(
        [&](const WAVEFORMATEX& f) { return waveInOpen(nullptr, id, &f, 0, 0, WAVE_FORMAT_QUERY); },
        [&](const WAVEFORMATEX& f) {
            return waveInOpen(&FDeviceHandle, id, &f, DeviceWindow(), 0, CALLBACK_WINDOW);
        });
}

void TWaveAudioIn::HandleInOpen()
{
    // Closed again before the open was handled: touch nothing, the close is under way.
    if (Closing())
        return;
    FillBufferRing();
    if (!Paused())
        SetPaused(!Succeeded(waveInStart(FDeviceHandle)));
    NotifyActivate();
}

void TWaveAudioIn::HandleInClose()
{
    FDeviceHandle = 0;
    NotifyDeactivate();
}

void TWaveAudioIn::FillBufferRing()
{
    WAVEHDR* header = nullptr;
    try {
        for (unsigned i = RingCount(); i < BufferCount() && GetActive() && !Closing(); ++i) {
            if (!ReallocHeader(header, BufferBytes(), nullptr))
                break;
            if (!QueueHeader(header)) {
                ReallocHeader(header, 0, nullptr);
                break;
            }
            header = nullptr;
        }
    } catch (...) {
        ReallocHeader(header, 0, nullptr);
    }
}

bool TWaveAudioIn::QueueHeader(WAVEHDR* Header)
{
    const bool wasPrepared = (Header->dwFlags & WHDR_PREPARED) != 0;
    if (!wasPrepared && !Succeeded(waveInPrepareHeader(FDeviceHandle, Header, sizeof(WAVEHDR))))
        return false;
    auto unprepare = qScopeGuard([&] {
        if (!wasPrepared)
            waveInUnprepareHeader(FDeviceHandle, Header, sizeof(WAVEHDR));
    });
    if (!Succeeded(waveInAddBuffer(FDeviceHandle, Header, sizeof(WAVEHDR))))
        return false;
    unprepare.dismiss();
    return true;
}

void TWaveAudioIn::HandleInData(WAVEHDR* Header)
{
    bool requeued = false;
    bool refused = false; // the device would not take the buffer back
    WithHeaderInHand(
        [&] {
            if (Succeeded(waveInUnprepareHeader(FDeviceHandle, Header, sizeof(WAVEHDR))) &&
                Header->dwBytesRecorded > 0) {
                NotifyLevel(Header->lpData, Header->dwBytesRecorded);
                NotifyFilter(Header->lpData, Header->dwBytesRecorded);
                PassOn(*Header);
            }
            if (!Closing() && GetActive() && RingCount() <= BufferCount() &&
                ReallocHeader(Header, BufferBytes(), nullptr)) {
                refused = true;
                requeued = QueueHeader(Header);
                refused = !requeued;
            }
        },
        [&] {
            // A buffer the device would not take back (a lost server, say) winds the device down
            // as a close does: one report, the buffers still queued come back, the last one
            // closes.
            if (refused && GetActive())
                SetClosing(true);
            if (!requeued && Header != nullptr) {
                if (Header->dwFlags & WHDR_PREPARED)
                    waveInUnprepareHeader(FDeviceHandle, Header, sizeof(WAVEHDR));
                ReallocHeader(Header, 0, nullptr);
            }
        });
}

void TWaveAudioIn::PassOn(WAVEHDR& Header)
{
    // While DataReady runs the header holds no block: whatever DataReady's receiver does with it
    // (plays and frees it, fails, runs a message loop in which this device closes), the header
    // cannot free it a second time. A block DataReady left with the device comes back.
    char* const block = Header.lpData;
    const DWORD length = Header.dwBufferLength;
    const bool owned = Header.dwUser == OwnerTag();
    Header.lpData = nullptr;
    Header.dwBufferLength = 0;
    Header.dwUser = 0;
    bool freeIt = true;
    const auto settle = qScopeGuard([&] {
        if (!freeIt)
            return; // taken over
        Header.lpData = block;
        Header.dwBufferLength = length;
        if (owned)
            Header.dwUser = OwnerTag();
    });
    DataReady(block, Header.dwBytesRecorded, freeIt);
}

bool TWaveAudioIn::BeforeClose()
{
    return Paused() || Succeeded(waveInStop(FDeviceHandle));
}

MMRESULT TWaveAudioIn::ResetDevice()
{
    return waveInReset(FDeviceHandle);
}

MMRESULT TWaveAudioIn::CloseHandle()
{
    return waveInClose(FDeviceHandle);
}

MMRESULT TWaveAudioIn::StopDevice()
{
    return waveInStop(FDeviceHandle);
}

MMRESULT TWaveAudioIn::StartDevice()
{
    return waveInStart(FDeviceHandle);
}

bool TWaveAudioIn::AddExternalBuffer(void* Buffer, std::uint32_t BufferSize, bool FreeIt)
{
    WAVEHDR* header = nullptr;
    try {
        // No header is made for an empty block: the device could do nothing with it.
        if (BufferSize == 0)
            return Succeeded(MMSYSERR_INVALPARAM);
        if (!ReallocHeader(header, BufferSize, Buffer))
            return false;
        if (FreeIt)
            header->dwUser = OwnerTag();
        if (QueueHeader(header))
            return true;
    } catch (...) {
    }
    ReallocHeader(header, 0, nullptr);
    return false;
}

void TWaveAudioIn::DataReady(void* /*Buffer*/, std::uint32_t /*BufferSize*/, bool& /*FreeIt*/) {}

void TWaveAudioIn::AbandonDevice()
{
    if (FDeviceHandle != 0)
        waveInAbandon(FDeviceHandle);
    FDeviceHandle = 0;
}
