#pragma once
// The user's targets and the thread that drives them.
//
// Write() is called on the GUI thread at every clock tick and every level of the meter: it only
// keeps the word and wakes the worker thread, so a target's trouble never reaches the clock or the
// meter and nothing waits on a device or the network there. On the worker, every open target gets
// the word when it differs from what the target shows (a repeated word sends nothing), and a
// service call every service period (50 ms unless asked otherwise). Start() opens every target and
// sets it all off; Stop() sets every open target all off, flushes and closes it, within a bound for
// all of them together.
//
// A target that cannot be opened, or is lost later, is closed and opened again after a pause that
// grows to 5 s; once it is back it gets the current word at once. Trouble() is emitted once per
// loss (from the worker: connect it queued), and every change, loss and recovery is logged on
// standard error with the time.

#include "outputs/OutputTarget.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

class QThread;
class TOutputWorker;

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

    bool Empty() const { return FCount == 0; }

    // Starts the worker: every target is opened and set all off.
    void Start();
    // Keeps the word (bits 0 to 5) for the targets. Never waits.
    void Write(std::uint8_t word);
    // Every open target all off, flushed and closed, the worker ended: at most `bound` in all.
    // Safe to call more than once; the destructor calls it.
    void Stop(std::chrono::milliseconds bound = std::chrono::seconds(1));

Q_SIGNALS:
    // A target could not be opened or was lost: its name, the cause and the remedy, in Spanish.
    void Trouble(const QString& message);

private:
    std::size_t FCount = 0;
    bool FStopped = false;
    std::unique_ptr<QThread> FThread;
    TOutputWorker* FWorker = nullptr; // lives on FThread
};

// A line on standard error, after the time of day ("14:35:02.417 ...").
void LogOutputs(const QString& line);
// The outputs a word turns on, as the log names them ("D0 D2", "todas apagadas").
QString OutputsOf(std::uint8_t word);
