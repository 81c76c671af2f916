// Holiday dates from an iCalendar file: the all-day VEVENTs of every VCALENDAR in it, with their
// recurrences expanded. All-day values are plain dates (no time zone), so they are read from their
// year/month/day fields and never converted to a time.

#include "week/ICalendar.h"

#include "core/TextFile.h"

#include <QFile>

#include <libical/ical.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

QDate DateOf(const icaltimetype& t)
{
    return icaltime_is_null_time(t) ? QDate() : QDate(t.year, t.month, t.day);
}

// How many days an all-day event covers: up to the day before DTEND, or its DURATION rounded up
// to whole days; one day when it has neither (or they make no sense).
int LengthInDays(icalcomponent* event, QDate start)
{
    qint64 days = 1;
    if (icalproperty* end = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY)) {
        const QDate last = DateOf(icalproperty_get_dtend(end));
        if (last.isValid())
            days = start.daysTo(last);
    } else if (icalproperty* dur =
                   icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY)) {
        const qint64 seconds = icaldurationtype_as_int(icalproperty_get_duration(dur));
        days = (seconds + 86399) / 86400;
    }
    return int(std::clamp<qint64>(days, 1, 100000));
}

// The start dates of an event's occurrences that can reach [from, to]: DTSTART itself (always
// the first one), those of its RRULEs and RDATEs, less its EXDATEs.
std::set<QDate> Occurrences(icalcomponent* event, icaltimetype dtstart, QDate from, QDate to,
                            int length)
{
    const QDate start = DateOf(dtstart);
    std::set<QDate> starts{start};
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RRULE_PROPERTY)) {
        // The iterator steps over the date fields of DTSTART and keeps them dates; it ends by
        // itself after COUNT, UNTIL or its last year, and an open rule stops past `to`.
        std::unique_ptr<icalrecur_iterator, void (*)(icalrecur_iterator*)> it(
            icalrecur_iterator_new(icalproperty_get_rrule(p), dtstart), icalrecur_iterator_free);
        if (!it)
            continue;
        for (QDate d = DateOf(icalrecur_iterator_next(it.get())); d.isValid() && d <= to;
             d = DateOf(icalrecur_iterator_next(it.get())))
            if (d.addDays(length - 1) >= from)
                starts.insert(d);
    }
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
        const icaldatetimeperiodtype r = icalproperty_get_rdate(p);
        const QDate d = DateOf(icaltime_is_null_time(r.time) ? r.period.start : r.time);
        if (d.isValid())
            starts.insert(d);
    }
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY))
        starts.erase(DateOf(icalproperty_get_exdate(p)));
    return starts;
}

void AddEvent(icalcomponent* event, QDate from, QDate to, const std::set<QDate>& replaced,
              std::set<QDate>& dates)
{
    const icaltimetype dtstart = icalcomponent_get_dtstart(event);
    if (icaltime_is_null_time(dtstart) || !dtstart.is_date ||
        icalcomponent_get_status(event) == ICAL_STATUS_CANCELLED)
        return;
    const QDate start = DateOf(dtstart);
    if (!start.isValid())
        return;
    const int length = LengthInDays(event, start);
    std::set<QDate> starts = Occurrences(event, dtstart, from, to, length);
    for (const QDate& moved : replaced)
        starts.erase(moved);
    for (const QDate& first : starts)
        for (QDate d = std::max(first, from); d <= to && d < first.addDays(length);
             d = d.addDays(1))
            dates.insert(d);
}

// An occurrence moved or cancelled on its own comes as a VEVENT of the series' UID with a
// RECURRENCE-ID, the date it replaces: the series leaves that date out, and the VEVENT stands for
// itself (nothing when cancelled).
void AddCalendar(icalcomponent* calendar, QDate from, QDate to, std::set<QDate>& dates)
{
    const auto uidOf = [](icalcomponent* e) {
        const char* uid = icalcomponent_get_uid(e);
        return QString::fromUtf8(uid != nullptr ? uid : "");
    };
    std::map<QString, std::set<QDate>> replaced;
    for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
         e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT))
        if (icalproperty* id = icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY))
            replaced[uidOf(e)].insert(DateOf(icalproperty_get_recurrenceid(id)));
    const std::set<QDate> none;
    for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
         e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
        const bool single =
            icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY) != nullptr;
        const auto series = replaced.find(uidOf(e));
        AddEvent(e, from, to, single || series == replaced.end() ? none : series->second, dates);
    }
}

} // namespace

bool ReadHolidayFile(const QString& path, QDate from, QDate to, std::set<QDate>& dates,
                     QString& error)
{
    const std::string name = QFile::encodeName(path).toStdString();
    const TFileText read = ReadTextFile(name, HolidayFileLimit);
    if (read.Result != TReadResult::Read) {
        error = QString::fromStdString(ReadFailure(read, name, HolidayFileLimit));
        return false;
    }
    const std::string& text = read.Text;
    std::unique_ptr<icalcomponent, void (*)(icalcomponent*)> root(
        text.empty() ? nullptr : icalparser_parse_string(text.c_str()), icalcomponent_free);
    // One calendar comes back as itself; several are gathered under an XROOT.
    bool found = false;
    if (root && icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT) {
        found = true;
        AddCalendar(root.get(), from, to, dates);
    } else if (root && icalcomponent_isa(root.get()) == ICAL_XROOT_COMPONENT) {
        for (icalcomponent* c =
                 icalcomponent_get_first_component(root.get(), ICAL_VCALENDAR_COMPONENT);
             c; c = icalcomponent_get_next_component(root.get(), ICAL_VCALENDAR_COMPONENT)) {
            found = true;
            AddCalendar(c, from, to, dates);
        }
    }
    if (!found)
        error = QStringLiteral("El archivo «%1» no es un calendario iCalendar").arg(path);
    return found;
}
