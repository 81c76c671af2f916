#pragma once
// What wakes the running timer besides its files and its socket, each on the event loop: the wall
// clock at the next instant anything may change (a timerfd on CLOCK_REALTIME, which also rings
// when the clock is set or jumps), and the signals it handles (a signalfd: they are blocked for
// the whole process before any thread starts).

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

class TWallAlarm : public QObject
{
public:
    TWallAlarm(std::function<void()> due, QObject* parent);
    ~TWallAlarm() override;
    TWallAlarm(const TWallAlarm&) = delete;
    TWallAlarm& operator=(const TWallAlarm&) = delete;

    // Empty when the clock can be watched; otherwise why not (the system's words).
    QString Failure() const { return FFailure; }
    // Rings at `at` (once), or at once when the clock jumps before then. Where the system's
    // clock cannot be set, a plain timer stands in (late after a suspend), and the log says so.
    void Arm(const QDateTime& at);

private:
    std::function<void()> FDue;
    int FFd = -1;
    QString FFailure;
};

class TSignalSource : public QObject
{
public:
    TSignalSource(std::function<void(int signal)> came, QObject* parent);
    ~TSignalSource() override;
    TSignalSource(const TSignalSource&) = delete;
    TSignalSource& operator=(const TSignalSource&) = delete;

    QString Failure() const { return FFailure; }

private:
    std::function<void(int)> FCame;
    int FFd = -1;
    QString FFailure;
};
