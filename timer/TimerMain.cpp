// prvardo-timer: a schedule file switching the outputs by the wall clock, without a window.
//
//   prvardo-timer [FILE.tem] [--output TARGET]... [--dry-run [--days N]]
//   prvardo-timer --set OUTPUT=on|off|auto [--until TIME]     (to the running timer)
//   prvardo-timer --status                                     (of the running timer)
//
// The file and the targets may come from the settings file instead ([timer] schedule = PATH,
// [outputs] output = TARGET), as the systemd user unit runs it; [timer] also says which days are
// school days, which dates are holidays and which days have a schedule of their own.
// At start, at every slot start of local time and when a hold ends, the word of the moment goes
// to the targets (when it changed). A clock set by hand, a step of the time service or a resume
// from suspend is noticed at once: the timer waits on the real-time clock with a timer that the
// kernel cancels when that clock jumps, and an absolute timer that came due while the machine
// slept fires on resume. The files are read again once a change to one of them is complete
// (closed after writing, or renamed into place: their folders are watched, since a save replaces
// the file) and on SIGHUP; SIGTERM and SIGINT set every output off and end. Only a whole
// schedule is ever applied: a file cut short, empty or garbled, or a calendar that does not read,
// leaves the last good one in force (and, at start, ends the timer with status 2).
//
// Holds set with --set reach the running timer through its local socket (timer/Control.h); they
// are kept in the user's state folder until they end, so that a restart keeps them.

#include "core/Schedule.h"
#include "core/TextFile.h"
#include "core/WallClock.h"
#include "frontend/CommandLine.h"
#include "outputs/Outputs.h"
#include "timer/Control.h"
#include "timer/Remote.h"
#include "week/SchoolWeek.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <pthread.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>

namespace {

// SIGHUP, SIGTERM and SIGINT: read from a signal descriptor on the main thread, so blocked in
// every thread, which must be before any thread starts.
sigset_t HandledSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGHUP, SIGTERM, SIGINT})
        sigaddset(&signals, s);
    return signals;
}

// Where the holds are kept between runs ($XDG_STATE_HOME, or ~/.local/state).
QString HoldsPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/PrVardo/prvardo-timer.holds");
}

// The holds kept by the last run; none, with a line in the log, when the file cannot be read
// whole. A line that does not read is left out, and said once.
std::vector<THold> ReadHolds()
{
    const QString path = HoldsPath();
    const std::string name = QFile::encodeName(path).toStdString();
    const TFileText read = ReadTextFile(name, HoldsFileLimit);
    if (read.Result == TReadResult::Missing)
        return {};
    if (read.Result != TReadResult::Read) {
        LogOutputs(QStringLiteral("%1; se empieza sin salidas fijadas")
                       .arg(QString::fromStdString(ReadFailure(read, name, HoldsFileLimit))));
        return {};
    }
    int skipped = 0;
    std::vector<THold> holds = ParseHolds(QByteArray::fromStdString(read.Text), &skipped);
    if (skipped > 0)
        LogOutputs(QStringLiteral("%1: %2 línea(s) no se entienden como una salida fijada y no "
                                  "cuentan")
                       .arg(path)
                       .arg(skipped));
    return holds;
}

// Keeps the holds for the next run. A failure is said once for each cause, until a save works
// again (`said` is the cause last said).
void SaveHolds(const std::vector<THold>& holds, QString& said)
{
    const QString path = HoldsPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(HoldsText(holds)) >= 0 && file.commit()) {
        said.clear();
        return;
    }
    if (file.errorString() == said)
        return;
    said = file.errorString();
    LogOutputs(QStringLiteral("no se pueden guardar las salidas fijadas en %1 (%2); un reinicio "
                              "las olvidaría")
                   .arg(path, said));
}

QString OnOff(bool on)
{
    return on ? QStringLiteral("encendida") : QStringLiteral("apagada");
}

QString LocalText(const QDateTime& at, const QDateTime& now)
{
    const QDateTime local = at.toLocalTime();
    if (local.date() == now.toLocalTime().date())
        return local.toString(QStringLiteral("HH:mm"));
    return DayName(local.date().dayOfWeek()) + u' ' +
           local.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// Why the outputs that changed from `before` to `after` are as they are: "festivo: todas
// apagadas", "D2 encendida: manual hasta 14:30, D0 apagada: horario".
QString Why(const TState* before, const TState& after, const QDateTime& now)
{
    const auto alike = [&](const TOutputState& output) {
        return output.On == after.Outputs[0].On &&
               ReasonText(output, now) == ReasonText(after.Outputs[0], now);
    };
    if (std::all_of(after.Outputs.begin(), after.Outputs.end(), alike))
        return ReasonText(after.Outputs[0], now) + (after.Word == 0
                                                        ? QStringLiteral(": todas apagadas")
                                                        : QStringLiteral(": todas encendidas"));
    QStringList turned;
    for (int n = 0; n < OutputCount; ++n) {
        const TOutputState& output = after.Outputs[static_cast<std::size_t>(n)];
        const TOutputState* was =
            before != nullptr ? &before->Outputs[static_cast<std::size_t>(n)] : nullptr;
        if (was == nullptr || was->On != output.On || was->Reason != output.Reason ||
            was->HeldUntil != output.HeldUntil)
            turned << QStringLiteral("D%1 %2: %3")
                          .arg(n)
                          .arg(OnOff(output.On), ReasonText(output, now));
    }
    return turned.join(QStringLiteral(", "));
}

// The rules, the schedules and the holidays as the files say now.
struct TSources
{
    QString MainPath; // the command line's, or the settings file's
    TWeekRules Rules;
    TWeek Week;
    QDateTime ReadAt;

    // Every file whose change is read again.
    QStringList Files() const
    {
        QStringList files{MainPath, SettingsPath(), Rules.HolidaySchedule};
        for (const QString& day : Rules.DaySchedules)
            files << day;
        files << Rules.HolidayFiles;
        files.removeAll(QString());
        return files;
    }
};

// Reads everything; false with one line that says what could not be read.
bool ReadSources(const QString& commandLinePath, TSources& sources, QString& error)
{
    TSettings settings;
    if (!ReadSettings(SettingsPath(), settings, error) ||
        !ParseWeekRules(settings.Timer, sources.Rules, error))
        return false;
    sources.MainPath = commandLinePath.isEmpty() ? settings.TimerSchedule : commandLinePath;
    if (sources.MainPath.isEmpty()) {
        error = QStringLiteral("hace falta un archivo de horario (.tem), y uno solo");
        return false;
    }
    TSchedule main;
    if (!LoadSchedule(sources.MainPath, main, error))
        return false;
    sources.ReadAt = QDateTime::currentDateTime();
    return LoadWeek(main, sources.Rules, sources.ReadAt.date().addDays(-1), sources.Week, error);
}

bool SameWeek(const TWeek& a, const TWeek& b)
{
    const auto same = [](const std::optional<TSchedule>& x, const std::optional<TSchedule>& y) {
        return x.has_value() == y.has_value() && (!x || x->Flags() == y->Flags());
    };
    return a.Main.Flags() == b.Main.Flags() && a.SchoolDays == b.SchoolDays &&
           a.Holidays == b.Holidays && same(a.Holiday, b.Holiday) &&
           std::equal(a.Days.begin(), a.Days.end(), b.Days.begin(), same);
}

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
                *remote,
                [this](std::uint8_t outputs, std::optional<bool> value, const QDateTime& until) {
                    Hold(outputs, value, until);
                },
                this);
        FClock = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
        const sigset_t signals = HandledSignals();
        FSignals = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
        FChanges = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (FClock < 0 || FSignals < 0 || FChanges < 0) {
            FFailure = qt_error_string(errno);
            return;
        }
        auto* clockDue = new QSocketNotifier(FClock, QSocketNotifier::Read, this);
        connect(clockDue, &QSocketNotifier::activated, this, [this] { ClockDue(); });
        auto* signalCame = new QSocketNotifier(FSignals, QSocketNotifier::Read, this);
        connect(signalCame, &QSocketNotifier::activated, this, [this] { SignalCame(); });
        auto* changed = new QSocketNotifier(FChanges, QSocketNotifier::Read, this);
        connect(changed, &QSocketNotifier::activated, this, [this] { FileChanged(); });
        Watch();

        auto* control =
            new TControl([this](const QByteArray& request) { return Answer(request); }, this);
        if (!control->Failure().isEmpty())
            LogOutputs(QStringLiteral("sin --set ni --status: %1").arg(control->Failure()));
    }
    ~TWallTimer() override
    {
        for (int fd : {FClock, FSignals, FChanges})
            if (fd >= 0)
                ::close(fd);
    }

    // Empty when the timer could be set up; otherwise why not (the system's words).
    QString Failure() const { return FFailure; }

    void Apply()
    {
        const QDateTime now = QDateTime::currentDateTime();
        const QTimeZone zone = QTimeZone::systemTimeZone();
        if (DropEndedHolds(FHolds, now))
            SaveHolds(FHolds, FHoldsUnsaved);
        const TState state = StateAt(FSources.Week, FHolds, now, zone);
        if (!FState || state.Word != FState->Word) {
            const TDaySlot slot = SlotAt(now, zone);
            LogOutputs(
                QStringLiteral("%1:%2 palabra 0x%3 (%4); %5")
                    .arg(slot.Hour, 2, 10, QLatin1Char('0'))
                    .arg(slot.Slot * 5, 2, 10, QLatin1Char('0'))
                    .arg(state.Word, 2, 16, QLatin1Char('0'))
                    .arg(WordText(state.Word), Why(FState ? &*FState : nullptr, state, now)));
        }
        FState = state;
        FOutputs.Write(state.Word);
        if (FRemote != nullptr)
            FRemote->Publish(state);
        Arm(NextTurn(FHolds, now, zone));
    }

private:
    void Arm(const QDateTime& at)
    {
        const qint64 ms = at.toMSecsSinceEpoch();
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(ms / 1000);
        when.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
        if (::timerfd_settime(FClock, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when,
                              nullptr) == 0)
            return;
        // Never left without a next switch: a plain timer then, which a clock set by hand or a
        // suspend may make late.
        LogOutputs(QStringLiteral("no se puede programar el reloj del sistema (%1); se usa un "
                                  "temporizador corriente")
                       .arg(qt_error_string(errno)));
        const qint64 wait = std::max<qint64>(QDateTime::currentDateTime().msecsTo(at), 0);
        QTimer::singleShot(std::chrono::milliseconds(wait), this, [this] { Apply(); });
    }

    void ClockDue()
    {
        std::uint64_t expirations = 0;
        // ECANCELED: the clock jumped; either way the slot is looked at again now.
        if (::read(FClock, &expirations, sizeof expirations) < 0 && errno == ECANCELED)
            LogOutputs(QStringLiteral("la hora del sistema ha cambiado"));
        Apply();
    }

    void SignalCame()
    {
        signalfd_siginfo info{};
        while (::read(FSignals, &info, sizeof info) == sizeof info) {
            if (info.ssi_signo == SIGHUP) {
                Reload();
            } else if (!FEnding) {
                FEnding = true;
                const bool off = FOutputs.Stop();
                if (FRemote != nullptr)
                    FRemote->Stop();
                LogOutputs(off ? QStringLiteral("fin: todas las salidas apagadas")
                               : QStringLiteral("fin: alguna salida puede quedar encendida"));
                QCoreApplication::exit(0);
            }
        }
    }

    // The folders of every file read: a save that writes a file in place ends with its close,
    // one that replaces it with its rename into place; a removal is noticed too.
    void Watch()
    {
        FNames.clear();
        for (const QString& path : FSources.Files()) {
            const QFileInfo file(path);
            const QByteArray folder = QFile::encodeName(file.absolutePath());
            FNames.insert(QFile::encodeName(file.absoluteFilePath()));
            const int watch =
                ::inotify_add_watch(FChanges, folder.constData(),
                                    IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM);
            if (watch >= 0)
                FFolderOf[watch] = folder;
            else
                LogOutputs(QStringLiteral("no se pueden vigilar los cambios de %1 (%2); envíe "
                                          "SIGHUP para leerlo de nuevo")
                               .arg(path, qt_error_string(errno)));
        }
    }

    // The folders' events since the last look: the files read again when one was ours.
    void FileChanged()
    {
        alignas(inotify_event) char events[4096];
        std::set<QByteArray> changed;
        for (ssize_t n; (n = ::read(FChanges, events, sizeof events)) > 0;)
            for (const char* at = events; at < events + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                const QByteArray name = event->len > 0
                                            ? FFolderOf[event->wd] + '/' + QByteArray(event->name)
                                            : QByteArray();
                if (FNames.count(name) != 0)
                    changed.insert(name);
                at += sizeof(inotify_event) + event->len;
            }
        if (!changed.empty()) {
            QStringList names;
            for (const QByteArray& name : changed)
                names << QFile::decodeName(name);
            Reload(names);
        }
    }

    // Reads every file again: those in `changed` changed, or none when the user asked (SIGHUP).
    void Reload(const QStringList& changed = {})
    {
        TSources sources;
        QString error;
        if (!ReadSources(FCommandLinePath, sources, error)) {
            LogOutputs(QStringLiteral("%1; sigue el horario anterior").arg(error));
            return;
        }
        const bool asked = changed.isEmpty();
        if (!asked && SameWeek(sources.Week, FSources.Week))
            return;
        FSources = std::move(sources);
        ResolveHolds(FSources.Week, FHolds, QTimeZone::systemTimeZone());
        LogOutputs(asked ? QStringLiteral("horario leído de nuevo de %1").arg(FSources.MainPath)
                         : QStringLiteral("horario leído de nuevo: cambió %1")
                               .arg(changed.join(QStringLiteral(", "))));
        Watch();
        Apply();
    }

    // "status", or "set MASK on|off|auto [UNTIL]" (a hex mask of outputs, the end in seconds
    // since the epoch).
    QByteArray Answer(const QByteArray& request)
    {
        const QList<QByteArray> words = request.split(' ');
        if (words.value(0) == "status")
            return Status().toUtf8();
        bool ok = false;
        const uint mask = words.value(1).toUInt(&ok, 16);
        const QByteArray& value = words.value(2);
        if (words.value(0) != "set" || !ok || mask == 0 || mask > OutputsMask ||
            (value != "on" && value != "off" && value != "auto") || words.size() > 4)
            return "error: petición no válida\n";
        const QDateTime now = QDateTime::currentDateTime();
        QDateTime until;
        if (words.size() == 4)
            until = QDateTime::fromSecsSinceEpoch(words[3].toLongLong());
        Hold(static_cast<std::uint8_t>(mask),
             value == "auto" ? std::nullopt : std::optional<bool>(value == "on"), until);
        QByteArray answer;
        for (int n = 0; n < OutputCount; ++n)
            if ((mask >> n) & 1U) {
                const TOutputState& output = FState->Outputs[static_cast<std::size_t>(n)];
                answer += QStringLiteral("D%1 %2: %3\n")
                              .arg(n)
                              .arg(OnOff(output.On), ReasonText(output, now))
                              .toUtf8();
            }
        return answer;
    }

    // Holds the outputs on or off (none: AUTO ends their holds), until `until` or, when it is
    // invalid, until the plan next changes each of them.
    void Hold(std::uint8_t outputs, std::optional<bool> value, const QDateTime& until)
    {
        const QDateTime now = QDateTime::currentDateTime();
        for (int n = 0; n < OutputCount; ++n) {
            if (((outputs >> n) & 1U) == 0)
                continue;
            // A new hold replaces the output's last one; auto only ends it.
            std::erase_if(FHolds, [n](const THold& hold) { return hold.Output == n; });
            if (value)
                FHolds.push_back({n, *value, now, until, {}});
        }
        ResolveHolds(FSources.Week, FHolds, QTimeZone::systemTimeZone());
        // Switched first: the file's sync to the disk may take a while.
        Apply();
        SaveHolds(FHolds, FHoldsUnsaved);
    }

    QString Status() const
    {
        const QDateTime now = QDateTime::currentDateTime();
        const QTimeZone zone = QTimeZone::systemTimeZone();
        const TState state = StateAt(FSources.Week, FHolds, now, zone);
        const std::vector<TStep> ahead = WeekPlan(FSources.Week, FHolds, now, 31, zone);
        QString text;
        for (int n = 0; n < OutputCount; ++n) {
            const TOutputState& output = state.Outputs[static_cast<std::size_t>(n)];
            QString next = QStringLiteral("sin cambios en 31 días");
            for (const TStep& step : ahead)
                if (step.State.Outputs[static_cast<std::size_t>(n)].On != output.On) {
                    next = QStringLiteral("cambia: %1").arg(LocalText(step.At, now));
                    break;
                }
            text += QStringLiteral("D%1  %2  %3; %4\n")
                        .arg(n)
                        .arg(OnOff(output.On).leftJustified(9), ReasonText(output, now), next);
        }
        const TWeekRules& rules = FSources.Rules;
        QStringList days;
        for (int d = 1; d <= 7; ++d)
            if ((FSources.Week.SchoolDays >> (d - 1)) & 1U)
                days << DayName(d);
        const auto holidays =
            std::count_if(FSources.Week.Holidays.begin(), FSources.Week.Holidays.end(),
                          [&](QDate d) { return d >= now.date(); });
        text += QStringLiteral("horario: %1 (leído %2)\n")
                    .arg(FSources.MainPath, LocalText(FSources.ReadAt, now));
        text += QStringLiteral("calendario: días de clase %1; %2 festivos desde hoy%3%4\n")
                    .arg(days.join(u','))
                    .arg(holidays)
                    .arg(rules.HolidayFiles.isEmpty()
                             ? QString()
                             : QStringLiteral(" (%1)").arg(
                                   rules.HolidayFiles.join(QStringLiteral(", "))),
                         rules.HolidaySchedule.isEmpty()
                             ? QString()
                             : QStringLiteral("; festivos con %1").arg(rules.HolidaySchedule));
        for (int d = 1; d <= 7; ++d)
            if (!rules.DaySchedules[static_cast<std::size_t>(d - 1)].isEmpty())
                text += QStringLiteral("  %1: %2\n")
                            .arg(DayName(d), rules.DaySchedules[static_cast<std::size_t>(d - 1)]);
        for (const TTargetHealth& target : FOutputs.Health())
            text +=
                QStringLiteral("salida %1: %2\n")
                    .arg(target.Name, target.Open ? QStringLiteral("abierta")
                                      : target.LostSince.isValid()
                                          ? QStringLiteral("sin conexión desde %1: %2")
                                                .arg(LocalText(target.LostSince, now), target.Why)
                                          : QStringLiteral("abriéndose"));
        return text;
    }

    QString FCommandLinePath;
    TSources FSources;
    std::vector<THold> FHolds;
    QString FHoldsUnsaved; // why the last save of the holds failed; empty when it worked
    TOutputs& FOutputs;
    TRemote* FRemote = nullptr;   // on the school's broker, when asked for
    std::optional<TState> FState; // what was applied last
    QString FFailure;
    int FClock = -1;
    int FSignals = -1;
    int FChanges = -1;
    std::set<QByteArray> FNames;         // every file read, as a whole path
    std::map<int, QByteArray> FFolderOf; // the folder of each watch
    bool FEnding = false;
};

const QString FilesUsage =
    QStringLiteral("[ARCHIVO.tem] [--dry-run [--days N]] [--set SALIDA=on|off|auto "
                   "[--until HORA]] [--status]");

// --set and --status: what the running timer answers, or status 1 when none runs.
int AskRunningTimer(const TCommandLine& line)
{
    const auto refuse = [](const QString& why) {
        PrintText(stderr, QStringLiteral("prvardo-timer: %1\n").arg(why));
        return 2;
    };
    QList<QByteArray> requests;
    const QDateTime now = QDateTime::currentDateTime();
    QDateTime until;
    QString error;
    if (!line.Until.isEmpty() && (line.Set.isEmpty() || !ParseUntil(line.Until, now, until, error)))
        return refuse(line.Set.isEmpty() ? QStringLiteral("--until va con --set") : error);
    for (const QString& set : line.Set) {
        std::uint8_t outputs = 0;
        std::optional<bool> value;
        if (!ParseSet(set, outputs, value, error))
            return refuse(error);
        if (!value && until.isValid())
            return refuse(QStringLiteral("--until no va con auto"));
        QByteArray request = "set " + QByteArray::number(outputs, 16) + ' ' +
                             (!value   ? "auto"
                              : *value ? "on"
                                       : "off");
        if (until.isValid())
            request += ' ' + QByteArray::number(until.toSecsSinceEpoch());
        requests << request;
    }
    if (line.Status)
        requests << "status";
    for (const QByteArray& request : requests) {
        const TTimerReply reply = AskTimer(request);
        if (reply.Kind == TTimerReply::TKind::NoTimer) {
            PrintText(stderr, QStringLiteral("prvardo-timer: no hay ningún temporizador en marcha "
                                             "(nadie atiende en %1)\n")
                                  .arg(ControlPath()));
            return 1;
        }
        if (reply.Kind == TTimerReply::TKind::NoAnswer) {
            PrintText(stderr, QStringLiteral("prvardo-timer: el temporizador en marcha (proceso "
                                             "%1) no contesta\n")
                                  .arg(reply.Pid));
            return 1;
        }
        if (reply.Text.startsWith("error:")) {
            PrintText(stderr,
                      QStringLiteral("prvardo-timer: %1").arg(QString::fromUtf8(reply.Text)));
            return 2;
        }
        PrintText(stdout, QString::fromUtf8(reply.Text));
    }
    return 0;
}

// --dry-run: every switch of the next days, with its date, day and reason.
void PrintPlan(const TWeek& week, const std::vector<THold>& holds, int days)
{
    const QDateTime now = QDateTime::currentDateTime();
    const std::vector<TStep> plan = WeekPlan(week, holds, now, days, QTimeZone::systemTimeZone());
    for (std::size_t i = 0; i < plan.size(); ++i)
        PrintText(stdout,
                  QStringLiteral("%1 %2 %3  0x%4  %5  %6\n")
                      .arg(plan[i].At.toString(QStringLiteral("yyyy-MM-dd")),
                           DayName(plan[i].At.date().dayOfWeek()),
                           plan[i].At.toString(QStringLiteral("HH:mm")))
                      .arg(plan[i].State.Word, 2, 16, QLatin1Char('0'))
                      .arg(WordText(plan[i].State.Word),
                           Why(i == 0 ? nullptr : &plan[i - 1].State, plan[i].State, plan[i].At)));
}

} // namespace

int main(int argc, char** argv)
{
    TCommandLine line;
    TSettings settings;
    std::vector<TTargetSpec> specs;
    if (const auto status = ReadCommandLine(QStringLiteral("prvardo-timer"), argc, argv, FilesUsage,
                                            line, settings, specs))
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

    const sigset_t handled = HandledSignals();
    ::pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication application(argc, argv);
    // One timer per user: a second one would fight the first over the outputs and the holds.
    // Status 1, not 2: the service tried while a timer started by hand runs takes over when it ends.
    if (const TTimerReply other = line.DryRun ? TTimerReply{} : AskTimer({});
        other.Kind != TTimerReply::TKind::NoTimer) {
        PrintText(stderr, QStringLiteral("prvardo-timer: otro prvardo-timer está ya en marcha "
                                         "(proceso %1); consúltelo con «prvardo-timer --status», "
                                         "cámbielo con «prvardo-timer --set», o, si es el "
                                         "servicio, con «systemctl --user status prvardo-timer»\n")
                              .arg(other.Pid));
        return 1;
    }
    const QString path = line.Files.value(0);
    TSources sources;
    QString error;
    if (!ReadSources(path, sources, error))
        return refuse(error);
    if (specs.empty() && !line.DryRun)
        return refuse(QStringLiteral("ninguna salida: nombre al menos una con --output, o pruebe "
                                     "--dry-run"));
    std::optional<TRemoteOptions> remote;
    if (!ParseRemote(settings, remote, error))
        return refuse(error);
    std::vector<THold> holds = ReadHolds();
    ResolveHolds(sources.Week, holds, QTimeZone::systemTimeZone());
    DropEndedHolds(holds, QDateTime::currentDateTime());

    if (line.DryRun) {
        PrintPlan(sources.Week, holds, std::max(line.Days, 1));
        return 0;
    }

    // Between slot starts the timer sleeps: its targets are looked after every 2 s, well within
    // an MQTT connection's keep-alive.
    TOutputs outputs(MakeTargets(specs), nullptr, std::chrono::seconds(2));
    QObject::connect(&outputs, &TOutputs::Trouble, &outputs, [](const QString&) {
        // Already on standard error, with the time: no window to show it in.
    });
    outputs.Start();
    const QString mainPath = sources.MainPath;
    TWallTimer timer(path, std::move(sources), std::move(holds), outputs, remote);
    if (!timer.Failure().isEmpty()) {
        outputs.Stop();
        PrintText(stderr, QStringLiteral("prvardo-timer: no se puede vigilar el reloj ni las "
                                         "señales del sistema (%1)\n")
                              .arg(timer.Failure()));
        return 1;
    }
    LogOutputs(QStringLiteral("horario %1").arg(mainPath));
    timer.Apply();
    return QCoreApplication::exec();
}
