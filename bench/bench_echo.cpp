// The microphone echo of the main window, as the user starts it with "Abrir", on a PulseAudio
// server of the benchmark's own (scripts/pulse-server) whose default source is a pipe that the
// benchmark feeds in real time as a sound card with 10 ms periods would: a quiet 500 Hz tone with a
// loud 1 ms click every 437 ms (the clicks walk through every phase of the 50 ms capture blocks).
// Two recorders (parecord, in child processes) watch the source and the null sink's monitor.
// Figures, each against its bound or reference:
// - echo latency, from a click's onset in the source to it leaving the sink (seen on the monitor,
//   less the recorder's own delay, which the source's recorder measures), against one 50 ms
//   block and the 80 ms bound; the first echo after "Abrir";
// - underruns in steady state: gaps of silence (4 or more zero samples) in the echoed tone, when
//   and how long, and in the source for comparison;
// - the delay from a click's onset to the lamps lighting (lamp D0's lit frame drawn by the level
//   handler), against the 60 ms bound;
// - CPU of the whole process while the echo runs, as a share of one core, against the 2% bound,
//   also without the benchmark's own writer and reader threads, and by thread;
// - resident memory and echo latency after 10 s against the end of the run.
//
//   bench_echo [--seconds=N] [--load] [--stall]
//                              N seconds of echo (default 60; --seconds=600 gives the ten-minute
//                              memory and latency figures); --load: a busy thread per core beside
//                              the echo for the run. The drift is the median latency of the last
//                              quarter of the run less that of the first. --stall: the window's
//                              thread is held for 35 ms every 5 s, as a slow repaint or a swapping
//                              machine holds it, so the playback runs dry for a moment.
//
// Where the time goes (measured here: echo 59 ms median, lamps 27 ms median and 51 ms at most).
// A click waits in the capture block it falls into until the block is full: 50 ms minus its place
// in the block. The full block reaches the GUI thread within about a millisecond (the driver posts
// it from PulseAudio's callback), and the level handler lights the lamps at once; so the onset to
// the lamps is spread over 1 to 51 ms. The same block is then handed to the playback stream, in
// which the click again sits at its place in the block: whatever the phase, the echo is one block
// plus what playback adds, about 9 ms, which is the 10 ms of silence the driver writes once before
// the first block (it keeps the stream from underrunning) less the null sink taking data a little
// ahead of time. The monitor shows the data as the sink takes it from the stream; a real sound
// card adds its own output buffer after that. The CPU is shared by the GUI thread (levels, the
// bar graph, LCD, lamps and progress bar repainted 20 times a second) and the driver's PulseAudio
// thread (a capture period every 10 ms, playback requests).

#include "app/UnitVardo.h"
#include "platform/Application.h"
#include "sound/drivers/PulseAudio.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <pthread.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int Rate = 8000;
constexpr auto Period = 10ms; // of the pipe source's writer, like a sound card's
constexpr int PeriodSamples = Rate / 100;
constexpr auto SampleTime = std::chrono::nanoseconds(1000000000 / Rate);
constexpr long ClickSamples = 3496;          // 437 ms: the clicks walk through the 50 ms blocks
constexpr long ClickLength = 8;              // 1 ms
constexpr std::int16_t ToneAmplitude = 1000; // level 3: the lamps stay dark
constexpr std::int16_t ClickAmplitude = 20000;
constexpr int ClickThreshold = 8000; // the click at the echo's 75% is 15000
constexpr auto Settle = 2s;          // left out at the start: the streams settle
constexpr auto Window = 8s;          // the latency windows at 10 s and at the end

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Runs a program to its end; false (and what it said on stderr) when it failed.
bool Run(const QString& program, const QStringList& arguments, const QString& server = {},
         QString* output = nullptr)
{
    QProcess process;
    if (!server.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PULSE_SERVER"), server);
        process.setProcessEnvironment(environment);
    }
    process.start(program, arguments);
    if (!process.waitForFinished(15000) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s %s failed: %s\n", qPrintable(program),
                     qPrintable(arguments.join(' ')), process.readAllStandardError().constData());
        return false;
    }
    if (output != nullptr)
        *output = QString::fromUtf8(process.readAllStandardOutput().trimmed());
    return true;
}

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long ResidentKb()
{
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// CPU seconds of each thread of the process, by thread name.
std::map<std::string, double> ThreadCpu()
{
    std::map<std::string, double> byName;
    const double tick = double(sysconf(_SC_CLK_TCK));
    for (const QString& tid :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/self/task/" + tid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < 0)
            continue;
        // After the name: state, then 10 fields, then utime and stime.
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() < 13)
            continue;
        byName[line.mid(open + 1, close - open - 1).toStdString()] +=
            (fields[11].toDouble() + fields[12].toDouble()) / tick;
    }
    return byName;
}

// Times seen by one thread and read by another.
class TTimes
{
public:
    void Add(Clock::time_point t)
    {
        std::lock_guard lock(FLock);
        FTimes.push_back(t);
    }
    std::vector<Clock::time_point> Get() const
    {
        std::lock_guard lock(FLock);
        return FTimes;
    }

private:
    mutable std::mutex FLock;
    std::vector<Clock::time_point> FTimes;
};

// Plays the part of a sound card with 10 ms periods behind the pipe source: every 10 ms it writes
// the period just past, the tone with the clicks that fall into it. A click's onset is the moment
// it sounded, at its place in that period.
class TSourceWriter
{
public:
    explicit TSourceWriter(const std::string& fifo)
    {
        FFd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        if (FFd >= 0)
            FThread = std::thread([this] { Write(); });
    }
    ~TSourceWriter()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        if (FFd >= 0)
            close(FFd);
    }
    TSourceWriter(const TSourceWriter&) = delete;
    TSourceWriter& operator=(const TSourceWriter&) = delete;

    bool Opened() const { return FFd >= 0; }

    TTimes Onsets;
    TTimes Written; // when the period holding each click was written

private:
    void Write()
    {
        pthread_setname_np(pthread_self(), "bench-writer");
        std::int16_t period[PeriodSamples];
        auto next = Clock::now() + Period;
        for (long n = 0; !FStop; next += Period) {
            std::this_thread::sleep_until(next);
            std::vector<Clock::time_point> onsets;
            for (int i = 0; i < PeriodSamples; ++i, ++n) {
                double sample = ToneAmplitude * std::sin(M_PI * double(n % 16) / 8.0);
                const long sinceClick = n % ClickSamples;
                if (n >= ClickSamples && sinceClick < ClickLength) {
                    sample += ClickAmplitude;
                    if (sinceClick == 0)
                        onsets.push_back(next - Period + i * SampleTime);
                }
                period[i] = static_cast<std::int16_t>(std::lround(sample));
            }
            if (write(FFd, period, sizeof period) != ssize_t(sizeof period))
                break;
            for (const Clock::time_point onset : onsets) {
                Onsets.Add(onset);
                Written.Add(next);
            }
        }
    }

    int FFd = -1;
    std::atomic<bool> FStop = false;
    std::thread FThread;
};

// Records one source of the server with parecord and notes when each click arrives, and the
// gaps of silence in what it records once steady state has begun.
class TRecorder
{
public:
    TRecorder(const QString& server, const char* device)
    {
        const std::string variable = "PULSE_SERVER=" + server.toStdString();
        const std::string deviceArgument = std::string("--device=") + device;
        std::vector<char*> environment;
        for (char** e = environ; *e != nullptr; ++e)
            if (std::strncmp(*e, "PULSE_SERVER=", 13) != 0)
                environment.push_back(*e);
        environment.push_back(const_cast<char*>(variable.c_str()));
        environment.push_back(nullptr);
        const char* arguments[] = {"parecord",
                                   "--raw",
                                   "--format=s16le",
                                   "--rate=8000",
                                   "--channels=1",
                                   "--latency-msec=5",
                                   deviceArgument.c_str(),
                                   nullptr};
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        if (posix_spawnp(&FPid, "parecord", &actions, nullptr, const_cast<char* const*>(arguments),
                         environment.data()) != 0)
            FPid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        FFd = fds[0];
        FThread = std::thread([this] { Read(); });
    }
    ~TRecorder()
    {
        if (FPid > 0) {
            kill(FPid, SIGTERM);
            waitpid(FPid, nullptr, 0);
        }
        if (FThread.joinable())
            FThread.join();
        if (FFd >= 0)
            close(FFd);
    }

    // Gaps are counted from this moment on.
    void CountGapsFrom(Clock::time_point t) { FSteadyFrom = t.time_since_epoch().count(); }

    TTimes Clicks;
    std::atomic<long> Samples = 0;
    struct TGap
    {
        Clock::time_point At; // when it ended
        long Samples;
    };
    std::vector<TGap> Gaps() const
    {
        std::lock_guard lock(FGapLock);
        return FGaps;
    }

private:
    void Read()
    {
        pthread_setname_np(pthread_self(), "bench-reader");
        std::int16_t buffer[512];
        int zeros = 0;
        auto lastClick = Clock::time_point();
        for (;;) {
            const ssize_t got = read(FFd, buffer, sizeof buffer);
            if (got <= 0)
                break;
            // What arrives together counts as arriving now: an upper bound for every sample.
            const auto now = Clock::now();
            const bool steady = now.time_since_epoch().count() >= FSteadyFrom;
            for (ssize_t i = 0; i < got / 2; ++i) {
                if (std::abs(int(buffer[i])) > ClickThreshold && now - lastClick > 200ms) {
                    lastClick = now;
                    Clicks.Add(now);
                }
                if (buffer[i] == 0) {
                    ++zeros;
                    continue;
                }
                if (zeros >= 4 && steady) {
                    std::lock_guard lock(FGapLock);
                    FGaps.push_back({now, zeros});
                }
                zeros = 0;
            }
            Samples += got / 2;
        }
    }

    mutable std::mutex FGapLock;
    std::vector<TGap> FGaps;
    pid_t FPid = -1;
    int FFd = -1;
    std::atomic<Clock::rep> FSteadyFrom = std::numeric_limits<Clock::rep>::max();
    std::thread FThread;
};

// For each cause in [from, to): the delay to the first effect within `bound` after it.
std::vector<double> Delays(const std::vector<Clock::time_point>& causes,
                           const std::vector<Clock::time_point>& effects, Clock::time_point from,
                           Clock::time_point to, Clock::duration bound = 400ms)
{
    std::vector<double> delays;
    for (const Clock::time_point cause : causes) {
        if (cause < from || cause >= to)
            continue;
        const auto effect = std::lower_bound(effects.begin(), effects.end(), cause);
        if (effect != effects.end() && *effect - cause < bound)
            delays.push_back(Ms(*effect - cause));
    }
    std::sort(delays.begin(), delays.end());
    return delays;
}

double Quantile(const std::vector<double>& sorted, double q)
{
    return sorted.empty() ? NAN : sorted[std::size_t(std::lround(q * double(sorted.size() - 1)))];
}

// Waits in the event loop for a condition, up to a deadline.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

} // namespace

// --load: a busy thread per core beside the echo for the whole run, as another program busy on
// the machine would be.
class TLoad
{
public:
    explicit TLoad(bool on)
    {
        for (unsigned n = on ? std::max(1U, std::thread::hardware_concurrency()) : 0; n > 0; --n)
            FThreads.emplace_back([this] {
                pthread_setname_np(pthread_self(), "bench-load");
                for (volatile std::uint64_t spins = 0; !FEnds.load(std::memory_order_relaxed);)
                    spins = spins + 1;
            });
    }
    ~TLoad()
    {
        FEnds = true;
        for (std::thread& thread : FThreads)
            thread.join();
    }
    TLoad(const TLoad&) = delete;
    TLoad& operator=(const TLoad&) = delete;

private:
    std::atomic<bool> FEnds{false};
    std::vector<std::thread> FThreads;
};

int main(int argc, char** argv)
{
    int seconds = 60;
    bool load = false;
    bool stall = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            seconds = std::max(15, std::atoi(argv[i] + 10));
        else if (std::strcmp(argv[i], "--load") == 0)
            load = true;
        else if (std::strcmp(argv[i], "--stall") == 0)
            stall = true;
    }
    const TLoad busy(load);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    int failures = 0;
    const TScopedExceptionReporter reporter([&](QObject*, const QString& message) {
        std::fprintf(stderr, "error report: %s\n", qPrintable(message));
        ++failures;
    });

    QTemporaryDir dir;
    const QString script = PRVARDO_SOURCE_DIR "/scripts/pulse-server";
    const QString fifo = dir.filePath("source.fifo");
    QString server;
    if (!Run(script, {"start", dir.path()}, {}, &server) ||
        !Run("pactl",
             {"load-module", "module-pipe-source", "source_name=pipesource", "file=" + fifo,
              "format=s16le", "rate=8000", "channels=1"},
             server) ||
        !Run("pactl", {"set-default-source", "pipesource"}, server)) {
        std::fprintf(stderr, "bench_echo: the private PulseAudio server did not come up\n");
        Run(script, {"stop", dir.path()});
        return 1;
    }

    int status = 0;
    {
        TSourceWriter writer(fifo.toStdString());
        TRecorder atSource(server, "pipesource");
        TRecorder atSink(server, "testsink.monitor");
        TScopedWaveDriver driver(std::make_unique<TPulseAudioDriver>(server.toStdString()));
        TFormVardo form;
        form.show();
        TTimes lampsLit;
        const TWaveAudioLevelEvent shown = form.AudioRedirector1->AudioIn()->OnLevel;
        bool lit = false;
        form.AudioRedirector1->AudioIn()->OnLevel = [&](QObject* sender, std::int32_t level) {
            shown(sender, level);
            if (form.D0->FrameActual() == 1 && !lit)
                lampsLit.Add(Clock::now());
            lit = form.D0->FrameActual() == 1;
        };

        // A new recording takes about a second before data flows.
        if (!writer.Opened() ||
            !WaitFor([&] { return atSource.Samples > 0 && atSink.Samples > 0; }, 10s)) {
            std::fprintf(stderr, "bench_echo: no data from the pipe source or the monitor\n");
            status = 1;
        } else {
            const auto opened = Clock::now();
            form.BtOpen->click();
            const auto steady = opened + Settle;
            atSource.CountGapsFrom(steady);
            atSink.CountGapsFrom(steady);
            double cpuAtSteady = 0;
            std::map<std::string, double> threadsAtSteady;
            long kbAt10s = 0;
            QEventLoop loop;
            QTimer::singleShot(Settle, [&] {
                cpuAtSteady = CpuSeconds(RUSAGE_SELF);
                threadsAtSteady = ThreadCpu();
            });
            QTimer::singleShot(10s, [&] { kbAt10s = ResidentKb(); });
            QTimer stalls;
            QObject::connect(&stalls, &QTimer::timeout, [] {
                for (const auto until = Clock::now() + 35ms; Clock::now() < until;) {
                }
            });
            if (stall)
                stalls.start(5s);
            QTimer::singleShot(std::chrono::seconds(seconds), &loop, &QEventLoop::quit);
            loop.exec();
            const auto end = Clock::now();
            const double cpu = CpuSeconds(RUSAGE_SELF) - cpuAtSteady;
            std::map<std::string, double> threads = ThreadCpu();
            for (auto& [name, seconds] : threads)
                seconds -= threadsAtSteady[name];
            const long kbAtEnd = ResidentKb();
            const bool running = form.AudioRedirector1->Active();
            form.BTClose->click();

            const auto clicks = writer.Onsets.Get();
            const auto seenAtSource = atSource.Clicks.Get();
            const auto seenAtSink = atSink.Clicks.Get();
            const auto lamps = lampsLit.Get();
            // A recorder's own delay, measured on the source: from the period holding a click
            // being written to the recorder having it.
            const double recorder = Quantile(
                Delays(writer.Written.Get(), seenAtSource, steady, end - 200ms, 100ms), 0.5);
            const auto echoFrom = [&](Clock::time_point from, Clock::time_point to) {
                std::vector<double> delays = Delays(clicks, seenAtSink, from, to);
                for (double& d : delays)
                    d -= recorder;
                return delays;
            };
            // Clicks in the last moments before "Cerrar" have no echo yet.
            const auto last = end - 200ms;
            const auto echo = echoFrom(steady, last);
            const auto echoEarly = echoFrom(steady, steady + Window);
            const auto echoLate = echoFrom(last - Window, last);
            const auto quarter = (last - steady) / 4;
            const auto echoFirstQuarter = echoFrom(steady, steady + quarter);
            const auto echoLastQuarter = echoFrom(last - quarter, last);
            const auto lampDelays = Delays(clicks, lamps, steady, last, 200ms);
            const auto firstEcho = Delays(clicks, seenAtSink, opened, last, 3s);
            std::size_t steadyClicks = 0;
            for (auto c : clicks)
                steadyClicks += c >= steady && c < last;
            std::vector<TRecorder::TGap> gaps;
            for (const auto& gap : atSink.Gaps())
                if (gap.At < end)
                    gaps.push_back(gap);
            const auto sourceGaps = atSource.Gaps();
            const auto sourceGapCount =
                std::count_if(sourceGaps.begin(), sourceGaps.end(),
                              [&](const auto& gap) { return gap.At < end; });

            std::printf("echo on a private PulseAudio server: 5 x 50 ms capture ring, 8000 Hz "
                        "16-bit mono, %d s of echo (--seconds=N)%s%s\n",
                        seconds, load ? ", a busy thread per core beside it (--load)" : "",
                        stall ? ", the window's thread held 35 ms every 5 s (--stall)" : "");
            std::printf(
                "echo latency, a click's onset in the source to it leaving the sink: median "
                "%.1f ms (ratio to one 50 ms block: %.2f; to the 80 ms bound: %.2f), p95 "
                "%.1f ms, min %.1f, max %.1f, %zu of %zu clicks; seen at the sink's "
                "monitor less the recorder's own delay of %.1f ms\n",
                Quantile(echo, 0.5), Quantile(echo, 0.5) / 50.0, Quantile(echo, 0.5) / 80.0,
                Quantile(echo, 0.95), Quantile(echo, 0.0), Quantile(echo, 1.0), echo.size(),
                steadyClicks, recorder);
            if (!firstEcho.empty())
                std::printf("first echo after Abrir: %.1f ms (recorder's delay included)\n",
                            firstEcho.front());
            std::printf("underruns in steady state (gaps of silence in the echo): %zu",
                        gaps.size());
            for (std::size_t i = 0; i < gaps.size(); ++i)
                std::printf("%s%.1f s (%.1f ms)", i == 0 ? ", after " : ", ",
                            Ms(gaps[i].At - opened) / 1000,
                            1000.0 * double(gaps[i].Samples) / Rate);
            std::printf("; in the source itself: %ld\n", long(sourceGapCount));
            std::printf("onset to lamps lit: median %.1f ms, max %.1f ms (ratio of the max to the "
                        "60 ms bound: %.2f), %zu of %zu clicks\n",
                        Quantile(lampDelays, 0.5), Quantile(lampDelays, 1.0),
                        Quantile(lampDelays, 1.0) / 60.0, lampDelays.size(), steadyClicks);
            const double wall = std::chrono::duration<double>(end - steady).count();
            const double measuring =
                threads["bench-writer"] + threads["bench-reader"] + threads["bench-load"];
            std::printf("CPU of the whole process while the echo runs: %.2f%% of one core; "
                        "without the benchmark's own writer, recorder and load threads (%.2f%%): "
                        "%.2f%% (ratio to the 2%% bound: %.2f)\n",
                        100.0 * cpu / wall, 100.0 * measuring / wall,
                        100.0 * (cpu - measuring) / wall, (cpu - measuring) / wall / 0.02);
            std::printf("  by thread:");
            for (const auto& [name, seconds] : threads)
                if (name.rfind("bench-", 0) != 0 && seconds > 0)
                    std::printf(" %s %.2f%%", name.c_str(), 100.0 * seconds / wall);
            std::printf("\n");
            std::printf("resident memory: %ld kB after 10 s, %ld kB after %d s (ratio %.3f)\n",
                        kbAt10s, kbAtEnd, seconds, double(kbAtEnd) / double(kbAt10s));
            std::printf("echo latency: median %.1f ms from 2 to 10 s, %.1f ms in the last 8 s "
                        "(difference %+.1f ms)\n",
                        Quantile(echoEarly, 0.5), Quantile(echoLate, 0.5),
                        Quantile(echoLate, 0.5) - Quantile(echoEarly, 0.5));
            std::printf("echo drift: median %.1f ms in the last quarter of the run, %.1f ms in "
                        "the first (difference %+.1f ms; ratio to the 2 ms bound: %.2f)\n",
                        Quantile(echoLastQuarter, 0.5), Quantile(echoFirstQuarter, 0.5),
                        Quantile(echoLastQuarter, 0.5) - Quantile(echoFirstQuarter, 0.5),
                        std::abs(Quantile(echoLastQuarter, 0.5) - Quantile(echoFirstQuarter, 0.5)) /
                            2.0);
            if (!running || failures > 0 || echo.empty() || std::isnan(recorder)) {
                std::fprintf(stderr, "bench_echo: the echo %s\n",
                             running ? "did not reach the sink" : "stopped before the end");
                status = 1;
            }
        }
    }
    Run(script, {"stop", dir.path()});
    return status;
}
