#include "Sources.h"

#include "frontend/Settings.h"
#include "timer/RemoteTopics.h"

#include <algorithm>

QStringList TSources::Files() const
{
    QStringList files{MainPath, SettingsPath(), Rules.HolidaySchedule};
    for (const QString& day : Rules.DaySchedules)
        files << day;
    files << Rules.HolidayFiles;
    files.removeAll(QString());
    return files;
}

bool ReadSources(const QString& commandLinePath, TSources& sources, QString& error,
                 const TSettings* known)
{
    TSettings& settings = sources.Settings;
    if (known != nullptr)
        settings = *known;
    else if (!ReadSettings(SettingsPath(), settings, error))
        return false;
    // The main schedule's key is read below, the school's broker's by the timer's link.
    if (!ParseWeekRules(settings.Section(QStringLiteral("[timer]")), sources.Rules, error,
                        QStringList{QStringLiteral("schedule")} + RemoteKeys()))
        return false;
    sources.MainPath = commandLinePath.isEmpty() ? settings.TimerSchedule : commandLinePath;
    if (sources.MainPath.isEmpty()) {
        error = QStringLiteral("hace falta un archivo de horario (.tem), y uno solo");
        return false;
    }
    TSchedule main;
    if (!LoadSchedule(sources.MainPath, main, error))
        return false;
    sources.ReadAt = QDateTime::currentDateTime();
    return LoadWeek(main, sources.Rules, sources.ReadAt.date().addDays(-1), sources.Week, error);
}

bool SameWeek(const TWeek& a, const TWeek& b)
{
    const auto same = [](const std::optional<TSchedule>& x, const std::optional<TSchedule>& y) {
        return x.has_value() == y.has_value() && (!x || x->Flags() == y->Flags());
    };
    return a.Main.Flags() == b.Main.Flags() && a.SchoolDays == b.SchoolDays &&
           a.Holidays == b.Holidays && same(a.Holiday, b.Holiday) &&
           std::equal(a.Days.begin(), a.Days.end(), b.Days.begin(), same);
}

QStringList RestartKeys(const TSettings& before, const TSettings& after)
{
    QStringList keys;
    const auto look = [&](const QString& section, const QStringList& names) {
        for (const QString& name : names)
            if (before.Values(section + name) != after.Values(section + name))
                keys << name;
    };
    // The outputs are made at start; the school's broker's link, too.
    look(QStringLiteral("[outputs]"), OutputsKeys());
    look(QStringLiteral("[timer]"), RemoteKeys());
    return keys;
}
