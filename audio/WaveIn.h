#pragma once
// TWaveAudioIn: records from a wave input device.
//
// The device opens in the format PCMFormat names (or, with nonePCM, the one OnFormat supplies),
// keeps BufferCount empty buffers of BufferLength milliseconds queued, and for every buffer that
// comes back with data reports its peak level (OnLevel), offers the data to OnFilter and to
// DataReady, and queues the buffer again. Pause before the open opens the device with its
// buffers queued but without recording until Resume.
//
// On a lost sound server a buffer that cannot be queued again starts the close: one error
// report, then the device closes by itself as the remaining buffers come back.

#include "audio/WaveIO.h"

class TWaveAudioIn : public TWaveAudioIO
{
    Q_OBJECT
public:
    explicit TWaveAudioIn(QObject* Owner = nullptr);
    ~TWaveAudioIn() override;
    Q_DISABLE_COPY_MOVE(TWaveAudioIn)

    TWaveAudioGetFormatEvent OnFormat;

    TPCMFormat PCMFormat() const { return FPCMFormat; }
    // Another format while the device is open throws EWaveAudioInvalidOperation.
    void SetPCMFormat(TPCMFormat Value);

    HWAVEIN DeviceHandle() const { return FDeviceHandle; }

    std::uint32_t NumDevices() override;
    QString DeviceName() override;
    TPCMFormats DeviceFormats() override;
    std::uint32_t Position() override;
    QString ErrorTextOf(MMRESULT Code) override;
    MMRESULT CheckDevice() override;
    bool OpenDevice() override;
    bool QueryFormat(const WAVEFORMATEX* pWaveFormat) override;

    // Prepares the header when it is not yet, and adds it to the device.
    virtual bool QueueHeader(WAVEHDR* Header);
    // Queues a caller's block (nullptr: one of the device's own); with FreeIt the device frees
    // the block when it releases the header.
    virtual bool AddExternalBuffer(void* Buffer, std::uint32_t BufferSize, bool FreeIt);

protected:
    // Each recorded block; clearing FreeIt takes the block over (the device then gives the header
    // a fresh block).
    virtual void DataReady(void* Buffer, std::uint32_t BufferSize, bool& FreeIt);

    void HandleInOpen() override;
    void HandleInClose() override;
    void HandleInData(WAVEHDR* Header) override;
    bool GetActive() override { return FDeviceHandle != 0; }
    void GetWaveFormat(PWaveFormatEx& pWaveFormat, bool& FreeIt) override;
    void FillBufferRing() override;
    HWAVE Handle() const override { return FDeviceHandle; }
    void AbandonDevice() override;
    bool BeforeClose() override;
    MMRESULT ResetDevice() override;
    MMRESULT CloseHandle() override;
    MMRESULT StopDevice() override;
    MMRESULT StartDevice() override;

private:
    // Hands the recorded block to DataReady, with the header's claim on it.
    void PassOn(WAVEHDR& Header);

    HWAVEIN FDeviceHandle = 0;
    TPCMFormat FPCMFormat = Mono16bit8000Hz;
};
