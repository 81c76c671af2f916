#include "DeviceErrors.h"

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
    return QStringLiteral("no se pudo %1: %2 (error %3)")
        .arg(doing, qt_error_string(errorNumber))
        .arg(errorNumber);
}
