#include "SchoolWeek.h"

#include "core/Clock.h"
#include "core/ScheduleFile.h"
#include "core/TextFile.h"
#include "week/ICalendar.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <map>

namespace {

// The names of the days, Monday first: Spanish with and without accents, then English.
const std::array<QStringList, 7> DayNames{{
    {"lun", "lunes", "mon", "monday"},
    {"mar", "martes", "tue", "tuesday"},
    {"mié", "mie", "miércoles", "miercoles", "wed", "wednesday"},
    {"jue", "jueves", "thu", "thursday"},
    {"vie", "viernes", "fri", "friday"},
    {"sáb", "sab", "sábado", "sabado", "sat", "saturday"},
    {"dom", "domingo", "sun", "sunday"},
}};

bool Refuse(const QString& key, const QString& why, QString& error)
{
    error = QStringLiteral("[timer] %1: %2").arg(key, why);
    return false;
}

// "lun-vie", "lun,mié,vie", "sáb-lun" (across the week's end), or a mix of them.
bool ParseDays(const QString& text, std::uint8_t& days, QString& error)
{
    days = 0;
    for (const QString& item : text.split(u',')) {
        const QStringList ends = item.split(u'-');
        const int first = DayOfWeek(ends.front());
        const int last = ends.size() == 2 ? DayOfWeek(ends.back()) : first;
        if (ends.size() > 2 || first == 0 || last == 0)
            return Refuse(QStringLiteral("days"),
                          QStringLiteral("«%1» no es un día ni un intervalo de días (lun-vie)")
                              .arg(item.trimmed()),
                          error);
        for (int d = first;; d = d % 7 + 1) {
            days |= static_cast<std::uint8_t>(1U << (d - 1));
            if (d == last)
                break;
        }
    }
    return true;
}

// Dates ("2027-03-19"), ranges ("2026-12-21..2027-01-07") and iCalendar files, comma separated.
bool ParseHolidays(const QString& text, TWeekRules& rules, QString& error)
{
    for (QString item : text.split(u',', Qt::SkipEmptyParts)) {
        item = item.trimmed();
        if (item.startsWith(u'/') || item.startsWith(u'~')) {
            rules.HolidayFiles << (item.startsWith(u'~') ? QDir::homePath() + item.mid(1) : item);
            continue;
        }
        const QStringList ends = item.split(QStringLiteral(".."));
        const QDate first = QDate::fromString(ends.front().trimmed(), Qt::ISODate);
        const QDate last =
            ends.size() == 2 ? QDate::fromString(ends.back().trimmed(), Qt::ISODate) : first;
        if (ends.size() > 2 || !first.isValid() || !last.isValid())
            return Refuse(
                QStringLiteral("holidays"),
                QStringLiteral("«%1» no es una fecha (2027-03-19), un intervalo "
                               "(2026-12-21..2027-01-07) ni un archivo (/ruta/festivos.ics)")
                    .arg(item),
                error);
        if (last < first)
            return Refuse(QStringLiteral("holidays"),
                          QStringLiteral("el intervalo «%1» acaba antes de empezar").arg(item),
                          error);
        rules.HolidayRanges.emplace_back(first, last);
    }
    return true;
}

bool Bit(std::uint8_t word, int output)
{
    return (word >> output) & 1U;
}

constexpr int LongestLook = 31; // days a plan is looked ahead for a change

} // namespace

bool LoadSchedule(const QString& path, TSchedule& schedule, QString& error)
{
    const std::string name = QFile::encodeName(path).toStdString();
    try {
        schedule.Assign(ReadWholeScheduleFile(name));
        return true;
    } catch (const EInOutError& e) {
        // In the words of the other files the timer reads.
        TFileText failed;
        failed.Error = e.SystemError();
        failed.Result = e.SystemError() == ENOENT || e.ErrorCode() == 2 ? TReadResult::Missing
                        : e.SystemError() == 0                          ? TReadResult::NotRegular
                                                                        : TReadResult::Failed;
        error = QString::fromStdString(ReadFailure(failed, name, 0));
    } catch (const ENotASchedule& e) {
        error = QStringLiteral("%1: %2").arg(path, QString::fromUtf8(e.what()));
    }
    return false;
}

int DayOfWeek(const QString& name)
{
    const QString wanted = name.trimmed().toLower();
    for (int d = 0; d < 7; ++d)
        if (DayNames[static_cast<std::size_t>(d)].contains(wanted))
            return d + 1;
    return 0;
}

QString DayName(int dayOfWeek)
{
    return DayNames[static_cast<std::size_t>(std::clamp(dayOfWeek, 1, 7) - 1)].front();
}

bool ParseWeekRules(const std::vector<std::pair<QString, QString>>& keys, TWeekRules& rules,
                    QString& error, const QStringList& others)
{
    rules = TWeekRules{};
    // A key said twice (or a day named twice, "schedule.sáb" and "schedule.sat") would leave one
    // of the two unused without a word; holidays add up.
    std::map<QString, QString> seen; // what each key stands for, to the key as written
    for (const auto& [key, value] : keys) {
        const QString meaning =
            key.startsWith(QLatin1String("schedule.")) && DayOfWeek(key.mid(9)) != 0
                ? QStringLiteral("schedule.%1").arg(DayOfWeek(key.mid(9)))
                : key;
        if (key != QLatin1String("holidays")) {
            const auto [first, added] = seen.emplace(meaning, key);
            if (!added)
                return Refuse(
                    key,
                    first->second == key
                        ? QStringLiteral("está dos veces; deje una sola")
                        : QStringLiteral("dice lo mismo que %1; deje una sola").arg(first->second),
                    error);
        }
        if (others.contains(key))
            continue;
        if (key == QLatin1String("days")) {
            if (!ParseDays(value, rules.SchoolDays, error))
                return false;
        } else if (key == QLatin1String("holidays")) {
            if (!ParseHolidays(value, rules, error))
                return false;
        } else if (key == QLatin1String("schedule.festivo")) {
            rules.HolidaySchedule = value;
        } else if (key.startsWith(QLatin1String("schedule.")) && DayOfWeek(key.mid(9)) != 0) {
            rules.DaySchedules[static_cast<std::size_t>(DayOfWeek(key.mid(9)) - 1)] = value;
        } else {
            const QStringList known =
                QStringList{QStringLiteral("days"), QStringLiteral("holidays"),
                            QStringLiteral("schedule.DÍA"), QStringLiteral("schedule.festivo")} +
                others;
            return Refuse(
                key,
                QStringLiteral("clave desconocida (se admiten %1 y %2)")
                    .arg(known.mid(0, known.size() - 1).join(QStringLiteral(", ")), known.last()),
                error);
        }
    }
    return true;
}

TReason TWeek::RuleOf(QDate date) const
{
    if (Holidays.count(date) != 0)
        return Holiday ? TReason::HolidaySchedule : TReason::Holiday;
    const int d = date.dayOfWeek();
    if (Days[static_cast<std::size_t>(d - 1)])
        return TReason::DaySchedule;
    return (SchoolDays >> (d - 1)) & 1U ? TReason::Schedule : TReason::NoSchool;
}

const TSchedule* TWeek::ScheduleOf(QDate date) const
{
    switch (RuleOf(date)) {
    case TReason::Schedule:
        return &Main;
    case TReason::DaySchedule:
        return &*Days[static_cast<std::size_t>(date.dayOfWeek() - 1)];
    case TReason::HolidaySchedule:
        return &*Holiday;
    default:
        return nullptr;
    }
}

std::uint8_t TWeek::PlanWord(const QDateTime& at, const QTimeZone& zone) const
{
    const TSchedule* schedule = ScheduleOf(at.toTimeZone(zone).date());
    if (schedule == nullptr)
        return 0;
    const TDaySlot slot = SlotAt(at, zone);
    return OutputWordAt(*schedule, slot.Slot, slot.Hour);
}

bool LoadWeek(const TSchedule& main, const TWeekRules& rules, QDate from, TWeek& week,
              QString& error)
{
    TWeek loaded;
    loaded.Main = main;
    loaded.SchoolDays = rules.SchoolDays;
    // A schedule that cannot be had is named by its key too.
    const auto load = [&](const QString& key, const QString& path, TSchedule& schedule) {
        return LoadSchedule(path, schedule, error) || Refuse(key, error, error);
    };
    for (std::size_t d = 0; d < rules.DaySchedules.size(); ++d)
        if (!rules.DaySchedules[d].isEmpty() &&
            !load(QStringLiteral("schedule.") + DayNames[d].front(), rules.DaySchedules[d],
                  loaded.Days[d].emplace()))
            return false;
    if (!rules.HolidaySchedule.isEmpty() &&
        !load(QStringLiteral("schedule.festivo"), rules.HolidaySchedule, loaded.Holiday.emplace()))
        return false;
    for (const auto& [first, last] : rules.HolidayRanges)
        for (QDate d = first; d <= last; d = d.addDays(1))
            loaded.Holidays.insert(d);
    for (const QString& file : rules.HolidayFiles)
        if (!ReadHolidayFile(file, from, from.addDays(800), loaded.Holidays, error))
            return false;
    week = std::move(loaded);
    return true;
}

QDateTime PlanChange(const TWeek& week, int output, const QDateTime& from, const QTimeZone& zone)
{
    // Day by day in local time, slot by slot on each day's schedule: a hold is looked at each time
    // one is set, and the zone's conversions are costly, so only the change found is converted.
    const bool was = Bit(week.PlanWord(from, zone), output);
    const QDateTime local = from.toTimeZone(zone);
    constexpr int DaySlots = TSchedule::Hours * TSchedule::Slots;
    for (int day = 0; day <= LongestLook; ++day) {
        const QDate date = local.date().addDays(day);
        const TSchedule* schedule = week.ScheduleOf(date);
        const int first =
            day == 0 ? local.time().hour() * TSchedule::Slots + local.time().minute() / 5 + 1 : 0;
        for (int i = first; i < DaySlots; ++i) {
            const int hour = i / TSchedule::Slots;
            const int slot = i % TSchedule::Slots;
            const bool on = schedule != nullptr && schedule->Flag(output, slot, hour) != 0;
            if (on == was)
                continue;
            QDateTime at(date, QTime(hour, slot * 5), zone);
            if (at > from)
                return at;
        }
    }
    return {};
}

void ResolveHolds(const TWeek& week, std::vector<THold>& holds, const QTimeZone& zone)
{
    for (THold& hold : holds)
        hold.Ends =
            hold.Until.isValid() ? hold.Until : PlanChange(week, hold.Output, hold.SetAt, zone);
}

void ApplyHoldRequest(const THoldRequest& request, const QDateTime& now, const TWeek& week,
                      const QTimeZone& zone, std::vector<THold>& holds)
{
    for (int n = 0; n < OutputCount; ++n) {
        if (!Bit(request.Outputs, n))
            continue;
        std::erase_if(holds, [n](const THold& hold) { return hold.Output == n; });
        if (request.Value)
            holds.push_back({n, *request.Value, now, request.Until, {}});
    }
    ResolveHolds(week, holds, zone);
}

bool DropEndedHolds(std::vector<THold>& holds, const QDateTime& now)
{
    const auto ended = std::remove_if(holds.begin(), holds.end(), [&](const THold& hold) {
        return hold.Ends.isValid() && hold.Ends <= now;
    });
    const bool dropped = ended != holds.end();
    holds.erase(ended, holds.end());
    return dropped;
}

TState StateAt(const TWeek& week, const std::vector<THold>& holds, const QDateTime& at,
               const QTimeZone& zone)
{
    TState state;
    const TReason rule = week.RuleOf(at.toTimeZone(zone).date());
    const std::uint8_t plan = week.PlanWord(at, zone);
    for (int n = 0; n < OutputCount; ++n)
        state.Outputs[static_cast<std::size_t>(n)] = {Bit(plan, n), rule, {}};
    // The latest hold of an output wins.
    for (const THold& hold : holds)
        if (hold.SetAt <= at && (!hold.Ends.isValid() || at < hold.Ends))
            state.Outputs[static_cast<std::size_t>(hold.Output)] = {hold.On, TReason::Hold,
                                                                    hold.Ends};
    for (int n = 0; n < OutputCount; ++n)
        if (state.Outputs[static_cast<std::size_t>(n)].On)
            state.Word |= static_cast<std::uint8_t>(1U << n);
    return state;
}

QDateTime NextTurn(const std::vector<THold>& holds, const QDateTime& at, const QTimeZone& zone)
{
    QDateTime next = NextSlotStart(at, zone);
    for (const THold& hold : holds)
        if (hold.Ends.isValid() && hold.Ends > at && hold.Ends < next)
            next = hold.Ends;
    return next;
}

std::vector<TStep> WeekPlan(const TWeek& week, const std::vector<THold>& holds,
                            const QDateTime& from, int days, const QTimeZone& zone)
{
    std::vector<TStep> plan{{from.toTimeZone(zone), StateAt(week, holds, from, zone)}};
    const QDateTime end = from.addDays(days);
    for (QDateTime at = NextTurn(holds, from, zone); at <= end; at = NextTurn(holds, at, zone)) {
        TState state = StateAt(week, holds, at, zone);
        const auto reasonOf = [](const TOutputState& output) { return output.Reason; };
        if (state.Word != plan.back().State.Word ||
            !std::equal(state.Outputs.begin(), state.Outputs.end(),
                        plan.back().State.Outputs.begin(), plan.back().State.Outputs.end(),
                        [&](const TOutputState& a, const TOutputState& b) {
                            return reasonOf(a) == reasonOf(b);
                        }))
            plan.push_back({at.toTimeZone(zone), state});
    }
    return plan;
}

QString LocalText(const QDateTime& at, const QDateTime& now)
{
    const QDateTime local = at.toLocalTime();
    if (local.date() == now.toLocalTime().date())
        return local.toString(QStringLiteral("HH:mm"));
    return DayName(local.date().dayOfWeek()) + u' ' +
           local.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString ReasonText(const TOutputState& state, const QDateTime& now)
{
    switch (state.Reason) {
    case TReason::Schedule:
        return QStringLiteral("horario");
    case TReason::DaySchedule:
        return QStringLiteral("horario del día");
    case TReason::NoSchool:
        return QStringLiteral("día sin clase");
    case TReason::Holiday:
        return QStringLiteral("festivo");
    case TReason::HolidaySchedule:
        return QStringLiteral("horario de festivo");
    case TReason::Hold:
        break;
    }
    if (!state.HeldUntil.isValid())
        return QStringLiteral("manual, hasta «auto»");
    return QStringLiteral("manual hasta %1").arg(LocalText(state.HeldUntil, now));
}

namespace {

// "D2=on", "all=auto": the outputs and the value.
bool ParseSet(const QString& text, THoldRequest& request, QString& error)
{
    const QStringList parts = text.trimmed().toLower().split(u'=');
    const QString& name = parts.front();
    bool numbered = false;
    const int n = name.startsWith(u'd') ? name.mid(1).toInt(&numbered) : -1;
    if (name == QLatin1String("all"))
        request.Outputs = OutputsMask;
    else if (numbered && n >= 0 && n < OutputCount && name.size() == 2)
        request.Outputs = static_cast<std::uint8_t>(1U << n);
    else
        request.Outputs = 0;
    const QString wanted = parts.size() == 2 ? parts.back() : QString();
    if (request.Outputs == 0 || (wanted != QLatin1String("on") && wanted != QLatin1String("off") &&
                                 wanted != QLatin1String("auto"))) {
        error = QStringLiteral("«%1» no es SALIDA=on, off o auto (D0 a D5, o all)").arg(text);
        return false;
    }
    request.Value = wanted == QLatin1String("auto")
                        ? std::nullopt
                        : std::optional<bool>(wanted == QLatin1String("on"));
    return true;
}

// "14:30" or "2026-12-08T08:00", in the zone's local time, after `now`.
bool ParseUntil(const QString& text, const QDateTime& now, const QTimeZone& zone, QDateTime& until,
                QString& error)
{
    const QTime time = QTime::fromString(text, QStringLiteral("H:mm"));
    if (time.isValid()) {
        const QDateTime local = now.toTimeZone(zone);
        until = QDateTime(local.date(), time, zone);
        if (until <= local)
            until = QDateTime(local.date().addDays(1), time, zone);
    } else {
        until = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd'T'H:mm"));
        if (until.isValid())
            until = QDateTime(until.date(), until.time(), zone);
    }
    if (!until.isValid()) {
        error = QStringLiteral("«%1» no es una hora (14:30) ni una fecha y hora "
                               "(2026-12-08T08:00)")
                    .arg(text);
        return false;
    }
    if (until <= now) {
        error = QStringLiteral("%1 ya ha pasado").arg(text);
        return false;
    }
    return true;
}

} // namespace

bool ParseHoldRequest(const QString& set, const QString& until, const QDateTime& now,
                      const QTimeZone& zone, THoldRequest& request, QString& error)
{
    request = THoldRequest{};
    if (!ParseSet(set, request, error))
        return false;
    if (until.isEmpty())
        return true;
    if (!request.Value) {
        error = QStringLiteral("hasta una hora no va con auto");
        return false;
    }
    return ParseUntil(until, now, zone, request.Until, error);
}

QByteArray HoldRequestLine(const THoldRequest& request)
{
    QByteArray line = "set " + QByteArray::number(request.Outputs, 16) + ' ' +
                      (!request.Value   ? "auto"
                       : *request.Value ? "on"
                                        : "off");
    if (request.Until.isValid())
        line += ' ' + QByteArray::number(request.Until.toSecsSinceEpoch());
    return line;
}

bool ParseHoldRequestLine(const QByteArray& line, THoldRequest& request)
{
    request = THoldRequest{};
    const QList<QByteArray> words = line.split(' ');
    bool ok = false;
    const uint mask = words.value(1).toUInt(&ok, 16);
    const QByteArray& value = words.value(2);
    if (words.value(0) != "set" || !ok || mask == 0 || mask > OutputsMask ||
        (value != "on" && value != "off" && value != "auto") || words.size() > 4)
        return false;
    request.Outputs = static_cast<std::uint8_t>(mask);
    request.Value = value == "auto" ? std::nullopt : std::optional<bool>(value == "on");
    if (words.size() == 4) {
        const qlonglong seconds = words[3].toLongLong(&ok);
        if (!ok || seconds <= 0 || !request.Value)
            return false;
        request.Until = QDateTime::fromSecsSinceEpoch(seconds);
    }
    return true;
}

QByteArray HoldsText(const std::vector<THold>& holds)
{
    QByteArray text;
    for (const THold& hold : holds) {
        text += QStringLiteral("D%1 %2 %3")
                    .arg(hold.Output)
                    .arg(hold.On ? QStringLiteral("on") : QStringLiteral("off"),
                         hold.SetAt.toUTC().toString(Qt::ISODate))
                    .toUtf8();
        if (hold.Until.isValid())
            text += ' ' + hold.Until.toUTC().toString(Qt::ISODate).toUtf8();
        text += '\n';
    }
    return text;
}

std::vector<THold> ParseHolds(const QByteArray& text, int* skipped)
{
    std::vector<THold> holds;
    int bad = 0;
    for (const QByteArray& line : text.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        ++bad; // until it reads
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3 || fields.size() > 4)
            continue;
        THoldRequest request;
        QString error;
        THold hold;
        hold.SetAt = QDateTime::fromString(QString::fromUtf8(fields[2]), Qt::ISODate);
        if (fields.size() == 4)
            hold.Until = QDateTime::fromString(QString::fromUtf8(fields[3]), Qt::ISODate);
        if (!ParseSet(QString::fromUtf8(fields[0] + '=' + fields[1]), request, error) ||
            request.Outputs == OutputsMask || !request.Value || !hold.SetAt.isValid() ||
            (fields.size() == 4 && !hold.Until.isValid()))
            continue;
        hold.Output = static_cast<int>(std::countr_zero(request.Outputs));
        hold.On = *request.Value;
        holds.push_back(hold);
        --bad;
    }
    if (skipped != nullptr)
        *skipped = bad;
    return holds;
}
