#include "WallTimer.h"

#include "core/Log.h"
#include "core/Schedule.h"
#include "core/WallClock.h"
#include "frontend/Signals.h"
#include "timer/Alarms.h"
#include "timer/Control.h"
#include "timer/FileWatch.h"
#include "timer/HoldsStore.h"
#include "timer/ServiceNotice.h"
#include "timer/StatusText.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

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
    TWallTimer(QString commandLinePath, TSources sources, std::vector<THold> holds,
               TOutputs& outputs, const std::optional<TRemoteOptions>& remote)
        : FCommandLinePath(std::move(commandLinePath)), FSources(std::move(sources)),
          FHolds(std::move(holds)), FOutputs(outputs)
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
        FFiles->Watch(FSources.Files());

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
        const QTimeZone zone = QTimeZone::systemTimeZone();
        if (DropEndedHolds(FHolds, now))
            FStore.Save(FHolds);
        const TState state = StateAt(FSources.Week, FHolds, now, zone);
        if (!FState || state.Word != FState->Word) {
            const TDaySlot slot = SlotAt(now, zone);
            LogLine(QStringLiteral("%1:%2 palabra 0x%3 (%4); %5")
                        .arg(slot.Hour, 2, 10, QLatin1Char('0'))
                        .arg(slot.Slot * 5, 2, 10, QLatin1Char('0'))
                        .arg(state.Word, 2, 16, QLatin1Char('0'))
                        .arg(WordText(state.Word), Why(FState ? &*FState : nullptr, state, now)));
        }
        FState = state;
        FOutputs.Write(state.Word);
        if (FRemote != nullptr)
            FRemote->Publish(state);
        FAlarm->Arm(NextTurn(FHolds, now, zone));
    }

private:
    // Whether every target shows the word, or is away (it gets the word when it comes).
    bool Shown() const
    {
        const std::vector<TTargetHealth> targets = FOutputs.Health();
        return std::all_of(targets.begin(), targets.end(), [&](const auto& target) {
            return (target.Open && FState && target.Shown == FState->Word) ||
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
        if (const QStringList keys = RestartKeys(FSources.Settings, sources.Settings);
            !keys.isEmpty())
            LogLine(QStringLiteral("cambió %1 en el archivo de configuración: se aplica al "
                                   "reiniciar prvardo-timer (systemctl --user restart "
                                   "prvardo-timer)")
                        .arg(keys.join(QStringLiteral(", "))));
        const bool asked = changed.isEmpty();
        if (!asked && SameWeek(sources.Week, FSources.Week)) {
            FSources.Settings = std::move(sources.Settings); // each change said once
            return;
        }
        FSources = std::move(sources);
        ResolveHolds(FSources.Week, FHolds, QTimeZone::systemTimeZone());
        LogLine(asked ? QStringLiteral("horario leído de nuevo de %1").arg(FSources.MainPath)
                      : QStringLiteral("horario leído de nuevo: cambió %1")
                            .arg(changed.join(QStringLiteral(", "))));
        FFiles->Watch(FSources.Files());
        Apply();
    }

    // "status", or "set MASK on|off|auto [UNTIL]" (a hex mask of outputs, the end in seconds
    // since the epoch).
    QByteArray Answer(const QByteArray& request)
    {
        const QList<QByteArray> words = request.split(' ');
        if (words.value(0) == "status")
            return StatusText(FSources, FHolds, FOutputs.Health(), QDateTime::currentDateTime(),
                              QTimeZone::systemTimeZone())
                .toUtf8();
        THoldRequest hold;
        if (!ParseHoldRequestLine(request, hold))
            return "error: petición no válida\n";
        const QDateTime now = QDateTime::currentDateTime();
        Hold(hold);
        QByteArray answer;
        for (int n = 0; n < OutputCount; ++n)
            if ((hold.Outputs >> n) & 1U) {
                const TOutputState& output = FState->Outputs[static_cast<std::size_t>(n)];
                answer += QStringLiteral("D%1 %2: %3\n")
                              .arg(n)
                              .arg(OnOff(output.On), ReasonText(output, now))
                              .toUtf8();
            }
        return answer;
    }

    // Holds the outputs on or off (none: AUTO ends their holds), until the request's end or, when
    // it has none, until the plan next changes each of them.
    void Hold(const THoldRequest& request)
    {
        ApplyHoldRequest(request, QDateTime::currentDateTime(), FSources.Week,
                         QTimeZone::systemTimeZone(), FHolds);
        // Switched first: the file's sync to the disk may take a while.
        Apply();
        FStore.Save(FHolds);
    }

    QString FCommandLinePath;
    TSources FSources;
    std::vector<THold> FHolds;
    THoldsStore FStore;
    TOutputs& FOutputs;
    TRemote* FRemote = nullptr;   // on the school's broker, when asked for
    std::optional<TState> FState; // what was applied last
    QString FFailure;
    TWallAlarm* FAlarm = nullptr;
    TFileWatch* FFiles = nullptr;
    bool FEnding = false;
    TServiceNotice* FService = nullptr;
};

} // namespace

std::unique_ptr<QObject> StartWallTimer(const QString& commandLinePath, TSources sources,
                                        std::vector<THold> holds, TOutputs& outputs,
                                        const std::optional<TRemoteOptions>& remote,
                                        QString& failure)
{
    auto timer = std::make_unique<TWallTimer>(commandLinePath, std::move(sources), std::move(holds),
                                              outputs, remote);
    failure = timer->Failure();
    if (!failure.isEmpty())
        return nullptr;
    timer->Apply();
    return timer;
}
