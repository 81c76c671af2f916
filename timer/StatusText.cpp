#include "StatusText.h"

#include "core/Log.h"
#include "outputs/Outputs.h"

#include <algorithm>

QString OnOff(bool on)
{
    return on ? QStringLiteral("encendida") : QStringLiteral("apagada");
}

QString Why(const TState* before, const TState& after, const QDateTime& now)
{
    const auto alike = [&](const TOutputState& output) {
        return output.On == after.Outputs[0].On &&
               ReasonText(output, now) == ReasonText(after.Outputs[0], now);
    };
    if (std::all_of(after.Outputs.begin(), after.Outputs.end(), alike))
        return ReasonText(after.Outputs[0], now) + (after.Word == 0
                                                        ? QStringLiteral(": todas apagadas")
                                                        : QStringLiteral(": todas encendidas"));
    QStringList turned;
    for (int n = 0; n < OutputCount; ++n) {
        const TOutputState& output = after.Outputs[static_cast<std::size_t>(n)];
        const TOutputState* was =
            before != nullptr ? &before->Outputs[static_cast<std::size_t>(n)] : nullptr;
        if (was == nullptr || was->On != output.On || was->Reason != output.Reason ||
            was->HeldUntil != output.HeldUntil)
            turned << QStringLiteral("D%1 %2: %3")
                          .arg(n)
                          .arg(OnOff(output.On), ReasonText(output, now));
    }
    return turned.join(QStringLiteral(", "));
}

QString PlanText(const TWeek& week, const std::vector<THold>& holds, int days, const QDateTime& now,
                 const QTimeZone& zone)
{
    const std::vector<TStep> plan = WeekPlan(week, holds, now, days, zone);
    QString text;
    for (std::size_t i = 0; i < plan.size(); ++i)
        text += QStringLiteral("%1 %2 %3  0x%4  %5  %6\n")
                    .arg(plan[i].At.toString(QStringLiteral("yyyy-MM-dd")),
                         DayName(plan[i].At.date().dayOfWeek()),
                         plan[i].At.toString(QStringLiteral("HH:mm")))
                    .arg(plan[i].State.Word, 2, 16, QLatin1Char('0'))
                    .arg(WordText(plan[i].State.Word),
                         Why(i == 0 ? nullptr : &plan[i - 1].State, plan[i].State, plan[i].At));
    return text;
}

QString StatusText(const TSources& sources, const std::vector<THold>& holds,
                   const std::vector<TTargetHealth>& targets, const QDateTime& now,
                   const QTimeZone& zone)
{
    const TState state = StateAt(sources.Week, holds, now, zone);
    const std::vector<TStep> ahead = WeekPlan(sources.Week, holds, now, 31, zone);
    QString text;
    for (int n = 0; n < OutputCount; ++n) {
        const TOutputState& output = state.Outputs[static_cast<std::size_t>(n)];
        QString next = QStringLiteral("sin cambios en 31 días");
        for (const TStep& step : ahead)
            if (step.State.Outputs[static_cast<std::size_t>(n)].On != output.On) {
                next = QStringLiteral("cambia: %1").arg(LocalText(step.At, now));
                break;
            }
        text += QStringLiteral("D%1  %2  %3; %4\n")
                    .arg(n)
                    .arg(OnOff(output.On).leftJustified(9), ReasonText(output, now), next);
    }
    const TWeekRules& rules = sources.Rules;
    QStringList days;
    for (int d = 1; d <= 7; ++d)
        if ((sources.Week.SchoolDays >> (d - 1)) & 1U)
            days << DayName(d);
    const auto holidays = std::count_if(sources.Week.Holidays.begin(), sources.Week.Holidays.end(),
                                        [&](QDate d) { return d >= now.date(); });
    text += QStringLiteral("horario: %1 (leído %2)\n")
                .arg(sources.MainPath, LocalText(sources.ReadAt, now));
    text +=
        QStringLiteral("calendario: días de clase %1; %2 festivos desde hoy%3%4\n")
            .arg(days.join(u','))
            .arg(holidays)
            .arg(rules.HolidayFiles.isEmpty()
                     ? QString()
                     : QStringLiteral(" (%1)").arg(rules.HolidayFiles.join(QStringLiteral(", "))),
                 rules.HolidaySchedule.isEmpty()
                     ? QString()
                     : QStringLiteral("; festivos con %1").arg(rules.HolidaySchedule));
    for (int d = 1; d <= 7; ++d)
        if (!rules.DaySchedules[static_cast<std::size_t>(d - 1)].isEmpty())
            text += QStringLiteral("  %1: %2\n")
                        .arg(DayName(d), rules.DaySchedules[static_cast<std::size_t>(d - 1)]);
    for (const TTargetHealth& target : targets)
        text += QStringLiteral("salida %1: %2\n")
                    .arg(target.Name, target.Open ? QStringLiteral("abierta")
                                      : target.LostSince.isValid()
                                          ? QStringLiteral("sin conexión desde %1: %2")
                                                .arg(LocalText(target.LostSince, now), target.Why)
                                          : QStringLiteral("abriéndose"));
    return text;
}

QString HoldAnswer(const THoldRequest& request, const TState& state, const QDateTime& now)
{
    QString answer;
    for (int n = 0; n < OutputCount; ++n)
        if (((request.Outputs >> n) & 1U) != 0) {
            const TOutputState& output = state.Outputs[static_cast<std::size_t>(n)];
            answer += QStringLiteral("D%1 %2: %3\n")
                          .arg(n)
                          .arg(OnOff(output.On), ReasonText(output, now));
        }
    return answer;
}
