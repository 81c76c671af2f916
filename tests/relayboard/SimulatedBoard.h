#pragma once
// The relay board's sketch (docs/PrVardoRelays.ino) on a simulated ATmega328P (SimBoard.cpp), as a
// child process: its serial port is a pseudo-terminal that the PC end opens (the test itself, or
// PrVardo), and its relay pins, bytes and restarts come as lines. Times of the board are in its
// simulated clock: paced to the wall clock (Board), or moved by the test alone (SteppedBoard).
// Needs PRVARDO_SIMBOARD and PRVARDO_RELAY_SKETCH.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace simboard {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline constexpr double silenceMs = 3000; // the sketch's time without a byte before all goes off
inline constexpr double watchdogMs =
    1024; // WDTO_1S: 128 K cycles of the 128 kHz watchdog oscillator

// One line of the board.
struct Event
{
    std::string kind;
    std::string text;  // the rest of the line
    int value = -1;    // the word or byte, on the lines that have one
    double ms = -1;    // the board's clock
    double wallMs = 0; // the wall clock since the board was started, when the test read the line
};

inline Event parse(const std::string& line, double wallMs)
{
    Event event;
    event.wallMs = wallMs;
    std::istringstream in(line);
    in >> event.kind;
    std::getline(in >> std::ws, event.text);
    std::istringstream rest(event.text);
    if (event.kind == "relays" || event.kind == "driven" || event.kind == "rx" ||
        event.kind == "tx")
        rest >> std::hex >> event.value >> std::dec >> event.ms;
    else if (event.kind != "pty")
        rest >> event.ms;
    return event;
}

inline bool isRelays(const Event& e, int word)
{
    return e.kind == "relays" && e.value == word;
}

inline std::vector<Event> ofKind(const std::vector<Event>& lines, const std::string& kind)
{
    std::vector<Event> found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                 [&](const Event& e) { return e.kind == kind; });
    return found;
}

// The simulated board as a child process: its lines and its commands.
class BoardProcess
{
public:
    explicit BoardProcess(bool stepped)
    {
        // A board that ended early makes a write to it fail, not end the test.
        std::signal(SIGPIPE, SIG_IGN);
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "no pipes";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        char program[] = PRVARDO_SIMBOARD;
        char steppedOption[] = "--stepped";
        char sketch[] = PRVARDO_RELAY_SKETCH;
        char* paced[] = {program, sketch, nullptr};
        char* steppedArgs[] = {program, steppedOption, sketch, nullptr};
        started_ = Clock::now();
        const int spawned =
            posix_spawn(&pid_, program, &actions, nullptr, stepped ? steppedArgs : paced, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        commands_ = in[1];
        lines_ = out[0];
        if (spawned != 0) {
            pid_ = -1;
            ADD_FAILURE() << "cannot start " << program;
            return;
        }
        const std::optional<Event> pty = next(Clock::now() + 30s);
        if (!pty || pty->kind != "pty") {
            ADD_FAILURE() << "the board gave no pseudo-terminal";
            return;
        }
        path_ = pty->text;
    }

    ~BoardProcess()
    {
        finish();
        if (pid_ > 0) {
            int status = 0;
            if (!ended_)
                kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            EXPECT_TRUE(ended_) << "the board did not end at quit";
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "board status " << status;
        }
        close(commands_);
        close(lines_);
    }

    BoardProcess(const BoardProcess&) = delete;
    BoardProcess& operator=(const BoardProcess&) = delete;

    bool ready() const { return port_ >= 0; }
    // The pseudo-terminal the PC end opens.
    const std::string& path() const { return path_; }
    int port() const { return port_; }

    void command(const std::string& line)
    {
        const std::string text = line + "\n";
        ASSERT_EQ(write(commands_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // The board's next line, from those read already and not yet taken, or read by the deadline.
    std::optional<Event> next(Clock::time_point deadline)
    {
        while (taken_ == events_.size()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd fd = {lines_, POLLIN, 0};
            if (ended_ || left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                return std::nullopt;
            char chunk[512];
            const ssize_t n = read(lines_, chunk, sizeof chunk);
            if (n <= 0) {
                ended_ = true;
                return std::nullopt;
            }
            buffer_.append(chunk, static_cast<size_t>(n));
            const double wallMs =
                std::chrono::duration<double, std::milli>(Clock::now() - started_).count();
            for (size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
                events_.push_back(parse(buffer_.substr(0, end), wallMs));
                buffer_.erase(0, end + 1);
            }
        }
        return events_[taken_++];
    }

    // The first of the board's next lines that matches, by the deadline.
    std::optional<Event> waitFor(const std::function<bool(const Event&)>& match,
                                 Clock::duration timeout)
    {
        const Clock::time_point deadline = Clock::now() + timeout;
        while (std::optional<Event> event = next(deadline))
            if (match(*event))
                return event;
        return std::nullopt;
    }

    std::optional<Event> waitFor(const std::string& kind, Clock::duration timeout)
    {
        return waitFor([&](const Event& e) { return e.kind == kind; }, timeout);
    }

    // The bytes the PC reads from the board by the deadline, up to count of them.
    std::string readPort(size_t count, Clock::duration timeout)
    {
        const Clock::time_point deadline = Clock::now() + timeout;
        std::string bytes;
        while (bytes.size() < count) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd fd = {port_, POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(std::max<int64_t>(left.count(), 0))) <= 0)
                break;
            char byte;
            if (read(port_, &byte, 1) != 1)
                break;
            bytes.push_back(byte);
        }
        return bytes;
    }

    // Ends the board: quit, then its lines up to its end.
    void finish()
    {
        if (port_ >= 0)
            close(port_);
        port_ = -1;
        if (pid_ <= 0 || ended_)
            return;
        const std::string quit = "quit\n";
        if (write(commands_, quit.data(), quit.size()) != static_cast<ssize_t>(quit.size()))
            return;
        const Clock::time_point deadline = Clock::now() + 30s;
        while (next(deadline)) {
        }
    }

    // Every line up to now, taken or not.
    const std::vector<Event>& history() const { return events_; }
    // How many lines were taken, and those taken since then.
    size_t taken() const { return taken_; }
    std::vector<Event> takenSince(size_t mark) const
    {
        return {events_.begin() + static_cast<std::ptrdiff_t>(mark),
                events_.begin() + static_cast<std::ptrdiff_t>(taken_)};
    }

protected:
    // The test is the PC end of the cable, opened as PrVardo opens the board: 9600 baud, 8 data
    // bits, no parity, one stop bit, raw.
    void openPort()
    {
        port_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (port_ < 0 || tcgetattr(port_, &tio) != 0) {
            ADD_FAILURE() << "cannot open " << path_;
            return;
        }
        cfmakeraw(&tio);
        cfsetspeed(&tio, B9600);
        tio.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        EXPECT_EQ(tcsetattr(port_, TCSANOW, &tio), 0);
    }

private:
    Clock::time_point started_;
    std::string path_;
    pid_t pid_ = -1;
    int commands_ = -1;
    int lines_ = -1;
    int port_ = -1;
    bool ended_ = false;
    std::string buffer_;
    std::vector<Event> events_;
    size_t taken_ = 0;
};

// The board paced to the wall clock, for a real program on the PC end (or the test as one). Its
// clock falls behind the wall clock when the machine is busy, and catches up; each byte from the
// PC still reaches its UART at the instant the byte came.
class Board : public BoardProcess
{
public:
    // `openPort`: the test is the PC end of the cable; otherwise a program opens path().
    explicit Board(bool openPort = true) : BoardProcess(false)
    {
        if (openPort && !path().empty())
            BoardProcess::openPort();
    }

    ~Board()
    {
        // The board's last line says how far it fell behind the wall clock: told when it was
        // far, since the instants of the program on the other end were then its own only.
        finish();
        for (const Event& e : history())
            if (e.kind == "lag" && e.ms > 500)
                std::cerr << "The simulated board fell " << e.ms
                          << " ms behind the wall clock (the machine was busy); each byte still "
                             "reached it at the instant it came.\n";
        // Paced to the wall clock: the board's clock is never ahead of it.
        for (const Event& e : history()) {
            if (e.kind != "lag") {
                EXPECT_LE(e.ms, e.wallMs + 0.5) << e.kind << " " << e.text;
            }
        }
    }

    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    void send(uint8_t byte) { ASSERT_EQ(write(port(), &byte, 1), 1); }

    // Every line of the board for a while of the wall clock.
    std::vector<Event> linesFor(Clock::duration time)
    {
        const Clock::time_point deadline = Clock::now() + time;
        std::vector<Event> lines;
        while (const std::optional<Event> event = next(deadline))
            lines.push_back(*event);
        return lines;
    }

    // The board as started: its '?' read by the PC, its relays off.
    void waitStarted()
    {
        ASSERT_TRUE(ready());
        ASSERT_EQ(readPort(1, 30s), "?");
        ASSERT_TRUE(waitFor("tx", 30s));
    }

    // Sends a word and waits for the relays to show it.
    void show(uint8_t byte, int relays)
    {
        send(byte);
        const std::optional<Event> rx = waitFor("rx", 30s);
        EXPECT_TRUE(rx) << "byte " << int(byte) << " did not reach the board";
        EXPECT_EQ(rx ? rx->value : -1, byte);
        const std::optional<Event> shown =
            waitFor([&](const Event& e) { return isRelays(e, relays); }, 30s);
        EXPECT_TRUE(shown) << "relays never showed " << relays;
    }
};

// The board in a clock of the test's own: it runs only when the test says until when, and the
// test's bytes reach its UART at the instant its clock stands at. Every expectation is in that
// clock; the wall clock only bounds how long the test waits for the board to get there.
class SteppedBoard : public BoardProcess
{
public:
    SteppedBoard() : BoardProcess(true)
    {
        if (!path().empty())
            openPort();
    }

    // Where the board's clock stands, in milliseconds since power-on.
    double now() const { return now_; }

    // Runs the board until its clock reads `ms`; the lines it printed on the way.
    std::vector<Event> runTo(double ms)
    {
        const size_t mark = taken();
        command("run " + std::to_string(ms));
        const std::optional<Event> at = waitFor("at", 120s);
        EXPECT_TRUE(at) << "the board never got to " << ms << " ms";
        if (at)
            now_ = at->ms;
        std::vector<Event> lines = takenSince(mark);
        if (!lines.empty() && lines.back().kind == "at")
            lines.pop_back();
        return lines;
    }

    std::vector<Event> runFor(double ms) { return runTo(now_ + ms); }

    // A byte from the PC starts into the UART now.
    void send(uint8_t byte)
    {
        char text[16];
        std::snprintf(text, sizeof text, "byte %02x", byte);
        command(text);
    }

    // Power-on, setup() and its '?' to the PC.
    void start()
    {
        ASSERT_TRUE(ready());
        ASSERT_FALSE(ofKind(runTo(100), "tx").empty()) << "the board never asked for the word";
    }

    // Sends a word now and runs until the relays show it, within the byte's own 1 ms on the wire
    // and the sketch's next turn of loop().
    void show(uint8_t byte, int relays)
    {
        send(byte);
        const std::vector<Event> lines = runFor(10);
        const std::vector<Event> rx = ofKind(lines, "rx");
        ASSERT_EQ(rx.size(), 1u) << "byte " << int(byte) << " did not reach the board";
        EXPECT_EQ(rx[0].value, byte);
        const auto shown = std::find_if(lines.begin(), lines.end(),
                                        [&](const Event& e) { return isRelays(e, relays); });
        ASSERT_NE(shown, lines.end()) << "relays never showed " << relays;
        EXPECT_LT(shown->ms - rx[0].ms, 5.0);
    }

private:
    double now_ = 0;
};

} // namespace simboard
