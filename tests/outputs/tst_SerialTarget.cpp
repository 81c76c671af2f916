// The serial target against a board stood in for by a pseudo-terminal pair: the target opens a
// device name that links to the pair's terminal side, the test reads what reached the board on
// the other side. Unplugging closes the pair and removes the name; plugging in again makes a new
// pair under the same name, as a USB serial device comes and goes.

#include "core/TickTimer.h"
#include "outputs/Outputs.h"
#include "outputs/Targets.h"
#include "tests/support/CoreSupport.h"
#include "tests/support/LockHolder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A relay board on the far side of a pseudo-terminal, its device name a link to the terminal.
class TBoard
{
public:
    explicit TBoard(QString name) : FName(std::move(name))
    {
        EXPECT_EQ(::openpty(&FBoard, &FTerminal, nullptr, nullptr, nullptr), 0);
        ::fcntl(FBoard, F_SETFL, O_NONBLOCK);
        QFile::link(QString::fromLocal8Bit(::ttyname(FTerminal)), FName);
    }
    ~TBoard() { Unplug(); }
    TBoard(const TBoard&) = delete;
    TBoard& operator=(const TBoard&) = delete;

    void Unplug()
    {
        if (FBoard < 0)
            return;
        ::close(std::exchange(FBoard, -1));
        ::close(std::exchange(FTerminal, -1));
        QFile::remove(FName);
    }

    // What the board has received since it was last asked.
    QByteArray Take()
    {
        QByteArray received;
        char buffer[64];
        for (ssize_t n; (n = ::read(FBoard, buffer, sizeof buffer)) > 0;)
            received.append(buffer, n);
        return received;
    }
    // What it received by the time `count` bytes are in (or the wait ends).
    QByteArray Received(qsizetype count)
    {
        QByteArray received;
        WaitFor([&] { return (received += Take()).size() >= count; });
        return received;
    }

    void Send(char byte) { ASSERT_EQ(::write(FBoard, &byte, 1), 1); }
    termios Settings() const
    {
        termios settings{};
        ::tcgetattr(FTerminal, &settings);
        return settings;
    }

private:
    QString FName;
    int FBoard = -1;
    int FTerminal = -1;
};

class SerialTarget : public ::testing::Test
{
protected:
    std::unique_ptr<TOutputTarget> Make(std::int32_t baud = 9600)
    {
        return MakeTarget("serial:" + Device, TSerialAddress{Device, baud});
    }

    QTemporaryDir Dir;
    QString Device = Dir.filePath("ttyRelays");
};

} // namespace

TEST_F(SerialTarget, EveryWriteSendsTheWordAsOneRawByteAtTheBaudAsked)
{
    // 10 and 13 are what a terminal left in cooked mode would turn into other bytes.
    const QByteArray words("\x00\x05\x0a\x0d\x3f\x05\x00", 7);
    for (const std::int32_t baud : {9600, 115200}) {
        TBoard board(Device);
        const auto target = Make(baud);
        ASSERT_TRUE(target->Open()) << baud << ": " << target->Error().toStdString();
        const termios settings = board.Settings();
        EXPECT_EQ(::cfgetospeed(&settings), baud == 9600 ? B9600 : B115200) << baud;
        EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8)) << baud;
        for (const char word : words)
            EXPECT_TRUE(target->Write(static_cast<std::uint8_t>(word), -1)) << baud;
        // Each Write has handed its byte over: any extra byte would be in by now too.
        EXPECT_EQ(board.Received(words.size()).toHex(), words.toHex()) << baud;
        target->Close();
    }
}

TEST_F(SerialTarget, AnUnpluggedBoardIsLostAndOpensAgainWhenItIsBack)
{
    // The loss shows in the next write, or in the service between writes.
    for (const bool byWrite : {true, false}) {
        const char* row = byWrite ? "noticed by Write" : "noticed by Service";
        auto board = std::make_unique<TBoard>(Device);
        const auto target = Make();
        ASSERT_TRUE(target->Open()) << row;
        ASSERT_TRUE(target->Write(1, -1)) << row;
        EXPECT_EQ(board->Received(1), QByteArray(1, 1)) << row;

        board->Unplug();
        EXPECT_TRUE(byWrite ? !target->Write(3, 1) : WaitFor([&] { return !target->Service(); }))
            << row;
        EXPECT_TRUE(target->Error().contains("placa está conectada")) << row;
        target->Close();
        EXPECT_FALSE(target->Open()) << row;
        EXPECT_EQ(target->Error(), "el dispositivo no existe; compruebe que la placa está "
                                   "conectada")
            << row;

        board = std::make_unique<TBoard>(Device);
        ASSERT_TRUE(target->Open()) << row << ": " << target->Error().toStdString();
        EXPECT_TRUE(target->Write(7, -1)) << row;
        EXPECT_EQ(board->Received(1), QByteArray(1, 7)) << row;
    }
}

TEST_F(SerialTarget, ABoardThatStartsAgainAsksForTheWord)
{
    TBoard board(Device);
    const auto target = Make();
    ASSERT_TRUE(target->Open());
    ASSERT_TRUE(target->Write(42, -1));
    ASSERT_EQ(board.Received(1), QByteArray(1, 42));
    board.Send('?');
    QByteArray received;
    EXPECT_TRUE(
        WaitFor([&] { return target->Service() && !(received += board.Take()).isEmpty(); }));
    EXPECT_EQ(received, QByteArray(1, 42));
}

TEST_F(SerialTarget, ADeviceThatAnotherTargetHoldsIsBusy)
{
    TBoard board(Device);
    const auto first = Make();
    const auto second = Make();
    ASSERT_TRUE(first->Open());
    EXPECT_FALSE(second->Open());
    EXPECT_TRUE(second->Error().startsWith("el dispositivo está ocupado por otro programa"))
        << second->Error().toStdString();
}

// A target that another program of ours drives (the timer as a service, here a process that
// holds its lock) is no fault: said as held, not as trouble; nothing reaches the board until that
// program ends, and then the target is taken over.
TEST_F(SerialTarget, ATargetAnotherProgramDrivesIsHeldNotTrouble)
{
    TBoard board(Device);
    std::vector<std::unique_ptr<TOutputTarget>> targets;
    targets.push_back(Make());
    const QString key = targets.front()->LockKey();
    ASSERT_FALSE(key.isEmpty());
    TLockHolder holder(key);
    TOutputs outputs(std::move(targets));
    QSignalSpy held(&outputs, &TOutputs::Held);
    QSignalSpy trouble(&outputs, &TOutputs::Trouble);
    outputs.Start();
    EXPECT_TRUE(WaitFor([&] { return held.size() == 1; }));
    EXPECT_TRUE(held.value(0).value(0).toString().contains(QString::number(holder.Pid())));
    EXPECT_EQ(trouble.size(), 0);
    EXPECT_TRUE(board.Take().isEmpty()) << "switched while another program drives it";
    holder.Kill();
    EXPECT_EQ(board.Received(1), QByteArray(1, 0)) << "taken over: all off first";
    outputs.Stop();
}

// The board's sketch switches off after three seconds without a byte: while the port is open the
// word goes again at the first look after 0.9 s without a byte. Looks in a clock of the test's own.
TEST_F(SerialTarget, TheWordGoesAgainAtTheFirstLookAfterNineTenthsOfASecondOfQuiet)
{
    qint64 now = 0;
    const TScopedMonotonicClock clock([&] { return now; });
    TBoard board(Device);
    const auto target = Make();
    ASSERT_TRUE(target->Open()) << target->Error().toStdString();
    const struct
    {
        qint64 At;
        int Written; // a word written, or -1: a look (Service)
        const char* Sent;
    } steps[] = {
        {0, -1, ""},        // no word yet: nothing to repeat
        {0, 0x15, "15"},    // a change
        {500, -1, ""},      // quiet for less than 0.9 s
        {899, -1, ""},      //
        {900, -1, "15"},    // 0.9 s since the change
        {1500, -1, ""},     // since that beat
        {1800, -1, "15"},   //
        {2000, 0x2A, "2a"}, // a change starts the quiet again
        {2800, -1, ""},     //
        {2900, -1, "2a"},   //
        {6000, -1, "2a"},   // a late look sends once
        {6001, -1, ""},     //
        {7000, 0x3F, "3f"}, // the last: every byte before it is in once it is
    };
    QByteArray expected;
    for (const auto& step : steps) {
        now = step.At;
        EXPECT_TRUE(step.Written >= 0 ? target->Write(static_cast<std::uint8_t>(step.Written), -1)
                                      : target->Service())
            << step.At;
        expected += QByteArray::fromHex(step.Sent);
    }
    EXPECT_EQ(board.Received(expected.size()).toHex(), expected.toHex());
    target->Close();
}

// The beats keep coming from a program that services its targets only every 2 s, each the word
// and never more often than the quiet allows.
TEST_F(SerialTarget, WhileOpenTheWordGoesAgainInAProgramThatLooksSeldom)
{
    TBoard board(Device);
    std::vector<std::unique_ptr<TOutputTarget>> targets;
    targets.push_back(Make());
    TOutputs outputs(std::move(targets), nullptr, std::chrono::seconds(2));
    outputs.Write(0x15);
    const auto started = std::chrono::steady_clock::now();
    outputs.Start();
    QByteArray received;
    ASSERT_TRUE(WaitFor([&] { return (received += board.Take()).size() >= 4; }, 30000));
    EXPECT_EQ(received.toHex(), QByteArray(received.size(), 0x15).toHex());
    // Three beats after the first byte: at least three quiets of the program's, which came after
    // the start. A test that looks late only finds them later.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2700));
    outputs.Stop();
}
