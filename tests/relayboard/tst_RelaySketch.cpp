// The relay board's sketch (docs/PrVardoRelays.ino) on a simulated ATmega328P: the test is the
// PC on the board's serial port, and reads the board's relay pins, bytes and restarts from the
// simulator (SimBoard.cpp). The board runs in a clock of the test's own: the test says at which
// instant of it each byte reaches the UART and how far the board runs, and checks the sketch's
// timing in that clock alone, so that a machine that holds the test up changes nothing.

#include "tests/relayboard/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace simboard;

TEST(RelaySketch, StartsWithTheRelaysOffAndAsksForTheWord)
{
    SteppedBoard board;
    ASSERT_TRUE(board.ready());
    const std::vector<Event> lines = board.runTo(100);
    // Power-on: the pins are inputs, no relay on; setup() drives all six, still off, then asks.
    const std::vector<Event> relays = ofKind(board.history(), "relays");
    ASSERT_EQ(relays.size(), 1u) << "a relay moved at the start";
    EXPECT_EQ(relays[0].value, 0);
    EXPECT_EQ(relays[0].ms, 0.0);
    const auto driven = std::find_if(lines.begin(), lines.end(), [](const Event& e) {
        return e.kind == "driven" && e.value == 0x3F;
    });
    const auto asked =
        std::find_if(lines.begin(), lines.end(), [](const Event& e) { return e.kind == "tx"; });
    ASSERT_NE(driven, lines.end()) << "setup() left relay pins undriven";
    ASSERT_NE(asked, lines.end());
    EXPECT_LT(driven - lines.begin(), asked - lines.begin());
    EXPECT_EQ(asked->value, '?');
    EXPECT_LT(asked->ms, 50.0);
    // The PC reads the question on its port.
    EXPECT_EQ(board.readPort(1, 30s), "?");
}

TEST(RelaySketch, EachByteReachesThePins)
{
    // Bit n of the byte is relay n; bits 6 and 7 are not relays. Each word differs from the one
    // before, so that each shows as a change.
    struct Case
    {
        uint8_t sent;
        int relays;
    };
    const Case cases[] = {
        {0x01, 0x01}, {0x2A, 0x2A}, {0x3F, 0x3F}, {0x00, 0x00},
        {0xD5, 0x15}, {0xFF, 0x3F}, {0x40, 0x00}, {0x80 | 0x20, 0x20},
    };
    SteppedBoard board;
    ASSERT_NO_FATAL_FAILURE(board.start());
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << int(c.sent));
        board.show(c.sent, c.relays);
    }
    // The last word stays.
    EXPECT_TRUE(ofKind(board.runFor(200), "relays").empty());
}

TEST(RelaySketch, NoByteOfABurstIsLost)
{
    // Up and down a Gray code: each word differs from the one before in one relay. Twice the
    // UART's buffer and more, at once.
    std::vector<int> words;
    for (int i = 1; i < 64; ++i)
        words.push_back(i ^ (i >> 1));
    for (int i = 62; i > 0; --i)
        words.push_back(i ^ (i >> 1));
    SteppedBoard board;
    ASSERT_NO_FATAL_FAILURE(board.start());
    for (const int word : words)
        board.send(static_cast<uint8_t>(word));
    // The bytes come 1 ms apart on the wire.
    const std::vector<Event> lines = board.runFor(static_cast<double>(words.size()) * 1.1 + 50);
    EXPECT_EQ(ofKind(lines, "rx").size(), words.size());
    // The sketch sets the pins for one in a few microseconds. A word lost would show as two relays
    // moving at once: in two lines microseconds apart.
    std::vector<int> shown;
    const std::vector<Event> moves = ofKind(lines, "relays");
    for (size_t i = 0; i < moves.size(); ++i)
        if (i + 1 == moves.size() || moves[i + 1].ms - moves[i].ms > 0.5)
            shown.push_back(moves[i].value);
    EXPECT_EQ(shown, words);
}

TEST(RelaySketch, BytesEverySecondKeepTheRelaysOn)
{
    SteppedBoard board;
    ASSERT_NO_FATAL_FAILURE(board.start());
    board.show(0x2A, 0x2A);
    // Four seconds of heartbeats, past the sketch's three seconds of silence, then one more.
    std::vector<Event> lines;
    for (int beat = 1; beat <= 4; ++beat) {
        const std::vector<Event> second = board.runFor(1000);
        lines.insert(lines.end(), second.begin(), second.end());
        board.send(0x2A);
    }
    const std::vector<Event> last = board.runFor(1000);
    lines.insert(lines.end(), last.begin(), last.end());
    EXPECT_EQ(ofKind(lines, "rx").size(), 4u);
    for (const Event& e : ofKind(lines, "relays"))
        ADD_FAILURE() << "relays " << e.value << " at " << e.ms << " ms";
}

// The ways the PC goes away while relays are on: all off three seconds after its last byte.
TEST(RelaySketch, AllOffThreeSecondsAfterTheLastByte)
{
    struct Case
    {
        const char* name;
        const char* command; // to the board after the last byte; none: PrVardo just stops sending
        bool pluggedIn;      // the PC can send again afterwards
    };
    const Case cases[] = {
        {"the PC stops sending", nullptr, true},
        {"the cable is pulled", "unplug", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SteppedBoard board;
        ASSERT_NO_FATAL_FAILURE(board.start());
        board.show(0x3F, 0x3F);
        board.runFor(1000);
        board.send(0x3F);
        std::vector<Event> lines = board.runFor(500);
        const std::vector<Event> rx = ofKind(lines, "rx");
        ASSERT_EQ(rx.size(), 1u);
        const Event last = rx[0];
        if (c.command)
            board.command(c.command);
        const std::vector<Event> after = board.runFor(silenceMs + 1000);
        lines.insert(lines.end(), after.begin(), after.end());
        if (c.command) {
            ASSERT_FALSE(ofKind(lines, c.command).empty());
        }
        // The sketch switches its six pins one after the other, all within a few microseconds,
        // each only ever off, and nothing comes on again.
        const std::vector<Event> moves = ofKind(lines, "relays");
        ASSERT_FALSE(moves.empty()) << "the relays stayed on";
        EXPECT_EQ(moves.back().value, 0) << "the relays stayed on";
        for (size_t i = 1; i < moves.size(); ++i)
            EXPECT_EQ(moves[i].value & ~moves[i - 1].value, 0)
                << "a relay came on at " << moves[i].ms;
        EXPECT_LT(moves.back().ms - moves.front().ms, 0.1) << "relays went off before the others";
        EXPECT_NEAR(moves.front().ms - last.ms, silenceMs, 5.0);
        if (c.pluggedIn) {
            board.show(0x07, 0x07);
        } else {
            // The PC sees its port go, as when a USB cable is pulled.
            pollfd fd = {board.port(), POLLIN, 0};
            ASSERT_EQ(poll(&fd, 1, 0), 1);
            EXPECT_TRUE(fd.revents & (POLLHUP | POLLERR));
        }
    }
}

TEST(RelaySketch, AHungSketchIsRestartedWithTheRelaysOff)
{
    SteppedBoard board;
    ASSERT_NO_FATAL_FAILURE(board.start());
    board.show(0x3F, 0x3F);
    ASSERT_TRUE(ofKind(board.history(), "reset").empty());
    board.command("hang");
    const double hung = board.now();
    // PrVardo goes on with its heartbeats; the watchdog restarts the board within its time, and
    // the restart leaves the relay pins undriven: all off.
    std::vector<Event> lines;
    for (int beat = 0; beat < 4; ++beat) {
        board.send(0x3F);
        const std::vector<Event> second = board.runFor(1000);
        lines.insert(lines.end(), second.begin(), second.end());
    }
    ASSERT_FALSE(ofKind(lines, "hang").empty());
    const std::vector<Event> resets = ofKind(lines, "reset");
    ASSERT_GE(resets.size(), 3u) << "the board is not restarted while it hangs";
    EXPECT_LE(resets[0].ms - hung, watchdogMs + 5);
    for (size_t i = 1; i < resets.size(); ++i)
        EXPECT_NEAR(resets[i].ms - resets[i - 1].ms, watchdogMs, 5.0);
    const std::vector<Event> relays = ofKind(lines, "relays");
    ASSERT_FALSE(relays.empty());
    EXPECT_EQ(relays[0].value, 0);
    EXPECT_NEAR(relays[0].ms, resets[0].ms, 0.01) << "the relays go off at the restart";
    for (const Event& e : relays)
        EXPECT_EQ(e.value, 0) << "a relay came on at " << e.ms << " ms";
    // Each restart asks for the word again (a restart in the last moments may not have yet), and
    // nothing else.
    const std::vector<Event> asked = ofKind(lines, "tx");
    EXPECT_LE(asked.size(), resets.size());
    EXPECT_GE(asked.size() + 1, resets.size());
    for (const Event& e : asked)
        EXPECT_EQ(e.value, '?');
}

} // namespace
