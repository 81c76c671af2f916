// PrVardo: the 24-hour switch timer for the six-output power strip.

#include "app/UnitVardo.h"
#include "core/Log.h"
#include "frontend/CommandLine.h"
#include "frontend/Guard.h"
#include "frontend/Signals.h"
#include "outputs/Outputs.h"
#include "platform/Application.h"
#include "sound/drivers/PulseAudio.h"

#include <QSocketNotifier>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <utility>

namespace {

// The outputs until they are switched off: at quit, or at the exit that the toolkit makes itself
// when the display goes away (the X server ending), before the process ends.
TOutputs* RunningOutputs = nullptr;
// The guard beside the program, told when the all off is done.
TGuardLink* RunningGuard = nullptr;
// Whether the all off at the end reached every target.
bool AllOff = true;

// Every target all off, and the log says so, once; the guard is told when it is so.
void SwitchOff()
{
    TOutputs* outputs = std::exchange(RunningOutputs, nullptr);
    if (outputs == nullptr || outputs->Empty())
        return;
    if (RunningGuard != nullptr)
        RunningGuard->Ending();
    const bool off = outputs->Stop();
    AllOff = off;
    LogLine(off ? QStringLiteral("fin: todas las salidas apagadas")
                : QStringLiteral("fin: alguna salida puede quedar encendida"));
    if (TGuardLink* guard = std::exchange(RunningGuard, nullptr); guard != nullptr && off)
        guard->Done();
}

// SIGTERM (a logout, systemctl, kill), SIGINT (Ctrl+C), SIGHUP (the terminal closed) and every
// other signal that would end the program end it through its event loop, as closing the window
// does, with status 128 + the signal. The handler only writes the signal's number into a pipe
// that the event loop reads.
int SignalPipe[2] = {-1, -1};

void SignalCame(int signal)
{
    const int saved = errno;
    const auto number = static_cast<unsigned char>(signal);
    (void)!::write(SignalPipe[1], &number, 1);
    errno = saved;
}

void EndOnSignals(QObject* owner)
{
    if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        unsigned char number = 0;
        if (::read(SignalPipe[0], &number, 1) != 1)
            return;
        LogLine(QStringLiteral("fin pedido por la señal SIG%1")
                    .arg(QString::fromLatin1(::sigabbrev_np(number))));
        QCoreApplication::exit(128 + number);
    });
    struct sigaction action
    {
    };
    action.sa_handler = SignalCame;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : EndingSignals)
        ::sigaction(signal, &action, nullptr);
}

// When the display goes away (the X server ends), the X library ends the program after its own
// words, which have no time: they become a line of the log, and the end goes on as ever (the
// outputs off at exit). Looked up only when the platform has the library loaded.
void LogDisplayLoss()
{
    void* x11 = ::dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (x11 == nullptr)
        return;
    using THandler = int (*)(void* display);
    using TSetHandler = THandler (*)(THandler);
    if (auto set = reinterpret_cast<TSetHandler>(::dlsym(x11, "XSetIOErrorHandler")))
        set([](void*) {
            LogLine(QStringLiteral("se perdió la conexión con la pantalla"));
            return 0;
        });
    ::dlclose(x11);
}

// Shows why the program does not start, in the standard error box, where there is a screen to
// show it on.
void ShowStartRefusal(int argc, char** argv, const QString& refusal)
{
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal") ||
        (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")))
        return;
    TApplication application(argc, argv);
    ShowErrorBox(QStringLiteral("PrVardo no se puede abrir: %1").arg(refusal));
}

} // namespace

int main(int argc, char** argv)
{
    const TProgramForm program{QStringLiteral("PrVardo"), {}, false};
    if (const auto guard = RunGuardIfAsked(program, argc, argv))
        return *guard;
    // The command line is read before any window exists: a bad one opens none.
    TCommandLine line;
    TSettings settings;
    std::vector<TTargetSpec> specs;
    QString refusal;
    if (const auto status = ReadCommandLine(program, argc, argv, line, settings, specs, &refusal)) {
        // Started from a menu, nobody reads standard error: the refusal is shown too.
        if (!refusal.isEmpty() && ::isatty(STDERR_FILENO) == 0)
            ShowStartRefusal(argc, argv, refusal);
        return *status;
    }

    // The guard first, before any thread: the outputs go off even when this program cannot.
    constexpr int Watchdog = 30; // seconds; a modal dialog keeps the event loop turning
    std::unique_ptr<TGuardLink> guard =
        specs.empty()
            ? nullptr
            : TGuardLink::Start(argc, argv, settings.Watchdog >= 0 ? settings.Watchdog : Watchdog,
                                settings.Text);
    // A connection to a broker or a device that went away must fail its write, not end the
    // program.
    std::signal(SIGPIPE, SIG_IGN);
    TApplication application(argc, argv);
    LogDisplayLoss();
    if (guard) {
        // Nobody to switch the outputs off should this program die: the user is told, each time
        // it comes to that; the guard is tried again meanwhile.
        guard->Changed = [link = guard.get()] {
            if (!link->Watching())
                ShowErrorBox(QStringLiteral("Sin guardián de las salidas (%1): si PrVardo deja "
                                            "de funcionar, nadie las apagará. Se sigue "
                                            "intentando.")
                                 .arg(link->Trouble()));
        };
        guard->Beat();
        RunningGuard = guard.get();
        if (!guard->Watching())
            guard->Changed();
    }
    EndOnSignals(&application);
    // Sound goes through the desktop's sound server; it is reached when first needed.
    TScopedWaveDriver sound(std::make_unique<TPulseAudioDriver>());
    TOutputs outputs(MakeTargets(specs));
    QObject::connect(&outputs, &TOutputs::Trouble, &outputs,
                     [](const QString& message) { ShowErrorBox(message); });
    // The timer driving the outputs is the normal case in a classroom: said, not an error.
    QObject::connect(&outputs, &TOutputs::Held, &outputs,
                     [](const QString& message) { ShowNotice(message); });
    // Mains outputs never stay on with nobody watching: all off when the program ends, however
    // it ends.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &outputs, &SwitchOff);
    RunningOutputs = &outputs;
    std::atexit(SwitchOff);
    const std::unique_ptr<TFormVardo> FormVardo = MakeMainWindow();
    if (!outputs.Empty())
        FormVardo->Outputs = &outputs;
    outputs.Start();
    FormVardo->show();
    const int status = application.exec(); // 128 + a signal that ended it, or 0
    SwitchOff(); // done already at quit; never left pointing at the outputs as they go
    RunningGuard = nullptr;
    guard.reset(); // before the application: its beat is a timer of the application's loop
    return EndStatus(AllOff, status > 128 ? status - 128 : 0);
}
