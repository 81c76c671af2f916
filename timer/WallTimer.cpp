#include "WallTimer.h"

#include "core/Log.h"
#include "frontend/Signals.h"
#include "timer/Alarms.h"
#include "timer/Control.h"
#include "timer/FileWatch.h"
#include "timer/Remote.h"
#include "timer/ServiceNotice.h"
#include "timer/StatusText.h"

#include <QCoreApplication>

#include <algorithm>

sigset_t TimerSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : EndingSignals)
        sigaddset(&signals, s);
    return signals;
}

namespace {

class TWallTimer : public QObject
{
public:
    TWallTimer(QString commandLinePath, TTimerCore core, TOutputs& outputs,
               const std::optional<TRemoteOptions>& remote, TGuardHooks guard)
        : FCommandLinePath(std::move(commandLinePath)), FCore(std::move(core)), FOutputs(outputs),
          FGuard(std::move(guard))
    {
        if (remote)
            FRemote = new TRemote(
                *remote, [this](const THoldRequest& request) { Hold(request); }, this);
        FAlarm = new TWallAlarm([this] { Apply(); }, this);
        auto* signals = new TSignalSource([this](int signal) { SignalCame(signal); }, this);
        FFiles = new TFileWatch([this](const QStringList& changed) { Reload(changed); }, this);
        for (const QString& failure : {FAlarm->Failure(), signals->Failure(), FFiles->Failure()})
            if (FFailure.isEmpty())
                FFailure = failure;
        if (!FFailure.isEmpty())
            return;
        FFiles->Watch(FCore.Sources().Files());

        FService = new TServiceNotice([this] { return Shown(); }, this);

        auto* control =
            new TControl([this](const QByteArray& request) { return Answer(request); }, this);
        if (!control->Failure().isEmpty())
            LogLine(QStringLiteral("sin --set ni --status: %1").arg(control->Failure()));
    }
    // Empty when the timer could be set up; otherwise why not (the system's words).
    QString Failure() const { return FFailure; }

    void Apply()
    {
        const QDateTime now = QDateTime::currentDateTime();
        const TState& state = FCore.Turn(now);
        FOutputs.Write(state.Word);
        if (FRemote != nullptr)
            FRemote->Publish(state);
        FAlarm->Arm(FCore.NextTurn(now));
    }

private:
    // Whether every target shows the word, or is away (it gets the word when it comes).
    bool Shown() const
    {
        const std::vector<TTargetHealth> targets = FOutputs.Health();
        const std::optional<TState>& last = FCore.Last();
        return std::all_of(targets.begin(), targets.end(), [&](const auto& target) {
            return (target.Open && last && target.Shown == last->Word) ||
                   target.LostSince.isValid();
        });
    }

    // SIGHUP reads the files again; every other signal the timer takes ends it, all off first.
    void SignalCame(int signal)
    {
        if (signal == SIGHUP) {
            Reload();
            return;
        }
        if (FEnding)
            return;
        FEnding = true;
        if (FGuard.Ending)
            FGuard.Ending();
        FService->Stopping();
        const bool off = FOutputs.Stop();
        if (FRemote != nullptr)
            FRemote->Stop();
        LogLine(off ? QStringLiteral("fin: todas las salidas apagadas")
                    : QStringLiteral("fin: alguna salida puede quedar encendida"));
        QCoreApplication::exit(EndStatus(off, signal));
    }

    // Reads every file again: those in `changed` changed, or none when the user asked (SIGHUP).
    void Reload(const QStringList& changed = {})
    {
        TSources sources;
        QString error;
        if (!ReadSources(FCommandLinePath, sources, error)) {
            LogLine(QStringLiteral("%1; sigue el horario anterior").arg(error));
            return;
        }
        if (const QStringList keys = RestartKeys(FCore.Sources().Settings, sources.Settings);
            !keys.isEmpty())
            LogLine(QStringLiteral("cambió %1 en el archivo de configuración: se aplica al "
                                   "reiniciar prvardo-timer (systemctl --user restart "
                                   "prvardo-timer)")
                        .arg(keys.join(QStringLiteral(", "))));
        const bool asked = changed.isEmpty();
        if (!FCore.Follow(std::move(sources), asked))
            return;
        LogLine(asked ? QStringLiteral("horario leído de nuevo de %1").arg(FCore.Sources().MainPath)
                      : QStringLiteral("horario leído de nuevo: cambió %1")
                            .arg(changed.join(QStringLiteral(", "))));
        FFiles->Watch(FCore.Sources().Files());
        Apply();
    }

    // "status", or a hold request line (timer/Control.h).
    QByteArray Answer(const QByteArray& request)
    {
        const QDateTime now = QDateTime::currentDateTime();
        if (request.split(' ').value(0) == "status") {
            QString text =
                StatusText(FCore.Sources(), FCore.Holds(), FOutputs.Health(), now, FCore.Zone());
            if (const QString trouble = FGuard.Trouble ? FGuard.Trouble() : QString();
                !trouble.isEmpty())
                text += QStringLiteral("guardián de las salidas: ninguno (%1); si el "
                                       "temporizador muere, nadie las apagará; se vuelve a "
                                       "intentar\n")
                            .arg(trouble);
            return text.toUtf8();
        }
        THoldRequest hold;
        if (!ParseHoldRequestLine(request, hold))
            return "error: petición no válida\n";
        Hold(hold);
        return HoldAnswer(hold, *FCore.Last(), now).toUtf8();
    }

    // Holds the outputs on or off (none: AUTO ends their holds), until the request's end or, when
    // it has none, until the plan next changes each of them.
    void Hold(const THoldRequest& request)
    {
        FCore.Hold(request, QDateTime::currentDateTime());
        // Switched first: the file's sync to the disk may take a while.
        Apply();
        FCore.Keep();
    }

    QString FCommandLinePath;
    TTimerCore FCore;
    TOutputs& FOutputs;
    TRemote* FRemote = nullptr; // on the school's broker, when asked for
    QString FFailure;
    TWallAlarm* FAlarm = nullptr;
    TFileWatch* FFiles = nullptr;
    bool FEnding = false;
    TGuardHooks FGuard;
    TServiceNotice* FService = nullptr;
};

} // namespace

std::unique_ptr<QObject> StartWallTimer(const QString& commandLinePath, TTimerCore core,
                                        TOutputs& outputs,
                                        const std::optional<TRemoteOptions>& remote,
                                        TGuardHooks guard, QString& failure)
{
    auto timer = std::make_unique<TWallTimer>(commandLinePath, std::move(core), outputs, remote,
                                              std::move(guard));
    failure = timer->Failure();
    if (!failure.isEmpty())
        return nullptr;
    timer->Apply();
    return timer;
}
