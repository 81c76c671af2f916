#include "Alarms.h"

#include "core/Log.h"
#include "timer/WallTimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

TWallAlarm::TWallAlarm(std::function<void()> due, QObject* parent)
    : QObject(parent), FDue(std::move(due))
{
    FFd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (FFd < 0) {
        FFailure = qt_error_string(errno);
        return;
    }
    auto* rang = new QSocketNotifier(FFd, QSocketNotifier::Read, this);
    connect(rang, &QSocketNotifier::activated, this, [this] {
        std::uint64_t expirations = 0;
        // ECANCELED: the clock jumped; either way the slot is looked at again now.
        if (::read(FFd, &expirations, sizeof expirations) < 0 && errno == ECANCELED)
            LogLine(QStringLiteral("la hora del sistema ha cambiado"));
        FDue();
    });
}

TWallAlarm::~TWallAlarm()
{
    if (FFd >= 0)
        ::close(FFd);
}

void TWallAlarm::Arm(const QDateTime& at)
{
    const qint64 ms = at.toMSecsSinceEpoch();
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(ms / 1000);
    when.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    if (::timerfd_settime(FFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr) == 0)
        return;
    // Never left without a next switch: a plain timer then, which a clock set by hand or a
    // suspend may make late.
    LogLine(QStringLiteral("no se puede programar el reloj del sistema (%1); se usa un "
                           "temporizador corriente")
                .arg(qt_error_string(errno)));
    const qint64 wait = std::max<qint64>(QDateTime::currentDateTime().msecsTo(at), 0);
    QTimer::singleShot(std::chrono::milliseconds(wait), this, [this] { FDue(); });
}

TSignalSource::TSignalSource(std::function<void(int)> came, QObject* parent)
    : QObject(parent), FCame(std::move(came))
{
    const sigset_t signals = TimerSignals();
    FFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (FFd < 0) {
        FFailure = qt_error_string(errno);
        return;
    }
    auto* readable = new QSocketNotifier(FFd, QSocketNotifier::Read, this);
    connect(readable, &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info{};
        while (::read(FFd, &info, sizeof info) == sizeof info)
            FCame(int(info.ssi_signo));
    });
}

TSignalSource::~TSignalSource()
{
    if (FFd >= 0)
        ::close(FFd);
}
