// Holiday dates from an iCalendar (.ics) file, as a school's calendar program exports them.

#pragma once
#include <QDate>
#include <QString>
#include <cstddef>
#include <set>

// A holiday calendar is read up to 4 MiB: a school's calendar of many years is a few hundred KiB,
// and a longer file is refused without reading it into memory.
constexpr std::size_t HolidayFileLimit = std::size_t{4} * 1024 * 1024;

// Reads the all-day events of an iCalendar file as the dates they cover, from `from` to `to`
// (both included). Single events, multi-day events (DTEND is the day after the last day, as
// iCalendar has it; or a DURATION), and recurring ones (RRULE, RDATE, EXDATE) are expanded.
// Events with a time of day (not all-day) and cancelled events (STATUS:CANCELLED) do not count.
// False, with a one-line Spanish `error` that names the file, when the file cannot be read (it is
// missing, not a regular file, or longer than HolidayFileLimit) or is not an iCalendar file (no
// VCALENDAR, or libical cannot parse it).
bool ReadHolidayFile(const QString& path, QDate from, QDate to, std::set<QDate>& dates,
                     QString& error);
