#pragma once
// The signals that end a process unless it catches them, and that both programs catch to end
// through their own all off: a logout, Ctrl+C, a closed terminal, and every other whose default is
// to end (a timer's alarm, a limit reached, a user's SIGUSR1). The signals of a crash (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS) are left to end the program: its guard switches off.

#include <array>
#include <csignal>

inline constexpr std::array EndingSignals{SIGTERM, SIGINT,  SIGHUP,    SIGQUIT,   SIGUSR1,
                                          SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,   SIGXCPU,
                                          SIGXFSZ, SIGIO,   SIGPWR,    SIGSTKFLT, SIGTRAP};

// The status either program ends with, by one rule: 1 when an output may still be on, whatever
// ended the program; otherwise 128 + the signal that ended it (a stop, Ctrl+C, a logout), or 0
// when the user ended it in the program. (2, a configuration that cannot work, is given at the
// start, before anything is switched.)
constexpr int EndStatus(bool allOff, int signal)
{
    if (!allOff)
        return 1;
    return signal > 0 ? 128 + signal : 0;
}
