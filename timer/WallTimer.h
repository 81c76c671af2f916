#pragma once
// The running prvardo-timer: the schedules switching the outputs by the wall clock.
//
// At start, at every slot start of local time and when a hold ends, the word of the moment goes
// to the targets (when it changed). A clock set by hand, a step of the time service or a resume
// from suspend is noticed at once: the timer waits on the real-time clock with a timer that the
// kernel cancels when that clock jumps, and an absolute timer that came due while the machine
// slept fires on resume. The files are read again once a change to one of them is complete
// (closed after writing, or renamed into place: their folders are watched, since a save replaces
// the file) and on SIGHUP; SIGTERM and SIGINT set every output off and end. Only a whole
// schedule is ever applied: a file cut short, empty or garbled, or a calendar that does not read,
// leaves the last good one in force.
//
// Holds set with --set reach the running timer through its local socket (timer/Control.h); they
// are kept in the user's state folder until they end (timer/HoldsStore.h), so that a restart
// keeps them.

#include "outputs/Outputs.h"
#include "timer/RemoteTopics.h"
#include "timer/TimerCore.h"

#include <QObject>
#include <QString>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>

// SIGHUP (read the files again) and every signal that would end the timer (EndingSignals): read
// from a signal descriptor on the main thread, so blocked in every thread, which must be before
// any thread starts.
sigset_t TimerSignals();

// What the timer tells the guard beside it, and asks of it.
struct TGuardHooks
{
    std::function<void()> Ending;     // the timer's own end begins
    std::function<QString()> Trouble; // why no guard watches the timer now; empty while one does
};

// Starts switching `outputs` as `core` says, at once and from then on, until SIGTERM or SIGINT
// quits the application. None, with the system's words in `failure`, when the clock, the signals
// or the files cannot be watched.
std::unique_ptr<QObject> StartWallTimer(const QString& commandLinePath, TTimerCore core,
                                        TOutputs& outputs,
                                        const std::optional<TRemoteOptions>& remote,
                                        TGuardHooks guard, QString& failure);
