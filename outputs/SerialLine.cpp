#include "SerialLine.h"

#include "DeviceErrors.h"

#include <QFile>

#include <cerrno>
#include <unistd.h>

namespace {

const TDeviceWords SerialWords{QStringLiteral("el dispositivo"), QStringLiteral("dialout"),
                               QStringLiteral("compruebe que la placa está conectada")};

// How long Send waits for the bytes to leave for the device before it leaves them to the loop.
constexpr int HandOverMs = 50;

QString OpenError(const QSerialPort& port, const QString& device)
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return DeviceOpenError(SerialWords, ENOENT);
    case QSerialPort::PermissionError: {
        // Qt says "permission" also for a device that another program holds.
        const bool allowed =
            ::access(QFile::encodeName(DevicePath(device)).constData(), R_OK | W_OK) == 0;
        return DeviceOpenError(SerialWords, allowed ? EBUSY : errno);
    }
    default:
        return QStringLiteral("no se pudo abrir el dispositivo; compruebe que es el puerto serie "
                              "de la placa");
    }
}

} // namespace

bool TSerialLine::Open(const QString& device, qint32 baud, QString& error, QString& detail)
{
    Close();
    auto port = std::make_unique<QSerialPort>(device);
    port->setBaudRate(baud);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    // Read too: the board's bytes, and the hang-up of a device that goes away.
    if (!port->open(QIODevice::ReadWrite)) {
        error = OpenError(*port, device);
        detail = port->errorString();
        return false;
    }
    QObject::connect(port.get(), &QSerialPort::errorOccurred, port.get(),
                     [this](QSerialPort::SerialPortError problem) {
                         if (problem == QSerialPort::ResourceError ||
                             problem == QSerialPort::WriteError ||
                             problem == QSerialPort::ReadError)
                             FLost = true;
                     });
    FPort = std::move(port);
    return true;
}

bool TSerialLine::Send(const QByteArray& bytes)
{
    if (!FPort)
        return false;
    if (!FLost && FPort->write(bytes) == bytes.size())
        FPort->waitForBytesWritten(HandOverMs);
    return !FLost;
}

QByteArray TSerialLine::Take(std::chrono::milliseconds wait)
{
    if (!FPort || FLost)
        return {};
    if (FPort->bytesAvailable() == 0 && wait.count() > 0)
        FPort->waitForReadyRead(int(wait.count()));
    return FPort->readAll();
}

QString TSerialLine::LostError()
{
    return QStringLiteral("se perdió el dispositivo; compruebe que la placa está conectada");
}

QString TSerialLine::Detail() const
{
    return FPort ? FPort->errorString() : QString();
}

void TSerialLine::Flush(std::chrono::steady_clock::time_point deadline)
{
    using namespace std::chrono;
    while (FPort && !FLost && FPort->bytesToWrite() > 0) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0 || !FPort->waitForBytesWritten(static_cast<int>(left)))
            break;
    }
}

void TSerialLine::Close()
{
    FPort.reset();
    FLost = false;
}
