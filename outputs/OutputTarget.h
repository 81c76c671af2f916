#pragma once
// One place the switching word goes: a parallel port, GPIO lines, a serial relay board, smart
// plugs over MQTT. The program's outputs (TOutputs) keep a list of them and drive each one from a
// thread of its own, so a target may wait on its device or the network: nothing here runs on the
// GUI thread, and a target that hangs holds up no other.
//
// Life of a target, on its thread:
//   Open() --true--> Write(word, previous) ... Service() ... --> Flush(deadline) --> Close()
//   Open() --false--> (Error() says why) Open() again later, with a growing pause (up to 5 s)
//   Write() or Service() --false--> lost: Close(), then Open() again later; after a successful
//   open the current word is written at once, with previous = -1.
// The word holds the six outputs in bits 0 to 5; bits 6 and 7 are always 0.

#include "core/ScopedOverride.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <utility>

class TOutputTarget
{
public:
    virtual ~TOutputTarget() = default;

    // What the user wrote to name it ("serial:/dev/ttyUSB0:9600"), for messages and the log.
    QString Name() const { return FName; }
    // Why the last Open, Write or Service failed: a Spanish sentence that names the cause and the
    // usual remedy ("... Añada su usuario al grupo dialout ..."), without the target's name.
    QString Error() const { return FError; }
    // The system's or the library's own words for it, for the log only; may be empty.
    QString Detail() const { return FDetail; }

    // Opens the device or the connection. False, with Error() set, when it cannot.
    virtual bool Open() = 0;
    // Sets the outputs to `word`. `previous` is the word the target shows now, or -1 when it is
    // not known (right after an open), so a target that sends per output sends every output then.
    // False, with Error() set, when the target is lost.
    virtual bool Write(std::uint8_t word, int previous) = 0;
    // Called every 50 ms to 2 s while the target is open: keeps a connection alive, notices a
    // loss. False, with Error() set, when the target is lost.
    virtual bool Service() { return true; }
    // The longest the target may go without a service call while open, for a target that sends
    // something of its own at a pace (a heartbeat); zero: the program's own period will do.
    virtual std::chrono::milliseconds ServiceWithin() const { return {}; }
    // At an end (clean, the guard's, a start that fails): every output off. `shown` is the word
    // the device was last set to (-1: not known); a target whose device shows the word it was set
    // to sends only when that is not all off. False, with Error() set, when the target is lost.
    virtual bool SwitchOff(int shown) { return shown == 0 || Write(0, shown); }
    // At a clean end, after the last word: undoes what Open set on the device beyond the outputs.
    virtual void Leave() {}
    // Waits until what was written has left, at most until `deadline` (at quit).
    virtual void Flush(std::chrono::steady_clock::time_point /*deadline*/) {}
    // Closes the device or the connection; nothing is sent.
    virtual void Close() = 0;
    // What names the device whatever way the user wrote it (its real path, the broker and the
    // topics), for the lock that lets one program at a time drive it; empty: no lock.
    virtual QString LockKey() const { return {}; }
    // True once what was written has reached the device as far as the target can tell (for MQTT:
    // the broker acknowledged it). A loss is taken as over only then, so that a target that opens
    // and fails again at once is not reported again.
    virtual bool Delivered() const { return true; }

    // Asked from any thread when the program ends: a wait inside Open (a connection being made)
    // gives up at once.
    void RequestStop() { FStopRequested = true; }
    bool StopRequested() const { return FStopRequested; }

protected:
    explicit TOutputTarget(QString name) : FName(std::move(name)) {}
    // Sets Error() and Detail() and returns false, for `return Fail(...)`.
    bool Fail(QString error, QString detail = {})
    {
        FError = std::move(error);
        FDetail = std::move(detail);
        return false;
    }

private:
    std::atomic<bool> FStopRequested{false};
    QString FName;
    QString FError;
    QString FDetail;
};

// How long a target waits for its device's answer to a request: `own`, the target's figure,
// unless a test has set one for every target it opens (a board in a test may be a process that a
// busy machine holds up for longer than a real board ever takes).
std::chrono::milliseconds AnswerWait(std::chrono::milliseconds own);

// While it lives, targets opened wait `wait` for every answer of their devices.
class TScopedAnswerWait : public TScopedOverride<std::chrono::milliseconds>
{
public:
    explicit TScopedAnswerWait(std::chrono::milliseconds wait);
};
