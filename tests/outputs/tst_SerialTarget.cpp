// The serial target against a board stood in for by a pseudo-terminal pair: the target opens a
// device name that links to the pair's terminal side, the test reads what reached the board on
// the other side. Unplugging closes the pair and removes the name; plugging in again makes a new
// pair under the same name, as a USB serial device comes and goes.

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
// word goes again every second, also in a program that services its targets only every 2 s.
TEST_F(SerialTarget, WhileOpenTheWordGoesAgainEverySecond)
{
    TBoard board(Device);
    std::vector<std::unique_ptr<TOutputTarget>> targets;
    targets.push_back(Make());
    TOutputs outputs(std::move(targets), nullptr, std::chrono::seconds(2));
    outputs.Write(0x15);
    outputs.Start();
    ASSERT_EQ(board.Received(1), QByteArray(1, 0x15));
    auto last = std::chrono::steady_clock::now();
    for (int beat = 0; beat < 3; ++beat) {
        QByteArray received;
        ASSERT_TRUE(WaitFor([&] { return !(received += board.Take()).isEmpty(); }, 3000))
            << "beat " << beat;
        const auto now = std::chrono::steady_clock::now();
        EXPECT_EQ(received, QByteArray(1, 0x15)) << "beat " << beat;
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count();
        // About a second; never near the sketch's three (a busy machine may delay a look).
        EXPECT_GE(gap, 900) << "beat " << beat;
        EXPECT_LE(gap, 2000) << "beat " << beat;
        last = now;
    }
    outputs.Stop();
}
