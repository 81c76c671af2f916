#pragma once
// The settings file both programs read at start (~/.config/PrVardo/PrVardo.conf, or under
// $XDG_CONFIG_HOME): "key = value" lines under [sections]; '#' and ';' start comments.
//
//   [outputs]
//   output = serial:/dev/ttyUSB0        a target, one per line
//   output = mqtt://profe@192.168.1.50/regleta
//   password = ...                      the MQTT password, never on the command line
//   cafile = /home/profe/ca.crt         the authority that signs an mqtts:// server's certificate
//   watchdog = 10                       seconds the guard waits for a beat before all off
//   pulsetime = 30                      seconds a plug stays on unless told ON again
//   heartbeat = D7                      a line that turns while the outputs are driven
//   [timer]
//   schedule = /home/profe/aula.tem     prvardo-timer's schedule (its other keys: timer/)
//
// A file that holds a password and that other users may read is refused, as ssh refuses a key
// that others may read.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <utility>
#include <vector>

struct TSettings
{
    QStringList Outputs;
    QString Password;
    QString CaFile;
    QString TimerSchedule;
    int Watchdog = -1;     // [outputs] watchdog, seconds; -1: the program's own default
    int PulseTime = 0;     // [outputs] pulsetime, seconds after which a plug switches off by itself
    int HeartbeatBit = -1; // [outputs] heartbeat = D6 or D7: that data line of a parallel port
    int HeartbeatLine = -1; // [outputs] heartbeat = a GPIO line's number
    // Every key in order, "[section]key", as written.
    std::vector<std::pair<QString, QString>> Written;
    QByteArray Text; // the file as it was read, for the guard

    // The keys of a section ("[timer]") and their values, in order, as written.
    std::vector<std::pair<QString, QString>> Section(const QString& section) const;
    // The values written for "[section]key", in order.
    QStringList Values(const QString& key) const;
};

// The keys of [outputs] the settings take (the targets and how they are kept).
QStringList OutputsKeys();

// A settings file is a few lines: one of more than 256 KiB is none, and is not read.
constexpr std::size_t SettingsFileLimit = std::size_t{256} * 1024;

// Where the settings file is.
QString SettingsPath();

// Reads the settings file; a missing file gives empty settings. False, with a Spanish error, for
// a file that cannot be read (not a regular file, or longer than SettingsFileLimit) or that holds
// a password others may read or replace.
bool ReadSettings(const QString& path, TSettings& settings, QString& error);
// The settings in `text`, as read from the file `path` (named in an error) already.
bool ParseSettings(const QByteArray& text, const QString& path, TSettings& settings,
                   QString& error);
