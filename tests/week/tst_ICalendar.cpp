// Holiday dates read from iCalendar files as school calendar programs export them.

#include "week/ICalendar.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

QString Calendar(const QString& events)
{
    return "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Colegio//Calendario//ES\n" + events +
           "END:VCALENDAR\n";
}

QString Event(const QString& lines)
{
    return "BEGIN:VEVENT\nUID:" + QString::number(qHash(lines)) + "@colegio\n" + lines +
           "END:VEVENT\n";
}

// "2026-12-21..2026-12-23" stands for every day between the two, both included.
QString Expand(const QString& expected)
{
    QStringList days;
    for (const QString& word : expected.split(' ', Qt::SkipEmptyParts)) {
        const QStringList ends = word.split("..");
        const QDate last = QDate::fromString(ends.last(), Qt::ISODate);
        if (!last.isValid())
            days << word; // "refused"
        else
            for (QDate d = QDate::fromString(ends.first(), Qt::ISODate); d <= last;
                 d = d.addDays(1))
                days << d.toString(Qt::ISODate);
    }
    return days.join(' ');
}

} // namespace

TEST(ReadHolidayFile, DatesInTheWindow)
{
    struct Case
    {
        const char* name;
        QString text; // null: no file at all
        QDate from, to;
        QString expected; // dates, or "refused"
    };
    const QDate y2026(2026, 1, 1), end2026(2026, 12, 31);
    const Case cases[] = {
        {"single day", Calendar(Event("DTSTART;VALUE=DATE:20261012\n")), y2026, end2026,
         "2026-10-12"},
        {"over the new year",
         Calendar(Event("DTSTART;VALUE=DATE:20261221\nDTEND;VALUE=DATE:20270108\n")),
         {2026, 9, 1},
         {2027, 6, 30},
         "2026-12-21..2027-01-07"},
        {"yearly",
         Calendar(Event("DTSTART;VALUE=DATE:20201225\nRRULE:FREQ=YEARLY\n")),
         y2026,
         {2028, 12, 31},
         "2026-12-25 2027-12-25 2028-12-25"},
        {"one occurrence moved, one cancelled",
         Calendar("BEGIN:VEVENT\nUID:fiesta@colegio\nDTSTART;VALUE=DATE:20201225\n"
                  "RRULE:FREQ=YEARLY\nEND:VEVENT\n"
                  "BEGIN:VEVENT\nUID:fiesta@colegio\nRECURRENCE-ID;VALUE=DATE:20271225\n"
                  "DTSTART;VALUE=DATE:20271227\nEND:VEVENT\n"
                  "BEGIN:VEVENT\nUID:fiesta@colegio\nRECURRENCE-ID;VALUE=DATE:20281225\n"
                  "DTSTART;VALUE=DATE:20281225\nSTATUS:CANCELLED\nEND:VEVENT\n"),
         y2026,
         {2028, 12, 31},
         "2026-12-25 2027-12-27"},
        {"weekly, count and exdate",
         Calendar(Event("DTSTART;VALUE=DATE:20261102\nRRULE:FREQ=WEEKLY;COUNT=4\n"
                        "EXDATE;VALUE=DATE:20261109\n")),
         y2026,
         {2027, 12, 31},
         "2026-11-02 2026-11-16 2026-11-23"},
        {"rdate",
         Calendar(Event("DTSTART;VALUE=DATE:20260302\nRDATE;VALUE=DATE:20260415,20270101\n")),
         y2026, end2026, "2026-03-02 2026-04-15"},
        {"duration", Calendar(Event("DTSTART;VALUE=DATE:20260406\nDURATION:P3D\n")), y2026, end2026,
         "2026-04-06..2026-04-08"},
        {"timed event",
         Calendar(Event("DTSTART:20261208T080000Z\nDTEND:20261208T140000Z\n") +
                  Event("DTSTART;VALUE=DATE:20261207\n")),
         y2026, end2026, "2026-12-07"},
        {"cancelled",
         Calendar(Event("DTSTART;VALUE=DATE:20260501\nSTATUS:CANCELLED\n") +
                  Event("DTSTART;VALUE=DATE:20260502\nSTATUS:CONFIRMED\n")),
         y2026, end2026, "2026-05-02"},
        {"open rule",
         Calendar(Event("DTSTART;VALUE=DATE:20200101\nRRULE:FREQ=MONTHLY\n")),
         {2026, 1, 15},
         {2026, 4, 15},
         "2026-02-01 2026-03-01 2026-04-01"},
        {"window cuts an event",
         Calendar(Event("DTSTART;VALUE=DATE:20260720\nDTEND;VALUE=DATE:20260801\n")),
         {2026, 7, 25},
         end2026,
         "2026-07-25..2026-07-31"},
        {"yearly over the new year",
         Calendar(Event("DTSTART;VALUE=DATE:20201223\nDTEND;VALUE=DATE:20210108\n"
                        "RRULE:FREQ=YEARLY\n")),
         {2027, 1, 1},
         {2027, 12, 31},
         "2027-01-01..2027-01-07 2027-12-23..2027-12-31"},
        {"crlf and folded lines",
         "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:1@colegio\r\nSUMMARY:Puente de\r\n "
         "l Pilar\r\nDTSTART;VALUE=DA\r\n TE:20261012\r\nRRULE:FREQ=DAILY;CO\r\n UNT=2\r\n"
         "END:VEVENT\r\nEND:VCALENDAR\r\n",
         y2026, end2026, "2026-10-12 2026-10-13"},
        {"two calendars",
         Calendar(Event("DTSTART;VALUE=DATE:20260101\n")) +
             Calendar(Event("DTSTART;VALUE=DATE:20260106\n")),
         y2026, end2026, "2026-01-01 2026-01-06"},
        {"no calendar", Event("DTSTART;VALUE=DATE:20261012\n"), y2026, end2026, "refused"},
        {"garbage", "Vacaciones: del 21 al 7\n\x01\x02 nada", y2026, end2026, "refused"},
        {"empty", "", y2026, end2026, "refused"},
        {"missing", QString(), y2026, end2026, "refused"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath("calendario.ics");
        if (!c.text.isNull()) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.text.toUtf8());
        }
        const QDate before(1999, 12, 31); // a date the set already holds, and keeps
        std::set<QDate> dates{before};
        QString error;
        QStringList got;
        if (ReadHolidayFile(path, c.from, c.to, dates, error)) {
            EXPECT_EQ(dates.erase(before), 1u) << c.name;
            for (const QDate& d : dates)
                got << d.toString(Qt::ISODate);
        } else {
            got << "refused";
            EXPECT_TRUE(error.contains(path)) << c.name << ": " << error.toStdString();
            EXPECT_FALSE(error.contains('\n')) << c.name;
        }
        EXPECT_EQ(got.join(' ').toStdString(), Expand(c.expected).toStdString()) << c.name;
    }
}

// A calendar that is no file to read (a FIFO nobody writes to, a device) or longer than any
// school's is refused at once, without reading it into memory.
TEST(ReadHolidayFile, NoFileToReadIsRefusedAtOnce)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("fifo.ics");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString zero = dir.filePath("zero.ics");
    ASSERT_TRUE(QFile::link("/dev/zero", zero));
    const QString huge = dir.filePath("huge.ics");
    {
        // A real calendar up to the bound, and a byte more.
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const QByteArray event = Event("DTSTART;VALUE=DATE:20261012\n").toUtf8();
        file.write(Calendar({}).toUtf8().chopped(14));
        while (file.size() < qint64(HolidayFileLimit))
            file.write(event);
        file.write("END:VCALENDAR\n");
    }
    for (const QString& path : {fifo, zero, huge}) {
        std::set<QDate> dates;
        QString error;
        const std::string what = path.toStdString();
        EXPECT_FALSE(ReadHolidayFile(path, {2026, 1, 1}, {2026, 12, 31}, dates, error)) << what;
        EXPECT_TRUE(error.contains(path)) << error.toStdString();
        EXPECT_TRUE(dates.empty()) << what;
    }
}
