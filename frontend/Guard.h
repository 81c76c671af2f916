#pragma once
// A guard beside each program that drives outputs: a small process (prvardo-guard, on the C
// library alone, so that waiting costs next to no memory), started first thing, in a session of
// its own (a kill of the program's whole process group does not reach it), with a clean signal
// mask. It switches every target off when the program ends without saying that it did (killed,
// crashed, out of memory), or stops saying that it lives for longer than its watchdog (hung,
// stopped), which it then ends with SIGKILL first. It needs nothing of the program but a pipe: a
// '.' four times within the watchdog (every 2.5 s at most) while the program's event loop turns,
// an 'e' when the program's own end begins (which then has a bound of its own), and "fin" once
// the program's own all off is done. Until the first beat the program is starting, and gets 30 s
// at least. To switch off it becomes the program once more (exec), with the program's command
// line and its settings as they were read at its start, and opens a target only once the
// program's lock on it has gone with the program; a target it cannot reach then is tried again
// until it confirms all off, or until a new run of the program drives it. A guard that dies is
// replaced at once.

#include "frontend/CommandLine.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/types.h>

#include <functional>
#include <string>

#include <memory>
#include <optional>
#include <vector>

class TGuardLink : public QObject
{
public:
    // Starts the guard of this program: its targets are those of the same command line and of
    // `settings`, the settings file's text as the program read it. `watchdog` is in seconds (0:
    // none). A guard that cannot be started is said in the log, and tried again once the beat
    // runs, until one is there.
    static std::unique_ptr<TGuardLink> Start(int argc, char** argv, int watchdog,
                                             const QByteArray& settings);
    ~TGuardLink() override;
    TGuardLink(const TGuardLink&) = delete;
    TGuardLink& operator=(const TGuardLink&) = delete;

    // The heartbeat, from now on, from the event loop of the calling thread; a guard that dies
    // is replaced at once from there.
    void Beat();
    // The program's own end begins: the guard gives it the end's own bound, not the watchdog.
    // Said once.
    void Ending();
    // Every target is off by the program's own end: the guard ends without touching them.
    void Done();

    // Whether a guard watches this program now; when none does, why (in Spanish).
    bool Watching() const { return FGuard > 0; }
    QString Trouble() const { return FTrouble; }
    // Called when a guard goes or comes, on the beat's thread.
    std::function<void()> Changed;

private:
    TGuardLink(std::vector<std::string> command, int watchdog, int settings, int self);
    bool Spawn();
    void Lost(const QString& why);
    void Send(char byte);
    void GuardEnded();

    std::vector<std::string> FCommand; // the program's executable, then its command line
    int FWatchdog;
    int FBeatMs;
    int FSettings; // the settings as read at the start, sealed
    int FSelf;     // this process, for the guard to end it by: -1 when the system has none
    int FPipe = -1;
    pid_t FGuard = 0;
    int FGuardFd = -1; // the guard's process, readable when it ends
    QSocketNotifier* FGuardGone = nullptr;
    QTimer FBeat;
    QTimer FRetry;
    QString FTrouble;
    bool FEnding = false;
    bool FDone = false;
};

// Every target all off, as a program finds them when it cannot drive them (its guard, once the
// program is gone; a timer that cannot start): opened (when no other program holds them), set
// off, flushed and closed, within about a second, and two for a broker. Needs an application
// object. Whether every one is off.
bool SwitchOffTargets(const std::vector<TTargetSpec>& specs);

// The guard's all off, when the first argument says this process is a guard whose program has
// gone: the status to end with. None for a program's normal run.
std::optional<int> RunGuardIfAsked(const TProgramForm& program, int argc, char** argv);
