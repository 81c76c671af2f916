#pragma once
// TWaveAudioOut: plays to a wave output device.
//
// The device never makes a format or sound of its own: a subclass supplies the format
// (GetWaveFormat) and the data, either through the refill cycle (FillBuffer fills a buffer the
// device owns, or SupplyBuffer hands over a block) or by feeding blocks to PlayBuffer, which
// plays them in place. The ring is built after the open by posting the device one buffer
// request per missing buffer; each played buffer comes back and is refilled. The first empty
// answer of the data source winds playback down: the buffers still queued play out and the
// device closes by itself.
//
// Volume (percent), Pitch and PlaybackRate (factors) reach the device only while it is open,
// their option is in Options and the device offers the control (DeviceSupport). A Volume above
// 100 is kept as written but reaches the device as 100.

#include "audio/WaveIO.h"

struct TDeviceSupport
{
    bool Volume = false;
    bool Pitch = false;
    bool PlaybackRate = false;
};

class TWaveAudioOut : public TWaveAudioIO
{
    Q_OBJECT
public:
    explicit TWaveAudioOut(QObject* Owner = nullptr);
    ~TWaveAudioOut() override;
    Q_DISABLE_COPY_MOVE(TWaveAudioOut)

    // Refill source: true = device-owned buffers filled by FillBuffer; false = SupplyBuffer.
    bool BufferInternally = true;

    HWAVEOUT DeviceHandle() const { return FDeviceHandle; }

    // The device's volume while it is open and offers volume control, else the stored value.
    std::uint16_t Volume();
    void SetVolume(std::uint16_t Value);
    double Pitch();
    void SetPitch(double Value);
    double PlaybackRate();
    void SetPlaybackRate(double Value);
    TWaveOutOptions Options() const { return FOptions; }
    // While open, applies the controls at once.
    void SetOptions(TWaveOutOptions Value);

    // What the device offers; while open, what it offered at the open.
    TDeviceSupport DeviceSupport();
    void ApplyOptions();

    static DWORD PercentToVolume(std::uint16_t P);
    static std::uint16_t VolumeToPercent(DWORD V);
    static DWORD FloatToFixed(double X);
    static double FixedToFloat(DWORD D);

    std::uint32_t NumDevices() override;
    QString DeviceName() override;
    TPCMFormats DeviceFormats() override;
    std::uint32_t Position() override;
    QString ErrorTextOf(MMRESULT Code) override;
    MMRESULT CheckDevice() override;
    bool OpenDevice() override;
    bool QueryFormat(const WAVEFORMATEX* pWaveFormat) override;

    // Prepares (when needed) and writes one header; the filter and the level see its data first.
    virtual bool WriteHeader(WAVEHDR* Header);
    // Plays a caller's block in place; with FreeIt the device frees it after playing. False (and
    // the block not taken over) when it cannot be queued.
    virtual bool PlayBuffer(void* Buffer, std::uint32_t BufferSize, bool FreeIt, DWORD Loops);
    // The same; TakenOver says whether the device took the block (a header was made for it), so
    // that a caller who handed over a block with FreeIt knows whether it is still its own.
    bool PlayBuffer(void* Buffer, std::uint32_t BufferSize, bool FreeIt, DWORD Loops,
                    bool& TakenOver);

protected:
    // Fills a buffer the device owns; returns the bytes filled (0 ends playback).
    virtual std::uint32_t FillBuffer(void* Buffer, std::uint32_t BufferSize, DWORD& Loops);
    // Hands over a block to play; returns its size (0 ends playback). FreeIt: the device frees it.
    virtual std::uint32_t SupplyBuffer(void*& Buffer, DWORD& Loops, bool& FreeIt);

    void HandleOutOpen() override;
    void HandleOutClose() override;
    void HandleOutDone(WAVEHDR* Header) override;
    bool GetActive() override { return FDeviceHandle != 0; }
    void FillBufferRing() override;
    HWAVE Handle() const override { return FDeviceHandle; }
    void AbandonDevice() override;
    MMRESULT ResetDevice() override;
    MMRESULT CloseHandle() override;
    MMRESULT StopDevice() override;
    MMRESULT StartDevice() override;

    // Unprepares (when prepared) and releases a header of the ring.
    void Release(WAVEHDR*& Header);

private:
    // Refills a returned (or new) header from the data source; true when it went back to the
    // device.
    bool Refill(WAVEHDR*& Header);
    TDeviceSupport QuerySupport();

    HWAVEOUT FDeviceHandle = 0;
    // What the device offers, asked once at the open: reading or writing a control while open
    // never waits for a device list.
    TDeviceSupport FSupport;
    std::uint16_t FVolume = 75;
    double FPitch = 1.0;
    double FPlaybackRate = 1.0;
    TWaveOutOptions FOptions;
};
