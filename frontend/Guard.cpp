#include "Guard.h"

#include "core/Log.h"
#include "outputs/Outputs.h"
#include "outputs/Targets.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char Option[] = "--guardia=";
// A beat at least four times within the watchdog, and every second at most.
constexpr int LongestBeatMs = 1000;
// Until the first beat the program is starting (a window is being made on a slow machine): it
// gets at least this long.
constexpr int StartingSeconds = 30;

} // namespace

bool SwitchOffTargets(const std::vector<TTargetSpec>& specs)
{
    TOutputs outputs(MakeTargets(specs));
    outputs.Start();
    QElapsedTimer opening;
    opening.start();
    const auto settled = [&] {
        const std::vector<TTargetHealth> health = outputs.Health();
        return std::all_of(health.begin(), health.end(), [](const TTargetHealth& target) {
            return target.Open || target.LostSince.isValid();
        });
    };
    while (!settled() && opening.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return outputs.Stop(std::chrono::milliseconds(1000));
}

std::unique_ptr<TGuardLink> TGuardLink::Start(int argc, char** argv, int watchdog)
{
    int link[2];
    if (::pipe2(link, O_CLOEXEC) != 0) {
        LogLine(QStringLiteral("sin guardián de las salidas: %1").arg(qt_error_string(errno)));
        return nullptr;
    }
    const std::string first = Option + std::to_string(link[0]) + ':' + std::to_string(::getpid()) +
                              ':' + std::to_string(watchdog);
    std::vector<char*> arguments{argv[0], const_cast<char*>(first.c_str())};
    for (int i = 1; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    const pid_t guard = ::fork();
    if (guard == 0) {
        // The guard keeps the reading end across the exec, and nothing of the program else.
        ::fcntl(link[0], F_SETFD, 0);
        ::execv("/proc/self/exe", arguments.data());
        ::_exit(127);
    }
    ::close(link[0]);
    if (guard < 0) {
        ::close(link[1]);
        LogLine(QStringLiteral("sin guardián de las salidas: %1").arg(qt_error_string(errno)));
        return nullptr;
    }
    ::fcntl(link[1], F_SETFL, O_NONBLOCK);
    return std::unique_ptr<TGuardLink>(new TGuardLink(
        link[1], watchdog > 0 ? std::min(LongestBeatMs, watchdog * 1000 / 4) : LongestBeatMs));
}

TGuardLink::~TGuardLink()
{
    ::close(FFd);
}

void TGuardLink::Beat()
{
    FBeat.setInterval(FBeatMs);
    connect(&FBeat, &QTimer::timeout, this, [this] { Send("."); });
    FBeat.start();
    // The first beat once the loop turns: the guard knows then that the program has started.
    QTimer::singleShot(0, this, [this] { Send("."); });
}

void TGuardLink::Done()
{
    FBeat.stop();
    Send("fin\n");
}

void TGuardLink::Send(const char* bytes)
{
    const auto size = std::strlen(bytes);
    if (::write(FFd, bytes, size) == static_cast<ssize_t>(size) || FGone)
        return;
    // A full pipe is a guard that reads late, not a gone one.
    if (errno == EAGAIN)
        return;
    FGone = true;
    FBeat.stop();
    LogLine(QStringLiteral("el guardián de las salidas terminó (%1); si este programa muere, "
                              "nadie las apagará")
                   .arg(qt_error_string(errno)));
}

std::optional<int> RunGuardIfAsked(const QString& program, int argc, char** argv,
                                   const QString& files)
{
    if (argc < 2 || std::strncmp(argv[1], Option, sizeof Option - 1) != 0)
        return std::nullopt;
    int fd = -1;
    long pid = 0;
    int watchdog = 0;
    if (std::sscanf(argv[1] + sizeof Option - 1, "%d:%ld:%d", &fd, &pid, &watchdog) != 3)
        return 2;
    // Ctrl+C in a terminal, a logout or a service stop reach the whole group: the program ends
    // cleanly by itself and says so on the pipe.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        std::signal(signal, SIG_IGN);
    std::vector<char*> arguments{argv[0]};
    for (int i = 2; i < argc; ++i)
        arguments.push_back(argv[i]);
    TCommandLine line;
    TSettings settings;
    std::vector<TTargetSpec> specs;
    if (ReadCommandLine(program, int(arguments.size()), arguments.data(), files, line, settings,
                        specs))
        return 2;

    const auto deadline = [&](int seconds) {
        return watchdog > 0 ? std::chrono::steady_clock::now() + std::chrono::seconds(seconds)
                            : std::chrono::steady_clock::time_point::max();
    };
    int allowed = std::max(watchdog, StartingSeconds);
    auto due = deadline(allowed);
    bool killed = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            due - std::chrono::steady_clock::now());
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1,
                                 due == std::chrono::steady_clock::time_point::max()
                                     ? -1
                                     : int(std::clamp<long long>(left.count(), 0, 60000)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            if (std::chrono::steady_clock::now() < due)
                continue;
            if (killed)
                break; // killed, and still not gone: its targets are tried all the same
            LogLine(QStringLiteral("guardián: %1 (proceso %2) no da señales de vida desde hace "
                                      "%3 s; se termina")
                           .arg(program)
                           .arg(pid)
                           .arg(allowed));
            ::kill(pid_t(pid), SIGKILL);
            killed = true;
            due = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            continue;
        }
        char bytes[64];
        const ssize_t n = ::read(fd, bytes, sizeof bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            if (std::memchr(bytes, 'f', std::size_t(n)) != nullptr)
                return 0; // the program's own all off is done
            if (!killed) {
                allowed = watchdog;
                due = deadline(watchdog);
            }
            continue;
        }
        break; // the program is gone without its all off
    }
    int count = 1;
    QCoreApplication application(count, argv);
    const bool off = SwitchOffTargets(specs);
    LogLine(QStringLiteral("guardián: %1 (proceso %2) terminó sin apagar las salidas; %3")
                   .arg(program)
                   .arg(pid)
                   .arg(off ? QStringLiteral("todas apagadas")
                            : QStringLiteral("alguna puede quedar encendida")));
    return off ? 0 : 1;
}
