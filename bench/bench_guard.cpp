// How soon the guard switches off after prvardo-timer dies, with the real program killed for
// real, on a relay board on a pseudo-terminal and on an MQTT plug on a private broker
// (scripts/mqtt-broker), D2 on before each death:
//
//   from SIGKILL to the board's 0x00 (goal: at most 1 s) and to the plug's OFF (goal: 2 s);
//   from SIGSTOP to the board's 0x00 with a watchdog of 1 s (goal: the watchdog and 1 s);
//   the guard's resident memory while it waits (goal: at most 2 MB);
//   on the relay board's sketch, run on a simulated ATmega328P, from the last byte to the relays
//   off (goal: 3 s, within 0.1 s).
//
// Each figure is the median of --rounds=N deaths (default 5), printed with its ratio to the goal.

#include "bench/BenchSupport.h"
#include "core/ScheduleFile.h"
#include "tests/relayboard/SimulatedBoard.h"
#include "tests/support/PtyBoard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

// When the board's last byte became `byte` after `from`; none within 10 s.
std::optional<Clock::time_point> BoardShows(TPtyBoard& board, char byte)
{
    for (const auto until = Clock::now() + std::chrono::seconds(10); Clock::now() < until;) {
        const std::string& all = board.Received();
        if (!all.empty() && all.back() == byte)
            return Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
}

qint64 GuardOf(qint64 pid)
{
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    return children.open(QIODevice::ReadOnly)
               ? children.readAll().trimmed().split(' ').value(0).toLongLong()
               : 0;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Print(const char* what, const std::vector<double>& ms, double goalMs)
{
    const double median = Median(ms);
    std::printf("%-44s median %7.1f ms (%zu deaths)   ratio to the goal of %.0f ms: %.2f\n", what,
                median, ms.size(), goalMs, median / goalMs);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    int rounds = 5;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--rounds=", 9) == 0)
            rounds = std::max(1, std::atoi(argv[i] + 9));
    QTemporaryDir dir;
    const QString brokerDir = dir.filePath(QStringLiteral("broker"));
    const QString broker = Broker(brokerDir, "start");
    if (broker.isEmpty()) {
        std::fprintf(stderr, "bench_guard: the private MQTT broker did not start\n");
        return 1;
    }
    TSchedule schedule; // D2 on all day
    for (int slot = 0; slot < TSchedule::Slots; ++slot)
        for (int hour = 0; hour < TSchedule::Hours; ++hour)
            schedule.Set(2, slot, hour, true);
    const QString path = dir.filePath(QStringLiteral("aula.tem"));
    WriteScheduleFile(path.toStdString(), schedule.Flags());
    QDir(dir.path()).mkpath(QStringLiteral("PrVardo"));
    QFile settings(dir.filePath(QStringLiteral("PrVardo/PrVardo.conf")));
    settings.open(QIODevice::WriteOnly);
    settings.write("[outputs]\nwatchdog = 1\n");
    settings.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* folder : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_STATE_HOME"})
        environment.insert(QString::fromLatin1(folder), dir.path());

    std::vector<double> killToBoard, killToPlug, stopToBoard;
    std::vector<long> guardKb;
    for (int round = 0; round < rounds; ++round)
        for (const int kind : {0, 1, 2}) { // SIGKILL on the board, on the plug; SIGSTOP
            TPtyBoard board;
            const QByteArray topic = "guardia" + QByteArray::number(round);
            TTopicWatch plug(broker, "cmnd/" + topic + "/POWER3");
            QProcess timer;
            timer.setProcessEnvironment(environment);
            timer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            const QString target =
                kind == 1 ? QStringLiteral("mqtt://%1/%2").arg(broker, QString::fromUtf8(topic))
                          : board.Target();
            timer.start(QStringLiteral(PRVARDO_TIMER), {path, QStringLiteral("--output"), target});
            const auto started = Clock::now();
            if (!(kind == 1 ? plug.After(started, "ON", 10) : BoardShows(board, 0x04))) {
                std::fprintf(stderr, "bench_guard: D2 never on\n");
                return 1;
            }
            if (const qint64 guard = GuardOf(timer.processId()); guard > 0)
                guardKb.push_back(ResidentKb(QString::number(guard)));
            const auto death = Clock::now();
            ::kill(static_cast<pid_t>(timer.processId()), kind == 2 ? SIGSTOP : SIGKILL);
            const auto off = kind == 1 ? plug.After(death, "OFF", 10) : BoardShows(board, '\0');
            if (!off) {
                std::fprintf(stderr, "bench_guard: never off\n");
                return 1;
            }
            const double ms = std::chrono::duration<double, std::milli>(*off - death).count();
            (kind == 0 ? killToBoard : kind == 1 ? killToPlug : stopToBoard).push_back(ms);
            timer.kill();
            timer.waitForFinished();
        }
    Print("SIGKILL to the board's 0x00", killToBoard, 1000);
    Print("SIGKILL to the plug's OFF", killToPlug, 2000);
    Print("SIGSTOP to the board's 0x00 (watchdog 1 s)", stopToBoard, 2000);
    std::sort(guardKb.begin(), guardKb.end());
    const long kb = guardKb.empty() ? 0 : guardKb.back();
    std::printf("%-44s most   %7ld kB                ratio to the goal of 2048 kB: %.2f\n",
                "the guard's resident memory while it waits", kb, static_cast<double>(kb) / 2048.0);
    Broker(brokerDir, "stop");

    // The sketch: a word, then nothing more from the PC.
    std::vector<double> silence;
    for (int round = 0; round < rounds; ++round) {
        simboard::Board sketch;
        sketch.waitStarted();
        sketch.show(0x04, 0x04);
        const auto off =
            sketch.waitFor([](const simboard::Event& e) { return simboard::isRelays(e, 0); },
                           std::chrono::seconds(10));
        double last = -1;
        for (const simboard::Event& e : sketch.history())
            if (e.kind == "rx")
                last = e.ms;
        if (!off || last < 0) {
            std::fprintf(stderr, "bench_guard: the sketch never switched off\n");
            return 1;
        }
        silence.push_back(off->ms - last);
    }
    Print("last byte to the relays off (the sketch)", silence, 3000);
    return 0;
}
