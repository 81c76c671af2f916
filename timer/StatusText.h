#pragma once
// What prvardo-timer says: why the outputs changed (the log), the plan of the days ahead
// (--dry-run) and the state of everything (--status), in Spanish and local time.

#include "outputs/Outputs.h"
#include "timer/Sources.h"
#include "week/SchoolWeek.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <vector>

// An output as the log says it: "encendida", "apagada".
QString OnOff(bool on);

// Why the outputs that changed from `before` (none: all of them) to `after` are as they are:
// "festivo: todas apagadas", "D2 encendida: manual hasta 14:30, D0 apagada: horario".
QString Why(const TState* before, const TState& after, const QDateTime& now);

// The running timer's answer to a hold request: each output it names, on or off, and why
// ("D2 encendida: manual hasta 14:30"), a line each.
QString HoldAnswer(const THoldRequest& request, const TState& state, const QDateTime& now);

// Every switch of the next `days` days from `now`, a line each: date, day, time, word, reason.
QString PlanText(const TWeek& week, const std::vector<THold>& holds, int days, const QDateTime& now,
                 const QTimeZone& zone);

// Each output now, why, and when it next changes; the files, the calendar and each target.
QString StatusText(const TSources& sources, const std::vector<THold>& holds,
                   const std::vector<TTargetHealth>& targets, const QDateTime& now,
                   const QTimeZone& zone);
