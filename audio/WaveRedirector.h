#pragma once
// TAudioRedirector: plays what a wave input records straight back through a wave output (the
// microphone echo).
//
// Switching Active on opens AudioIn; once the input reports itself open, the redirector opens
// AudioOut with a byte-for-byte copy of the input's format (PendingFormat) and fires OnActivate.
// Every recorded block is then handed to the output without copying, and the output frees it once
// played. Switching off closes the input, and the input's closing closes the output; OnDeactivate
// fires inside the switch-off, and only when the output had been open.
//
// Device failures go to OnError or, without a handler, are raised with the failing device's text.
// Beyond the classic behaviour: a block that cannot be played is freed, never leaked; a failed
// hand-over to the output is reported (once) and switches the echo off from the message loop, so
// it never falls silent while it looks switched on; after the first report of a run, later
// failures of the same run (a lost sound server fails every call) are not reported again; a
// block that finds the output MaxEchoBacklog blocks behind, beyond what its sink holds anyway, is
// dropped, so that a stall does not leave the echo later for good; and a shorter stall, which made
// the output run dry for a moment and left every later block that much later, is cut from the
// next block once the output has stood that far ahead for a whole second (TrimWindow blocks).

#include "audio/WaveIn.h"
#include "audio/WaveOut.h"

class TAudioRedirector;

class TAudioInput : public TWaveAudioIn
{
    Q_OBJECT
public:
    explicit TAudioInput(TAudioRedirector* Redirector);
    ~TAudioInput() override;
    Q_DISABLE_COPY_MOVE(TAudioInput)

    TAudioRedirector* const Redirector;

protected:
    void GetWaveFormat(PWaveFormatEx& pWaveFormat, bool& FreeIt) override;
    void DataReady(void* Buffer, std::uint32_t BufferSize, bool& FreeIt) override;
};

class TAudioOutput : public TWaveAudioOut
{
    Q_OBJECT
public:
    explicit TAudioOutput(TAudioRedirector* Redirector);
    ~TAudioOutput() override;
    Q_DISABLE_COPY_MOVE(TAudioOutput)

    TAudioRedirector* const Redirector;

protected:
    // A played block is released with its header; nothing is refilled.
    void HandleOutDone(WAVEHDR* Header) override;
    void GetWaveFormat(PWaveFormatEx& pWaveFormat, bool& FreeIt) override;
    void FillBufferRing() override {}
};

class TAudioRedirector : public QObject
{
    Q_OBJECT
public:
    explicit TAudioRedirector(QObject* Owner = nullptr);
    ~TAudioRedirector() override;
    Q_DISABLE_COPY_MOVE(TAudioRedirector)

    TWaveAudioEvent OnActivate;
    TWaveAudioEvent OnDeactivate;
    TWaveAudioEvent OnError;

    TAudioInput* AudioIn() const { return FAudioIn; }
    TAudioOutput* AudioOut() const { return FAudioOut; }

    bool Active() const { return FActive; }
    // On opens the input (the output follows from the message loop); off closes both before it
    // returns. Ends mirroring the input's Active, also when the switch raised.
    void SetActive(bool Value);

    // The input's ring.
    std::uint16_t BufferLength() const { return FAudioIn->BufferLength(); }
    void SetBufferLength(std::uint16_t Value) { FAudioIn->SetBufferLength(Value); }
    std::uint16_t BufferCount() const { return FAudioIn->BufferCount(); }
    void SetBufferCount(std::uint16_t Value) { FAudioIn->SetBufferCount(Value); }

    // The input's error text when its last guarded call failed, else the output's.
    QString LastErrorText();

    // Blocks the output may hold (handed over, not yet played) beyond those its sink holds anyway
    // (its own latency: a Bluetooth speaker holds 150-250 ms) before a newly recorded block is
    // dropped instead of queued behind them: the echo's latency stays within this many blocks.
    static constexpr std::uint16_t MaxEchoBacklog = 2;
    // What the output keeps ahead of its sink when a block comes in, at the least: the lead it
    // starts with, which rides out a block delivered a little late. A lead that stood more than
    // TrimMarginMs above it for TrimWindow blocks in a row is cut back to it.
    static constexpr std::uint32_t EchoLeadMs = 5;
    static constexpr std::uint32_t TrimMarginMs = 5;
    static constexpr std::uint32_t TrimWindow = 20;

    // The format the input is opening with, kept for the output's open; nullptr when none.
    const WAVEFORMATEX* PendingFormat() const { return FPendingFormat.get(); }

private:
    friend class TAudioInput;
    friend class TAudioOutput;

    void AudioInActivated(QObject* Sender);
    void AudioInDeactivated(QObject* Sender);
    void DeviceError(QObject* Sender);
    // A recorded block the output could not play: reported once, then the echo goes off.
    void EchoFailed(bool alreadyReported);
    void ReleasePendingFormat();
    // Input blocks the output's sink holds, wholly or in part; 0 when the driver cannot tell.
    std::uint32_t SinkBlocks() const;
    // Bytes to cut from the start of a block about to be played: what the output has stood ahead
    // of its sink beyond EchoLeadMs for the last TrimWindow blocks; 0 when the driver cannot tell.
    std::uint32_t StandingExcess(std::uint32_t BufferSize);

    bool FActive = false;
    bool FDestroying = false;
    bool FReported = false; // a failure of this run has been reported
    bool FSwitchOffPosted = false;
    std::uint32_t FLeastLeadMs = UINT32_MAX; // the output's least lead in this window
    std::uint32_t FLeadsSeen = 0;
    TWaveFormatPtr FPendingFormat;
    TAudioInput* FAudioIn = nullptr;
    TAudioOutput* FAudioOut = nullptr;
};
