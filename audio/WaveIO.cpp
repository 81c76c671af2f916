#include "WaveIO.h"

#include "core/ErrorReport.h"

#include <QScopeGuard>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<std::size_t> HeadersAlive{0};
std::atomic<std::size_t> BlocksAlive{0};
int AllocationsAllowed = -1; // -1: no limit

bool MayAllocate()
{
    if (AllocationsAllowed < 0)
        return true;
    if (AllocationsAllowed == 0)
        return false;
    --AllocationsAllowed;
    return true;
}

WAVEHDR* NewHeader()
{
    if (!MayAllocate())
        return nullptr;
    auto* header = new (std::nothrow) WAVEHDR{};
    if (header != nullptr)
        ++HeadersAlive;
    return header;
}

void DeleteHeader(WAVEHDR* header)
{
    if (header == nullptr)
        return;
    delete header;
    --HeadersAlive;
}

} // namespace

EWaveAudioError::EWaveAudioError(const QString& message) : std::runtime_error(message.toStdString())
{
}

PWaveFormatEx AllocWaveFormat(std::size_t extra) noexcept
{
    if (!MayAllocate())
        return nullptr;
    return static_cast<PWaveFormatEx>(std::calloc(1, sizeof(WAVEFORMATEX) + extra));
}

void FreeWaveFormat(PWaveFormatEx format) noexcept
{
    std::free(format);
}

void* AllocWaveBlock(std::size_t size) noexcept
{
    return ReallocWaveBlock(nullptr, size);
}

void* ReallocWaveBlock(void* block, std::size_t size) noexcept
{
    if (size == 0 || !MayAllocate())
        return nullptr;
    void* result = std::realloc(block, size);
    if (result != nullptr && block == nullptr)
        ++BlocksAlive;
    return result;
}

void FreeWaveBlock(void* block) noexcept
{
    if (block == nullptr)
        return;
    std::free(block);
    --BlocksAlive;
}

std::size_t WaveHeadersAlive() noexcept
{
    return HeadersAlive;
}

std::size_t WaveBlocksAlive() noexcept
{
    return BlocksAlive;
}

TScopedWaveAllocFailure::TScopedWaveAllocFailure(int allowed)
    : TScopedOverride<int>(AllocationsAllowed, allowed)
{
}

TWaveAudioIO::TWaveAudioIO(QObject* Owner)
    : QObject(Owner), FDeviceWindow(std::make_unique<TDeviceWindow>(
                          [this](TMessage& message) { HandleDeviceMessage(message); }))
{
}

TWaveAudioIO::~TWaveAudioIO()
{
    // The classes of the family have closed the device in their own destructors already; this
    // only frees what a failed release may have left.
    ReleaseAllHeaders();
}

void TWaveAudioIO::BeginDestroy() noexcept
{
    if (FReleased)
        return;
    FReleased = true;
    FDestroying = true;
    try {
        SetActive(false);
    } catch (const std::exception& error) {
        if (GetActive())
            AbandonDevice();
        ReleaseAllHeaders();
        HandleException(this, error);
        return;
    }
    if (GetActive()) {
        // The close was refused (through OnError): release the device all the same.
        AbandonDevice();
        ReleaseAllHeaders();
    }
}

void TWaveAudioIO::SetActive(bool Value)
{
    if (Value == GetActive())
        return;
    if (Value)
        OpenDevice();
    else
        CloseDevice();
}

void TWaveAudioIO::SetBufferLength(std::uint16_t Value)
{
    Value = std::max<std::uint16_t>(Value, 10);
    if (Value == FBufferLength)
        return;
    FBufferLength = Value;
    if (GetActive())
        FillBufferRing();
}

void TWaveAudioIO::SetBufferCount(std::uint16_t Value)
{
    if (Value == FBufferCount)
        return;
    FBufferCount = Value;
    if (GetActive())
        FillBufferRing();
}

std::uint32_t TWaveAudioIO::BufferBytes() const
{
    const int bytes = MulDiv(FBufferLength, static_cast<int>(FWaveFormat.nAvgBytesPerSec), 1000);
    auto n = static_cast<std::uint32_t>(std::max(bytes, 0));
    const std::uint32_t align = FWaveFormat.nBlockAlign;
    if (align != 0 && n % align != 0)
        n += align - n % align;
    return n;
}

std::uint32_t TWaveAudioIO::MMTimeToMs(const MMTIME& Time) const
{
    switch (Time.wType) {
    case TIME_MS:
        return Time.u.ms;
    case TIME_SAMPLES:
        return FWaveFormat.nSamplesPerSec == 0 ? 0
                                               : static_cast<std::uint32_t>(MulDiv(
                                                     1000, static_cast<int>(Time.u.sample),
                                                     static_cast<int>(FWaveFormat.nSamplesPerSec)));
    case TIME_BYTES:
        return FWaveFormat.nAvgBytesPerSec == 0
                   ? 0
                   : static_cast<std::uint32_t>(
                         MulDiv(1000, static_cast<int>(Time.u.cb),
                                static_cast<int>(FWaveFormat.nAvgBytesPerSec)));
    case TIME_SMPTE:
        return (Time.u.smpte.hour * 3600u + Time.u.smpte.min * 60u + Time.u.smpte.sec) * 1000u;
    default:
        return 0;
    }
}

bool TWaveAudioIO::QueryPCMFormat(TPCMFormat Format)
{
    // No format is built for nonePCM: there is nothing to ask the device about.
    if (Format == nonePCM)
        return false;
    WAVEFORMATEX format{};
    PCMFormatToWaveFormat(format, Format);
    return QueryFormat(&format);
}

bool TWaveAudioIO::Succeeded(MMRESULT Code)
{
    FLastError = Code;
    if (Code == MMSYSERR_NOERROR)
        return true;
    NotifyError();
    return false;
}

bool TWaveAudioIO::ReallocHeader(WAVEHDR*& Header, std::uint32_t Size, void* Data)
{
    if (Size == 0) {
        if (Header == nullptr)
            return true;
        std::erase(FHeaderList, Header);
        if (Header->dwUser == OwnerTag())
            FreeWaveBlock(Header->lpData);
        DeleteHeader(Header);
        Header = nullptr;
        return true;
    }
    const bool ownData = Data == nullptr;
    if (Header == nullptr) {
        Header = NewHeader();
        if (Header == nullptr) {
            Succeeded(MMSYSERR_NOMEM); // runs the error path
            return false;
        }
        FHeaderList.push_back(Header);
    }
    if (Header->dwUser != OwnerTag()) {
        Header->lpData = nullptr;
        Header->dwBufferLength = 0;
    }
    char* block = Header->lpData;
    if (ownData) {
        if (Header->dwBufferLength != Size || block == nullptr) {
            // The old block stays the header's until the new one exists.
            void* resized = ReallocWaveBlock(block, Size);
            if (resized == nullptr) {
                ReallocHeader(Header, 0, nullptr);
                Succeeded(MMSYSERR_NOMEM);
                return false;
            }
            block = static_cast<char*>(resized);
        }
    } else {
        if (Header->dwUser == OwnerTag())
            FreeWaveBlock(Header->lpData);
        block = static_cast<char*>(Data);
    }
    *Header = WAVEHDR{};
    if (ownData)
        Header->dwUser = OwnerTag();
    Header->lpData = block;
    Header->dwBufferLength = Size;
    return true;
}

void TWaveAudioIO::HandleDeviceMessage(TMessage& Message)
{
    try {
        const bool ours = Message.WParam == Handle() && Handle() != 0;
        // The header is taken from the ring, never from the message: one the device does not
        // hold (freed, or another device's) is never touched.
        WAVEHDR* header = nullptr;
        for (WAVEHDR* h : FHeaderList)
            if (reinterpret_cast<LPARAM>(h) == Message.LParam)
                header = h;
        const bool held = header != nullptr;
        switch (Message.Msg) {
        case MM_WOM_OPEN:
            if (ours)
                HandleOutOpen();
            break;
        case MM_WOM_CLOSE:
            if (ours)
                HandleOutClose();
            break;
        case MM_WOM_DONE:
            // wParam and lParam 0: the device's own request for one more buffer.
            if (ours && held)
                HandleOutDone(header);
            else if (Message.WParam == 0 && Message.LParam == 0)
                HandleOutDone(nullptr);
            break;
        case MM_WIM_OPEN:
            if (ours)
                HandleInOpen();
            break;
        case MM_WIM_CLOSE:
            if (ours)
                HandleInClose();
            break;
        case MM_WIM_DATA:
            if (ours && held)
                HandleInData(header);
            break;
        default:
            Message.Result =
                DefWindowProcA(Message.Window, Message.Msg, Message.WParam, Message.LParam);
        }
    } catch (const std::exception& error) {
        HandleException(this, error);
    } catch (...) {
        HandleException(this, QStringLiteral("Error desconocido"));
    }
}

void TWaveAudioIO::NotifyActivate()
{
    if (OnActivate)
        OnActivate(this);
}

void TWaveAudioIO::NotifyDeactivate()
{
    NotifyLevel(nullptr, 0);
    FClosing = false;
    if (OnDeactivate && !FDestroying)
        OnDeactivate(this);
}

void TWaveAudioIO::NotifyPause()
{
    if (OnPause)
        OnPause(this);
}

void TWaveAudioIO::NotifyResume()
{
    if (OnResume)
        OnResume(this);
}

void TWaveAudioIO::NotifyError()
{
    if (OnError) {
        OnError(this);
        return;
    }
    throw EWaveAudioSysError(LastErrorText());
}

void TWaveAudioIO::NotifyLevel(const void* Buffer, std::uint32_t BufferSize)
{
    if (!OnLevel || FDestroying || FWaveFormat.wFormatTag != WAVE_FORMAT_PCM)
        return;
    OnLevel(this, PeakLevel(Buffer, BufferSize, FWaveFormat.wBitsPerSample));
}

void TWaveAudioIO::NotifyFilter(void* Buffer, std::uint32_t BufferSize)
{
    if (OnFilter && !FDestroying)
        OnFilter(this, Buffer, BufferSize);
}

bool TWaveAudioIO::CloseDevice()
{
    if (FClosing)
        return false;
    if (!GetActive())
        throw EWaveAudioInvalidOperation(QStringLiteral("Device is aleardy close"));
    FClosing = true;
    bool goesOn = false; // the close completes after this call, when the headers in hand are back
    const auto clear = qScopeGuard([&] {
        if (!goesOn)
            FClosing = false;
    });
    if (!BeforeClose())
        return false;
    if (RingCount() == 0) {
        if (!Succeeded(CloseHandle()))
            return false;
        FCloseIssued = true;
    } else if (RingCount() > FInHand && !Succeeded(ResetDevice())) {
        return false;
    }
    if (FInHand > 0) {
        goesOn = true;
        return true;
    }
    WaitUntilClosed();
    return true;
}

bool TWaveAudioIO::Pause()
{
    if (FPaused)
        return false;
    if (GetActive() && !Succeeded(StopDevice()))
        return false;
    FPaused = true;
    NotifyPause();
    return true;
}

bool TWaveAudioIO::Resume()
{
    if (!FPaused)
        return false;
    if (GetActive() && !Succeeded(StartDevice()))
        return false;
    FPaused = false;
    NotifyResume();
    return true;
}

void TWaveAudioIO::CloseWhenEmpty()
{
    if (!FClosing || RingCount() != 0 || !GetActive() || FCloseIssued)
        return;
    FCloseIssued = Succeeded(CloseHandle());
}

void TWaveAudioIO::WaitUntilClosed()
{
    const auto deadline = std::chrono::steady_clock::now() + CloseTimeout;
    TMessage message;
    while (GetActive()) {
        if (!GetMessageFor(DeviceWindow(), message, deadline)) {
            GiveUpClose();
            return;
        }
        DispatchMessageA(message);
    }
}

void TWaveAudioIO::GiveUpClose()
{
    AbandonDevice();
    ReleaseAllHeaders();
    NotifyDeactivate();
    Succeeded(WAVERR_CLOSETIMEOUT);
}

std::uint32_t TWaveAudioIO::PositionFrom(MMRESULT (*getPosition)(HWAVE, MMTIME*, UINT))
{
    if (!GetActive())
        return 0;
    MMTIME time{};
    time.wType = TIME_MS;
    if (getPosition(Handle(), &time, sizeof time) != MMSYSERR_NOERROR)
        return 0;
    return MMTimeToMs(time);
}

QString TWaveAudioIO::ErrorTextFrom(MMRESULT (*getText)(MMRESULT, char*, UINT), MMRESULT Code)
{
    char text[256];
    if (getText(Code, text, sizeof text) != MMSYSERR_NOERROR)
        return {};
    return QString::fromUtf8(text);
}

TPCMFormats TWaveAudioIO::FormatsOf(DWORD dwFormats)
{
    TPCMFormats formats{Mono8Bit8000Hz, Stereo8bit8000Hz, Mono16bit8000Hz, Stereo16bit8000Hz};
    for (unsigned k = 0; k < 12; ++k)
        if (dwFormats & (1u << k))
            formats.Include(static_cast<TPCMFormat>(Mono8bit11025Hz + k));
    return formats;
}

QString TWaveAudioIO::ProductName(const char (&szPname)[MAXPNAMELEN])
{
    return QString::fromUtf8(szPname, static_cast<qsizetype>(strnlen(szPname, MAXPNAMELEN)));
}

void TWaveAudioIO::ReleaseAllHeaders() noexcept
{
    while (!FHeaderList.empty()) {
        WAVEHDR* header = FHeaderList.back();
        FHeaderList.pop_back();
        if (header->dwUser == OwnerTag())
            FreeWaveBlock(header->lpData);
        DeleteHeader(header);
    }
}

void TWaveAudioIO::StoreWaveFormat(const WAVEFORMATEX& Format)
{
    std::memcpy(&FWaveFormat, &Format, 16);
}

bool TWaveAudioIO::OpenWith(const std::function<MMRESULT(const WAVEFORMATEX&)>& Query,
                            const std::function<MMRESULT(const WAVEFORMATEX&)>& Open)
{
    if (GetActive()) {
        if (FClosing)
            return false;
        throw EWaveAudioInvalidOperation(QStringLiteral("Device is aleardy open"));
    }
    PWaveFormatEx format = nullptr;
    bool freeIt = true;
    const auto release = qScopeGuard([&] {
        if (freeIt)
            FreeWaveFormat(format);
    });
    GetWaveFormat(format, freeIt);
    // Without a format there is nothing to open: a clean failure through the error path.
    if (format == nullptr)
        return Succeeded(WAVERR_BADFORMAT);
    if (!Succeeded(Query(*format)))
        return false;
    StoreWaveFormat(*format);
    const MMRESULT opened = Open(*format);
    if (opened == MMSYSERR_NOERROR)
        FCloseIssued = false; // a new handle, whose close is still to come
    return Succeeded(opened);
}
