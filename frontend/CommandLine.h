#pragma once
// What the user asks of either program at start, from its command line and the settings file.
//
//   PROGRAM [FILES] [--output TARGET]... [--help] [--version]
//
// Targets on the command line win over the settings file's, so that a desktop launcher or the
// timer's service needs no arguments.

#include "frontend/Settings.h"
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
    // prvardo-timer's own: --days N (with --dry-run; 0: not given), --set OUTPUT=STATE (may be
    // repeated) with --until TIME, --status. Checked by the program.
    int Days = 0;
    QStringList Set;
    QString Until;
    bool Status = false;
};

// A program as its command line takes it: its name, the file arguments it takes as --help shows
// them (none: empty), and whether it is the timer, whose own options the window does not take.
// Which option each program takes, how it is read and what --help says of it is one table.
struct TProgramForm
{
    QString Name;
    QString Files;
    bool Timer = false;
};

// Parses the arguments after the program's name. False, with a one-line Spanish error that names
// the argument, for an unknown option, a missing value, or a file where none is taken.
bool ParseCommandLine(const QStringList& arguments, const TProgramForm& program, TCommandLine& line,
                      QString& error);

// The usage text of --help: the options and every form of target.
QString Usage(const TProgramForm& program);

// Writes text to a standard stream in the locale's encoding.
void PrintText(std::FILE* stream, const QString& text);

// The targets to drive: the command line's if it names any, else the settings file's, each
// parsed, MQTT targets with the file's password and authority. False with a Spanish error for a
// target that does not parse.
bool OutputTargets(const TCommandLine& line, const TSettings& settings,
                   std::vector<TTargetSpec>& specs, QString& error);

// What both programs do first: --help and --version answered on standard output, a bad command
// line, settings file or target refused with one line on standard error; the status to end with
// then. Otherwise nothing, with the line, the settings file as read (once) and the targets to
// drive. The line of a refusal also goes to `refusal`, where given.
std::optional<int> ReadCommandLine(const TProgramForm& program, int argc, char** argv,
                                   TCommandLine& line, TSettings& settings,
                                   std::vector<TTargetSpec>& specs, QString* refusal = nullptr);
