// prvardo-timer: a schedule file switching the outputs by the wall clock, without a window.
//
//   prvardo-timer [FILE.tem] [--output TARGET]... [--dry-run]
//
// The file and the targets may come from the settings file instead ([timer] schedule = PATH,
// [outputs] output = TARGET), as the systemd user unit runs it.
// At start, and at every slot start of local time, the word of the current slot goes to the
// targets (when it changed). A clock set by hand, a step of the time service or a resume from
// suspend is noticed at once: the timer waits on the real-time clock with a timer that the kernel
// cancels when that clock jumps, and an absolute timer that came due while the machine slept
// fires on resume. The file is read again once a change to it is complete (closed after writing,
// or renamed into place: its folder is watched, since a save replaces the file) and on SIGHUP;
// SIGTERM and SIGINT set every output off and end. Only a whole schedule is ever applied: a file
// cut short, empty or garbled leaves the last good schedule in force (and, at start, ends the
// timer with status 2).

#include "core/Schedule.h"
#include "core/ScheduleFile.h"
#include "core/WallClock.h"
#include "frontend/CommandLine.h"
#include "outputs/Outputs.h"

#include <QCoreApplication>
#include <QFileInfo>
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

// Reads the schedule only when the file holds a whole one.
bool Load(const QString& path, TSchedule& schedule, QString& error)
{
    try {
        schedule.Assign(ReadWholeScheduleFile(QFile::encodeName(path).toStdString()));
        return true;
    } catch (const EInOutError& e) {
        error = QString::fromLocal8Bit(e.what());
    } catch (const ENotASchedule& e) {
        error = QString::fromUtf8(e.what());
    }
    return false;
}

class TWallTimer : public QObject
{
public:
    TWallTimer(QString path, TSchedule schedule, TOutputs& outputs)
        : FPath(std::move(path)), FSchedule(schedule), FOutputs(outputs)
    {
        FClock = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
        const sigset_t signals = HandledSignals();
        FSignals = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
        if (FClock < 0 || FSignals < 0) {
            FFailure = qt_error_string(errno);
            return;
        }
        auto* clockDue = new QSocketNotifier(FClock, QSocketNotifier::Read, this);
        connect(clockDue, &QSocketNotifier::activated, this, [this] { ClockDue(); });
        auto* signalCame = new QSocketNotifier(FSignals, QSocketNotifier::Read, this);
        connect(signalCame, &QSocketNotifier::activated, this, [this] { SignalCame(); });

        // The file's folder: a save that writes the file in place ends with its close, one that
        // replaces it with its rename into place; a removal is noticed too.
        const QFileInfo file(FPath);
        FName = QFile::encodeName(file.fileName());
        FChanges = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (FChanges >= 0 &&
            ::inotify_add_watch(FChanges, QFile::encodeName(file.absolutePath()).constData(),
                                IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM) >= 0) {
            auto* changed = new QSocketNotifier(FChanges, QSocketNotifier::Read, this);
            connect(changed, &QSocketNotifier::activated, this, [this] { FileChanged(); });
        } else {
            LogOutputs(QStringLiteral("no se pueden vigilar los cambios de %1 (%2); envíe SIGHUP "
                                      "para leerlo de nuevo")
                           .arg(FPath, qt_error_string(errno)));
        }
    }
    ~TWallTimer() override
    {
        if (FClock >= 0)
            ::close(FClock);
        if (FSignals >= 0)
            ::close(FSignals);
        if (FChanges >= 0)
            ::close(FChanges);
    }

    // Empty when the timer could be set up; otherwise why not (the system's words).
    QString Failure() const { return FFailure; }

    void Apply()
    {
        const QDateTime now = QDateTime::currentDateTime();
        const QTimeZone zone = QTimeZone::systemTimeZone();
        const TDaySlot slot = SlotAt(now, zone);
        const std::uint8_t word = OutputWordAt(FSchedule, slot.Slot, slot.Hour);
        if (word != FWord) {
            // The outputs that changed: all six at start.
            const auto changed =
                static_cast<std::uint8_t>(FWord < 0 ? OutputsMask : (word ^ FWord));
            QStringList turned;
            for (int n = 0; n < 6; ++n)
                if (changed & (1u << n))
                    turned << QStringLiteral("D%1 %2").arg(n).arg(
                        word & (1u << n) ? QStringLiteral("enciende") : QStringLiteral("apaga"));
            LogOutputs(QStringLiteral("%1:%2 palabra 0x%3 (%4); %5")
                           .arg(slot.Hour, 2, 10, QLatin1Char('0'))
                           .arg(slot.Slot * 5, 2, 10, QLatin1Char('0'))
                           .arg(word, 2, 16, QLatin1Char('0'))
                           .arg(WordText(word), turned.join(QStringLiteral(", "))));
            FWord = word;
        }
        FOutputs.Write(word);
        Arm(NextSlotStart(now, zone));
    }

private:
    void Arm(const QDateTime& at)
    {
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(at.toSecsSinceEpoch());
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
                Reload(true);
            } else if (!FEnding) {
                FEnding = true;
                LogOutputs(FOutputs.Stop()
                               ? QStringLiteral("fin: todas las salidas apagadas")
                               : QStringLiteral("fin: alguna salida puede quedar encendida"));
                QCoreApplication::exit(0);
            }
        }
    }

    // The folder's events since the last look: the file read again when one of them was its own.
    void FileChanged()
    {
        alignas(inotify_event) char events[4096];
        bool ours = false;
        for (ssize_t n; (n = ::read(FChanges, events, sizeof events)) > 0;)
            for (const char* at = events; at < events + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (event->len > 0 && FName == event->name)
                    ours = true;
                at += sizeof(inotify_event) + event->len;
            }
        if (ours)
            Reload(false);
    }

    void Reload(bool asked)
    {
        TSchedule schedule;
        QString error;
        if (!Load(FPath, schedule, error)) {
            LogOutputs(QStringLiteral("%1 no se puede leer (%2); sigue el horario anterior")
                           .arg(FPath, error));
            return;
        }
        if (!asked && schedule.Flags() == FSchedule.Flags())
            return;
        FSchedule = schedule;
        LogOutputs(QStringLiteral("horario leído de nuevo de %1").arg(FPath));
        Apply();
    }

    QString FPath;
    TSchedule FSchedule;
    TOutputs& FOutputs;
    int FWord = -1;
    QString FFailure;
    int FClock = -1;
    int FSignals = -1;
    int FChanges = -1;
    QByteArray FName; // the file's name in its folder
    bool FEnding = false;
};

const QString FilesUsage = QStringLiteral("[ARCHIVO.tem] [--dry-run]");

} // namespace

int main(int argc, char** argv)
{
    TCommandLine line;
    TSettings settings;
    std::vector<TTargetSpec> specs;
    if (const auto status = ReadCommandLine(QStringLiteral("prvardo-timer"), argc, argv, FilesUsage,
                                            line, settings, specs))
        return *status;
    const auto refuse = [](const QString& why) {
        PrintText(stderr, QStringLiteral("prvardo-timer: %1\n").arg(why));
        return 2;
    };
    // The schedule: the one named, or the settings file's ([timer] schedule = PATH).
    const QString path = line.Files.size() == 1 ? line.Files.front() : settings.TimerSchedule;
    if (line.Files.size() > 1 || path.isEmpty())
        return refuse(QStringLiteral("hace falta un archivo de horario (.tem), y uno solo"));
    if (specs.empty() && !line.DryRun)
        return refuse(QStringLiteral("ninguna salida: nombre al menos una con --output, o pruebe "
                                     "--dry-run"));

    const sigset_t handled = HandledSignals();
    ::pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication application(argc, argv);
    TSchedule schedule;
    QString error;
    if (!Load(path, schedule, error))
        return refuse(QStringLiteral("%1: %2").arg(path, error));

    if (line.DryRun) {
        for (const TSwitch& change :
             DayPlan(schedule, QDateTime::currentDateTime(), QTimeZone::systemTimeZone()))
            PrintText(stdout, QStringLiteral("%1  0x%2  %3\n")
                                  .arg(change.At.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                                  .arg(change.Word, 2, 16, QLatin1Char('0'))
                                  .arg(WordText(change.Word)));
        return 0;
    }

    // Between slot starts the timer sleeps: its targets are looked after every 2 s, well within
    // an MQTT connection's keep-alive.
    TOutputs outputs(MakeTargets(specs), nullptr, std::chrono::seconds(2));
    QObject::connect(&outputs, &TOutputs::Trouble, &outputs, [](const QString&) {
        // Already on standard error, with the time: no window to show it in.
    });
    outputs.Start();
    TWallTimer timer(path, schedule, outputs);
    if (!timer.Failure().isEmpty()) {
        outputs.Stop();
        PrintText(stderr, QStringLiteral("prvardo-timer: no se puede vigilar el reloj ni las "
                                         "señales del sistema (%1)\n")
                              .arg(timer.Failure()));
        return 1;
    }
    LogOutputs(QStringLiteral("horario %1").arg(path));
    timer.Apply();
    return QCoreApplication::exec();
}
