#pragma once
// What the user asks of the outputs, from the command line or the settings file.
//
//   PROGRAM [--output TARGET]... [--help] [--version]
//
// The settings file (~/.config/PrVardo/PrVardo.conf, or under $XDG_CONFIG_HOME) may list the
// same targets, so that a desktop launcher needs no arguments; targets on the command line win:
//
//   [outputs]
//   output = serial:/dev/ttyUSB0
//   output = mqtt://profe@192.168.1.50/regleta
//   password = ...        the MQTT password, which never goes on the command line
//
// A file that holds a password and that other users may read is refused, as ssh refuses a key
// that others may read.

#include "outputs/Targets.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <vector>

struct TCommandLine
{
    QStringList Outputs; // the --output targets, as written
    QStringList Files;   // arguments that are not options (prvardo-timer's schedule)
    bool Help = false;
    bool Version = false;
    bool DryRun = false; // --dry-run, taken with files only
};

// Parses the arguments after the program's name. False, with a one-line Spanish error that names
// the argument, for an unknown option, a missing value, or a file where none is taken.
bool ParseCommandLine(const QStringList& arguments, bool takesFiles, TCommandLine& line,
                      QString& error);

// The usage text of --help: the options and every form of target.
QString OutputsUsage(const QString& program, const QString& files = {});

// Where the settings file is.
QString OutputSettingsPath();

// The schedule file the settings file names for the timer ([timer] schedule = PATH); empty when
// none.
QString TimerScheduleFromSettings(const QString& settingsPath);

// Writes text to a standard stream in the locale's encoding.
void PrintText(std::FILE* stream, const QString& text);

// What both programs do first with their command line: --help and --version answered on standard
// output, a bad command line or target refused with one line on standard error; the status to end
// with then. Otherwise nothing, with the line and the targets to drive (the command line's or the
// settings file's). `files` is the usage of the file arguments a program takes (none: empty).
std::optional<int> ReadCommandLine(const QString& program, int argc, char** argv,
                                   const QString& files, TCommandLine& line,
                                   std::vector<TTargetSpec>& specs);

// The targets to drive: the command line's if it names any, else the settings file's (none when
// there is no file), each parsed, MQTT targets with the file's password. False with a Spanish
// error for a target that does not parse or a settings file that is refused.
bool OutputTargets(const TCommandLine& line, const QString& settingsPath,
                   std::vector<TTargetSpec>& specs, QString& error);
