// What the outputs cost the window, and how soon a word reaches real counterparts, measured in
// one run: a serial target on a pseudo-terminal and an MQTT target on a private mosquitto broker
// (scripts/mqtt-broker).
//
//   WritePort on the GUI thread, as a share of the 1 ms clock tick (goal: at most 1 %), with the
//   broker answering and with the broker stopped (SIGSTOP);
//   from WritePort to the byte at the pseudo-terminal and to the message at a subscriber, median
//   and 95th percentile (goal: median under 5 ms, p95 under 5 ms to the subscriber);
//   from Write to the byte at the pseudo-terminal with an MQTT target hanging in its connect
//   beside it, as a ratio to the same alone (goal at most 1.2), and from the end to the board's
//   all off then (goal at most 1 s);
//   from a Modbus target's Write to the coils at a board served by pymodbus
//   (tests/support/modbus-board), RTU at 9600 and 115200 baud on a pseudo-terminal and TCP,
//   median and 95th percentile, beside the time the request's frame takes on a real line.

#include "bench/BenchSupport.h"
#include "outputs/Outputs.h"
#include "outputs/Targets.h"
#include "tests/support/NeverAccepts.h"
#include "tests/support/PtyBoard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <mosquitto.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

void SignalBroker(const QString& dir, int signal)
{
    QFile pid(dir + QStringLiteral("/broker.pid"));
    if (pid.open(QIODevice::ReadOnly))
        ::kill(pid.readAll().trimmed().toInt(), signal);
}

// Every message of cmnd/#, with the time it came.
struct TSubscriber
{
    mosquitto* Client = nullptr;
    std::mutex Lock;
    std::vector<Clock::time_point> Arrived;

    explicit TSubscriber(const QString& address)
    {
        Client = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(Client,
                                       [](mosquitto*, void* self, const mosquitto_message*) {
                                           auto& s = *static_cast<TSubscriber*>(self);
                                           const std::lock_guard lock(s.Lock);
                                           s.Arrived.push_back(Clock::now());
                                       });
        const qsizetype colon = address.lastIndexOf(u':');
        mosquitto_connect(Client, address.left(colon).toUtf8().constData(),
                          address.mid(colon + 1).toInt(), 60);
        mosquitto_subscribe(Client, nullptr, "cmnd/#", 1);
        mosquitto_loop_start(Client);
    }
    ~TSubscriber()
    {
        mosquitto_disconnect(Client);
        mosquitto_loop_stop(Client, true);
        mosquitto_destroy(Client);
    }
    std::size_t Count()
    {
        const std::lock_guard lock(Lock);
        return Arrived.size();
    }
};

// Spins the event loop until `done` or the deadline.
template <class F> bool Until(F done, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!done() && Clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return done();
}

double WriteShare(TOutputs& outputs)
{
    constexpr int calls = 200000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < calls; ++i)
        outputs.Write(static_cast<std::uint8_t>(i & 1 ? 0x15 : 0x2A));
    const double perCall = double(timer.nsecsElapsed()) / calls;
    QCoreApplication::processEvents();
    return perCall / 1e6; // of a 1 ms tick
}

double Quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(q * double(values.size() - 1))];
}

double Ms(Clock::duration span)
{
    return std::chrono::duration<double, std::milli>(span).count();
}

// A relay board on a pseudo-terminal, alone or beside an MQTT target whose broker never answers
// its connect.
class TBoardOutputs
{
public:
    explicit TBoardOutputs(int hangingPort)
    {
        QString error;
        TTargetSpec serial;
        ParseTarget(FBoard.Target(), serial, error);
        std::vector<std::unique_ptr<TOutputTarget>> targets;
        targets.push_back(MakeTarget(serial));
        if (hangingPort != 0) {
            TTargetSpec hanging;
            ParseTarget(QStringLiteral("mqtt://127.0.0.1:%1/regleta").arg(hangingPort), hanging,
                        error);
            targets.push_back(MakeTarget(hanging));
        }
        FOutputs = std::make_unique<TOutputs>(std::move(targets));
        FOutputs->Start();
        Until([&] { return FBoard.Shows(0); }, std::chrono::seconds(5));
    }

    // From Write to the byte at the board; -1 when it never came.
    double Round(std::uint8_t word)
    {
        const auto start = Clock::now();
        FOutputs->Write(word);
        return Until([&] { return FBoard.Shows(word); }, std::chrono::seconds(2))
                   ? Ms(Clock::now() - start)
                   : -1;
    }

    // With D0 on, the end: when the board got its all off, and when the end returned.
    std::pair<double, double> End()
    {
        Round(1);
        std::atomic<Clock::rep> off{0};
        std::thread watcher([&] {
            for (const auto until = Clock::now() + std::chrono::seconds(3); Clock::now() < until;) {
                pollfd ready{FBoard.Fd(), POLLIN, 0};
                char seen = 1;
                if (::poll(&ready, 1, 50) > 0 && ::read(FBoard.Fd(), &seen, 1) == 1 && seen == 0) {
                    off = Clock::now().time_since_epoch().count();
                    return;
                }
            }
        });
        const auto end = Clock::now();
        FOutputs->Stop();
        const double returned = Ms(Clock::now() - end);
        watcher.join();
        return {off != 0 ? Ms(Clock::time_point(Clock::duration(off.load())) - end) : -1, returned};
    }

private:
    TPtyBoard FBoard;
    std::unique_ptr<TOutputs> FOutputs; // ended before the board goes
};

} // namespace

// From Write to the coils at a Modbus board of pymodbus's, for `rounds` words: the times in ms.
std::vector<double> ModbusRounds(bool tcp, int baud, int rounds)
{
    QTemporaryDir dir;
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    int port = 0;
    if (tcp) {
        const TNeverAccepts probe; // a free port: its listener goes with it
        port = probe.Port;
    }
    const QString device = dir.filePath(QStringLiteral("ttyModbus"));
    server.start(QStringLiteral(PRVARDO_SOURCE_DIR "/tests/support/modbus-board"),
                 tcp ? QStringList{"tcp", QString::number(port)}
                     : QStringList{"rtu", device, QString::number(baud)});
    QByteArray out;
    // Until the board prints `line` (taken), at most 15 s.
    const auto wait = [&](const QByteArray& line) {
        for (const auto deadline = Clock::now() + std::chrono::seconds(15);
             Clock::now() < deadline;) {
            out += server.readAllStandardOutput();
            if (const qsizetype at = out.indexOf(line); at >= 0) {
                out.remove(0, at + line.size());
                return true;
            }
            server.waitForReadyRead(10);
        }
        return false;
    };
    std::vector<double> times;
    if (!wait("ready"))
        return times;
    TModbusAddress address;
    address.Tcp = tcp;
    address.Device = device;
    address.Baud = baud;
    address.Host = QStringLiteral("127.0.0.1");
    address.Port = std::uint16_t(port);
    const auto target = MakeTarget(QStringLiteral("modbus"), address);
    if (!target->Open())
        return times;
    for (int i = 0; i < rounds; ++i) {
        const auto word = static_cast<std::uint8_t>(i & 1 ? 0x15 : 0x2A);
        const auto start = Clock::now();
        if (!target->Write(word, -1) ||
            !wait(QByteArray("coils ") + QByteArray::number(word, 16).rightJustified(2, '0')))
            break;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    target->Close();
    server.kill();
    server.waitForFinished();
    return times;
}

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    mosquitto_lib_init();
    QTemporaryDir dir;
    const QString address = Broker(dir.path(), "start");
    if (address.isEmpty()) {
        std::fprintf(stderr, "bench_outputs: the private MQTT broker did not start\n");
        return 1;
    }
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "bench_outputs: no pseudo-terminal\n");
        return 1;
    }
    TSubscriber subscriber(address);

    QString error;
    TTargetSpec serial;
    TTargetSpec mqtt;
    ParseTarget(QStringLiteral("serial:%1").arg(QString::fromLatin1(name)), serial, error);
    ParseTarget(QStringLiteral("mqtt://%1/regleta").arg(address), mqtt, error);
    std::vector<std::unique_ptr<TOutputTarget>> targets;
    targets.push_back(MakeTarget(serial));
    targets.push_back(MakeTarget(mqtt));
    TOutputs outputs(std::move(targets));
    outputs.Start();
    // Both open: the serial all-off byte and six OFF messages.
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    char byte = 1;
    bool opened = false;
    Until(
        [&] {
            opened = opened || ::read(master, &byte, 1) == 1;
            return opened && subscriber.Count() >= 6;
        },
        std::chrono::seconds(5));

    const double share = WriteShare(outputs);
    // All off, so that the first word below is a change; the last words go out, then the
    // pseudo-terminal is emptied.
    outputs.Write(0x00);
    Until([] { return false; }, std::chrono::milliseconds(300));
    while (::read(master, &byte, 1) == 1) {
    }

    std::vector<double> toSerial;
    std::vector<double> toBroker;
    for (int i = 0; i < 200; ++i) {
        const std::size_t before = subscriber.Count();
        const auto word = static_cast<std::uint8_t>(i & 1 ? 0x00 : 0x01); // D0 changes: one message
        const auto start = Clock::now();
        outputs.Write(word);
        bool gotByte = false;
        Until(
            [&] {
                // The serial target sends its word again every second: a repeat of the last word
                // is read past.
                if (!gotByte && ::read(master, &byte, 1) == 1 && byte == char(word)) {
                    gotByte = true;
                    toSerial.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                }
                return gotByte && subscriber.Count() > before;
            },
            std::chrono::seconds(2));
        {
            const std::lock_guard lock(subscriber.Lock);
            if (subscriber.Arrived.size() > before)
                toBroker.push_back(
                    std::chrono::duration<double, std::milli>(subscriber.Arrived[before] - start)
                        .count());
        }
    }

    SignalBroker(dir.path(), SIGSTOP);
    const double stoppedShare = WriteShare(outputs);
    SignalBroker(dir.path(), SIGCONT);

    std::printf("WritePort on the GUI thread: %.5f of a 1 ms tick (%.3f %%), broker stopped: "
                "%.5f (%.3f %%); goal at most 1 %%\n",
                share, share * 100, stoppedShare, stoppedShare * 100);
    std::printf("WritePort to the byte at the pseudo-terminal: median %.2f ms, p95 %.2f ms "
                "(%zu words); median vs the 5 ms goal: %.2f\n",
                Quantile(toSerial, 0.5), Quantile(toSerial, 0.95), toSerial.size(),
                Quantile(toSerial, 0.5) / 5.0);
    std::printf("WritePort to the message at a subscriber: median %.2f ms, p95 %.2f ms "
                "(%zu words); median vs the 5 ms goal: %.2f, p95 vs the 5 ms goal: %.2f\n",
                Quantile(toBroker, 0.5), Quantile(toBroker, 0.95), toBroker.size(),
                Quantile(toBroker, 0.5) / 5.0, Quantile(toBroker, 0.95) / 5.0);
    outputs.Stop();
    Broker(dir.path(), "stop");

    // One target hanging in its connect beside the board.
    const TNeverAccepts unanswered;
    TBoardOutputs alone(0);
    TBoardOutputs beside(unanswered.Port);
    std::vector<double> aloneToBoard;
    std::vector<double> besideToBoard;
    for (int i = 1; i <= 400; ++i) { // in turns, so that both meet the same machine
        const auto word = static_cast<std::uint8_t>(i & 1);
        aloneToBoard.push_back(alone.Round(word));
        besideToBoard.push_back(beside.Round(word));
    }
    std::printf("Write to the byte at the pseudo-terminal beside a hanging MQTT target, as a "
                "ratio to the same alone: median %.2f (%.3f ms vs %.3f ms), p95 %.2f (%.3f ms vs "
                "%.3f ms); goal at most 1.2\n",
                Quantile(besideToBoard, 0.5) / Quantile(aloneToBoard, 0.5),
                Quantile(besideToBoard, 0.5), Quantile(aloneToBoard, 0.5),
                Quantile(besideToBoard, 0.95) / Quantile(aloneToBoard, 0.95),
                Quantile(besideToBoard, 0.95), Quantile(aloneToBoard, 0.95));
    const auto [aloneOff, aloneReturned] = alone.End();
    const auto [besideOff, besideReturned] = beside.End();
    std::printf("From the end to the board's all off beside a hanging MQTT target: %.2f ms (%.4f "
                "of the 1 s goal); the end returned after %.2f ms (alone: %.2f ms, %.2f ms)\n",
                besideOff, besideOff / 1000.0, besideReturned, aloneOff, aloneReturned);
    ::close(slave);
    ::close(master);

    // Modbus: write multiple coils for six coils is 10 bytes on RTU, of 10 bits each on the line.
    const struct
    {
        const char* What;
        bool Tcp;
        int Baud;
    } modbus[] = {{"RTU at 9600 baud", false, 9600},
                  {"RTU at 115200 baud", false, 115200},
                  {"TCP on the loopback", true, 0}};
    for (const auto& line : modbus) {
        const std::vector<double> times = ModbusRounds(line.Tcp, line.Baud, 100);
        if (times.empty()) {
            std::fprintf(stderr, "bench_outputs: the Modbus board (%s) did not answer\n",
                         line.What);
            return 1;
        }
        const double median = Quantile(times, 0.5);
        if (line.Tcp)
            std::printf("Modbus Write to the coils at the board, %s: median %.2f ms, p95 %.2f "
                        "ms (%zu words)\n",
                        line.What, median, Quantile(times, 0.95), times.size());
        else {
            const double frame = 10 * 10 * 1000.0 / line.Baud;
            std::printf("Modbus Write to the coils at the board, %s on a pseudo-terminal: median "
                        "%.2f ms, p95 %.2f ms (%zu words); the request's frame alone takes %.2f "
                        "ms on a real line: ratio %.2f\n",
                        line.What, median, Quantile(times, 0.95), times.size(), frame,
                        median / frame);
        }
    }
    return 0;
}
