// prvardo-timer: a schedule file switching the outputs by the wall clock, without a window.
//
//   prvardo-timer [FILE.tem] [--output TARGET]... [--dry-run [--days N]]
//   prvardo-timer --set OUTPUT=on|off|auto [--until TIME]     (to the running timer)
//   prvardo-timer --status                                     (of the running timer)
//
// The file and the targets may come from the settings file instead ([timer] schedule = PATH,
// [outputs] output = TARGET), as the systemd user unit runs it; [timer] also says which days are
// school days, which dates are holidays and which days have a schedule of their own. A schedule
// or calendar that does not read whole at start ends the timer with status 2.

#include "core/Log.h"
#include "frontend/CommandLine.h"
#include "frontend/Guard.h"
#include "outputs/Outputs.h"
#include "outputs/TargetLock.h"
#include "timer/Client.h"
#include "timer/Control.h"
#include "timer/HoldsStore.h"
#include "timer/RemoteTopics.h"
#include "timer/StatusText.h"
#include "timer/WallTimer.h"

#include <QCoreApplication>

#include <pthread.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

const TProgramForm Program{QStringLiteral("prvardo-timer"),
                           QStringLiteral("[ARCHIVO.tem] [--dry-run [--days N]] [--set "
                                          "SALIDA=on|off|auto [--until HORA]] [--status]"),
                           true};

} // namespace

int main(int argc, char** argv)
{
    if (const auto guard = RunGuardIfAsked(Program, argc, argv))
        return *guard;
    TCommandLine line;
    TSettings settings;
    std::vector<TTargetSpec> specs;
    if (const auto status = ReadCommandLine(Program, argc, argv, line, settings, specs))
        return *status;
    if (!line.Set.isEmpty() || line.Status || !line.Until.isEmpty()) {
        // They speak to the timer that runs: what would start one of its own has no place here.
        if (line.DryRun || line.Days != 0 || !line.Files.isEmpty() || !line.Outputs.isEmpty()) {
            PrintText(stderr, QStringLiteral("prvardo-timer: --set y --status hablan con el "
                                             "temporizador en marcha; no van con --dry-run, "
                                             "--days, --output ni un archivo de horario\n"));
            return 2;
        }
        QCoreApplication application(argc, argv);
        return AskRunningTimer(line);
    }
    const auto refuse = [](const QString& why) {
        PrintText(stderr, QStringLiteral("prvardo-timer: %1\n").arg(why));
        return 2;
    };
    if (line.Files.size() > 1)
        return refuse(QStringLiteral("hace falta un archivo de horario (.tem), y uno solo"));
    if (line.Days != 0 && !line.DryRun)
        return refuse(QStringLiteral("--days va con --dry-run"));
    if (specs.empty() && !line.DryRun &&
        (!line.Files.isEmpty() || !settings.TimerSchedule.isEmpty()))
        return refuse(QStringLiteral("ninguna salida: nombre al menos una con --output, o pruebe "
                                     "--dry-run"));

    const sigset_t handled = TimerSignals();
    ::pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication application(argc, argv);
    // One timer per user: a second one would fight the first over the outputs and the holds.
    // A lock held for the timer's life, taken before its socket is made, so that two timers
    // started together cannot both listen. Status 1, not 2: the service tried while a timer
    // started by hand runs takes over when it ends.
    TTargetLock only(QStringLiteral("prvardo-timer"));
    if (QString holder; !line.DryRun && !only.Take(holder)) {
        PrintText(stderr, QStringLiteral("prvardo-timer: otro prvardo-timer está ya en marcha "
                                         "(%1); consúltelo con «prvardo-timer --status», "
                                         "cámbielo con «prvardo-timer --set», o, si es el "
                                         "servicio, con «systemctl --user status prvardo-timer»\n")
                              .arg(holder));
        return 1;
    }
    const QString path = line.Files.value(0);
    TSources sources;
    QString error;
    if (!ReadSources(path, sources, error, &settings)) {
        // Never an output left on by a timer that died and cannot start again on a broken file.
        if (!line.DryRun && !specs.empty()) {
            PrintText(stderr, QStringLiteral("prvardo-timer: %1\n").arg(error));
            LogLine(SwitchOffTargets(specs)
                        ? QStringLiteral("sin horario que seguir: todas las salidas apagadas")
                        : QStringLiteral("sin horario que seguir: alguna salida puede quedar "
                                         "encendida"));
            return 2;
        }
        return refuse(error);
    }
    if (specs.empty() && !line.DryRun)
        return refuse(QStringLiteral("ninguna salida: nombre al menos una con --output, o pruebe "
                                     "--dry-run"));
    std::optional<TRemoteOptions> remote;
    if (!ParseRemote(settings, remote, error))
        return refuse(error);
    const QDateTime now = QDateTime::currentDateTime();
    TTimerCore core(std::move(sources), THoldsStore().Read(), now, QTimeZone::systemTimeZone());
    if (line.DryRun) {
        PrintText(stdout, PlanText(core.Sources().Week, core.Holds(), std::max(line.Days, 1), now,
                                   core.Zone()));
        return 0;
    }

    // The guard before the outputs' threads: they go off even when this program cannot.
    constexpr int Watchdog = 10; // seconds
    const std::unique_ptr<TGuardLink> guard = TGuardLink::Start(
        argc, argv, settings.Watchdog >= 0 ? settings.Watchdog : Watchdog, settings.Text);
    guard->Beat();
    // Between slot starts the timer sleeps: its targets are looked after every 2 s, well within
    // an MQTT connection's keep-alive (a target that needs more asks for it).
    TOutputs outputs(MakeTargets(specs), nullptr, std::chrono::seconds(2));
    QObject::connect(&outputs, &TOutputs::Trouble, &outputs, [](const QString&) {
        // Already on standard error, with the time: no window to show it in.
    });
    LogLine(QStringLiteral("horario %1").arg(core.Sources().MainPath));
    QString failure;
    // The timer gives the outputs their word before they start: a target opens straight to it.
    TGuardHooks hooks{[&guard] { guard->Ending(); }, [&guard] { return guard->Trouble(); }};
    const std::unique_ptr<QObject> timer =
        StartWallTimer(path, std::move(core), outputs, remote, std::move(hooks), failure);
    outputs.Start();
    if (!timer) {
        guard->Ending();
        if (outputs.Stop())
            guard->Done();
        PrintText(stderr, QStringLiteral("prvardo-timer: no se puede vigilar el reloj ni las "
                                         "señales del sistema (%1)\n")
                              .arg(failure));
        return 1;
    }
    const int status = QCoreApplication::exec();
    guard->Ending();    // said at the signal already
    if (outputs.Stop()) // done at the signal already: what it gave
        guard->Done();
    return status;
}
