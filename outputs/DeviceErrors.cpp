#include "DeviceErrors.h"

#include <QFileInfo>

#include <cerrno>

QString DeviceOpenError(const TDeviceWords& words, int errorNumber)
{
    switch (errorNumber) {
    case EACCES:
    case EPERM:
        return QStringLiteral("sin permiso para abrir %1; añada su usuario al grupo %2 y vuelva a "
                              "entrar en la sesión")
            .arg(words.Device, words.Group);
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("%1 no existe; %2").arg(words.Device, words.Absent);
    case EBUSY:
        return QStringLiteral("%1 está ocupado por otro programa; ciérrelo").arg(words.Device);
    default:
        return SystemError(QStringLiteral("abrir ") + words.Device, errorNumber);
    }
}

QString SystemError(const QString& doing, int errorNumber)
{
    QString cause;
    switch (errorNumber) {
    case EIO:
    case ETIMEDOUT:
        cause = QStringLiteral("el dispositivo no responde");
        break;
    case ENOTTY:
    case EINVAL:
        cause = QStringLiteral("el dispositivo no es de ese tipo");
        break;
    case ENODEV:
    case ENXIO:
    case ENOENT:
        cause = QStringLiteral("el dispositivo ya no está");
        break;
    case EBUSY:
    case EAGAIN:
        cause = QStringLiteral("el dispositivo está ocupado");
        break;
    case EACCES:
    case EPERM:
        cause = QStringLiteral("falta el permiso");
        break;
    case EINTR:
        cause = QStringLiteral("la espera se interrumpió");
        break;
    default:
        cause = QStringLiteral("error del sistema número %1").arg(errorNumber);
        break;
    }
    return QStringLiteral("no se pudo %1: %2").arg(doing, cause);
}

QString SystemWords(int errorNumber)
{
    return QStringLiteral("%1 (error %2)").arg(qt_error_string(errorNumber)).arg(errorNumber);
}

QString DevicePath(const QString& device)
{
    const QString path = device.startsWith(u'/') ? device : QStringLiteral("/dev/") + device;
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}
