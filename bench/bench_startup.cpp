// Start-up of PrVardo's main window to its first paint, and the memory it holds then, against a
// bare Qt window measured in the same run, the kinds of window started in turn (medians of 60
// starts each). Each sample is a fresh process, timed from its start until it reports its first
// painted window (the report is read as it arrives; what the process does after, its exit, is
// not timed; a last line gives the ratio of whole processes, start to exit, as this benchmark
// measured them before). Two sets: on the offscreen platform, and on an Xvfb server of the
// benchmark's own (the xcb platform, where users start the program).
//
//   bench_startup [google benchmark options]
//                                 runs the benchmark and prints the ratios of both sets
//   bench_startup --child form    (internal) starts the program's window as the program does
//   bench_startup --child bare              a bare Qt window (a plain QApplication)
//   bench_startup --child label             a bare window with one line of text: the first
//                                 text a process draws loads the font database, which a window
//                                 without text never does
//
// Goal: start-up at most 1.3 times the bare window and memory at most 1.25 times, on both
// platforms.

#include "app/UnitVardo.h"
#include "platform/Application.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// Resident memory of this process in kB.
long ResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !done) {
            done = true;
            // Report after the paint has been handled.
            QMetaObject::invokeMethod(
                watched,
                [] {
                    std::printf("%ld\n", ResidentKb());
                    std::fflush(stdout);
                    QCoreApplication::exit(0);
                },
                Qt::QueuedConnection);
        }
        return false;
    }
    bool done = false;
};

int RunChild(int argc, char** argv, const char* kind)
{
    const bool form = std::strcmp(kind, "form") == 0;
    // The references are bare Qt, a plain application object; the program's window starts with
    // the program's own, whose set-up (fonts, style, translations) is part of its start.
    const std::unique_ptr<QApplication> app = form ? std::make_unique<TApplication>(argc, argv)
                                                   : std::make_unique<QApplication>(argc, argv);
    FirstPaint watcher;
    std::unique_ptr<QWidget> window;
    if (form) {
        window = MakeMainWindow();
    } else {
        window = std::make_unique<QWidget>();
        window->resize(664, 575);
        if (std::strcmp(kind, "label") == 0)
            new QLabel(QStringLiteral("Control de Brelom"), window.get());
    }
    window->installEventFilter(&watcher);
    window->show();
    return QApplication::exec();
}

std::string SelfPath;
QProcessEnvironment ChildEnvironment;

// What the starts of one kind of window measured.
struct TStarts
{
    std::vector<double> paintedMs; // to the first paint's report
    std::vector<double> exitMs;    // from there to the end of the process
    double residentKb = 0;         // at the first paint, the last start's
};
std::map<std::string, TStarts> Starts; // by "set/kind"

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Starts one window of `kind` in a process of its own and records it; false when it failed.
bool StartOne(const std::string& set, const char* kind)
{
    QProcess child;
    child.setProcessEnvironment(ChildEnvironment);
    QElapsedTimer timer;
    timer.start();
    child.start(QString::fromStdString(SelfPath), {QStringLiteral("--child"), kind});
    bool reported = child.waitForStarted(30000);
    while (reported && !child.canReadLine())
        reported = child.waitForReadyRead(30000);
    const qint64 painted = timer.nsecsElapsed();
    if (!reported || !child.waitForFinished(30000) || child.exitCode() != 0)
        return false;
    TStarts& starts = Starts[set + "/" + kind];
    starts.paintedMs.push_back(double(painted) / 1e6);
    starts.exitMs.push_back(double(timer.nsecsElapsed() - painted) / 1e6);
    starts.residentKb = child.readLine().trimmed().toDouble();
    return true;
}

// Each iteration starts the three kinds once, in an order that turns from one iteration to the
// next, so that the machine's changing speed falls on all three alike; the iteration's time is
// the program window's.
void StartWindows(benchmark::State& state, const std::string& set)
{
    static const char* const kinds[] = {"bare", "label", "form"};
    size_t turn = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < 3; ++i)
            if (!StartOne(set, kinds[(turn + i) % 3])) {
                state.SkipWithError("a child did not start its window");
                return;
            }
        ++turn;
        state.SetIterationTime(Starts[set + "/form"].paintedMs.back() / 1e3);
    }
    for (const char* kind : kinds) {
        const TStarts& starts = Starts[set + "/" + kind];
        state.counters[std::string(kind) + "_ms"] = Median(starts.paintedMs);
        state.counters[std::string(kind) + "_kB"] = starts.residentKb;
    }
}

void Register(const std::string& set)
{
    benchmark::RegisterBenchmark(("StartWindows/" + set).c_str(),
                                 [set](benchmark::State& state) { StartWindows(state, set); })
        ->UseManualTime()
        ->Iterations(60)
        ->Unit(benchmark::kMillisecond);
}

void PrintRatios(const std::string& set)
{
    const auto time = [&](const char* kind) { return Median(Starts[set + "/" + kind].paintedMs); };
    const auto memory = [&](const char* kind) { return Starts[set + "/" + kind].residentKb; };
    if (time("bare") <= 0 || memory("bare") <= 0) {
        std::printf("%s: no figures\n", set.c_str());
        return;
    }
    const double startup = time("form") / time("bare");
    const double rss = memory("form") / memory("bare");
    std::printf("%s: start-up ratio (main window / bare window): %.2f  (%.1f ms / %.1f ms)\n",
                set.c_str(), startup, time("form"), time("bare"));
    std::printf("%s: memory ratio (main window / bare window):   %.2f  (%.0f kB / %.0f kB)\n",
                set.c_str(), rss, memory("form"), memory("bare"));
    std::printf("%s: start-up ratio (main window / bare window with one label): %.2f\n",
                set.c_str(), time("form") / time("label"));
    std::printf("%s: memory ratio (main window / bare window with one label):   %.2f\n",
                set.c_str(), memory("form") / memory("label"));
    // As this benchmark measured before it stopped at the report: to the end of the process.
    const auto whole = [&](const char* kind) {
        return time(kind) + Median(Starts[set + "/" + kind].exitMs);
    };
    std::printf("%s: whole process ratio (start to exit, main window / bare window): %.2f\n",
                set.c_str(), whole("form") / whole("bare"));
    std::printf("%s: goal (start-up <= 1.3, memory <= 1.25): %s\n", set.c_str(),
                startup <= 1.3 && rss <= 1.25 ? "met" : "NOT met");
}

// An Xvfb server of the benchmark's own; its display, or nothing when it does not start.
QString StartXvfb(QProcess& xvfb)
{
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
    if (!xvfb.waitForStarted(10000))
        return {};
    while (!xvfb.canReadLine())
        if (!xvfb.waitForReadyRead(10000))
            return {};
    return QLatin1Char(':') + QString::fromLatin1(xvfb.readLine().trimmed());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return RunChild(argc, argv, argv[2]);

    QCoreApplication app(argc, argv);
    SelfPath = QCoreApplication::applicationFilePath().toStdString();
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter;

    ChildEnvironment = QProcessEnvironment::systemEnvironment();
    ChildEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Register("offscreen");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::ClearRegisteredBenchmarks();

    QProcess xvfb;
    const QString display = StartXvfb(xvfb);
    if (!display.isEmpty()) {
        ChildEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        ChildEnvironment.insert(QStringLiteral("DISPLAY"), display);
        Register("xcb");
        benchmark::RunSpecifiedBenchmarks(&reporter);
    } else {
        std::printf("xcb: Xvfb did not start, no figures on an X server\n");
    }
    xvfb.terminate();
    if (!xvfb.waitForFinished(10000))
        xvfb.kill();

    PrintRatios("offscreen");
    if (!display.isEmpty())
        PrintRatios("xcb");
    benchmark::Shutdown();
    return 0;
}
