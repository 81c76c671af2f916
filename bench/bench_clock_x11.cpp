// What a running clock costs in a real X server, as shares of one core measured in one run:
// the program's main window in a process of its own on an Xvfb server of its own, first with
// the clock stopped, then running at its 1 ms timer as the clock button leaves it, then in Test
// mode (also 1 ms; a new slot every 16 ticks) and in Test mode with the slider at its fastest
// (a new slot every 2 ticks). For each phase: the CPU time of the window's process and of the
// X server over the phase, divided by the phase's length, and the ticks the clock made per
// second against the 1000 the timer asks for. Before them, for reference, each in a process of
// its own: a plain Qt window with a plain 1 ms QTimer, which wakes at every tick (the clock's
// timer wakes once per group of ticks), and a plain Qt window whose one label changes at every
// frame of a 60 Hz screen, what repainting at the display's full pace costs the toolkit.
//
//   bench_clock_x11 [--seconds=N]     (N seconds per phase, default 10)
//
// Goal: under 0.02 of a core for the window and under 0.01 for the X server while the clock
// runs at 1 ms (as the clock button leaves it, and in Test mode).

#include "app/UnitVardo.h"
#include "platform/Application.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProcess>
#include <QSocketNotifier>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

class CountingForm : public TFormVardo
{
public:
    long Writes = 0;
    void WritePort(std::uint8_t) override { ++Writes; }
};

// The window's side: shows the window and obeys one command per line on standard input
// ("start": the clock button; "test": the "Test/Normal" check box; "fastest": the slider to its
// fastest; "ticks": prints the number of ticks so far), answering each with a line. The plain
// references instead show a plain Qt window, where "start" starts a plain 1 ms QTimer
// (`--bare`) or a 17 ms one that changes a label's text, so that the label is repainted at
// every frame (`--bare-label`).
int RunWindow(int argc, char** argv, const std::string& mode)
{
    TApplication app(argc, argv);
    const bool bare = mode != "--window";
    CountingForm form;
    QWidget plain;
    auto* label = new QLabel(QStringLiteral("0"), &plain);
    label->setGeometry(216, 4, 33, 24);
    QTimer timer;
    long bareTicks = 0;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(mode == "--bare-label" ? 17 : 1);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++bareTicks;
        if (mode == "--bare-label")
            label->setText(QString::number(bareTicks % 12 * 5));
    });
    QWidget* shown = bare ? &plain : static_cast<QWidget*>(&form);
    shown->resize(form.size());
    shown->show();
    if (!QTest::qWaitForWindowExposed(shown))
        return 1;
    form.PageControl1->setCurrentIndex(0);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            QCoreApplication::quit();
            return;
        }
        if (line == "start")
            bare ? timer.start() : form.SpeedButton1->click();
        else if (line == "test" && !bare)
            form.Velocidad->click();
        else if (line == "fastest" && !bare)
            form.TrackBar1->setValue(form.TrackBar1->maximum());
        if (line == "ticks")
            std::printf("%ld\n", bare ? bareTicks : form.Writes);
        else
            std::printf("ok\n");
        std::fflush(stdout);
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// User plus system CPU time of a process, in seconds.
double CpuSeconds(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    return ticks / double(sysconf(_SC_CLK_TCK));
}

std::string Ask(QProcess& window, const char* command)
{
    window.write(QByteArray(command) + '\n');
    window.waitForBytesWritten(5000);
    while (!window.canReadLine())
        if (!window.waitForReadyRead(10000))
            return {};
    return window.readLine().trimmed().toStdString();
}

struct Phase
{
    double window = 0;
    double server = 0;
    double ticksPerSecond = 0;
};

Phase Measure(QProcess& window, qint64 server, int seconds)
{
    std::this_thread::sleep_for(std::chrono::seconds(1)); // settle
    const long ticks0 = std::stol("0" + Ask(window, "ticks"));
    const double w0 = CpuSeconds(window.processId());
    const double s0 = CpuSeconds(server);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double w1 = CpuSeconds(window.processId());
    const double s1 = CpuSeconds(server);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long ticks1 = std::stol("0" + Ask(window, "ticks"));
    return {(w1 - w0) / elapsed, (s1 - s0) / elapsed, double(ticks1 - ticks0) / elapsed};
}

int RunBench(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 10;
    for (const QString& arg : QCoreApplication::arguments().mid(1))
        if (arg.startsWith(QLatin1String("--seconds=")))
            seconds = std::max(1, arg.mid(10).toInt());

    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
    if (!xvfb.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    while (!xvfb.canReadLine())
        if (!xvfb.waitForReadyRead(10000)) {
            std::fprintf(stderr, "Xvfb reported no display\n");
            return 1;
        }
    const QString display = QLatin1Char(':') + QString::fromLatin1(xvfb.readLine().trimmed());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const auto launch = [&](QProcess& process, const QString& mode) {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationFilePath(), {mode});
        bool ready = process.waitForStarted(10000);
        while (ready && !process.canReadLine())
            ready = process.waitForReadyRead(30000);
        return ready && process.readLine().trimmed() == "ready";
    };
    const auto finish = [](QProcess& process) {
        process.closeWriteChannel();
        if (!process.waitForFinished(10000))
            process.kill();
    };

    // The references first, each alone on the display.
    const auto reference = [&](const QString& mode) {
        Phase phase;
        QProcess bare;
        if (launch(bare, mode)) {
            Ask(bare, "start");
            phase = Measure(bare, xvfb.processId(), seconds);
        }
        finish(bare);
        return phase;
    };
    const Phase plain = reference(QStringLiteral("--bare"));
    const Phase plainLabel = reference(QStringLiteral("--bare-label"));

    QProcess window;
    int status = 1;
    if (launch(window, QStringLiteral("--window"))) {
        const Phase stopped = Measure(window, xvfb.processId(), seconds);
        Ask(window, "start");
        const Phase running = Measure(window, xvfb.processId(), seconds);
        Ask(window, "test");
        const Phase test = Measure(window, xvfb.processId(), seconds);
        Ask(window, "fastest");
        const Phase fastest = Measure(window, xvfb.processId(), seconds);
        auto print = [](const char* name, const Phase& p, bool ticking = true) {
            std::printf("%-40s window %.4f of a core, X server %.4f", name, p.window, p.server);
            if (ticking)
                std::printf(", ticks/s %.0f (ratio to 1000: %.3f)\n", p.ticksPerSecond,
                            p.ticksPerSecond / 1000.0);
            else
                std::printf(", label changes/s %.0f\n", p.ticksPerSecond);
        };
        std::printf("Xvfb %s, %d s per phase\n", qPrintable(display), seconds);
        print("plain window, plain 1 ms QTimer:", plain);
        print("plain window, a label every frame:", plainLabel, false);
        print("clock stopped:", stopped);
        print("clock running at 1 ms (start):", running);
        print("clock running at 1 ms (Test):", test);
        print("clock running at 1 ms (Test, fastest):", fastest);
        if (plain.window > 0)
            std::printf("window while running, ratio to the plain 1 ms QTimer: start %.2f, "
                        "Test %.2f, Test at the fastest %.2f\n",
                        running.window / plain.window, test.window / plain.window,
                        fastest.window / plain.window);
        if (plainLabel.window > 0)
            std::printf("window in Test mode, ratio to the plain label repainted every frame: "
                        "Test %.2f, Test at the fastest %.2f\n",
                        test.window / plainLabel.window, fastest.window / plainLabel.window);
        bool met = true;
        for (const Phase* p : {&running, &test})
            met = met && p->window < 0.02 && p->server < 0.01;
        std::printf("goal (window < 0.02, X server < 0.01 while running, start and Test): %s; "
                    "Test at the fastest, window / 0.02: %.2f\n",
                    met ? "met" : "NOT met", fastest.window / 0.02);
        status = 0;
    } else {
        std::fprintf(stderr, "the window did not start on %s\n", qPrintable(display));
    }
    finish(window);
    xvfb.terminate();
    if (!xvfb.waitForFinished(10000))
        xvfb.kill();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--window" || mode == "--bare" || mode == "--bare-label")
        return RunWindow(argc, argv, mode);
    return RunBench(argc, argv);
}
