#pragma once
// What prvardo-timer switches by: the settings file's rules, the schedules and the holidays, read
// whole; a reload that does not read whole keeps the last good ones.

#include "frontend/Settings.h"
#include "week/SchoolWeek.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// The rules, the schedules and the holidays as the files say now.
struct TSources
{
    QString MainPath;   // the command line's, or the settings file's
    TSettings Settings; // the settings file as read
    TWeekRules Rules;
    TWeek Week;
    QDateTime ReadAt;

    // Every file whose change is read again.
    QStringList Files() const;
};

// Reads everything (the settings file too, unless they are given as read already); false with
// one line that says what could not be read.
bool ReadSources(const QString& commandLinePath, TSources& sources, QString& error,
                 const TSettings* settings = nullptr);

// The keys of the settings file that differ between `before` and `after` and that the running
// timer takes only at its start (its targets, the school's broker): empty when none.
QStringList RestartKeys(const TSettings& before, const TSettings& after);

// Whether two weeks switch alike.
bool SameWeek(const TWeek& a, const TWeek& b);
