// prvardo-timer on the real clock: how late after a slot start the word leaves (at a
// pseudo-terminal), the time from `prvardo-timer --set` being started to its byte at the
// pseudo-terminal, the time from a set published on an MQTT broker (a private one,
// scripts/mqtt-broker) to the byte and to the state topic at a subscriber, and the program's CPU
// while it waits, as its share of one core, with a school calendar in force (days, holidays and
// an iCalendar file) and the timer on the broker.
//
//   bench_timer [BOUNDARIES]   the slot starts to wait for (default 1; each takes up to 5 minutes)
//
// The schedule switches D0 at every slot start, so that each one sends a byte.

#include "bench/BenchSupport.h"
#include "core/ScheduleFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <mosquitto.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

// User and system time of a process so far, in seconds.
double CpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // utime and stime are the 14th and 15th fields; 12th and 13th after the name.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
           double(::sysconf(_SC_CLK_TCK));
}

// The next word at the pseudo-terminal for which `wanted` holds, within `ms`; the serial target
// sends its word again every second, and those repeats are read past. Its arrival, or none.
template <typename TWanted>
std::optional<Clock::time_point> NextWord(int master, TWanted wanted, int ms)
{
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        pollfd p{master, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return std::nullopt;
        const auto arrived = Clock::now();
        unsigned char byte = 0;
        if (::read(master, &byte, 1) != 1)
            return std::nullopt;
        if (wanted(byte))
            return arrived;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int boundaries = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("alterna.tem"));
    TSchedule schedule;
    for (int slot = 0; slot < TSchedule::Slots; ++slot)
        for (int hour = 0; hour < TSchedule::Hours; ++hour)
            schedule.Set(0, slot, hour, slot % 2 == 0);
    WriteScheduleFile(path.toStdString(), schedule.Flags());

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;
    // A calendar in force: every day a school day, a few holidays away from today, and an
    // iCalendar file with a yearly holiday.
    const QDate today = QDate::currentDate();
    QDir(dir.path()).mkpath(QStringLiteral("PrVardo"));
    QDir(dir.path()).mkdir(QStringLiteral("run"));
    QFile::setPermissions(dir.filePath(QStringLiteral("run")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile ics(dir.filePath(QStringLiteral("festivos.ics")));
    QFile settings(dir.filePath(QStringLiteral("PrVardo/PrVardo.conf")));
    if (!ics.open(QIODevice::WriteOnly) || !settings.open(QIODevice::WriteOnly))
        return 1;
    ics.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//ES\r\nBEGIN:VEVENT\r\n"
              "UID:fiesta@bench\r\nDTSTAMP:20200101T000000Z\r\nDTSTART;VALUE=DATE:" +
              today.addDays(100).toString(QStringLiteral("yyyyMMdd")).toLatin1() +
              "\r\nRRULE:FREQ=YEARLY\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    ics.close();
    const QString brokerDir = dir.filePath(QStringLiteral("broker"));
    const QString broker = Broker(brokerDir, "start");
    if (broker.isEmpty()) {
        std::fprintf(stderr, "bench_timer: the private MQTT broker did not start\n");
        return 1;
    }
    settings.write(QStringLiteral("[timer]\ndays = lun-dom\nholidays = %1..%2, %3\n"
                                  "mqtt = mqtt://%4/bench\n")
                       .arg(today.addDays(40).toString(Qt::ISODate),
                            today.addDays(50).toString(Qt::ISODate), ics.fileName(), broker)
                       .toUtf8());
    settings.close();

    QProcess timer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
    timer.setProcessEnvironment(environment);
    timer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    timer.start(QStringLiteral(PRVARDO_TIMER), {path, QStringLiteral("--output"),
                                                QStringLiteral("serial:") + QLatin1String(name)});
    if (!timer.waitForStarted())
        return 1;
    // The current slot's word.
    if (!NextWord(
            master, [](unsigned char) { return true; }, 5000))
        return 1;
    const auto d1 = [](bool on) {
        return [on](unsigned char word) { return ((word & 2) != 0) == on; };
    };

    // --set D1=on, then off, and so on: from the client's start to its byte.
    std::vector<double> setMs;
    for (int i = 0; i < 21; ++i) {
        QProcess client;
        client.setProcessEnvironment(environment);
        const auto started = std::chrono::steady_clock::now();
        client.start(QStringLiteral(PRVARDO_TIMER),
                     {QStringLiteral("--set"),
                      i % 2 == 0 ? QStringLiteral("D1=on") : QStringLiteral("D1=off")});
        const auto arrived = NextWord(master, d1(i % 2 == 0), 5000);
        if (!arrived)
            break;
        setMs.push_back(std::chrono::duration<double, std::milli>(*arrived - started).count());
        client.waitForFinished();
    }
    std::sort(setMs.begin(), setMs.end());
    if (setMs.size() != 21) {
        std::printf("a --set did not reach the pseudo-terminal\n");
        return 1;
    }
    std::printf("--set to its byte: %.1f ms median of %zu, %.1f ms at worst; vs 100 ms: %.2f\n",
                setMs[setMs.size() / 2], setMs.size(), setMs.back(),
                setMs[setMs.size() / 2] / 100.0);

    // A set published on the broker: to the byte, and to the state topic at a subscriber.
    std::vector<double> brokerToByte;
    std::vector<double> brokerToState;
    {
        TTopicWatch watch(broker, "bench/D1");
        mosquitto* publisher = mosquitto_new(nullptr, true, nullptr);
        mosquitto_int_option(publisher, MOSQ_OPT_TCP_NODELAY, 1);
        const auto colon = broker.lastIndexOf(u':');
        mosquitto_connect(publisher, broker.left(colon).toUtf8().constData(),
                          broker.mid(colon + 1).toInt(), 60);
        // The publisher's network loop runs here, so that each set leaves at once.
        for (const auto until = Clock::now() + std::chrono::milliseconds(300);
             Clock::now() < until;)
            mosquitto_loop(publisher, 10, 1);
        for (int i = 0; i < 21; ++i) {
            const QByteArray payload = i % 2 == 0 ? "OFF" : "ON"; // D1 is on after the --set
            const auto sent = Clock::now();
            mosquitto_publish(publisher, nullptr, "bench/D1/set", static_cast<int>(payload.size()),
                              payload.constData(), 1, false);
            mosquitto_loop(publisher, 0, 1);
            const auto arrived = NextWord(master, d1(payload == "ON"), 5000);
            if (!arrived)
                break;
            brokerToByte.push_back(
                std::chrono::duration<double, std::milli>(*arrived - sent).count());
            if (const auto stated = watch.After(sent, payload))
                brokerToState.push_back(
                    std::chrono::duration<double, std::milli>(*stated - sent).count());
        }
        mosquitto_disconnect(publisher);
        mosquitto_destroy(publisher);
    }
    std::sort(brokerToByte.begin(), brokerToByte.end());
    std::sort(brokerToState.begin(), brokerToState.end());
    if (brokerToByte.size() != 21 || brokerToState.size() != 21) {
        std::printf("a set on the broker did not reach the pseudo-terminal or the state topic\n");
        return 1;
    }
    std::printf("a set on the broker to its byte: %.1f ms median of %zu, %.1f ms at worst; vs "
                "20 ms: %.2f; to the state topic: %.1f ms median, %.1f ms at worst\n",
                brokerToByte[10], brokerToByte.size(), brokerToByte.back(), brokerToByte[10] / 20.0,
                brokerToState[10], brokerToState.back());

    const double cpuBefore = CpuSeconds(timer.processId());
    const auto waitStart = std::chrono::steady_clock::now();
    std::vector<double> lateMs;
    for (int i = 0; i < boundaries; ++i) {
        // The wall clock in microseconds, and the steady one from the same instant for the arrival.
        const qint64 now = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
        const auto steady = Clock::now();
        constexpr qint64 Slot = 300'000'000; // five minutes, in microseconds
        const qint64 boundary = (now / Slot + 1) * Slot;
        // D0 turns at every slot start: on in the even ones.
        const bool on = (boundary / Slot) % 2 == 0;
        const auto arrived = NextWord(
            master, [on](unsigned char word) { return ((word & 1) != 0) == on; },
            static_cast<int>((boundary - now) / 1000 + 10000));
        if (!arrived)
            break;
        lateMs.push_back(double(now - boundary) / 1000.0 +
                         std::chrono::duration<double, std::milli>(*arrived - steady).count());
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - waitStart).count();
    const double cpu = CpuSeconds(timer.processId()) - cpuBefore;
    timer.terminate();
    timer.waitForFinished();
    std::sort(lateMs.begin(), lateMs.end());
    if (lateMs.empty()) {
        std::printf("no slot start was seen\n");
        return 1;
    }
    std::printf("the word left %.1f ms after the slot start (median of %zu), %.1f ms at worst; "
                "vs 1 s: %.4f\n",
                lateMs[lateMs.size() / 2], lateMs.size(), lateMs.back(), lateMs.back() / 1000.0);
    std::printf("CPU while waiting: %.5f %% of a core over %.0f s (goal under 0.01 %%)\n",
                100.0 * cpu / wall, wall);
    ::close(slave);
    ::close(master);
    Broker(brokerDir, "stop");
    return 0;
}
