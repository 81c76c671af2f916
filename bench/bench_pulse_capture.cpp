// Recording through the PulseAudio driver, as the program records: 50 ms buffers of 16-bit mono
// at 8000 Hz, each added again as soon as it comes back, for 10 s. Figures, as ratios:
// - the median interval between MM_WIM_DATA messages against the 50 ms a buffer lasts;
// - the 95th percentile of how far an interval strays from 50 ms, in ms;
// - the CPU time of the whole process over the recording, as a share of one core.
//
// It runs a private server of its own (scripts/pulse-server) with a clocked null source added:
// the test server's sine source hands out two seconds at a time whatever a stream asks for, so
// it cannot show how regularly buffers come back; a clocked source delivers what is asked.

#include "sound/DeviceWindow.h"
#include "sound/MMSystem.h"
#include "sound/WaveDriver.h"
#include "sound/drivers/PulseAudio.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Seconds = 10;
constexpr DWORD BufferBytes = 800; // 50 ms
constexpr double BufferMs = 50.0;

QByteArray Run(const QString& program, const QStringList& arguments, const QString& server = {})
{
    QProcess process;
    if (!server.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PULSE_SERVER", server);
        process.setProcessEnvironment(environment);
    }
    process.start(program, arguments);
    if (!process.waitForFinished(15000) || process.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
    return process.readAllStandardOutput().trimmed();
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void CaptureIntervals(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString script = PRVARDO_SOURCE_DIR "/scripts/pulse-server";
    const QString server = QString::fromUtf8(Run(script, {"start", dir.path()}));
    Run("pactl",
        {"load-module", "module-null-source", "source_name=clocked", "rate=8000", "channels=1",
         "format=s16le", "description=Clocked"},
        server);

    for (auto _ : state) {
        TScopedWaveDriver guard(std::make_unique<TPulseAudioDriver>(server.toStdString()));
        UINT device = WAVE_MAPPER;
        for (UINT i = 0; i < waveInGetNumDevs(); ++i) {
            WAVEINCAPSA caps{};
            if (waveInGetDevCapsA(i, &caps, sizeof caps) == 0 &&
                std::string(caps.szPname) == "Clocked")
                device = i;
        }
        std::vector<Clock::time_point> arrivals;
        HWAVEIN in = 0;
        bool recording = true;
        TDeviceWindow window([&](TMessage& m) {
            if (m.Msg != MM_WIM_DATA)
                return;
            arrivals.push_back(Clock::now());
            if (recording)
                waveInAddBuffer(in, NotifiedHeader(m.LParam), sizeof(WAVEHDR));
        });
        const WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
        if (device == WAVE_MAPPER ||
            waveInOpen(&in, device, &format, window.Handle(), 0, CALLBACK_WINDOW) != 0) {
            state.SkipWithError("no clocked source on the private server");
            break;
        }
        std::vector<std::vector<char>> data(4, std::vector<char>(BufferBytes));
        std::vector<WAVEHDR> headers(data.size());
        for (std::size_t i = 0; i < data.size(); ++i) {
            headers[i].lpData = data[i].data();
            headers[i].dwBufferLength = BufferBytes;
            waveInPrepareHeader(in, &headers[i], sizeof(WAVEHDR));
            waveInAddBuffer(in, &headers[i], sizeof(WAVEHDR));
        }
        const double cpuBefore = CpuSeconds();
        const auto wallBefore = Clock::now();
        waveInStart(in);
        QEventLoop loop;
        QTimer::singleShot(Seconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
        const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
        const double cpu = CpuSeconds() - cpuBefore;
        recording = false;
        waveInReset(in);
        waveInClose(in);

        // The first buffers come back together with what the source had ready: leave out the
        // first second.
        std::vector<double> intervals, deviations;
        for (std::size_t i = 21; i < arrivals.size(); ++i) {
            intervals.push_back(
                std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count());
            deviations.push_back(std::abs(intervals.back() - BufferMs));
        }
        if (intervals.empty()) {
            state.SkipWithError("no buffers came back");
            break;
        }
        std::sort(intervals.begin(), intervals.end());
        std::sort(deviations.begin(), deviations.end());
        state.counters["buffers"] = double(arrivals.size());
        state.counters["interval_median_per_50ms"] = intervals[intervals.size() / 2] / BufferMs;
        state.counters["interval_p95_deviation_ms"] = deviations[deviations.size() * 95 / 100];
        state.counters["cpu_per_core"] = cpu / wall;
    }
    Run(script, {"stop", dir.path()});
}

} // namespace

BENCHMARK(CaptureIntervals)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
