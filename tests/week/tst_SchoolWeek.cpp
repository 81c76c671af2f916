// The school's week: which rule a moment follows under the settings' keys, what they refuse, and
// the holds set by hand, in a zone of the test's own.

#include "core/ScheduleFile.h"
#include "week/SchoolWeek.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using TKeys = std::vector<std::pair<QString, QString>>;

const QTimeZone Zone("Europe/Madrid");

QDateTime At(const char* local)
{
    return QDateTime(QDate::fromString(QString::fromLatin1(local).left(10), Qt::ISODate),
                     QTime::fromString(QString::fromLatin1(local).mid(11), QStringLiteral("HH:mm")),
                     Zone);
}

// Output `plane` on from `from` to `to` (hours), every day.
TSchedule Hours(int plane, int from, int to)
{
    TSchedule schedule;
    for (int hour = from; hour < to; ++hour)
        for (int slot = 0; slot < TSchedule::Slots; ++slot)
            schedule.Set(plane, slot, hour, true);
    return schedule;
}

class SchoolWeek : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteScheduleFile(Path("sabado.tem").toStdString(), Hours(1, 0, 24).Flags());
        WriteScheduleFile(Path("festivo.tem").toStdString(), Hours(2, 0, 24).Flags());
        QFile ics(Path("festivos.ics"));
        ASSERT_TRUE(ics.open(QIODevice::WriteOnly));
        ics.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Aula//ES\r\nBEGIN:VEVENT\r\n"
                  "UID:navidad@aula\r\nDTSTAMP:20200101T000000Z\r\nDTSTART;VALUE=DATE:20201225\r\n"
                  "RRULE:FREQ=YEARLY\r\nSUMMARY:Navidad\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    }
    QString Path(const char* name) const { return Dir.filePath(QString::fromLatin1(name)); }
    // The week the keys give, D0 on all day in the main schedule; an error's text otherwise.
    std::string Load(const TKeys& keys, TWeek& week) const
    {
        TWeekRules rules;
        QString error;
        if (!ParseWeekRules(keys, rules, error) ||
            !LoadWeek(Hours(0, 0, 24), rules, QDate(2026, 12, 1), week, error))
            return error.toStdString();
        return {};
    }

    QTemporaryDir Dir;
};

TEST_F(SchoolWeek, EachMomentFollowsTheRuleOfItsDate)
{
    const QString saturday = Path("sabado.tem");
    const QString holiday = Path("festivo.tem");
    const QString ics = Path("festivos.ics");
    const struct
    {
        TKeys Keys;
        const char* At;
        std::uint8_t Word;
        TReason Reason;
    } rows[] = {
        {{}, "2026-12-12 10:00", 0x01, TReason::Schedule}, // a Saturday, no rules
        {{{"days", "lun-vie"}}, "2026-12-12 10:00", 0x00, TReason::NoSchool},
        {{{"days", "lun-vie"}}, "2026-12-11 23:55", 0x01, TReason::Schedule}, // Friday's last slot
        {{{"days", "lun-vie"}}, "2026-12-12 00:00", 0x00, TReason::NoSchool}, // Saturday's first
        {{{"days", "mon-fri"}}, "2026-12-13 12:00", 0x00, TReason::NoSchool},
        {{{"days", "Lun, MIÉ,vie"}}, "2026-12-08 12:00", 0x00, TReason::NoSchool}, // Tuesday
        {{{"days", "lun,mie,vie"}}, "2026-12-09 12:00", 0x01, TReason::Schedule},  // Wednesday
        {{{"days", "sáb-lun"}}, "2026-12-13 12:00", 0x01, TReason::Schedule},      // across Sunday
        {{{"days", "sáb-lun"}}, "2026-12-15 12:00", 0x00, TReason::NoSchool},
        {{{"days", "lun-vie"}, {"schedule.sáb", saturday}},
         "2026-12-12 12:00",
         0x02,
         TReason::DaySchedule},
        {{{"schedule.sat", saturday}}, "2026-12-12 12:00", 0x02, TReason::DaySchedule},
        {{{"schedule.sab", saturday}}, "2026-12-13 12:00", 0x01, TReason::Schedule},
        {{{"holidays", "2026-12-21..2027-01-07"}}, "2027-01-01 09:00", 0x00, TReason::Holiday},
        {{{"holidays", "2026-12-21..2027-01-07"}}, "2027-01-08 00:00", 0x01, TReason::Schedule},
        {{{"holidays", "2026-12-21..2027-01-07, 2027-03-19"}},
         "2027-03-19 09:00",
         0x00,
         TReason::Holiday},
        {{{"holidays", "2027-03-19"}, {"schedule.festivo", holiday}},
         "2027-03-19 09:00",
         0x04,
         TReason::HolidaySchedule},
        {{{"holidays", ics}}, "2026-12-25 09:00", 0x00, TReason::Holiday},
        {{{"holidays", ics}}, "2027-12-25 09:00", 0x00, TReason::Holiday}, // yearly
        {{{"holidays", ics}}, "2026-12-24 23:55", 0x01, TReason::Schedule},
        {{{"holidays", "2026-12-12"}, {"schedule.sáb", saturday}},
         "2026-12-12 12:00",
         0x00,
         TReason::Holiday}, // a holiday wins over the day's own schedule
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.At);
        TWeek week;
        ASSERT_EQ(Load(row.Keys, week), "");
        const TState state = StateAt(week, {}, At(row.At), Zone);
        EXPECT_EQ(state.Word, row.Word);
        EXPECT_EQ(state.Outputs[0].Reason, row.Reason);
    }
}

TEST_F(SchoolWeek, ABadKeyDayDateRangeOrFileIsRefusedByName)
{
    const struct
    {
        TKeys Keys;
        const char* Named; // in the error
    } rows[] = {
        {{{"days", "lun-vix"}}, "lun-vix"},
        {{{"days", "lun-mar-mié"}}, "lun-mar-mié"},
        {{{"days", ""}}, "days"},
        {{{"schedule.domingo2", "x.tem"}}, "schedule.domingo2"},
        {{{"color", "azul"}}, "color"},
        {{{"holidays", "2026-13-01"}}, "2026-13-01"},
        {{{"holidays", "2027-01-07..2026-12-21"}}, "2027-01-07..2026-12-21"},
        {{{"holidays", "navidad"}}, "navidad"},
        {{{"schedule.sáb", "/no/existe.tem"}}, "schedule.sáb"},
        {{{"holidays", "/no/existe.ics"}}, "/no/existe.ics"},
        // Said twice: one of the two would go unused without a word.
        {{{"days", "lun-vie"}, {"days", "lun-jue"}}, "days"},
        {{{"schedule.sáb", "a.tem"}, {"schedule.sat", "b.tem"}}, "schedule.sat"},
        {{{"schedule.festivo", "a.tem"}, {"schedule.festivo", "b.tem"}}, "schedule.festivo"},
    };
    for (const auto& row : rows) {
        TWeek week;
        const std::string error = Load(row.Keys, week);
        EXPECT_NE(error.find(row.Named), std::string::npos) << row.Named << ": " << error;
    }
}

// Main schedule: D0 from 08:00 to 14:00 on school days (Monday to Friday); holidays over
// Christmas.
TEST_F(SchoolWeek, AHoldLastsUntilThePlanChangesItsOutputOrUntilItsTime)
{
    TWeekRules rules;
    QString error;
    ASSERT_TRUE(ParseWeekRules({{"days", "lun-vie"}, {"holidays", "2026-12-21..2027-01-07"}}, rules,
                               error));
    TWeek week;
    ASSERT_TRUE(LoadWeek(Hours(0, 8, 14), rules, QDate(2026, 12, 1), week, error));
    const struct
    {
        const char* What;
        THold Hold;
        const char* Ends; // "": never, only AUTO ends it
        const char* At;
        bool On;
        TReason Reason;
    } rows[] = {
        {"off until the plan turns D0 off",
         {0, false, At("2026-12-09 09:00"), {}, {}},
         "2026-12-09 14:00",
         "2026-12-09 13:55",
         false,
         TReason::Hold},
        {"then the plan again",
         {0, false, At("2026-12-09 09:00"), {}, {}},
         "2026-12-09 14:00",
         "2026-12-10 08:00",
         true,
         TReason::Schedule},
        {"on over a weekend, until Monday's start",
         {0, true, At("2026-12-11 15:00"), {}, {}},
         "2026-12-14 08:00",
         "2026-12-13 12:00",
         true,
         TReason::Hold},
        {"on until the plan's change after the holidays",
         {0, true, At("2026-12-18 15:00"), {}, {}},
         "2027-01-08 08:00",
         "2027-01-01 12:00",
         true,
         TReason::Hold},
        {"an output the plan never changes",
         {1, true, At("2026-12-09 09:00"), {}, {}},
         "",
         "2026-12-30 09:00",
         true,
         TReason::Hold},
        {"until a time",
         {0, true, At("2026-12-09 15:00"), At("2026-12-09 16:30"), {}},
         "2026-12-09 16:30",
         "2026-12-09 16:25",
         true,
         TReason::Hold},
        {"ended at its time",
         {0, true, At("2026-12-09 15:00"), At("2026-12-09 16:30"), {}},
         "2026-12-09 16:30",
         "2026-12-09 16:30",
         false,
         TReason::Schedule},
        {"until a time on a holiday",
         {0, true, At("2026-12-18 15:00"), At("2026-12-21 10:00"), {}},
         "2026-12-21 10:00",
         "2026-12-21 10:00",
         false,
         TReason::Holiday},
        {"not before it was set",
         {0, false, At("2026-12-09 09:00"), {}, {}},
         "2026-12-09 14:00",
         "2026-12-09 08:55",
         true,
         TReason::Schedule},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.What);
        std::vector<THold> holds{row.Hold};
        ResolveHolds(week, holds, Zone);
        EXPECT_EQ(holds[0].Ends, *row.Ends == 0 ? QDateTime() : At(row.Ends));
        const TOutputState state = StateAt(week, holds, At(row.At), Zone)
                                       .Outputs[static_cast<std::size_t>(row.Hold.Output)];
        EXPECT_EQ(state.On, row.On);
        EXPECT_EQ(state.Reason, row.Reason);
        // The timer wakes when a hold ends, between slot starts too.
        if (holds[0].Ends.isValid() && holds[0].Ends > At(row.At)) {
            EXPECT_LE(NextTurn(holds, At(row.At), Zone), holds[0].Ends);
        }
        // Kept across a restart as they were.
        const std::vector<THold> kept = ParseHolds(HoldsText(holds));
        ASSERT_EQ(kept.size(), 1U);
        EXPECT_EQ(kept[0].Output, row.Hold.Output);
        EXPECT_EQ(kept[0].On, row.Hold.On);
        EXPECT_EQ(kept[0].SetAt, row.Hold.SetAt);
        EXPECT_EQ(kept[0].Until, row.Hold.Until);
    }
}

TEST(SchoolWeekRequests, SetAndUntilAsTheUserWritesThem)
{
    const QDateTime now(QDate(2026, 12, 8), QTime(10, 0), Zone);
    const QDateTime never;
    const struct
    {
        const char* Set;
        const char* Until;
        std::uint8_t Outputs; // 0: refused
        std::optional<bool> Value;
        QDateTime Ends;
    } rows[] = {
        {"D2=on", "", 0x04, true, never},
        {"d5=OFF", "", 0x20, false, never},
        {"all=auto", "", 0x3F, std::nullopt, never},
        {"D2=on", "14:30", 0x04, true, QDateTime(QDate(2026, 12, 8), QTime(14, 30), Zone)},
        // Already past today: tomorrow.
        {"D2=on", "8:00", 0x04, true, QDateTime(QDate(2026, 12, 9), QTime(8, 0), Zone)},
        {"D2=off", "2026-12-09T08:00", 0x04, false,
         QDateTime(QDate(2026, 12, 9), QTime(8, 0), Zone)},
        {"D6=on", "", 0, {}, never},
        {"D2=maybe", "", 0, {}, never},
        {"D2", "", 0, {}, never},
        {"D22=on", "", 0, {}, never},
        {"x=on", "", 0, {}, never},
        {"D2=on", "2026-12-08T09:00", 0, {}, never}, // past
        {"D2=on", "25:00", 0, {}, never},
        {"D2=on", "mañana", 0, {}, never},
        {"D2=auto", "14:30", 0, {}, never}, // auto has no end of its own
    };
    for (const auto& row : rows) {
        const std::string what = std::string(row.Set) + " until " + row.Until;
        THoldRequest request;
        QString error;
        const bool parsed = ParseHoldRequest(
            QString::fromLatin1(row.Set), QString::fromUtf8(row.Until), now, Zone, request, error);
        EXPECT_EQ(parsed, row.Outputs != 0) << what << ": " << error.toStdString();
        if (!parsed)
            continue;
        EXPECT_EQ(request.Outputs, row.Outputs) << what;
        EXPECT_EQ(request.Value, row.Value) << what;
        EXPECT_EQ(request.Until, row.Ends) << what;
        // The socket carries it whole.
        THoldRequest carried;
        ASSERT_TRUE(ParseHoldRequestLine(HoldRequestLine(request), carried)) << what;
        EXPECT_EQ(carried.Outputs, request.Outputs) << what;
        EXPECT_EQ(carried.Value, request.Value) << what;
        EXPECT_EQ(carried.Until, request.Until) << what;
    }
    // What the socket refuses.
    for (const char* line : {"set 40 on", "set 0 on", "set 1 maybe", "set 1 on 12x", "set 1 on -5",
                             "set 1 auto 1796000000", "set 1 on 1 2", "get 1 on"}) {
        THoldRequest request;
        EXPECT_FALSE(ParseHoldRequestLine(line, request)) << line;
    }
}

// The plan on the autumn change: an output on from 2:00 to 2:05 local time switches on twice.
TEST(SchoolWeekPlan, TheRepeatedHourSwitchesAgain)
{
    TWeek week;
    week.Main.Set(3, 0, 2, true); // D3, 2:00 to 2:05
    const auto plan =
        WeekPlan(week, {}, QDateTime::fromString("2026-10-24T22:00:00Z", Qt::ISODate), 1, Zone);
    QStringList seen;
    for (const TStep& step : plan)
        seen << step.At.toString(Qt::ISODate) + u' ' + QString::number(step.State.Word);
    // In local time, each with its offset: 2:00 in summer time, and again once the clocks have
    // gone back.
    EXPECT_EQ(seen.join(u'|').toStdString(),
              "2026-10-25T00:00:00+02:00 0|2026-10-25T02:00:00+02:00 8|"
              "2026-10-25T02:05:00+02:00 0|2026-10-25T02:00:00+01:00 8|"
              "2026-10-25T02:05:00+01:00 0");
}

} // namespace

// The holds file as a restart finds it: each line that does not read as a hold is counted, so
// that the timer can say so; empty lines are no lines.
// A request replaces the last hold of each output it names, auto only ends it, and a new hold's
// end comes from the request or from the plan.
TEST_F(SchoolWeek, ARequestReplacesTheHoldsOfItsOutputs)
{
    TWeek week;
    QString error;
    ASSERT_TRUE(LoadWeek(Hours(0, 8, 14), {}, QDate(2026, 12, 1), week, error));
    const QDateTime now = At("2026-12-09 09:00");
    const std::vector<THold> before{{0, false, At("2026-12-09 08:30"), At("2026-12-09 16:30"), {}},
                                    {1, true, At("2026-12-09 08:30"), {}, {}}};
    const struct
    {
        const char* What;
        THoldRequest Request;
        const char* Holds; // each as "Dn on|off END" (END "-": only AUTO ends it), by output
    } rows[] = {
        {"D0 on: replaces its hold, to the plan's next change",
         {0x01, true, {}},
         "D0 on 2026-12-09 14:00, D1 on -"},
        {"D2 off until a time: a new one beside them",
         {0x04, false, At("2026-12-09 12:00")},
         "D0 off 2026-12-09 16:30, D1 on -, D2 off 2026-12-09 12:00"},
        {"D1 auto: its hold ends", {0x02, std::nullopt, {}}, "D0 off 2026-12-09 16:30"},
        {"all auto: every hold ends", {0x3F, std::nullopt, {}}, ""},
        {"all off until a time",
         {0x3F, false, At("2026-12-09 10:00")},
         "D0 off 2026-12-09 10:00, D1 off 2026-12-09 10:00, D2 off 2026-12-09 10:00, D3 off "
         "2026-12-09 10:00, D4 off 2026-12-09 10:00, D5 off 2026-12-09 10:00"},
    };
    for (const auto& row : rows) {
        std::vector<THold> holds = before;
        ResolveHolds(week, holds, Zone);
        ApplyHoldRequest(row.Request, now, week, Zone, holds);
        std::sort(holds.begin(), holds.end(),
                  [](const THold& a, const THold& b) { return a.Output < b.Output; });
        QStringList shown;
        for (const THold& hold : holds)
            shown << QStringLiteral("D%1 %2 %3")
                         .arg(hold.Output)
                         .arg(hold.On ? QStringLiteral("on") : QStringLiteral("off"),
                              hold.Ends.isValid() ? hold.Ends.toTimeZone(Zone).toString(
                                                        QStringLiteral("yyyy-MM-dd HH:mm"))
                                                  : QStringLiteral("-"));
        EXPECT_EQ(shown.join(QStringLiteral(", ")).toStdString(), row.Holds) << row.What;
    }
}

TEST(SchoolWeekHolds, LinesThatDoNotReadAreCounted)
{
    const struct
    {
        const char* Text;
        std::size_t Holds;
        int Skipped;
    } rows[] = {
        {"", 0, 0},
        {"D2 on 2026-12-08T07:00:00Z\n\n", 1, 0},
        {"D2 on 2026-12-08T07:00:00Z 2026-12-08T09:00:00Z\nD0 off 2026-12-08T07:00:00Z\n", 2, 0},
        {"D2 on 2026-12-08T07:00:00Z\nD9 on 2026-12-08T07:00:00Z\n", 1, 1},
        {"all on 2026-12-08T07:00:00Z\nD1 on ayer\nD1 on\nbasura\n", 0, 4},
        {"D1 on 2026-12-08T07:00:00Z nunca\nD3 auto 2026-12-08T07:00:00Z\n", 0, 2},
    };
    for (const auto& row : rows) {
        int skipped = -1;
        EXPECT_EQ(ParseHolds(row.Text, &skipped).size(), row.Holds) << row.Text;
        EXPECT_EQ(skipped, row.Skipped) << row.Text;
    }
}
