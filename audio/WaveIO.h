#pragma once
// TWaveAudioIO: what recording and playback devices have in common.
//
// A device owns a hidden notification window (DeviceWindow) that the wave services post to, the
// ring of buffer headers (HeaderList) with their data blocks, the events and one error path:
// every guarded platform call goes through Succeeded(), which keeps the code in LastError and,
// on failure, fires OnError or, when that is unassigned, throws EWaveAudioSysError with the
// platform's text for the code. Calls made in the wrong state throw EWaveAudioInvalidOperation.
//
// States: Closed (no handle) -> Opening (handle set, open notification not yet handled) ->
// running or paused -> Closing (Closing set, close under way) -> Closed. Active is true from the
// successful open until the closed notification has been handled.
//
// Threads: everything here runs on the GUI thread, the handlers included. A driver may have
// threads of its own, which only post notifications to DeviceWindow; they are dispatched on the
// GUI thread, in order, by the message loop or by WaitUntilClosed's loop on this device's window.
//
// Ownership: the device owns its headers (HeaderList) from ReallocHeader until it releases them.
// A queued header is lent to the driver until the driver posts it back; while it is lent, the
// device neither touches nor frees it. Format records go from GetWaveFormat to the open with a
// FreeIt flag; records handed from one owner to another travel as a TWaveFormatPtr.
//
// A header's dwUser says who owns its data block: this device (OwnerTag()) frees it with the
// header; any other value means the block is somebody else's and is never freed here.
//
// A header the driver has given back is in hand while its handler runs (the level, the filter,
// DataReady, a refill): it stays in the ring, and only that handler releases or queues it again.
// A block handed on by DataReady leaves its header before the receiver sees it, so a block has
// one owner at every moment, whatever runs meanwhile (a nested message loop, a close, a failure).
//
// Beyond the classic behaviour: a close asked for while a header is in hand (from one of the
// device's own events, or from a message loop that one of them runs) does not wait: the headers
// still queued are called back, and the handler that gives the last header back issues the
// platform close; Active turns false with the closed notification, as always. A close that the
// platform does not confirm within CloseTimeout gives the device up as closed (handle abandoned,
// buffers freed, OnDeactivate as for a close) and reports WAVERR_CLOSETIMEOUT; notifications of
// another handle, or naming a header the device does not hold, are dropped unread; no exception
// leaves the destructor.

#include "audio/WaveUtils.h"
#include "core/ScopedOverride.h"
#include "sound/DeviceWindow.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class EWaveAudioError : public std::runtime_error
{
public:
    explicit EWaveAudioError(const QString& message);
};

class EWaveAudioSysError : public EWaveAudioError
{
    using EWaveAudioError::EWaveAudioError;
};

class EWaveAudioInvalidOperation : public EWaveAudioError
{
    using EWaveAudioError::EWaveAudioError;
};

using TWaveAudioEvent = std::function<void(QObject* Sender)>;
// The handler returns the format record in pWaveFormat and, through FreeIt, whether the device
// frees it afterwards (with FreeWaveFormat; allocate it with AllocWaveFormat).
using TWaveAudioGetFormatEvent =
    std::function<void(QObject* Sender, PWaveFormatEx& pWaveFormat, bool& FreeIt)>;
using TWaveAudioLevelEvent = std::function<void(QObject* Sender, std::int32_t Level)>;
// The handler may read and change the data in place.
using TWaveAudioFilterEvent =
    std::function<void(QObject* Sender, void* Buffer, std::uint32_t BufferSize)>;

// Format records handed between devices and handlers: 18 zeroed bytes and `extra` more (cbSize),
// or nullptr.
PWaveFormatEx AllocWaveFormat(std::size_t extra = 0) noexcept;
void FreeWaveFormat(PWaveFormatEx format) noexcept;

struct TWaveFormatDeleter
{
    void operator()(PWaveFormatEx format) const noexcept { FreeWaveFormat(format); }
};
// A format record with one owner, freed with FreeWaveFormat.
using TWaveFormatPtr = std::unique_ptr<WAVEFORMATEX, TWaveFormatDeleter>;

// Data blocks a device frees when it owns them (dwUser): allocate and free them with these.
void* AllocWaveBlock(std::size_t size) noexcept;
void* ReallocWaveBlock(void* block, std::size_t size) noexcept;
void FreeWaveBlock(void* block) noexcept;

// How many headers and data blocks of the wave devices are alive.
std::size_t WaveHeadersAlive() noexcept;
std::size_t WaveBlocksAlive() noexcept;

// While it lives, the allocation of headers, blocks and format records fails after `allowed`
// more successful ones.
class TScopedWaveAllocFailure : public TScopedOverride<int>
{
public:
    explicit TScopedWaveAllocFailure(int allowed);
};

class TWaveAudioIO : public QObject
{
    Q_OBJECT
public:
    explicit TWaveAudioIO(QObject* Owner = nullptr);
    ~TWaveAudioIO() override;
    Q_DISABLE_COPY_MOVE(TWaveAudioIO)

    // Written directly; takes effect at the next open. -1 is WAVE_MAPPER.
    std::int32_t DeviceID = -1;

    TWaveAudioEvent OnActivate;
    TWaveAudioEvent OnDeactivate;
    TWaveAudioEvent OnPause;
    TWaveAudioEvent OnResume;
    TWaveAudioEvent OnError;
    TWaveAudioLevelEvent OnLevel;
    TWaveAudioFilterEvent OnFilter;

    // How long a close may take before the device is given up as closed.
    std::chrono::milliseconds CloseTimeout{3000};

    bool Active() { return GetActive(); }
    // Opens (true) or closes (false) the device; nothing when it is already so. Failures surface
    // through the error path.
    void SetActive(bool Value);
    bool Paused() { return GetPaused(); }

    std::uint16_t BufferLength() const { return FBufferLength; }
    // Below 10 ms is raised to 10. While open, tops the ring up (FillBufferRing); queued buffers
    // keep their size.
    void SetBufferLength(std::uint16_t Value);
    std::uint16_t BufferCount() const { return FBufferCount; }
    // While open, tops the ring up; a ring above the new count shrinks as buffers come back.
    void SetBufferCount(std::uint16_t Value);

    MMRESULT LastError() const { return FLastError; }
    QString LastErrorText() { return ErrorTextOf(FLastError); }
    const WAVEFORMATEX& WaveFormat() const { return FWaveFormat; }
    bool Closing() const { return FClosing; }

    std::uint16_t RingCount() const { return static_cast<std::uint16_t>(FHeaderList.size()); }
    const std::vector<WAVEHDR*>& HeaderList() const { return FHeaderList; }
    // Bytes of one buffer: BufferLength of WaveFormat, rounded up to whole frames.
    std::uint32_t BufferBytes() const;
    std::uint32_t MMTimeToMs(const MMTIME& Time) const;

    HWND DeviceWindow() const { return FDeviceWindow->Handle(); }
    // The dwUser value of a header whose block this device owns.
    DWORD_PTR OwnerTag() const { return reinterpret_cast<DWORD_PTR>(this); }

    virtual std::uint32_t NumDevices() = 0;
    virtual QString DeviceName() = 0;
    virtual TPCMFormats DeviceFormats() = 0;
    // Milliseconds recorded or played; 0 when closed.
    virtual std::uint32_t Position() = 0;
    virtual QString ErrorTextOf(MMRESULT Code) = 0;
    virtual MMRESULT CheckDevice() = 0;
    virtual bool OpenDevice() = 0;
    // Starts the close: the platform close when the ring is empty, else a reset that calls the
    // queued headers back (the last one closes). Waits for the closed notification unless a
    // header is in hand; false when a platform call failed.
    virtual bool CloseDevice();
    // Stops (pauses) the device, or, while closed, has the next open leave it stopped; false when
    // it is paused already or the platform refused. OnPause follows.
    virtual bool Pause();
    // Starts the device again; false when it is not paused or the platform refused. OnResume
    // follows.
    virtual bool Resume();
    virtual bool QueryFormat(const WAVEFORMATEX* pWaveFormat) = 0;
    virtual bool QueryPCMFormat(TPCMFormat Format);

    // Stores the code; false and the error path (OnError, else EWaveAudioSysError) unless 0.
    bool Succeeded(MMRESULT Code);
    // Allocates (Header nil), re-sizes or, with Size 0, releases one header of the ring.
    bool ReallocHeader(WAVEHDR*& Header, std::uint32_t Size, void* Data);

protected:
    virtual void HandleDeviceMessage(TMessage& Message);
    virtual void HandleInOpen() {}
    virtual void HandleInClose() {}
    virtual void HandleInData(WAVEHDR* /*Header*/) {}
    virtual void HandleOutOpen() {}
    virtual void HandleOutClose() {}
    virtual void HandleOutDone(WAVEHDR* /*Header*/) {}
    virtual bool GetActive() = 0;
    virtual bool GetPaused() { return FPaused; }
    virtual void GetWaveFormat(PWaveFormatEx& pWaveFormat, bool& FreeIt) = 0;
    virtual void FillBufferRing() = 0;
    // The device handle the notifications must carry.
    virtual HWAVE Handle() const = 0;
    // The platform calls of a close: what comes first (the input stops recording), the reset
    // and the close of the handle.
    virtual bool BeforeClose() { return true; }
    virtual MMRESULT ResetDevice() = 0;
    virtual MMRESULT CloseHandle() = 0;
    // The platform calls of Pause and Resume: waveInStop / waveOutPause, waveInStart /
    // waveOutRestart.
    virtual MMRESULT StopDevice() = 0;
    virtual MMRESULT StartDevice() = 0;
    // Gives the handle up without a close: the driver forgets it, the handle is cleared.
    virtual void AbandonDevice() = 0;

    virtual void NotifyActivate();
    virtual void NotifyDeactivate();
    virtual void NotifyPause();
    virtual void NotifyResume();
    virtual void NotifyError();
    virtual void NotifyLevel(const void* Buffer, std::uint32_t BufferSize);
    virtual void NotifyFilter(void* Buffer, std::uint32_t BufferSize);

    // Dispatches the device window's own messages until the device is closed or CloseTimeout
    // has passed; then gives the device up (see above).
    void WaitUntilClosed();
    // Copies the first 16 bytes of a format (cbSize stays 0).
    void StoreWaveFormat(const WAVEFORMATEX& Format);
    // The open both devices share: the format from GetWaveFormat, the query, the open.
    bool OpenWith(const std::function<MMRESULT(const WAVEFORMATEX&)>& Query,
                  const std::function<MMRESULT(const WAVEFORMATEX&)>& Open);

    // The first step of destruction in every class of the family: flags the device as being
    // destroyed and closes it; a failure goes to the application's error report after the
    // device has been released. Safe to call more than once.
    void BeginDestroy() noexcept;

public:
    // Flags the device as being destroyed, as its owner does first thing in its own destruction:
    // OnDeactivate, OnLevel and OnFilter fall silent.
    void MarkDestroying() { FDestroying = true; }

protected:
    void SetClosing(bool Value) { FClosing = Value; }
    void SetPaused(bool Value) { FPaused = Value; }

    // Marks a header as in hand for as long as it lives (see above).
    class THeaderInHand
    {
    public:
        explicit THeaderInHand(TWaveAudioIO& device) : FDevice(device) { ++FDevice.FInHand; }
        ~THeaderInHand() { --FDevice.FInHand; }
        Q_DISABLE_COPY_MOVE(THeaderInHand)

    private:
        TWaveAudioIO& FDevice;
    };
    // Issues the platform close, once per open, when the device is closing and its ring is empty.
    void CloseWhenEmpty();
    // The frame of a handler of a header the driver gave back: runs Work with the header in hand,
    // then, even when Work raised, GiveBack (which releases the header unless Work queued it
    // again) and a close that waited for the header; then raises what Work raised.
    template <class Work, class GiveBack> void WithHeaderInHand(Work&& work, GiveBack&& giveBack)
    {
        const THeaderInHand inHand(*this);
        std::exception_ptr failure;
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        giveBack();
        CloseWhenEmpty();
        if (failure)
            std::rethrow_exception(failure);
    }

    // The queries both devices make, through their direction's function. A failed query gives
    // the empty set, the empty text or 0, without an error event.
    template <class Caps> using TGetCaps = MMRESULT (*)(UINT_PTR, Caps*, UINT);
    template <class Caps> MMRESULT QueryCaps(TGetCaps<Caps> getCaps, Caps& caps) const
    {
        caps = Caps{};
        return getCaps(static_cast<UINT>(DeviceID), &caps, sizeof caps);
    }
    template <class Caps> QString NameFrom(TGetCaps<Caps> getCaps) const
    {
        Caps caps;
        return QueryCaps(getCaps, caps) == MMSYSERR_NOERROR ? ProductName(caps.szPname) : QString();
    }
    // The four 8000 Hz formats always, and one for each of the twelve standard-format bits,
    // 11025 Hz mono 8-bit first.
    template <class Caps> TPCMFormats FormatsFrom(TGetCaps<Caps> getCaps) const
    {
        Caps caps;
        return QueryCaps(getCaps, caps) == MMSYSERR_NOERROR ? FormatsOf(caps.dwFormats)
                                                            : TPCMFormats();
    }
    std::uint32_t PositionFrom(MMRESULT (*getPosition)(HWAVE, MMTIME*, UINT));
    static QString ErrorTextFrom(MMRESULT (*getText)(MMRESULT, char*, UINT), MMRESULT Code);
    static TPCMFormats FormatsOf(DWORD dwFormats);
    static QString ProductName(const char (&szPname)[MAXPNAMELEN]);

    // Frees every header of the ring (and the blocks the device owns) without platform calls.
    void ReleaseAllHeaders() noexcept;

private:
    void GiveUpClose();

    std::uint16_t FBufferLength = 1000;
    std::uint16_t FBufferCount = 2;
    MMRESULT FLastError = MMSYSERR_NOERROR;
    bool FClosing = false;
    bool FPaused = false;
    bool FDestroying = false;
    bool FReleased = false;
    bool FCloseIssued = false;
    unsigned FInHand = 0;
    WAVEFORMATEX FWaveFormat{};
    std::vector<WAVEHDR*> FHeaderList;
    std::unique_ptr<TDeviceWindow> FDeviceWindow;
};
