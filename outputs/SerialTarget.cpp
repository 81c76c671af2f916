// The serial target: a relay board on a serial device (an Arduino with a relay shield on USB),
// 8N1 at the baud the user names, one byte per change, the word itself (0 to 63).
//
// The port lives on the thread that opens it (the outputs' worker, which runs a Qt event loop):
// QSerialPort writes what Write leaves in its buffer and reports errors from that loop. A board
// that starts again (an Arduino resets when its port is opened) cannot know the word: any byte it
// sends asks for the word again. A lost device (unplugged) shows as a resource error; Service
// notices it even when nothing is being written.
//
// While the port is open the word is sent again every second, also when it did not change: the
// board's sketch switches every relay off when no byte came for three seconds, so a board whose
// program died, froze or lost its cable does not keep an output on.

#include "DeviceErrors.h"
#include "Targets.h"

#include <QFile>
#include <QSerialPort>

#include <cerrno>
#include <chrono>
#include <memory>
#include <unistd.h>

namespace {

const TDeviceWords SerialWords{QStringLiteral("el dispositivo"), QStringLiteral("dialout"),
                               QStringLiteral("compruebe que la placa está conectada")};

// How long Write waits for the byte to leave for the device before it leaves it to the loop.
constexpr int HandOverMs = 50;
// The word again after this long without a byte, and how often that is looked at.
constexpr std::chrono::milliseconds HeartbeatEvery{1000};
constexpr std::chrono::milliseconds HeartbeatCheck{250};

class TSerialTarget final : public TOutputTarget
{
public:
    TSerialTarget(const QString& name, const TSerialAddress& address)
        : TOutputTarget(name), FDevice(address.Device), FBaud(address.Baud)
    {
    }
    ~TSerialTarget() override { Close(); }
    TSerialTarget(const TSerialTarget&) = delete;
    TSerialTarget& operator=(const TSerialTarget&) = delete;

    bool Open() override
    {
        Close();
        auto port = std::make_unique<QSerialPort>(FDevice);
        port->setBaudRate(FBaud);
        port->setDataBits(QSerialPort::Data8);
        port->setParity(QSerialPort::NoParity);
        port->setStopBits(QSerialPort::OneStop);
        port->setFlowControl(QSerialPort::NoFlowControl);
        // Read too: the board's bytes, and the hang-up of a device that goes away.
        if (!port->open(QIODevice::ReadWrite))
            return Fail(OpenError(*port), port->errorString());
        QObject::connect(port.get(), &QSerialPort::errorOccurred, port.get(),
                         [this](QSerialPort::SerialPortError error) {
                             if (error == QSerialPort::ResourceError ||
                                 error == QSerialPort::WriteError ||
                                 error == QSerialPort::ReadError)
                                 FLost = true;
                         });
        FPort = std::move(port);
        return true;
    }

    bool Write(std::uint8_t word, int /*previous*/) override
    {
        if (!FPort)
            return Fail(QStringLiteral("el dispositivo no está abierto"));
        const char byte = static_cast<char>(word);
        if (!FLost && FPort->write(&byte, 1) == 1)
            FPort->waitForBytesWritten(HandOverMs);
        if (FLost)
            return Fail(LostError(), FPort->errorString());
        FWord = word;
        FWritten = std::chrono::steady_clock::now();
        return true;
    }

    bool Service() override
    {
        if (!FPort)
            return Fail(QStringLiteral("el dispositivo no está abierto"));
        if (FLost)
            return Fail(LostError(), FPort->errorString());
        bool again = std::chrono::steady_clock::now() - FWritten >= HeartbeatEvery;
        if (FPort->bytesAvailable() > 0) {
            FPort->readAll();
            again = true;
        }
        if (again && FWord >= 0)
            return Write(static_cast<std::uint8_t>(FWord), FWord);
        return true;
    }

    std::chrono::milliseconds ServiceWithin() const override { return HeartbeatCheck; }

    void Flush(std::chrono::steady_clock::time_point deadline) override
    {
        using namespace std::chrono;
        while (FPort && !FLost && FPort->bytesToWrite() > 0) {
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            if (left <= 0 || !FPort->waitForBytesWritten(static_cast<int>(left)))
                break;
        }
    }

    QString LockKey() const override { return QStringLiteral("serial:") + DevicePath(FDevice); }

    void Close() override
    {
        FPort.reset();
        FLost = false;
        FWord = -1;
    }

private:
    QString OpenError(const QSerialPort& port) const
    {
        switch (port.error()) {
        case QSerialPort::DeviceNotFoundError:
            return DeviceOpenError(SerialWords, ENOENT);
        case QSerialPort::PermissionError: {
            // Qt says "permission" also for a device that another program holds.
            const bool allowed =
                ::access(QFile::encodeName(DevicePath(FDevice)).constData(), R_OK | W_OK) == 0;
            return DeviceOpenError(SerialWords, allowed ? EBUSY : errno);
        }
        default:
            return QStringLiteral("no se pudo abrir el dispositivo; compruebe que es el puerto "
                                  "serie de la placa");
        }
    }

    static QString LostError()
    {
        return QStringLiteral("se perdió el dispositivo; compruebe que la placa está conectada");
    }

    QString FDevice;
    qint32 FBaud;
    std::unique_ptr<QSerialPort> FPort;
    bool FLost = false;
    int FWord = -1; // the last word written, for a board that asks again and for the heartbeat
    std::chrono::steady_clock::time_point FWritten;
};

} // namespace

std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TSerialAddress& address)
{
    return std::make_unique<TSerialTarget>(name, address);
}
