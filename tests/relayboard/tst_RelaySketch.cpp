// The relay board's sketch (docs/PrVardoRelays.ino) on a simulated ATmega328P: the test is the
// PC on the board's serial port, opened as PrVardo opens it, and reads the board's relay pins,
// bytes and restarts from the simulator (SimBoard.cpp). Times of the board are in its simulated
// clock, which keeps to the wall clock but falls behind when the machine is busy: the sketch's
// timing is checked in that clock, the test only waits in the wall clock.

#include "tests/relayboard/SimulatedBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace simboard;
using namespace std::chrono_literals;

TEST(RelaySketch, StartsWithTheRelaysOffAndAsksForTheWord)
{
    Board board;
    ASSERT_NO_FATAL_FAILURE(board.waitStarted());
    const std::vector<Event>& lines = board.history();
    // Power-on: the pins are inputs, no relay on; setup() drives all six, still off, then asks.
    ASSERT_FALSE(lines.empty());
    const std::vector<Event> relays = ofKind(lines, "relays");
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
    Board board;
    ASSERT_NO_FATAL_FAILURE(board.waitStarted());
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << int(c.sent));
        board.show(c.sent, c.relays);
    }
    // The last word stays.
    EXPECT_TRUE(ofKind(board.linesFor(200ms), "relays").empty());
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
    Board board;
    ASSERT_NO_FATAL_FAILURE(board.waitStarted());
    const size_t mark = board.taken();
    const std::string burst(words.begin(), words.end());
    ASSERT_EQ(write(board.port(), burst.data(), burst.size()), static_cast<ssize_t>(burst.size()));
    for (size_t i = 0; i < words.size(); ++i)
        ASSERT_TRUE(board.waitFor("rx", 2s)) << "byte " << i << " did not reach the board";
    board.linesFor(100ms);
    // The bytes come 1 ms apart; the sketch sets the pins for one in a few microseconds. A word
    // lost would show as two relays moving at once: in two lines microseconds apart.
    std::vector<int> shown;
    const std::vector<Event> moves = ofKind(board.takenSince(mark), "relays");
    for (size_t i = 0; i < moves.size(); ++i)
        if (i + 1 == moves.size() || moves[i + 1].ms - moves[i].ms > 0.5)
            shown.push_back(moves[i].value);
    EXPECT_EQ(shown, words);
}

TEST(RelaySketch, BytesEverySecondKeepTheRelaysOn)
{
    Board board;
    ASSERT_NO_FATAL_FAILURE(board.waitStarted());
    board.show(0x2A, 0x2A);
    const size_t shown = board.taken();
    // Four seconds of heartbeats, past the sketch's three seconds of silence.
    for (int beat = 1; beat <= 4; ++beat) {
        board.linesFor(1s);
        board.send(0x2A);
        EXPECT_TRUE(board.waitFor("rx", 1s)) << "heartbeat " << beat;
    }
    board.linesFor(1s);
    for (const Event& e : ofKind(board.takenSince(shown), "relays"))
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
        Board board;
        ASSERT_NO_FATAL_FAILURE(board.waitStarted());
        board.show(0x3F, 0x3F);
        const size_t shown = board.taken();
        board.linesFor(1s);
        board.send(0x3F);
        const std::optional<Event> last = board.waitFor("rx", 1s);
        ASSERT_TRUE(last);
        if (c.command) {
            board.linesFor(500ms);
            board.command(c.command);
            ASSERT_TRUE(board.waitFor(c.command, 1s));
        }
        const std::optional<Event> off =
            board.waitFor([](const Event& e) { return isRelays(e, 0); }, 8s);
        ASSERT_TRUE(off) << "the relays stayed on";
        // The sketch switches its six pins one after the other, all within a few microseconds,
        // each only ever off.
        const std::vector<Event> moves = ofKind(board.takenSince(shown), "relays");
        for (size_t i = 1; i < moves.size(); ++i)
            EXPECT_EQ(moves[i].value & ~moves[i - 1].value, 0)
                << "a relay came on at " << moves[i].ms;
        EXPECT_LT(off->ms - moves.front().ms, 0.1) << "relays went off before the others";
        EXPECT_NEAR(moves.front().ms - last->ms, silenceMs, 100.0);
        // The board's clock keeps up with the wall clock: a board at half speed would be seconds
        // behind by now. The slack is for a busy machine that holds the board up for a while.
        EXPECT_LT(off->wallMs - off->ms, 2000.0);
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
    Board board;
    ASSERT_NO_FATAL_FAILURE(board.waitStarted());
    board.show(0x3F, 0x3F);
    ASSERT_TRUE(ofKind(board.history(), "reset").empty());
    board.command("hang");
    const std::optional<Event> hung = board.waitFor("hang", 1s);
    ASSERT_TRUE(hung);
    // PrVardo goes on with its heartbeats; the watchdog restarts the board within its time, and
    // the restart leaves the relay pins undriven: all off.
    const size_t mark = board.taken();
    std::string asked;
    for (int beat = 0; beat < 8 && ofKind(board.takenSince(mark), "reset").size() < 3; ++beat) {
        board.send(0x3F);
        board.linesFor(1s);
        asked += board.readPort(8, 0ms);
    }
    const std::vector<Event> lines = board.takenSince(mark);
    const std::vector<Event> resets = ofKind(lines, "reset");
    ASSERT_GE(resets.size(), 3u) << "the board is not restarted while it hangs";
    EXPECT_LE(resets[0].ms - hung->ms, watchdogMs + 5);
    for (size_t i = 1; i < resets.size(); ++i)
        EXPECT_NEAR(resets[i].ms - resets[i - 1].ms, watchdogMs, 5.0);
    const std::vector<Event> relays = ofKind(lines, "relays");
    ASSERT_FALSE(relays.empty());
    EXPECT_EQ(relays[0].value, 0);
    EXPECT_NEAR(relays[0].ms, resets[0].ms, 0.01) << "the relays go off at the restart";
    for (const Event& e : relays)
        EXPECT_EQ(e.value, 0) << "a relay came on at " << e.ms << " ms";
    // Each restart asks for the word again (or is asking still when the test looks).
    EXPECT_GE(asked.size() + 1, resets.size());
    EXPECT_EQ(asked.find_first_not_of('?'), std::string::npos);
}

} // namespace
