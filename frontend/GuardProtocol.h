#pragma once
// What a program and its guard say to each other on the guard's pipe, and the times they keep:
// shared by both halves of the guard, on the C library alone.

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

// A beat: the program's event loop turns.
constexpr char GuardBeat = '.';
// The program's own end begins: from now on the guard gives it EndingSeconds, not the watchdog.
constexpr char GuardEnding = 'e';
// The program's own all off is done: the guard ends without touching the outputs.
constexpr char GuardDone = 'f';

// The longest a program's own end may take once it said so: every target's stop (1.25 s), the
// broker's last acknowledgement (1 s), the threads it joins (each bounded), with room.
constexpr long EndingSeconds = 10;

// Linux's process descriptors (5.3 and later): a descriptor that names one process for good,
// which no later process can take over as a reused number can. Called directly: the C library's
// header gives them no C linkage for C++. -1 with errno set when the system has none.
inline int OpenProcess(pid_t pid)
{
    return int(::syscall(SYS_pidfd_open, pid, 0)); // close-on-exec, as every such descriptor
}

inline int SignalProcess(int process, int signal)
{
    return int(::syscall(SYS_pidfd_send_signal, process, signal, nullptr, 0));
}
