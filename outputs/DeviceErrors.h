#pragma once
// What a device target (parallel port, GPIO chip, serial device) says when the system will not
// let it open the device: the cause in Spanish, then the remedy a user usually needs. The owner
// puts the target's name in front.

#include <QString>

struct TDeviceWords
{
    QString Device; // "el puerto paralelo": masculine singular, as the sentences agree with it
    QString Group;  // the group whose members may open it: "lp", "gpio", "dialout"
    QString Absent; // what to check when it does not exist
};

// The sentence for the system's error number `errorNumber` from opening or claiming the device.
QString DeviceOpenError(const TDeviceWords& words, int errorNumber);

// A failure without a usual remedy: what was being done and the cause, in Spanish.
QString SystemError(const QString& doing, int errorNumber);

// The system's own words for an error number, for the log: "Input/output error (error 5)".
QString SystemWords(int errorNumber);

// A device file's real path (links followed, a bare name under /dev), for a target's lock.
QString DevicePath(const QString& device);
