// The Arduino relay board of docs/PrVardoRelays.ino on a simulated ATmega328P at 16 MHz
// (simavr), for the tests. The board's serial port is a pseudo-terminal of this program's own.
//
// Usage: SimBoard [--stepped] <sketch.elf>
//
// Paced (the default), for a real program on the PC end: the board runs paced to the wall clock,
// so that the sketch's millis() keeps real time. A thread of its own reads the PC's bytes as they
// come and notes the wall-clock instant of each; the UART gets each byte at that instant of the
// simulated clock, also when a busy machine held the board back and it is catching up (else the
// heartbeats read in one go after a pause would look, to the sketch, like seconds of silence).
//
// Stepped (--stepped), for a test that is the PC itself: the simulated clock moves only when told,
// and the PC's bytes come as commands, each at the instant the clock stands at. However busy the
// machine, the sketch sees the same bytes at the same instants.
//
// On stdout, one line per event as it happens, times in milliseconds of the simulated clock
// since power-on (it goes on across the board's restarts):
//   pty <path>               the PC's end of the serial cable; always the first line
//   relays <hex> <ms>        the six relays, bit n = relay n on: at power-on, then at each change
//   driven <hex> <ms>        which of the six relay pins are outputs: a pin left an input drives
//                            no relay (the relay board's own pull-up keeps it off)
//   rx <hex> <ms>            a byte from the PC starts into the board's UART (1 ms on the wire)
//   tx <hex> <ms>            a byte the board sent
//   reset <ms>               the board restarted (its watchdog)
//   unplug <ms>, hang <ms>   the command took effect
//   at <ms>                  (stepped) the clock stands at <ms>, as a run asked
//   lag <ms> <late> <looks>  (paced, at the end) the most the simulated clock was behind the wall
//                            clock, and at how many of its looks it was more than 1 ms behind
// Commands on stdin, one per line:
//   unplug   the cable is pulled: no more bytes either way, the pseudo-terminal is closed
//   hang     the sketch hangs for good: its loop() becomes a jump to itself
//   run <ms> (stepped) runs the board until its clock reads <ms>
//   byte <hex> (stepped) a byte from the PC starts into the UART now (or after those before it)
//   quit     the end (so is the end of stdin, and the end of the parent process)

#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr uint32_t clockHz = 16000000;
// The longest stretch the board runs between two looks at its queue of bytes and at stdin:
// 0.25 ms. Paced, when it has caught up with the wall clock, it waits until the wall clock is a
// slice ahead.
constexpr avr_cycle_count_t slice = clockHz / 4000;
// Arduino pins 2..7 (the relays D0..D5) are bits 2..7 of port D; the data-space addresses of
// DDRD and PORTD on the ATmega328P. The sketch switches a relay on with LOW.
constexpr uint16_t ddrD = 0x2A;
constexpr uint16_t portD = 0x2B;
constexpr int firstRelayBit = 2;
constexpr uint8_t relayBits = 0xFC;

[[noreturn]] void fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::fputs("SimBoard: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::exit(2);
}

// A byte from the PC and the instant of the simulated clock at which it reaches the UART.
struct PcByte
{
    avr_cycle_count_t at;
    uint8_t value;
};

struct Board
{
    bool stepped = false;
    avr_t* avr = nullptr;
    elf_firmware_t firmware{};
    void (*coreReset)(avr_t*) = nullptr;
    avr_irq_t* uartIn = nullptr;

    // The simulated clock: simavr's cycle count, kept going if a restart sets it back.
    avr_cycle_count_t lastCycle = 0;
    avr_cycle_count_t cycleOffset = 0;

    int master = -1; // the pseudo-terminal's master: the board's end of the cable
    int slave = -1;  // held open, so that the master does not hang up while no PC has it open
    bool xoff = false;
    std::deque<PcByte> toBoard; // from the PC, not taken by the UART yet
    std::string toPc;           // sent by the board, not written to the PC yet

    // Paced: the thread that reads the PC's bytes as they come, and what it read.
    std::thread reader;
    int stopReader[2] = {-1, -1};
    std::mutex arrivedLock;
    std::deque<PcByte> arrived;

    int ddr = -1; // the relay pins last seen
    int port = -1;

    timespec start{};
    avr_cycle_count_t maxLag = 0; // the most the simulated clock was behind the wall clock
    uint64_t looks = 0;
    uint64_t lateLooks = 0; // more than 1 ms behind
};

Board board;

avr_cycle_count_t simCycles()
{
    const avr_cycle_count_t cycle = board.avr->cycle;
    if (cycle < board.lastCycle)
        board.cycleOffset += board.lastCycle - cycle;
    board.lastCycle = cycle;
    return board.cycleOffset + cycle;
}

double simMs()
{
    return static_cast<double>(simCycles()) * 1000.0 / clockHz;
}

avr_cycle_count_t wallCycles()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t ns =
        (now.tv_sec - board.start.tv_sec) * 1000000000LL + now.tv_nsec - board.start.tv_nsec;
    return static_cast<avr_cycle_count_t>(ns) * (clockHz / 1000000) / 1000;
}

// simavr's messages go to stderr: stdout is for the events alone.
void logToStderr(avr_t*, const int level, const char* format, va_list args)
{
    if (level <= LOG_WARNING)
        std::vfprintf(stderr, format, args);
}

// The pacing does the waiting: a sleeping core just moves on to its next event.
void noSleep(avr_t*, avr_cycle_count_t) {}

void watchPins()
{
    const avr_t* avr = board.avr;
    const int ddr = avr->data[ddrD] & relayBits;
    const int port = avr->data[portD] & relayBits;
    if (ddr == board.ddr && port == board.port)
        return;
    const auto relays = [](int outputs, int levels) {
        return (outputs & ~levels & relayBits) >> firstRelayBit;
    };
    if (board.ddr < 0 || relays(ddr, port) != relays(board.ddr, board.port))
        std::printf("relays %02x %.3f\n", relays(ddr, port), simMs());
    if (ddr != board.ddr)
        std::printf("driven %02x %.3f\n", ddr >> firstRelayBit, simMs());
    board.ddr = ddr;
    board.port = port;
}

void onReset(avr_t* avr)
{
    if (board.coreReset)
        board.coreReset(avr);
    std::printf("reset %.3f\n", simMs());
}

void onTx(avr_irq_t*, uint32_t value, void*)
{
    std::printf("tx %02x %.3f\n", value & 0xFF, simMs());
    if (board.master >= 0)
        board.toPc.push_back(static_cast<char>(value));
}

void onXon(avr_irq_t*, uint32_t, void*)
{
    board.xoff = false;
}

void onXoff(avr_irq_t*, uint32_t, void*)
{
    board.xoff = true;
}

// Hands the UART the PC's bytes that are due by now, as long as it takes more.
void feedUart()
{
    const avr_cycle_count_t now = simCycles();
    while (!board.xoff && !board.toBoard.empty() && board.toBoard.front().at <= now) {
        const uint8_t byte = board.toBoard.front().value;
        board.toBoard.pop_front();
        std::printf("rx %02x %.3f\n", byte, simMs());
        avr_raise_irq(board.uartIn, byte);
    }
}

// Paced: reads the PC's bytes as they come, each noted with the wall clock's instant, until told
// to stop. The board's own thread may be seconds behind meanwhile.
void readPc()
{
    for (;;) {
        pollfd fds[2] = {{board.master, POLLIN, 0}, {board.stopReader[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            fail("poll: %s", std::strerror(errno));
        }
        if (fds[1].revents)
            return;
        if (fds[0].revents & POLLIN) {
            uint8_t buffer[64];
            const ssize_t n = read(board.master, buffer, sizeof buffer);
            const avr_cycle_count_t at = wallCycles();
            const std::lock_guard<std::mutex> lock(board.arrivedLock);
            for (ssize_t i = 0; i < n; ++i)
                board.arrived.push_back({at, buffer[i]});
        }
    }
}

void startReader()
{
    if (pipe2(board.stopReader, O_CLOEXEC) != 0)
        fail("pipe: %s", std::strerror(errno));
    board.reader = std::thread(readPc);
}

void stopReader()
{
    if (!board.reader.joinable())
        return;
    const char stop = 0;
    if (write(board.stopReader[1], &stop, 1) != 1)
        fail("cannot stop the reader: %s", std::strerror(errno));
    board.reader.join();
    close(board.stopReader[0]);
    close(board.stopReader[1]);
}

// Paced: the bytes the reader has noted join the UART's queue.
void takeArrived()
{
    const std::lock_guard<std::mutex> lock(board.arrivedLock);
    board.toBoard.insert(board.toBoard.end(), board.arrived.begin(), board.arrived.end());
    board.arrived.clear();
}

void openPty()
{
    board.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (board.master < 0 || grantpt(board.master) != 0 || unlockpt(board.master) != 0)
        fail("no pseudo-terminal: %s", std::strerror(errno));
    const char* path = ptsname(board.master);
    if (!path)
        fail("no pseudo-terminal name: %s", std::strerror(errno));
    board.slave = open(path, O_RDWR | O_NOCTTY);
    if (board.slave < 0)
        fail("cannot open %s: %s", path, std::strerror(errno));
    // Raw from the start: a terminal's echo would hand the board's own bytes back to it.
    termios tio{};
    tcgetattr(board.slave, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B9600);
    tcsetattr(board.slave, TCSANOW, &tio);
    fcntl(board.master, F_SETFL, fcntl(board.master, F_GETFL) | O_NONBLOCK);
    std::printf("pty %s\n", path);
}

void unplug()
{
    stopReader();
    if (board.master >= 0) {
        close(board.master);
        close(board.slave);
    }
    board.master = board.slave = -1;
    board.toBoard.clear();
    board.arrived.clear();
    board.toPc.clear();
    std::printf("unplug %.3f\n", simMs());
}

// The sketch stops for good inside loop(): its first instruction becomes "rjmp .-2", a jump to
// itself. The flash keeps it across restarts, as a fault in the program would be.
void hang()
{
    for (uint32_t i = 0; i < board.firmware.symbolcount; ++i) {
        const avr_symbol_t* symbol = board.firmware.symbol[i];
        if (std::strcmp(symbol->symbol, "loop") == 0 && symbol->addr + 1 <= board.avr->flashend) {
            board.avr->flash[symbol->addr] = 0xFF;
            board.avr->flash[symbol->addr + 1] = 0xCF;
            std::printf("hang %.3f\n", simMs());
            return;
        }
    }
    fail("the firmware has no loop()");
}

void writeToPc()
{
    if (board.master < 0 || board.toPc.empty())
        return;
    const ssize_t n = write(board.master, board.toPc.data(), board.toPc.size());
    if (n > 0)
        board.toPc.erase(0, static_cast<size_t>(n));
}

// Runs the core up to an instant of the simulated clock, watching the relay pins.
void runCore(avr_cycle_count_t until)
{
    while (simCycles() < until) {
        const int state = avr_run(board.avr);
        if (state == cpu_Done || state == cpu_Crashed)
            fail("the core stopped (state %d) at %.3f ms", state, simMs());
        watchPins();
    }
}

// Stepped: runs the board up to an instant, a slice at a time, the PC's bytes fed as they are due.
void runTo(avr_cycle_count_t target)
{
    for (;;) {
        feedUart();
        writeToPc();
        const avr_cycle_count_t now = simCycles();
        if (now >= target)
            break;
        runCore(std::min(target, now + slice));
    }
    std::printf("at %.3f\n", simMs());
}

// Paced: runs the board until the wall clock, or one slice of it when far behind.
void runPaced()
{
    const avr_cycle_count_t wall = wallCycles();
    const avr_cycle_count_t now = simCycles();
    ++board.looks;
    if (wall > now) {
        board.maxLag = std::max(board.maxLag, wall - now);
        if (wall - now > clockHz / 1000)
            ++board.lateLooks;
    }
    runCore(std::min(wall, now + slice));
}

// Runs one command line; false for the end.
bool command(const std::string& line)
{
    if (line == "quit")
        return false;
    char* end = nullptr;
    if (line == "unplug") {
        unplug();
    } else if (line == "hang") {
        hang();
    } else if (board.stepped && line.rfind("run ", 0) == 0) {
        const double ms = std::strtod(line.c_str() + 4, &end);
        if (*end != '\0' || !(ms >= 0))
            fail("bad command '%s'", line.c_str());
        runTo(static_cast<avr_cycle_count_t>(ms * (clockHz / 1000)));
    } else if (board.stepped && line.rfind("byte ", 0) == 0) {
        const unsigned long value = std::strtoul(line.c_str() + 5, &end, 16);
        if (*end != '\0' || value > 0xFF)
            fail("bad command '%s'", line.c_str());
        if (board.master >= 0)
            board.toBoard.push_back({simCycles(), static_cast<uint8_t>(value)});
    } else {
        fail("unknown command '%s'", line.c_str());
    }
    return true;
}

void loadBoard(const char* elf)
{
    avr_global_logger_set(logToStderr);
    if (elf_read_firmware(elf, &board.firmware) != 0)
        fail("cannot read %s", elf);
    std::strcpy(board.firmware.mmcu, "atmega328p");
    board.firmware.frequency = clockHz;
    board.avr = avr_make_mcu_by_name(board.firmware.mmcu);
    if (!board.avr)
        fail("simavr has no atmega328p");
    avr_init(board.avr);
    avr_load_firmware(board.avr, &board.firmware);
    board.avr->sleep = noSleep;
    // simavr copies what the board sends to its console as well unless told not to.
    uint32_t flags = 0;
    avr_ioctl(board.avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);

    board.coreReset = board.avr->reset;
    board.avr->reset = onReset;
    board.uartIn = avr_io_getirq(board.avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
    avr_irq_register_notify(avr_io_getirq(board.avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT),
                            onTx, nullptr);
    avr_irq_register_notify(avr_io_getirq(board.avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XON),
                            onXon, nullptr);
    avr_irq_register_notify(avr_io_getirq(board.avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XOFF),
                            onXoff, nullptr);
}

// Reads what stdin has and runs its whole lines; false at the end.
bool readCommands(std::string& input)
{
    char buffer[256];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    input.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = input.find('\n')) != std::string::npos;) {
        const std::string line = input.substr(0, end);
        input.erase(0, end + 1);
        if (!command(line))
            return false;
    }
    return true;
}

// Stepped: the board waits for its commands; only what the board sent may be left to write.
void runStepped()
{
    std::string input;
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {board.master, POLLOUT, 0}};
        const bool writing = board.master >= 0 && !board.toPc.empty();
        if (poll(fds, writing ? 2 : 1, -1) < 0 && errno != EINTR)
            fail("poll: %s", std::strerror(errno));
        if (writing && (fds[1].revents & POLLOUT))
            writeToPc();
        if ((fds[0].revents & (POLLIN | POLLHUP)) && !readCommands(input))
            return;
    }
}

// Paced: the board keeps to the wall clock and takes its commands as they come.
void runWithWallClock()
{
    startReader();
    std::string input;
    for (;;) {
        takeArrived();
        runPaced();
        feedUart();
        writeToPc();

        // Wait until the wall clock is a slice ahead, or only look when it is further ahead.
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {board.master, POLLOUT, 0}};
        const bool writing = board.master >= 0 && !board.toPc.empty();
        const avr_cycle_count_t sim = simCycles();
        const avr_cycle_count_t wall = wallCycles();
        const avr_cycle_count_t lead = sim + slice > wall ? sim + slice - wall : 0;
        const timespec wait = {0, static_cast<long>(lead * 1000 / (clockHz / 1000000))};
        if (ppoll(fds, writing ? 2 : 1, &wait, nullptr) < 0 && errno != EINTR)
            fail("poll: %s", std::strerror(errno));
        if ((fds[0].revents & (POLLIN | POLLHUP)) && !readCommands(input))
            break;
    }
    stopReader();
    std::printf("lag %.3f %llu %llu\n", static_cast<double>(board.maxLag) * 1000.0 / clockHz,
                static_cast<unsigned long long>(board.lateLooks),
                static_cast<unsigned long long>(board.looks));
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)
// simavr keeps a few bytes at each restart of the board that it never gives back: its own leak.
extern "C" const char* __lsan_default_suppressions() // NOLINT(bugprone-reserved-identifier)
{
    return "leak:libsimavr.so\n";
}
#endif

int main(int argc, char** argv)
{
    // Never outlive the test that started it. Should the test be gone before this, its end of
    // stdin is closed: that ends the board too.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    board.stepped = argc == 3 && std::strcmp(argv[1], "--stepped") == 0;
    if (argc != (board.stepped ? 3 : 2))
        fail("usage: SimBoard [--stepped] <sketch.elf>");
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_DFL); // a reader gone is the end

    loadBoard(argv[argc - 1]);
    openPty();
    clock_gettime(CLOCK_MONOTONIC, &board.start);
    watchPins();
    if (board.stepped)
        runStepped();
    else
        runWithWallClock();
    avr_terminate(board.avr);
    return 0;
}
