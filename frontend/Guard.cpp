#include "Guard.h"

#include "core/Log.h"
#include "frontend/GuardProtocol.h"
#include "outputs/DeviceErrors.h"
#include "outputs/Outputs.h"
#include "outputs/Targets.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocale>
#include <QStringList>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr char Option[] = "--guardia=";
// A beat four times within the watchdog, and at least every 2.5 s (without a watchdog): a
// program that waits wakes for it no more than that.
constexpr int LongestBeatMs = 2500;

// A guard that could not be started is tried again this often.
constexpr int RetryMs = 5000;

// The guard's waiting half: beside the program as installed (bin/ and libexec/prvardo/), or in the
// build tree (the programs in app/ and timer/, the guard in frontend/); empty when neither.
std::string WaiterPath(const std::string& program)
{
    const std::string folder = program.substr(0, program.rfind('/'));
    for (const char* place : {"/../libexec/prvardo/prvardo-guard", "/../frontend/prvardo-guard"})
        if (const std::string path = folder + place; ::access(path.c_str(), X_OK) == 0)
            return path;
    return {};
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
    std::vector<std::string> command{OwnExecutable()};
    for (int i = 0; i < argc; ++i)
        command.emplace_back(argv[i]);
    // The settings as read now, for the guard's all off: the file may have changed by then. Sealed:
    // what the guard reads is what was written here.
    int kept = ::memfd_create("prvardo-ajustes", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (kept >= 0 &&
        (::write(kept, settings.constData(), std::size_t(settings.size())) != settings.size() ||
         ::fcntl(kept, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) !=
             0)) {
        ::close(kept);
        kept = -1;
    }
    const int settingsError = errno;
    // This process, for the guard to end it by: a process number could be another's by then.
    const int self = OpenProcess(::getpid());
    std::unique_ptr<TGuardLink> link(new TGuardLink(std::move(command), watchdog, kept, self));
    if (kept < 0)
        link->Lost(QStringLiteral("no se pueden guardar los ajustes para él: %1")
                       .arg(SystemWords(settingsError)));
    else
        link->Spawn();
    return link;
}

TGuardLink::TGuardLink(std::vector<std::string> command, int watchdog, int settings, int self)
    : FCommand(std::move(command)), FWatchdog(watchdog),
      FBeatMs(watchdog > 0 ? std::min(LongestBeatMs, watchdog * 1000 / 4) : LongestBeatMs),
      FSettings(settings), FSelf(self)
{
    FBeat.setInterval(FBeatMs);
    connect(&FBeat, &QTimer::timeout, this, [this] { Send(GuardBeat); });
    FRetry.setInterval(RetryMs);
    connect(&FRetry, &QTimer::timeout, this, [this] {
        if (Spawn()) {
            LogLine(QStringLiteral("el guardián de las salidas vuelve a estar en marcha "
                                   "(proceso %1)")
                        .arg(FGuard));
            FRetry.stop();
            if (Changed)
                Changed();
        }
    });
}

TGuardLink::~TGuardLink()
{
    if (FPipe >= 0)
        ::close(FPipe);
    if (FGuardFd >= 0)
        ::close(FGuardFd);
    if (FSettings >= 0)
        ::close(FSettings);
    if (FSelf >= 0)
        ::close(FSelf);
}

bool TGuardLink::Spawn()
{
    const std::string waiter = WaiterPath(FCommand.front());
    if (FCommand.front().empty() || waiter.empty()) {
        Lost(QStringLiteral("no se encuentra prvardo-guard junto al programa"));
        return false;
    }
    int link[2];
    if (::pipe2(link, O_CLOEXEC) != 0) {
        Lost(SystemWords(errno));
        return false;
    }
    std::vector<std::string> words{
        "prvardo-guard",       std::to_string(link[0]),   std::to_string(::getpid()),
        std::to_string(FSelf), std::to_string(FWatchdog), std::to_string(FSettings)};
    words.insert(words.end(), FCommand.begin(), FCommand.end());
    std::vector<char*> arguments;
    arguments.reserve(words.size() + 1);
    for (std::string& word : words)
        arguments.push_back(word.data());
    arguments.push_back(nullptr);
    // The guard keeps the pipe's reading end, the settings and this process's descriptor across
    // the exec, and nothing else of the program: no blocked signal, no handler, no process group
    // or session (a kill of the program's group, or its terminal closing, does not reach it).
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    int error = posix_spawn_file_actions_adddup2(&actions, link[0], link[0]);
    if (error == 0)
        error = posix_spawn_file_actions_adddup2(&actions, FSettings, FSettings);
    if (error == 0 && FSelf >= 0)
        error = posix_spawn_file_actions_adddup2(&actions, FSelf, FSelf);
    if (error == 0)
        error = posix_spawnattr_setflags(
            &attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    if (error == 0)
        error = posix_spawnattr_setsigmask(&attributes, &none);
    if (error == 0)
        error = posix_spawnattr_setsigdefault(&attributes, &all);
    pid_t guard = 0;
    if (error == 0)
        error =
            ::posix_spawn(&guard, waiter.c_str(), &actions, &attributes, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(link[0]);
    if (error == 0 && ::fcntl(link[1], F_SETFL, O_NONBLOCK) != 0) {
        error = errno;
        ::kill(guard, SIGKILL);
        ::waitpid(guard, nullptr, 0);
    }
    if (error != 0) {
        ::close(link[1]);
        Lost(QStringLiteral("no se puede iniciar %1: %2")
                 .arg(QString::fromStdString(waiter), SystemWords(error)));
        return false;
    }
    FPipe = link[1];
    FGuard = guard;
    FTrouble.clear();
    // Its end is seen at once where the system tells it; else at the next beat.
    FGuardFd = OpenProcess(guard);
    if (FGuardFd >= 0 && FBeat.isActive()) {
        FGuardGone = new QSocketNotifier(FGuardFd, QSocketNotifier::Read, this);
        connect(FGuardGone, &QSocketNotifier::activated, this, &TGuardLink::GuardEnded);
    }
    return true;
}

void TGuardLink::Lost(const QString& why)
{
    // Said once for each cause, not at every try.
    const bool first = FTrouble.isEmpty();
    if (why != std::exchange(FTrouble, why))
        LogLine(QStringLiteral("sin guardián de las salidas: %1; si este programa muere, nadie "
                               "las apagará; se vuelve a intentar")
                    .arg(why));
    if (FBeat.isActive() && !FRetry.isActive())
        FRetry.start();
    if (first && Changed)
        Changed();
}

void TGuardLink::GuardEnded()
{
    if (FGuardGone != nullptr) {
        FGuardGone->setEnabled(false);
        FGuardGone->deleteLater();
        FGuardGone = nullptr;
    }
    if (FGuardFd >= 0)
        ::close(std::exchange(FGuardFd, -1));
    if (FPipe >= 0)
        ::close(std::exchange(FPipe, -1));
    const pid_t gone = std::exchange(FGuard, 0);
    int status = 0;
    if (gone > 0 && ::waitpid(gone, &status, WNOHANG) != gone)
        ::kill(gone, SIGKILL); // its pipe broke while it runs: it can no longer hear the program
    if (gone > 0 && !FDone && Spawn()) {
        LogLine(QStringLiteral("el guardián de las salidas (proceso %1) terminó; lo sustituye el "
                               "proceso %2")
                    .arg(gone)
                    .arg(FGuard));
        if (Changed)
            Changed();
    }
}

void TGuardLink::Beat()
{
    FBeat.start();
    if (FGuardFd >= 0 && FGuardGone == nullptr) {
        FGuardGone = new QSocketNotifier(FGuardFd, QSocketNotifier::Read, this);
        connect(FGuardGone, &QSocketNotifier::activated, this, &TGuardLink::GuardEnded);
    }
    if (FGuard <= 0)
        FRetry.start();
    // The first beat once the loop turns: the guard knows then that the program has started.
    QTimer::singleShot(0, this, [this] { Send(GuardBeat); });
}

void TGuardLink::Ending()
{
    if (!std::exchange(FEnding, true))
        Send(GuardEnding);
}

void TGuardLink::Done()
{
    FDone = true;
    FBeat.stop();
    FRetry.stop();
    Send(GuardDone);
}

void TGuardLink::Send(char byte)
{
    if (FPipe < 0 || ::write(FPipe, &byte, 1) == 1)
        return;
    // A full pipe is a guard that reads late, not a gone one.
    if (errno == EAGAIN || errno == EINTR)
        return;
    GuardEnded();
}

namespace {

long MonotonicMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

QString SecondsSince(long sinceMs)
{
    return QStringLiteral("%1 s después")
        .arg(QLocale(QLocale::Spanish).toString(double(MonotonicMs() - sinceMs) / 1000.0, 'f', 2));
}

// One target in the guard's hands: its own outputs, all off from their start, opened again and
// again (at the outputs' own growing pause) until the target confirms all off, or until another
// run of the program holds it.
struct TGuardedTarget
{
    enum class TState
    {
        Trying,
        Off,
        Driven // by another run of the program, which took it over
    };
    TTargetSpec Spec;
    QString Name;
    std::unique_ptr<TOutputs> Outputs;
    TState State = TState::Trying;

    void Try()
    {
        std::vector<TTargetSpec> one{Spec};
        Outputs = std::make_unique<TOutputs>(MakeTargets(one));
        Name = Outputs->Health().front().Name;
        Outputs->Start();
    }

    // Where the target stands now; false while it is still tried.
    bool Settle()
    {
        if (State != TState::Trying)
            return true;
        const TTargetHealth health = Outputs->Health().front();
        if (health.Held) {
            Outputs->Stop();
            State = TState::Driven;
            return true;
        }
        if (!health.Open || health.Shown != 0)
            return false;
        if (Outputs->Stop()) {
            State = TState::Off;
            return true;
        }
        Try(); // all off was written but not confirmed: from the start again
        return false;
    }
};

// Before it says how the first round went, the guard gives the targets this long: a broker's
// connection may take up to 3 s.
constexpr long FirstRoundMs = 3500;
// How often the guard looks how its targets fare.
constexpr int LookEveryMs = 100;

// The guard's all off after the program's death: every target tried until it confirms all off or
// another run drives it, for as long as it takes. Says how the first round went, then each target
// as it is done.
int GuardAllOff(const QString& name, long pid, long seenMs, const std::vector<TTargetSpec>& specs)
{
    std::vector<TGuardedTarget> targets(specs.size());
    for (std::size_t i = 0; i < specs.size(); ++i) {
        targets[i].Spec = specs[i];
        targets[i].Try();
    }
    const QString who = QStringLiteral("guardián: %1 (proceso %2) terminó sin apagar las salidas")
                            .arg(name)
                            .arg(pid);
    bool said = false;
    for (;;) {
        bool settled = true;
        for (TGuardedTarget& target : targets) {
            const bool wasTrying = target.State == TGuardedTarget::TState::Trying;
            settled = target.Settle() && settled;
            if (!said || !wasTrying || target.State == TGuardedTarget::TState::Trying)
                continue;
            LogLine(target.State == TGuardedTarget::TState::Off
                        ? QStringLiteral("guardián: %1 apagada, %2")
                              .arg(target.Name, SecondsSince(seenMs))
                        : QStringLiteral("guardián: %1 la gobierna ahora otro programa")
                              .arg(target.Name));
        }
        if (!said && (settled || MonotonicMs() - seenMs >= FirstRoundMs)) {
            said = true;
            QStringList off, driven, trying;
            for (const TGuardedTarget& target : targets)
                (target.State == TGuardedTarget::TState::Off      ? off
                 : target.State == TGuardedTarget::TState::Driven ? driven
                                                                  : trying)
                    << target.Name;
            if (driven.isEmpty() && trying.isEmpty()) {
                LogLine(QStringLiteral("%1; todas apagadas %2").arg(who, SecondsSince(seenMs)));
            } else {
                QStringList parts;
                if (!off.isEmpty())
                    parts << QStringLiteral("apagadas %1: %2")
                                 .arg(SecondsSince(seenMs), off.join(QStringLiteral(", ")));
                if (!driven.isEmpty())
                    parts << QStringLiteral("las gobierna ahora otro programa: %1")
                                 .arg(driven.join(QStringLiteral(", ")));
                if (!trying.isEmpty())
                    parts << QStringLiteral("sin confirmar, se siguen intentando: %1")
                                 .arg(trying.join(QStringLiteral(", ")));
                LogLine(QStringLiteral("%1; %2").arg(who, parts.join(QStringLiteral("; "))));
            }
        }
        if (settled)
            return 0;
        // Asleep until the next look: the targets' own threads do the trying meanwhile.
        QEventLoop pause;
        QTimer::singleShot(LookEveryMs, &pause, &QEventLoop::quit);
        pause.exec();
    }
}

} // namespace

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
    // The settings as the program read them at its start: sealed then, read whole here, from the
    // start and no further than a settings file may be.
    QByteArray text;
    bool whole = (::fcntl(kept, F_GET_SEALS) & F_SEAL_WRITE) != 0;
    char bytes[4096];
    for (ssize_t n; whole && (n = ::pread(kept, bytes, sizeof bytes, off_t(text.size()))) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        whole = n > 0 && std::size_t(text.size()) + std::size_t(n) <= SettingsFileLimit;
        if (whole)
            text.append(bytes, n);
    }
    ::close(kept);
    QStringList arguments;
    for (int i = 2; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    TCommandLine line;
    TSettings settings;
    std::vector<TTargetSpec> specs;
    QString error = QStringLiteral("los ajustes que dejó no se pueden leer enteros");
    if (!whole || !ParseCommandLine(arguments, program, line, error) ||
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
    return GuardAllOff(program.Name, pid, seenMs, specs);
}
