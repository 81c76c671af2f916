// prvardo-timer driving the relay board's sketch on the simulated ATmega328P, through its serial
// target on the board's pseudo-terminal: the word reaches the relay pins, and every way the timer
// or its cable can go leaves the relays off: the timer killed (its guard's all off), the timer
// and its guard both stopped (the sketch's three seconds), the cable pulled (the same), the sketch
// itself hung (its watchdog).

#include "tests/relayboard/SimulatedBoard.h"
#include "tests/support/CoreSupport.h"
#include "tests/support/UserProgram.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace simboard;

namespace {

// The relays as the board showed them at an instant of its clock.
int RelaysAt(const std::vector<Event>& history, double ms)
{
    int relays = -1;
    for (const Event& e : history)
        if (e.kind == "relays" && e.ms <= ms)
            relays = e.value;
    return relays;
}

} // namespace

TEST(RelayBoardProgram, TheRelaysGoOffHoweverTheTimerOrItsCableGoes)
{
    enum class TWay
    {
        Killed,
        Frozen, // the timer and its guard stopped: nothing of the PC sends any more
        Unplugged,
        SketchHung
    };
    const struct
    {
        const char* What;
        TWay Way;
        double FromMs; // off within this long of the last byte the board took (its clock) ...
        double ToMs;   // ... and not before this
    } rows[] = {
        {"the timer killed: its guard's all off", TWay::Killed, 0, 5}, // from the guard's byte
        {"the timer and its guard stopped: the sketch's 3 s", TWay::Frozen, silenceMs - 100,
         silenceMs + 100},
        {"the cable pulled: the sketch's 3 s", TWay::Unplugged, silenceMs - 100, silenceMs + 100},
        {"the sketch hung: its watchdog", TWay::SketchHung, 0, watchdogMs + 100},
    };
    for (const auto& row : rows) {
        Board board(false);
        ASSERT_FALSE(board.path().empty()) << row.What;
        // The device under a name of the test's own, gone with the cable: a pseudo-terminal's
        // number may be another test's by then.
        QTemporaryDir folder;
        const QString device = folder.filePath(QStringLiteral("ttyRelays"));
        ASSERT_TRUE(QFile::link(QString::fromStdString(board.path()), device));
        TUserProgram timer("[outputs]\nwatchdog = 0\n");
        SaveAllDay(timer.File(QStringLiteral("aula.tem")), 0x04);
        timer.Process.start(QStringLiteral(PRVARDO_TIMER),
                            {timer.File(QStringLiteral("aula.tem")), QStringLiteral("--output"),
                             QStringLiteral("serial:") + device});
        ASSERT_TRUE(board.waitFor([](const Event& e) { return isRelays(e, 0x04); }, 30s))
            << row.What << ": the word never reached the pins\n"
            << timer.Log().data();
        // Two of the timer's heartbeats reach the board: the word goes again every second.
        ASSERT_TRUE(board.waitFor("rx", 30s));
        ASSERT_TRUE(board.waitFor("rx", 30s));

        const pid_t program = static_cast<pid_t>(timer.Process.processId());
        const pid_t guard = GuardOf(timer.Process);
        ASSERT_GT(guard, 0) << row.What;
        switch (row.Way) {
        case TWay::Killed:
            ::kill(program, SIGKILL);
            break;
        case TWay::Frozen:
            ::kill(guard, SIGSTOP);
            ::kill(program, SIGSTOP);
            break;
        case TWay::Unplugged:
            QFile::remove(device);
            board.command("unplug");
            break;
        case TWay::SketchHung:
            board.command("hang");
            break;
        }
        if (row.Way == TWay::Killed) {
            // The guard's all off reaches the board, and the relays are off within the byte's
            // time on the wire and a turn of the sketch. (Were they off already, the timer had
            // been silent for the sketch's 3 s before its death: a busy machine's doing.)
            const std::optional<Event> zero =
                board.waitFor([](const Event& e) { return e.kind == "rx" && e.value == 0; }, 30s);
            ASSERT_TRUE(zero) << row.What << ": the guard's all off never came\n"
                              << timer.Log().data();
            for (const Event& e : board.linesFor(1s))
                EXPECT_FALSE(e.kind == "relays" && e.value != 0) << row.What << ": " << e.text;
            EXPECT_EQ(RelaysAt(board.history(), zero->ms + row.ToMs), 0) << row.What;
            continue;
        }
        const std::optional<Event> off =
            board.waitFor([](const Event& e) { return isRelays(e, 0); }, 30s);
        ASSERT_TRUE(off) << row.What << "\n" << timer.Log().data();
        // The last byte the board took before its relays went off: a heartbeat's word.
        double last = -1;
        int byte = -1;
        for (const Event& e : board.history())
            if (e.kind == "rx" && e.ms <= off->ms) {
                last = e.ms;
                byte = e.value;
            }
        EXPECT_EQ(byte, 0x04) << row.What;
        // A hang: from the moment it was made to hang, which the board says.
        if (row.Way == TWay::SketchHung)
            for (const Event& e : board.history())
                if (e.kind == "hang")
                    last = e.ms;
        EXPECT_GE(off->ms - last, row.FromMs) << row.What;
        EXPECT_LE(off->ms - last, row.ToMs) << row.What;
        // Nothing comes on again while the test looks (a second of the board's clock).
        for (const Event& e : board.linesFor(1s))
            EXPECT_FALSE(e.kind == "relays" && e.value != 0) << row.What << ": " << e.text;
        if (row.Way == TWay::Frozen) {
            ::kill(guard, SIGCONT);
            ::kill(program, SIGCONT);
        }
    }
}
