// Start-up of PrVardo's main window to its first paint, and the memory it holds then, against a
// bare Qt window measured in the same run. Each sample is a fresh process (offscreen platform),
// timed from its start until it reports its first painted window.
//
//   bench_startup                 runs the benchmark and prints the ratios
//   bench_startup --child form    (internal) starts one window and reports
//   bench_startup --child bare
//   bench_startup --child label   (internal) a bare window with one line of text: the first text
//                                 a process draws loads the font database, which a window
//                                 without text never does

#include "app/UnitVardo.h"
#include "platform/Application.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

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
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    FirstPaint watcher;
    std::unique_ptr<QWidget> window;
    if (form)
        window = std::make_unique<TFormVardo>();
    else
        window = std::make_unique<QWidget>();
    if (std::strcmp(kind, "label") == 0)
        new QLabel(QStringLiteral("Control de Brelom"), window.get());
    window->resize(664, 575);
    window->installEventFilter(&watcher);
    window->show();
    return app.exec();
}

std::string SelfPath;
std::map<std::string, double> MemoryKb;

void StartWindow(benchmark::State& state, const char* kind)
{
    double rss = 0;
    for (auto _ : state) {
        QProcess child;
        QElapsedTimer timer;
        timer.start();
        child.start(QString::fromStdString(SelfPath), {QStringLiteral("--child"), kind});
        if (!child.waitForFinished(30000) || child.exitCode() != 0) {
            state.SkipWithError("child did not start its window");
            return;
        }
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        rss = child.readAllStandardOutput().trimmed().toDouble();
    }
    state.counters["rss_kB"] = rss;
    MemoryKb[kind] = rss;
}

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
                seconds[r.run_name.function_name] = r.GetAdjustedRealTime();
    }
};

} // namespace

BENCHMARK_CAPTURE(StartWindow, bare, "bare")
    ->UseManualTime()
    ->Iterations(10)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(StartWindow, label, "label")
    ->UseManualTime()
    ->Iterations(10)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(StartWindow, form, "form")
    ->UseManualTime()
    ->Iterations(10)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return RunChild(argc, argv, argv[2]);

    QCoreApplication app(argc, argv);
    SelfPath = QCoreApplication::applicationFilePath().toStdString();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double bare = reporter.seconds["StartWindow/bare"];
    const double form = reporter.seconds["StartWindow/form"];
    const double label = reporter.seconds["StartWindow/label"];
    if (bare > 0 && MemoryKb["bare"] > 0) {
        std::printf("start-up ratio (main window / bare window): %.2f\n", form / bare);
        std::printf("memory ratio (main window / bare window):   %.2f  (%.0f kB / %.0f kB)\n",
                    MemoryKb["form"] / MemoryKb["bare"], MemoryKb["form"], MemoryKb["bare"]);
        std::printf("start-up ratio (main window / bare window with one label): %.2f\n",
                    form / label);
        std::printf("memory ratio (main window / bare window with one label):   %.2f\n",
                    MemoryKb["form"] / MemoryKb["label"]);
    }
    benchmark::Shutdown();
    return 0;
}
