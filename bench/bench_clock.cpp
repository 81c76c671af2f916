// The clock's cost and pace, and schedule file save and load, as ratios measured in one run:
// - one clock tick (TemporizTimer plus the paint it causes) with the window offscreen and page
//   D0 in front, as a share of the 1 ms timer period;
// - ticks per second the running clock reaches with its 1 ms timer over 5 s, against the 1000
//   the timer asks for, and a bare 1 ms timer measured the same way;
// - saving and loading a schedule file, against writing and reading the same bytes plainly.

#include "app/UnitVardo.h"
#include "core/ScheduleFile.h"
#include "platform/Application.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace {

class CountingForm : public TFormVardo
{
public:
    long Writes = 0;
    void WritePort(std::uint8_t) override { ++Writes; }
};

std::map<std::string, double> Figures;

void ClockTick(benchmark::State& state)
{
    CountingForm form;
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    form.PageControl1->setCurrentIndex(0);
    form.Velocidad->setChecked(true); // Test mode: a new slot every few ticks
    QApplication::processEvents();
    for (auto _ : state) {
        form.TemporizTimer(form.Temporiz);
        QApplication::processEvents();
    }
}

template <class Timer> double Rate(Timer& timer, const std::function<long()>& count, int seconds)
{
    const long before = count();
    QElapsedTimer clock;
    clock.start();
    timer.start();
    while (clock.elapsed() < qint64(seconds) * 1000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    timer.stop();
    return double(count() - before) * 1000.0 / double(clock.elapsed());
}

void MeasurePace()
{
    QTimer bare;
    bare.setTimerType(Qt::PreciseTimer);
    bare.setInterval(1);
    long bareTicks = 0;
    QObject::connect(&bare, &QTimer::timeout, [&] { ++bareTicks; });
    Figures["bare_per_s"] = Rate(
        bare, [&] { return bareTicks; }, 5);

    CountingForm form;
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    form.PageControl1->setCurrentIndex(0);
    form.Velocidad->setChecked(true);
    QApplication::processEvents();
    Figures["clock_per_s"] = Rate(
        *form.Temporiz, [&] { return form.Writes; }, 5);
}

QTemporaryDir* Dir()
{
    static QTemporaryDir dir;
    return &dir;
}

TScheduleFlags SomeFlags()
{
    TScheduleFlags flags{};
    for (size_t i = 0; i < flags.size(); ++i)
        flags[i] = (i * 7 % 5) == 0;
    return flags;
}

void SaveSchedule(benchmark::State& state)
{
    const std::string path = Dir()->filePath("save.tem").toStdString();
    const TScheduleFlags flags = SomeFlags();
    for (auto _ : state)
        WriteScheduleFile(path, flags);
}

// Reference: the same bytes written in place with open, write and close.
void PlainWrite(benchmark::State& state)
{
    const std::string path = Dir()->filePath("plain.tem").toStdString();
    const std::string text = ScheduleText(SomeFlags());
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, text.data(), text.size()));
        ::close(fd);
    }
}

// Reference: the same, made durable with fsync as the save does.
void PlainWriteSync(benchmark::State& state)
{
    const std::string path = Dir()->filePath("plainsync.tem").toStdString();
    const std::string text = ScheduleText(SomeFlags());
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, text.data(), text.size()));
        ::fsync(fd);
        ::close(fd);
    }
}

void LoadSchedule(benchmark::State& state)
{
    const std::string path = Dir()->filePath("load.tem").toStdString();
    WriteScheduleFile(path, SomeFlags());
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadScheduleFile(path));
}

void PlainRead(benchmark::State& state)
{
    const std::string path = Dir()->filePath("load.tem").toStdString();
    WriteScheduleFile(path, SomeFlags());
    char buffer[8192];
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer));
        ::close(fd);
    }
}

class Collect : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, double> ns;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            ns[r.run_name.function_name] =
                r.GetAdjustedRealTime() * (r.time_unit == benchmark::kMicrosecond ? 1e3 : 1.0);
    }
};

} // namespace

BENCHMARK(ClockTick)->Unit(benchmark::kNanosecond);
BENCHMARK(SaveSchedule)->Unit(benchmark::kNanosecond);
BENCHMARK(PlainWrite)->Unit(benchmark::kNanosecond);
BENCHMARK(PlainWriteSync)->Unit(benchmark::kNanosecond);
BENCHMARK(LoadSchedule)->Unit(benchmark::kNanosecond);
BENCHMARK(PlainRead)->Unit(benchmark::kNanosecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Collect report;
    benchmark::RunSpecifiedBenchmarks(&report);
    MeasurePace();

    auto ns = [&](const char* name) { return report.ns.count(name) ? report.ns[name] : 0.0; };
    if (ns("ClockTick") > 0)
        std::printf("clock tick: %.0f ns, share of the 1 ms period: %.4f\n", ns("ClockTick"),
                    ns("ClockTick") / 1e6);
    std::printf("clock pace: %.0f ticks/s, ratio to the 1000/s asked: %.3f "
                "(bare 1 ms timer: %.0f/s, ratio %.3f)\n",
                Figures["clock_per_s"], Figures["clock_per_s"] / 1000.0, Figures["bare_per_s"],
                Figures["bare_per_s"] / 1000.0);
    if (ns("SaveSchedule") > 0 && ns("PlainWrite") > 0 && ns("PlainWriteSync") > 0)
        std::printf("save: %.0f ns, ratio to a plain write of the same bytes: %.2f, to a plain "
                    "write made durable with fsync: %.2f\n",
                    ns("SaveSchedule"), ns("SaveSchedule") / ns("PlainWrite"),
                    ns("SaveSchedule") / ns("PlainWriteSync"));
    if (ns("LoadSchedule") > 0 && ns("PlainRead") > 0)
        std::printf("load: %.0f ns, ratio to a plain read of the same bytes: %.2f\n",
                    ns("LoadSchedule"), ns("LoadSchedule") / ns("PlainRead"));
    benchmark::Shutdown();
    return 0;
}
