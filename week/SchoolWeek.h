#pragma once
// The school's week: which schedule each date follows, and a hand on the switch.
//
// A date follows, in this order: the holiday rule when it is a holiday (every output off, or the
// holiday's own schedule), the schedule of its day of the week when it has one, the main schedule
// on a school day, and every output off on the other days. A day runs from local midnight to the
// next, so each 5-minute slot follows the rule of its own date.
//
// A hold keeps one output on or off whatever the plan says: until a time, or until the plan next
// changes that output by itself (as a POWER command holds a Tasmota plug until its next timer
// event); then the output follows the plan again.

#include "core/Schedule.h"
#include "core/WallClock.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <utility>
#include <vector>

// What the settings file's [timer] keys ask for (each optional; without any, every day is a
// school day and no date is a holiday).
struct TWeekRules
{
    std::uint8_t SchoolDays = 0x7F;      // bit d - 1: day d of the week (1 Monday .. 7 Sunday)
    std::array<QString, 7> DaySchedules; // index d - 1: that day's own schedule file, or empty
    QString HolidaySchedule;             // schedule.festivo: what a holiday follows, or empty
    std::vector<std::pair<QDate, QDate>> HolidayRanges; // both days included
    QStringList HolidayFiles;                           // iCalendar files
};

// Parses the week's [timer] keys (days, schedule.DAY, schedule.festivo, holidays); the keys that
// other parts of the timer read (`others`: the main schedule's, the broker's) are skipped. False,
// with a one-line Spanish error that names the key or the entry, for any other key, a day name,
// date or range that is none.
bool ParseWeekRules(const std::vector<std::pair<QString, QString>>& keys, TWeekRules& rules,
                    QString& error, const QStringList& others = {});

// Day of the week (1 Monday .. 7 Sunday) from its Spanish or English name or abbreviation
// ("lun", "mié", "mie", "sáb", "sat", ...); 0 when it is none.
int DayOfWeek(const QString& name);
// The Spanish abbreviation of a day of the week ("lun" .. "dom").
QString DayName(int dayOfWeek);

// Why an output is as it is.
enum class TReason : std::uint8_t
{
    Schedule,        // the main schedule, on a school day
    DaySchedule,     // the day of the week's own schedule
    NoSchool,        // a day without school: off
    Holiday,         // a holiday: off
    HolidaySchedule, // a holiday, following the holiday's schedule
    Hold,            // held by hand
};

// The week's schedules and dates, loaded from the rules.
struct TWeek
{
    TSchedule Main;
    std::array<std::optional<TSchedule>, 7> Days;
    std::optional<TSchedule> Holiday;
    std::uint8_t SchoolDays = 0x7F;
    std::set<QDate> Holidays;

    // The rule a date follows, and its schedule (none: every output off).
    TReason RuleOf(QDate date) const;
    const TSchedule* ScheduleOf(QDate date) const;
    // The plan's word (without holds) at an instant.
    std::uint8_t PlanWord(const QDateTime& at, const QTimeZone& zone) const;
};

// Reads a schedule only when the file holds a whole one. False, with a Spanish error that names
// the file, otherwise.
bool LoadSchedule(const QString& path, TSchedule& schedule, QString& error);

// Reads every file the rules name besides the main schedule (already read): each schedule whole,
// each iCalendar file's holidays from `from` for the next 800 days. False, with a Spanish error
// naming the file, when one cannot be read.
bool LoadWeek(const TSchedule& main, const TWeekRules& rules, QDate from, TWeek& week,
              QString& error);

// A hold as it is asked for, from the command line, the running timer's socket or the school's
// broker: the outputs (bit n: Dn), on, off or none (auto: back to the plan), and its end (invalid:
// the plan's next change of each output).
struct THoldRequest
{
    std::uint8_t Outputs = 0;
    std::optional<bool> Value;
    QDateTime Until;
};

struct THold
{
    int Output = 0; // 0 to 5
    bool On = false;
    QDateTime SetAt;
    QDateTime Until; // invalid: until the plan next changes the output
    // When it ends: Until, or the plan's next change of the output after SetAt (invalid: not
    // within 31 days, so only AUTO ends it).
    QDateTime Ends;
};

// The first slot start after `from` at which the plan gives `output` a value other than the one
// it has at `from`; invalid when there is none within 31 days.
QDateTime PlanChange(const TWeek& week, int output, const QDateTime& from, const QTimeZone& zone);
// Sets every hold's end from the plan (after the holds are made, and when the plan is read again).
void ResolveHolds(const TWeek& week, std::vector<THold>& holds, const QTimeZone& zone);
// A request applied at `now`: each output it names loses its last hold, and gets a new one unless
// the request is auto; the new holds' ends are derived here, from the request's end or the plan.
void ApplyHoldRequest(const THoldRequest& request, const QDateTime& now, const TWeek& week,
                      const QTimeZone& zone, std::vector<THold>& holds);
// Drops the holds that have ended by `now`; true when one was dropped.
bool DropEndedHolds(std::vector<THold>& holds, const QDateTime& now);

struct TOutputState
{
    bool On = false;
    TReason Reason = TReason::Schedule;
    QDateTime HeldUntil; // for a hold: when it ends (invalid: until AUTO)
};

struct TState
{
    std::uint8_t Word = 0;
    std::array<TOutputState, OutputCount> Outputs{};
};

// What every output does at an instant, and why.
TState StateAt(const TWeek& week, const std::vector<THold>& holds, const QDateTime& at,
               const QTimeZone& zone);
// The first instant after `at` at which anything may change: a slot start or a hold's end.
QDateTime NextTurn(const std::vector<THold>& holds, const QDateTime& at, const QTimeZone& zone);

struct TStep
{
    QDateTime At; // in the zone's local time
    TState State;
};

// The state at `from`, then every instant up to `days` days later at which the word or the reason
// of an output changes.
std::vector<TStep> WeekPlan(const TWeek& week, const std::vector<THold>& holds,
                            const QDateTime& from, int days, const QTimeZone& zone);

// A moment in local time as the programs say it: "HH:mm" on the day of `now`, the day and the
// date otherwise ("mié 2026-12-09 08:00").
QString LocalText(const QDateTime& at, const QDateTime& now);

// Why an output is as it is, in the log's and the status's words ("horario", "festivo",
// "manual hasta 14:30").
QString ReasonText(const TOutputState& state, const QDateTime& now);

// What `--set` asks, with what `--until` says (empty: nothing): "D2=on", "d2=OFF", "all=auto";
// "14:30" (the next 14:30 from `now`) or "2026-12-08T08:00", in the zone's local time. False
// with a Spanish error naming the text: not an output and a value, not a time, a time already
// past, an end for auto.
bool ParseHoldRequest(const QString& set, const QString& until, const QDateTime& now,
                      const QTimeZone& zone, THoldRequest& request, QString& error);
// The request as the timer's socket carries it, "set MASK on|off|auto [UNTIL]" (the mask in hex,
// the end in seconds since the epoch), and back; false for a line that is not one.
QByteArray HoldRequestLine(const THoldRequest& request);
bool ParseHoldRequestLine(const QByteArray& line, THoldRequest& request);

// The holds as the state file keeps them, one a line ("D2 on SET [UNTIL]", times in UTC);
// lines that do not read as a hold are skipped, and counted in `skipped` where it is given.
QByteArray HoldsText(const std::vector<THold>& holds);
std::vector<THold> ParseHolds(const QByteArray& text, int* skipped = nullptr);

// The holds file is a line per output at most: one of more than 64 KiB is none.
constexpr std::size_t HoldsFileLimit = std::size_t{64} * 1024;
