#include "Guard.h"

#include "core/Log.h"
#include "outputs/Outputs.h"
#include "outputs/Targets.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QStringList>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr char Option[] = "--guardia=";
// A beat four times within the watchdog, and at least every 2.5 s (without a watchdog): a
// program that waits wakes for it no more than that.
constexpr int LongestBeatMs = 2500;

// The guard's waiting half: beside the program as installed (bin/ and libexec/prvardo/), or
// where the build made it.
std::string WaiterPath(const std::string& program)
{
    const std::string installed =
        program.substr(0, program.rfind('/')) + "/../libexec/prvardo/prvardo-guard";
    return ::access(installed.c_str(), X_OK) == 0 ? installed : std::string(PRVARDO_GUARD_BUILT);
}

std::string OwnExecutable()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, std::size_t(n)) : std::string();
}

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

std::unique_ptr<TGuardLink> TGuardLink::Start(int argc, char** argv, int watchdog,
                                              const QByteArray& settings)
{
    const auto none = [] {
        LogLine(QStringLiteral("sin guardián de las salidas: %1").arg(qt_error_string(errno)));
        return nullptr;
    };
    const std::string program = OwnExecutable();
    if (program.empty())
        return none();
    // The settings as read now, for the guard's all off: the file may have changed by then.
    const int kept = ::memfd_create("prvardo-ajustes", MFD_CLOEXEC);
    if (kept < 0)
        return none();
    if (::write(kept, settings.constData(), std::size_t(settings.size())) != settings.size() ||
        ::lseek(kept, 0, SEEK_SET) != 0) {
        ::close(kept);
        return none();
    }
    int link[2];
    if (::pipe2(link, O_CLOEXEC) != 0) {
        ::close(kept);
        return none();
    }
    const std::string waiter = WaiterPath(program);
    const std::vector<std::string> words{
        "prvardo-guard",          std::to_string(link[0]), std::to_string(::getpid()),
        std::to_string(watchdog), std::to_string(kept),    program};
    std::vector<char*> arguments;
    arguments.reserve(words.size() + std::size_t(argc) + 1);
    for (const std::string& word : words)
        arguments.push_back(const_cast<char*>(word.c_str()));
    for (int i = 0; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    const pid_t guard = ::fork();
    if (guard == 0) {
        // The guard keeps the pipe's reading end and the settings across the exec, and nothing
        // else of the program.
        ::fcntl(link[0], F_SETFD, 0);
        ::fcntl(kept, F_SETFD, 0);
        ::execv(waiter.c_str(), arguments.data());
        ::_exit(127);
    }
    const int error = errno;
    ::close(link[0]);
    ::close(kept);
    if (guard < 0) {
        ::close(link[1]);
        errno = error;
        return none();
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

std::optional<int> RunGuardIfAsked(const TProgramForm& program, int argc, char** argv)
{
    if (argc < 2 || std::strncmp(argv[1], Option, sizeof Option - 1) != 0)
        return std::nullopt;
    // The guard's waiting half saw the program go without its all off.
    long pid = 0;
    int kept = -1;
    long seenMs = 0; // when the waiting half saw it go, in the monotonic clock
    if (std::sscanf(argv[1] + sizeof Option - 1, "%ld:%d:%ld", &pid, &kept, &seenMs) != 3)
        return 2;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        std::signal(signal, SIG_IGN);
    QByteArray text;
    char bytes[4096];
    for (ssize_t n; (n = ::read(kept, bytes, sizeof bytes)) > 0 &&
                    std::size_t(text.size()) <= SettingsFileLimit;)
        text.append(bytes, n);
    ::close(kept);
    QStringList arguments;
    for (int i = 2; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    TCommandLine line;
    TSettings settings;
    std::vector<TTargetSpec> specs;
    QString error;
    if (!ParseCommandLine(arguments, program, line, error) ||
        !ParseSettings(text, SettingsPath(), settings, error) ||
        !OutputTargets(line, settings, specs, error)) {
        LogLine(QStringLiteral("guardián: %1 (proceso %2) terminó sin apagar las salidas, y no se "
                               "pueden leer: %3")
                    .arg(program.Name)
                    .arg(pid)
                    .arg(error));
        return 1;
    }
    int count = 1;
    QCoreApplication application(count, argv);
    const bool off = SwitchOffTargets(specs);
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const double after = double(now.tv_sec * 1000 + now.tv_nsec / 1000000 - seenMs) / 1000.0;
    LogLine(QStringLiteral("guardián: %1 (proceso %2) terminó sin apagar las salidas; %3")
                .arg(program.Name)
                .arg(pid)
                .arg(off ? QStringLiteral("todas apagadas %1 s después")
                               .arg(QLocale(QLocale::Spanish).toString(after, 'f', 2))
                         : QStringLiteral("alguna puede quedar encendida")));
    return off ? 0 : 1;
}
