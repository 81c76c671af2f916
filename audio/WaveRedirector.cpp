#include "WaveRedirector.h"

#include "core/ErrorReport.h"

#include <QMetaObject>
#include <QScopeGuard>

#include <algorithm>
#include <cstring>

TAudioInput::TAudioInput(TAudioRedirector* Redirector)
    : TWaveAudioIn(Redirector), Redirector(Redirector)
{
}

TAudioInput::~TAudioInput()
{
    BeginDestroy();
}

void TAudioInput::GetWaveFormat(PWaveFormatEx& pWaveFormat, bool& FreeIt)
{
    Redirector->ReleasePendingFormat();
    TWaveAudioIn::GetWaveFormat(pWaveFormat, FreeIt);
    if (pWaveFormat == nullptr)
        return;
    if (FreeIt) {
        // Made for this open: the redirector keeps it for the output.
        FreeIt = false;
        Redirector->FPendingFormat.reset(pWaveFormat);
        return;
    }
    // A handler keeps its record: the output gets a copy. PCM records have no extra bytes,
    // whatever their cbSize says.
    const std::size_t extra = pWaveFormat->wFormatTag == WAVE_FORMAT_PCM ? 0 : pWaveFormat->cbSize;
    TWaveFormatPtr copy(AllocWaveFormat(extra));
    if (copy == nullptr) {
        Succeeded(MMSYSERR_NOMEM);
        return;
    }
    std::memcpy(copy.get(), pWaveFormat, sizeof(WAVEFORMATEX) + extra);
    Redirector->FPendingFormat = std::move(copy);
}

void TAudioInput::DataReady(void* Buffer, std::uint32_t BufferSize, bool& FreeIt)
{
    if (!Redirector->FActive)
        return;
    FreeIt = false;
    TAudioOutput* output = Redirector->FAudioOut;
    if (!output->Active()) {
        // Nothing plays it yet (the output opens a moment after the input): dropped.
        FreeWaveBlock(Buffer);
        return;
    }
    // The echo keeps pace with the microphone: after a stall (a busy machine, a sound server
    // that fell behind) the output would hold the gap for good and every later block would come
    // out that much later. A block that finds the output this far behind is dropped instead.
    if (output->RingCount() >= TAudioRedirector::MaxEchoBacklog &&
        output->RingCount() >= TAudioRedirector::MaxEchoBacklog + Redirector->SinkBlocks()) {
        FreeWaveBlock(Buffer);
        return;
    }
    if (const std::uint32_t cut = Redirector->StandingExcess(BufferSize); cut > 0) {
        if (cut >= BufferSize) {
            FreeWaveBlock(Buffer);
            return;
        }
        BufferSize -= cut;
        std::memmove(Buffer, static_cast<std::uint8_t*>(Buffer) + cut, BufferSize);
    }
    const bool reportedBefore = Redirector->FReported;
    bool takenOver = false;
    const bool played = output->PlayBuffer(Buffer, BufferSize, true, 0, takenOver);
    if (!takenOver)
        FreeWaveBlock(Buffer);
    if (!played)
        Redirector->EchoFailed(reportedBefore);
}

TAudioOutput::TAudioOutput(TAudioRedirector* Redirector)
    : TWaveAudioOut(Redirector), Redirector(Redirector)
{
}

TAudioOutput::~TAudioOutput()
{
    BeginDestroy();
}

void TAudioOutput::GetWaveFormat(PWaveFormatEx& pWaveFormat, bool& FreeIt)
{
    FreeIt = true;
    pWaveFormat = Redirector->FPendingFormat.release();
}

void TAudioOutput::HandleOutDone(WAVEHDR* Header)
{
    WithHeaderInHand(
        [&] {
            if (Header != nullptr)
                Succeeded(waveOutUnprepareHeader(DeviceHandle(), Header, sizeof(WAVEHDR)));
        },
        [&] { Release(Header); });
}

TAudioRedirector::TAudioRedirector(QObject* Owner) : QObject(Owner)
{
    FAudioIn = new TAudioInput(this);
    FAudioIn->setObjectName(QStringLiteral("AudioIn"));
    FAudioIn->SetBufferLength(50);
    FAudioIn->SetBufferCount(5);
    FAudioIn->OnActivate = [this](QObject* Sender) { AudioInActivated(Sender); };
    FAudioIn->OnDeactivate = [this](QObject* Sender) { AudioInDeactivated(Sender); };
    FAudioIn->OnError = [this](QObject* Sender) { DeviceError(Sender); };

    FAudioOut = new TAudioOutput(this);
    FAudioOut->setObjectName(QStringLiteral("AudioOut"));
    FAudioOut->SetBufferCount(0);
    FAudioOut->OnError = [this](QObject* Sender) { DeviceError(Sender); };
}

TAudioRedirector::~TAudioRedirector()
{
    FDestroying = true;
    FAudioIn->MarkDestroying();
    FAudioOut->MarkDestroying();
    try {
        SetActive(false);
    } catch (const std::exception& error) {
        HandleException(this, error);
    }
    // Each device's destructor closes it (the output is still open here) and releases the rest.
    delete FAudioIn;
    FAudioIn = nullptr;
    delete FAudioOut;
    FAudioOut = nullptr;
    ReleasePendingFormat();
}

void TAudioRedirector::SetActive(bool Value)
{
    if (Value == FActive)
        return;
    if (Value) {
        FReported = false;
        FLeastLeadMs = UINT32_MAX;
        FLeadsSeen = 0;
    }
    FActive = Value;
    // A close that goes on after the call (asked for inside one of the input's events) counts as
    // off.
    const auto mirror =
        qScopeGuard([this] { FActive = FAudioIn->Active() && !FAudioIn->Closing(); });
    FAudioIn->SetActive(Value);
}

QString TAudioRedirector::LastErrorText()
{
    if (FAudioIn->LastError() != MMSYSERR_NOERROR)
        return FAudioIn->LastErrorText();
    if (FAudioOut->LastError() != MMSYSERR_NOERROR)
        return FAudioOut->LastErrorText();
    return {};
}

void TAudioRedirector::AudioInActivated(QObject* /*Sender*/)
{
    try {
        FAudioOut->SetActive(true);
    } catch (...) {
        if (!FAudioOut->Active())
            SetActive(false);
        throw;
    }
    if (!FAudioOut->Active()) {
        SetActive(false);
        return;
    }
    if (OnActivate)
        OnActivate(this);
}

void TAudioRedirector::AudioInDeactivated(QObject* /*Sender*/)
{
    const bool wasOpen = FAudioOut->Active() && !FDestroying;
    FAudioOut->SetActive(false);
    FActive = false;
    if (wasOpen && OnDeactivate)
        OnDeactivate(this);
}

void TAudioRedirector::DeviceError(QObject* /*Sender*/)
{
    if (OnError) {
        OnError(this);
        return;
    }
    // One report a run: a lost sound server fails every call that follows the first.
    if (FReported)
        return;
    FReported = true;
    throw EWaveAudioSysError(LastErrorText());
}

void TAudioRedirector::EchoFailed(bool alreadyReported)
{
    // The output's error went through DeviceError, but PlayBuffer keeps exceptions in: say it here.
    if (!alreadyReported && !OnError)
        HandleException(this, FAudioOut->LastErrorText());
    if (FSwitchOffPosted)
        return;
    FSwitchOffPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FSwitchOffPosted = false;
            Guard(this, [this] { SetActive(false); });
        },
        Qt::QueuedConnection);
}

std::uint32_t TAudioRedirector::SinkBlocks() const
{
    DWORD latency = 0;
    if (waveOutGetLatency(FAudioOut->DeviceHandle(), &latency) != MMSYSERR_NOERROR)
        return 0;
    // Blocks the sink holds wholly or in part: a latency of exactly four blocks still has a fifth
    // block partly in it while the oldest is being heard.
    const std::uint32_t block = FAudioIn->BufferLength();
    return latency == 0 ? 0 : latency / block + 1;
}

std::uint32_t TAudioRedirector::StandingExcess(std::uint32_t BufferSize)
{
    DWORD ahead = 0;
    DWORD sink = 0;
    const HWAVE out = FAudioOut->DeviceHandle();
    if (waveOutGetAhead(out, &ahead) != MMSYSERR_NOERROR ||
        waveOutGetLatency(out, &sink) != MMSYSERR_NOERROR)
        return 0;
    FLeastLeadMs = std::min<std::uint32_t>(FLeastLeadMs, ahead > sink ? ahead - sink : 0);
    if (++FLeadsSeen < TrimWindow)
        return 0;
    const std::uint32_t least = FLeastLeadMs;
    FLeastLeadMs = UINT32_MAX;
    FLeadsSeen = 0;
    if (least <= EchoLeadMs + TrimMarginMs)
        return 0;
    const WAVEFORMATEX& format = FAudioOut->WaveFormat();
    const std::uint32_t align = std::max<std::uint32_t>(format.nBlockAlign, 1);
    const std::uint64_t bytes =
        std::uint64_t{least - EchoLeadMs} * format.nAvgBytesPerSec / 1000 / align * align;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, BufferSize));
}

void TAudioRedirector::ReleasePendingFormat()
{
    FPendingFormat.reset();
}
