#pragma once
// A timer for periods of a few milliseconds that does not wake the program at each one.
//
// A 1 ms QTimer wakes the process a thousand times a second, and here a wake-up costs more than
// the work of most ticks (a bare 1 ms poll loop alone takes some 2.5 % of a core). A TTickTimer
// whose interval is below WakePeriod wakes every WakePeriod instead and emits, one after the
// other, the ticks that came due since its last wake-up: over time the same number of ticks as
// the interval asks for, in the same order, in small groups. WakePeriod is two frames of a
// 60 Hz screen: what the ticks change is painted once per group, and a window repainted at
// every frame costs the toolkit itself more than 2 % of a core on a modest machine.
// Intervals of WakePeriod and more tick one by one, as a QTimer.
//
// A wake-up emits at most MaxCatchUp milliseconds' worth of ticks: after a longer stall (a
// suspended machine, a debugger) the ones beyond are dropped rather than run in one burst. A
// group also ends once its ticks have taken WakePeriod to run.
// Stopping, starting or a new interval inside a tick ends the group at once.

#include "core/ScopedOverride.h"

#include <QObject>
#include <QTimer>

#include <functional>

class TTickTimer : public QObject
{
    Q_OBJECT
public:
    static constexpr int WakePeriod = 34;  // milliseconds
    static constexpr int MaxCatchUp = 250; // milliseconds

    explicit TTickTimer(QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(TTickTimer)

    bool isActive() const { return FWaker.isActive(); }
    int interval() const { return FInterval; }
    // As with a QTimer, a new interval on a running timer starts counting from now; 0 counts as
    // 1 ms.
    void setInterval(int milliseconds);
    // (Re)starts counting from now.
    void start();
    void stop();
    // Ticks dropped after stalls, since the timer was made.
    qint64 Dropped() const { return FDropped; }

Q_SIGNALS:
    void timeout();

private:
    void Wake();
    void Restart();

    QTimer FWaker;
    int FInterval = 0;
    qint64 FOrigin = 0;    // milliseconds, when counting started
    qint64 FDelivered = 0; // ticks emitted or dropped since then
    qint64 FDropped = 0;
    quint64 FGeneration = 0; // changes with every start, stop and new interval
};

// The monotonic clock tick timers count with, in milliseconds.
using TMonotonicClock = std::function<qint64()>;
qint64 MonotonicMilliseconds();

// While it lives, tick timers count with `clock`; the clock before it comes back when it ends.
class TScopedMonotonicClock : public TScopedOverride<TMonotonicClock>
{
public:
    explicit TScopedMonotonicClock(TMonotonicClock clock);
};
