#pragma once
// A guard beside each program that drives outputs: a small process (prvardo-guard, on the C
// library alone, so that waiting costs next to no memory), started first thing (before any thread
// or window), that switches every target off when the program ends
// without saying that it did (killed, crashed, out of memory), or stops saying that it lives for
// longer than its watchdog (hung, stopped), which it then ends with SIGKILL first. It needs
// nothing of the program but a pipe: a '.' four times within the watchdog (every 2.5 s at most)
// while the program's event loop turns, and "fin" once the program's own all off is done.
// Until the first beat the program is starting, and gets 30 s at least. The guard ignores the
// signals a terminal or a logout sends to the whole process group, and acts on its pipe alone. To
// switch off it becomes the program once more (exec), with the program's command line and its
// settings as they were read at its start, and opens a target only once the program's lock on it
// has gone with the program.

#include "frontend/CommandLine.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class TGuardLink : public QObject
{
public:
    // Starts the guard of this program, before any thread: its targets are those of the same
    // command line and of `settings`, the settings file's text as the program read it.
    // `watchdog` is in seconds (0: none). None, said in the log, when it cannot be started: the
    // program goes on without it.
    static std::unique_ptr<TGuardLink> Start(int argc, char** argv, int watchdog,
                                             const QByteArray& settings);
    ~TGuardLink() override;
    TGuardLink(const TGuardLink&) = delete;
    TGuardLink& operator=(const TGuardLink&) = delete;

    // The heartbeat, from now on, from the event loop of the calling thread.
    void Beat();
    // Every target is off by the program's own end: the guard ends without touching them.
    void Done();

private:
    TGuardLink(int fd, int beatMs) : FFd(fd), FBeatMs(beatMs) {}
    void Send(const char* bytes);

    int FFd;
    int FBeatMs;
    QTimer FBeat;
    bool FGone = false; // the guard is gone; said once
};

// Every target all off, as a program finds them when it cannot drive them (its guard, once the
// program is gone; a timer that cannot start): opened (when no other program holds them), set
// off, flushed and closed, within about a second, and two for a broker. Needs an application
// object. Whether every one is off.
bool SwitchOffTargets(const std::vector<TTargetSpec>& specs);

// The guard's all off, when the first argument says this process is a guard whose program has
// gone: the status to end with. None for a program's normal run.
std::optional<int> RunGuardIfAsked(const TProgramForm& program, int argc, char** argv);
