#pragma once
// The user's targets and the threads that drive them, one per target.
//
// Write() is called on the GUI thread at every clock tick and every level of the meter: it only
// keeps the word and wakes the targets' threads, so a target's trouble never reaches the clock or
// the meter and nothing waits on a device or the network there. On its thread, every open target
// gets the word when it differs from what the target shows (a repeated word sends nothing), and a
// service call every service period (50 ms unless asked otherwise); a target that hangs in a call
// to its device delays no other. Start() opens every target and sets it to the word written so
// far (all off when none was); Stop() sets every open target all off, flushes and closes it,
// within a bound for all of them together.
//
// A target that cannot be opened, or is lost later, is closed and opened again after a pause that
// grows to 5 s; once it is back it gets the current word at once. Trouble() is emitted once per
// loss (from the worker: connect it queued), and every change, loss and recovery is logged on
// standard error with the time.

#include "outputs/OutputTarget.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

// How a target fares, for a status report.
struct TTargetHealth
{
    QString Name;
    bool Open = false;
    QDateTime LostSince; // not open: since when (invalid while it was never open)
    QString Why;         // not open: the cause and remedy, in Spanish
    bool Held = false;   // not open: another program of ours drives it
    int Shown = -1;      // the word the target shows, as far as known; -1 when not known
};

class TOutputs : public QObject
{
    Q_OBJECT
public:
    // `servicePeriod`: how often open targets are looked after (a connection kept alive, a loss
    // noticed); a program that mostly waits asks less often.
    explicit TOutputs(std::vector<std::unique_ptr<TOutputTarget>> targets,
                      QObject* parent = nullptr,
                      std::chrono::milliseconds servicePeriod = std::chrono::milliseconds(50));
    ~TOutputs() override;
    Q_DISABLE_COPY_MOVE(TOutputs)

    bool Empty() const { return FDriven.empty(); }

    // Starts the worker: every target is opened and set to the word written so far, all off
    // when none was.
    void Start();
    // Keeps the word (bits 0 to 5) for the targets. Never waits.
    void Write(std::uint8_t word);
    // Every open target all off, flushed and closed, its thread ended: at most `bound` in all
    // (and a quarter of a second more for a target that does not answer). False, with the
    // targets named in the log, when a target may still show an output on: it never confirmed
    // all off (never reached, or lost while an output was on), or it still hangs in a call to
    // its device (its thread is left to the process's end). Safe to call more than once; the
    // destructor calls it.
    bool Stop(std::chrono::milliseconds bound = std::chrono::seconds(1));

    // Each target's health now, in the order given. Any thread.
    std::vector<TTargetHealth> Health() const;

Q_SIGNALS:
    // A target could not be opened or was lost: its name, the cause and the remedy, in Spanish.
    void Trouble(const QString& message);
    // A target is driven by another program of ours (the timer running as a service): no fault,
    // and it is taken over when that program lets it go. Said once, in Spanish, as Trouble is.
    void Held(const QString& message);

private:
    struct TDriven;
    std::vector<std::unique_ptr<TDriven>> FDriven;
    bool FStarted = false;
    bool FStopped = false;
    bool FAllOff = true;
};
