#include "core/TickTimer.h"

#include <QPointer>

#include <algorithm>
#include <chrono>

namespace {

TMonotonicClock& ClockPlace()
{
    static TMonotonicClock clock;
    return clock;
}

} // namespace

qint64 MonotonicMilliseconds()
{
    if (ClockPlace())
        return ClockPlace()();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TScopedMonotonicClock::TScopedMonotonicClock(TMonotonicClock clock)
    : TScopedOverride(ClockPlace(), std::move(clock))
{
}

TTickTimer::TTickTimer(QObject* parent) : QObject(parent)
{
    FWaker.setTimerType(Qt::PreciseTimer);
    connect(&FWaker, &QTimer::timeout, this, &TTickTimer::Wake);
}

void TTickTimer::setInterval(int milliseconds)
{
    FInterval = std::max(0, milliseconds);
    if (isActive())
        Restart();
}

void TTickTimer::start()
{
    Restart();
}

void TTickTimer::stop()
{
    ++FGeneration;
    FWaker.stop();
}

void TTickTimer::Restart()
{
    ++FGeneration;
    FOrigin = MonotonicMilliseconds();
    FDelivered = 0;
    FWaker.start(std::max(FInterval, WakePeriod));
}

void TTickTimer::Wake()
{
    if (FInterval >= WakePeriod) {
        Q_EMIT timeout();
        return;
    }
    const qint64 interval = std::max(1, FInterval);
    qint64 due = (MonotonicMilliseconds() - FOrigin) / interval - FDelivered;
    const qint64 most = std::max<qint64>(1, MaxCatchUp / interval);
    if (due > most) {
        FDropped += due - most;
        FDelivered += due - most;
        due = most;
    }
    const quint64 generation = FGeneration;
    const QPointer<TTickTimer> alive(this);
    // Ticks slower than their interval end a group after WakePeriod of work: the ones left stay
    // due (and, beyond MaxCatchUp, are dropped), so the window keeps answering.
    const auto start = std::chrono::steady_clock::now();
    for (; due > 0; --due) {
        ++FDelivered;
        Q_EMIT timeout();
        if (alive.isNull() || FGeneration != generation ||
            std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(WakePeriod))
            return;
    }
}
