// prvardo-guard: the waiting half of a program's guard (frontend/Guard.h). It uses nothing but the
// C library, so that the hours it waits cost next to no memory. It reads the program's pipe: a
// '.' is a beat, 'e' the program's own end begun, 'f' ("fin") the program's own all off done.
// When the beat stops for longer than the watchdog (or an end takes longer than its bound), it
// ends the program with SIGKILL; when the program has gone without its "fin", it becomes the
// program once more (exec), which switches every target off and says so.
//
//   prvardo-guard PIPE PID PIDFD WATCHDOG SETTINGS PROGRAM NAME [ARGUMENT]...
//
// PIPE: the pipe's reading end; PID: the program; PIDFD: a descriptor of the program's process,
// or -1 (it is killed by PIDFD, which no other process can ever take over); WATCHDOG: seconds, 0
// for none; SETTINGS: a descriptor holding the settings file as the program read it at its start;
// PROGRAM: the program's executable; NAME and the ARGUMENTs: its command line.

#include "core/LogStamp.h"
#include "frontend/GuardProtocol.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Until the first beat the program is starting (a window being made on a slow machine): it gets
// at least this long.
constexpr long StartingSeconds = 30;
constexpr long Never = -1;

bool Number(const char* text, long& value, long least = 0)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= least;
}

long NowMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

} // namespace

// Nothing here needs the C++ library: the program links the C library alone.
int main(int argc, char** argv)
{
    long fd = 0;
    long pid = 0;
    long pidfd = -1;
    long watchdog = 0;
    if (argc < 8 || !Number(argv[1], fd) || !Number(argv[2], pid) || pid == 0 ||
        !Number(argv[3], pidfd, -1) || !Number(argv[4], watchdog)) {
        std::fputs("prvardo-guard: lo inicia PrVardo o prvardo-timer, no una persona\n", stderr);
        return 2;
    }
    const char* settings = argv[5];
    const char* program = argv[6];
    const char* slash = std::strrchr(argv[7], '/');
    const char* name = slash != nullptr ? slash + 1 : argv[7];
    // Ctrl+C in a terminal, a logout or a service stop reach the whole group: the program ends
    // cleanly by itself and says so on the pipe.
    const int ignored[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
    for (const int signal : ignored)
        std::signal(signal, SIG_IGN);

    long allowed = watchdog > StartingSeconds ? watchdog : StartingSeconds;
    const auto deadline = [&](long seconds) {
        return watchdog > 0 ? NowMs() + seconds * 1000 : Never;
    };
    long due = deadline(allowed);
    bool killed = false;
    bool ending = false;
    for (;;) {
        long left = due == Never ? -1 : due - NowMs();
        if (left > 60000)
            left = 60000;
        pollfd wait{int(fd), POLLIN, 0};
        const int ready = ::poll(&wait, 1, due == Never ? -1 : int(left < 0 ? 0 : left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            if (NowMs() < due)
                continue;
            if (killed)
                break; // killed, and still not gone: its targets are tried all the same
            std::fprintf(stderr,
                         ending ? "%sguardián: %s (proceso %ld) no termina en %ld s; se termina\n"
                                : "%sguardián: %s (proceso %ld) no da señales de vida desde hace "
                                  "%ld s; se termina\n",
                         TLogStamp().Text, name, pid, allowed);
            if (pidfd < 0 || SignalProcess(int(pidfd), SIGKILL) != 0)
                ::kill(pid_t(pid), SIGKILL);
            killed = true;
            due = NowMs() + 2000;
            continue;
        }
        char bytes[64];
        const ssize_t n = ::read(int(fd), bytes, sizeof bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            if (std::memchr(bytes, GuardDone, std::size_t(n)) != nullptr)
                return 0; // the program's own all off is done
            if (std::memchr(bytes, GuardEnding, std::size_t(n)) != nullptr && !killed &&
                watchdog > 0) {
                ending = true; // its own end has a bound of its own, beats or none
                allowed = EndingSeconds;
                due = NowMs() + EndingSeconds * 1000;
            } else if (!killed && !ending) {
                allowed = watchdog;
                due = deadline(watchdog);
            }
            continue;
        }
        break; // the program is gone without its all off
    }
    ::close(int(fd));
    // The program once more, to switch its targets off; it says how long after this moment.
    const long seen = NowMs();
    char off[96];
    std::snprintf(off, sizeof off, "--guardia=%ld:%s:%ld", pid, settings, seen);
    char* arguments[256];
    int count = 0;
    arguments[count++] = argv[7];
    arguments[count++] = off;
    for (int i = 8; i < argc && count < 255; ++i)
        arguments[count++] = argv[i];
    arguments[count] = nullptr;
    if (pidfd >= 0)
        ::close(int(pidfd));
    ::execv(program, arguments);
    std::fprintf(stderr, "%sguardián: no se pudo iniciar %s para apagar las salidas (%s)\n",
                 TLogStamp().Text, program, std::strerror(errno));
    return 1;
}
