#pragma once
// What prvardo-timer switches by: the settings file's rules, the schedules and the holidays, read
// whole; a reload that does not read whole keeps the last good ones.

#include "week/SchoolWeek.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// The rules, the schedules and the holidays as the files say now.
struct TSources
{
    QString MainPath; // the command line's, or the settings file's
    TWeekRules Rules;
    TWeek Week;
    QDateTime ReadAt;

    // Every file whose change is read again.
    QStringList Files() const;
};

// Reads everything; false with one line that says what could not be read.
bool ReadSources(const QString& commandLinePath, TSources& sources, QString& error);

// Whether two weeks switch alike.
bool SameWeek(const TWeek& a, const TWeek& b);
