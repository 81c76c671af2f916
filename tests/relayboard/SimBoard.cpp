// The Arduino relay board of docs/PrVardoRelays.ino on a simulated ATmega328P at 16 MHz
// (simavr), for the tests. The board's serial port is a pseudo-terminal of this program's own,
// and the board runs paced to the wall clock, so that the sketch's millis() keeps real time.
//
// Usage: SimBoard <sketch.elf>
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
// Commands on stdin, one per line:
//   unplug   the cable is pulled: no more bytes either way, the pseudo-terminal is closed
//   hang     the sketch hangs for good: its loop() becomes a jump to itself
//   quit     the end (so is the end of stdin, and the end of the parent process)
// At the end, stderr tells how far the simulated clock fell behind the wall clock.

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
#include <string>

namespace {

constexpr uint32_t clockHz = 16000000;
// The longest stretch the board runs between two looks at the pseudo-terminal and stdin: 0.25 ms.
// When it has caught up with the wall clock, it waits until the wall clock is a slice ahead.
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

struct Board
{
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
    std::deque<uint8_t> toBoard; // read from the PC, not taken by the UART yet
    std::string toPc;            // sent by the board, not written to the PC yet

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

// Hands the UART what the PC sent, as long as it takes more.
void feedUart()
{
    while (!board.xoff && !board.toBoard.empty()) {
        const uint8_t byte = board.toBoard.front();
        board.toBoard.pop_front();
        std::printf("rx %02x %.3f\n", byte, simMs());
        avr_raise_irq(board.uartIn, byte);
    }
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
    if (board.master >= 0) {
        close(board.master);
        close(board.slave);
    }
    board.master = board.slave = -1;
    board.toBoard.clear();
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

// Runs one command line; false for the end.
bool command(const std::string& line)
{
    if (line == "quit")
        return false;
    if (line == "unplug")
        unplug();
    else if (line == "hang")
        hang();
    else
        fail("unknown command '%s'", line.c_str());
    return true;
}

void writeToPc()
{
    if (board.master < 0 || board.toPc.empty())
        return;
    const ssize_t n = write(board.master, board.toPc.data(), board.toPc.size());
    if (n > 0)
        board.toPc.erase(0, static_cast<size_t>(n));
}

void readFromPc()
{
    uint8_t buffer[64];
    const ssize_t n = read(board.master, buffer, sizeof buffer);
    if (n > 0)
        board.toBoard.insert(board.toBoard.end(), buffer, buffer + n);
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

// Runs the board until the wall clock, or one slice of it when far behind.
void runBoard()
{
    const avr_cycle_count_t wall = wallCycles();
    const avr_cycle_count_t now = simCycles();
    ++board.looks;
    if (wall > now) {
        board.maxLag = std::max(board.maxLag, wall - now);
        if (wall - now > clockHz / 1000)
            ++board.lateLooks;
    }
    const avr_cycle_count_t until = std::min(wall, now + slice);
    while (simCycles() < until) {
        const int state = avr_run(board.avr);
        if (state == cpu_Done || state == cpu_Crashed)
            fail("the core stopped (state %d) at %.3f ms", state, simMs());
        watchPins();
    }
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
    if (argc != 2)
        fail("usage: SimBoard <sketch.elf>");
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_DFL); // a reader gone is the end

    loadBoard(argv[1]);
    openPty();
    clock_gettime(CLOCK_MONOTONIC, &board.start);
    watchPins();

    std::string input;
    for (bool running = true; running;) {
        runBoard();
        feedUart();
        writeToPc();

        // Wait until the wall clock is a slice ahead, or only look when it is further ahead.
        // The PC's bytes wait in the terminal until the UART has taken those before them.
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {board.master, 0, 0}};
        if (board.toBoard.empty())
            fds[1].events |= POLLIN;
        if (!board.toPc.empty())
            fds[1].events |= POLLOUT;
        const avr_cycle_count_t sim = simCycles();
        const avr_cycle_count_t wall = wallCycles();
        const avr_cycle_count_t lead = sim + slice > wall ? sim + slice - wall : 0;
        const timespec wait = {0, static_cast<long>(lead * 1000 / (clockHz / 1000000))};
        if (ppoll(fds, board.master >= 0 ? 2 : 1, &wait, nullptr) < 0 && errno != EINTR)
            fail("poll: %s", std::strerror(errno));

        if (fds[0].revents & (POLLIN | POLLHUP)) {
            char buffer[256];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0)
                break;
            input.append(buffer, static_cast<size_t>(n));
            for (size_t end; running && (end = input.find('\n')) != std::string::npos;) {
                running = command(input.substr(0, end));
                input.erase(0, end + 1);
            }
        }
        if (board.master >= 0 && (fds[1].revents & POLLIN))
            readFromPc();
    }

    std::fprintf(stderr,
                 "SimBoard: simulated clock at most %.3f ms behind the wall clock; more than 1 ms "
                 "behind at %llu of %llu looks\n",
                 static_cast<double>(board.maxLag) * 1000.0 / clockHz,
                 static_cast<unsigned long long>(board.lateLooks),
                 static_cast<unsigned long long>(board.looks));
    avr_terminate(board.avr);
    return 0;
}
