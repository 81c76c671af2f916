// The Modbus target against a relay board served by pymodbus (tests/support/modbus-board), a
// real Modbus implementation: over TCP on a local port and over RTU on a pseudo-terminal. The
// board prints its coils at each write; it is stopped (SIGSTOP) to stand for one that never
// answers, killed and started again, asked for a unit it does not have, and its line damaged.

#include "outputs/Outputs.h"
#include "outputs/Targets.h"
#include "tests/support/CoreSupport.h"
#include "tests/support/PtyBoard.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <unistd.h>

namespace {

// The board, on TCP or on RTU at a baud, and the target that drives its unit.
class TModbusBoard
{
public:
    TModbusBoard(bool tcp, int baud = 9600) : FTcp(tcp), FBaud(baud), FPort(tcp ? FreePort() : 0)
    {
        Start();
    }
    ~TModbusBoard()
    {
        FServer.kill();
        FServer.waitForFinished();
    }
    TModbusBoard(const TModbusBoard&) = delete;
    TModbusBoard& operator=(const TModbusBoard&) = delete;

    void Start()
    {
        FServer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FServer.start(QStringLiteral(PRVARDO_SOURCE_DIR "/tests/support/modbus-board"),
                      FTcp ? QStringList{"tcp", QString::number(FPort)}
                           : QStringList{"rtu", Device(), QString::number(FBaud)});
        FOut.clear();
        EXPECT_TRUE(WaitFor(
            [&] { return (FOut += FServer.readAllStandardOutput()).contains("ready"); }, 15000))
            << "the Modbus board did not come up";
    }
    void Kill()
    {
        FServer.kill();
        FServer.waitForFinished();
    }
    void Signal(int signal) const { ::kill(pid_t(FServer.processId()), signal); }
    void Say(const char* line) { FServer.write(QByteArray(line) + '\n'); }

    // The coils as the board printed them last, once they are `word`.
    bool Shows(int word)
    {
        return WaitFor([&] {
            FOut += FServer.readAllStandardOutput();
            const qsizetype at = FOut.lastIndexOf("coils ");
            return at >= 0 && FOut.mid(at + 6, 2).toInt(nullptr, 16) == word;
        });
    }

    TModbusAddress Address(int unit = 1) const
    {
        TModbusAddress address;
        address.Tcp = FTcp;
        address.Device = Device();
        address.Baud = FBaud;
        address.Host = QStringLiteral("127.0.0.1");
        address.Port = std::uint16_t(FPort);
        address.Unit = unit;
        return address;
    }
    std::unique_ptr<TOutputTarget> Target(int unit = 1) const
    {
        return MakeTarget(FTcp ? QStringLiteral("modbus-tcp") : QStringLiteral("modbus"),
                          Address(unit));
    }

private:
    QString Device() const { return FDir.filePath(QStringLiteral("ttyModbus")); }

    const bool FTcp;
    const int FBaud;
    const int FPort;
    QTemporaryDir FDir;
    QProcess FServer;
    QByteArray FOut;
};

} // namespace

TEST(ModbusTarget, EachWordReachesTheCoils)
{
    const struct
    {
        const char* What;
        bool Tcp;
        int Baud;
    } rows[] = {{"TCP", true, 0}, {"RTU at 9600", false, 9600}, {"RTU at 115200", false, 115200}};
    // The board is waited for however late a busy machine lets it answer.
    const TScopedAnswerWait patient(std::chrono::seconds(30));
    for (const auto& row : rows) {
        TModbusBoard board(row.Tcp, row.Baud);
        const auto target = board.Target();
        ASSERT_TRUE(target->Open()) << row.What << ": " << target->Error().toStdString();
        int previous = -1;
        for (const int word : {0x01, 0x2A, 0x3F, 0x00, 0x15}) {
            EXPECT_TRUE(target->Write(std::uint8_t(word), previous))
                << row.What << ": " << target->Error().toStdString();
            EXPECT_TRUE(board.Shows(word)) << row.What << ", word " << word;
            previous = word;
        }
        target->Close();
    }
}

// Each way a request fails has its own cause; a board started again is driven again.
TEST(ModbusTarget, ARefusalATimeOutADamagedLineAndALossEachSayWhy)
{
    enum class TTrouble
    {
        NoSuchUnit,
        Stopped,
        Damaged,
        Killed
    };
    const struct
    {
        const char* What;
        bool Tcp;
        TTrouble Trouble;
        const char* Cause;
    } rows[] = {
        {"TCP, a unit it does not have", true, TTrouble::NoSuchUnit, "rechaza la orden"},
        {"RTU, a unit it does not have", false, TTrouble::NoSuchUnit, "rechaza la orden"},
        {"TCP, stopped", true, TTrouble::Stopped, "no responde"},
        {"RTU, stopped", false, TTrouble::Stopped, "no responde"},
        {"RTU, a damaged line", false, TTrouble::Damaged, "dañadas (CRC)"},
        {"TCP, killed", true, TTrouble::Killed, "se perdió la conexión"},
    };
    for (const auto& row : rows) {
        // A board that answers is waited for however late a busy machine lets it answer; a
        // stopped one as the target waits for a board.
        const std::optional<TScopedAnswerWait> patient =
            row.Trouble != TTrouble::Stopped
                ? std::make_optional<TScopedAnswerWait>(std::chrono::seconds(30))
                : std::nullopt;
        TModbusBoard board(row.Tcp);
        const auto target = board.Target(row.Trouble == TTrouble::NoSuchUnit ? 2 : 1);
        ASSERT_TRUE(target->Open()) << row.What << ": " << target->Error().toStdString();
        if (row.Trouble != TTrouble::NoSuchUnit) {
            ASSERT_TRUE(target->Write(0x01, -1)) << row.What;
            ASSERT_TRUE(board.Shows(0x01)) << row.What;
        }
        if (row.Trouble == TTrouble::Stopped)
            board.Signal(SIGSTOP);
        if (row.Trouble == TTrouble::Damaged)
            board.Say("damage");
        if (row.Trouble == TTrouble::Killed)
            board.Kill();
        // A loss shows at the next request, or at the look the service takes within 2 s.
        EXPECT_TRUE(WaitFor([&] { return !target->Write(0x02, 0x01); })) << row.What;
        EXPECT_TRUE(target->Error().contains(QString::fromUtf8(row.Cause)))
            << row.What << ": " << target->Error().toStdString();
        target->Close();
        if (row.Trouble == TTrouble::Stopped)
            board.Signal(SIGCONT);
        if (row.Trouble == TTrouble::Killed) {
            board.Start();
            ASSERT_TRUE(target->Open()) << row.What << ": " << target->Error().toStdString();
            EXPECT_TRUE(target->Write(0x3F, -1)) << row.What;
            EXPECT_TRUE(board.Shows(0x3F)) << row.What << ": not driven again";
        }
    }
}

// A board that never answers beside a relay board on a pseudo-terminal: the board gets each word
// at once, whatever the Modbus target waits for.
TEST(ModbusTarget, ABoardThatNeverAnswersHoldsUpNoOther)
{
    // Each Modbus request waits a minute for its answer: a relay board held up by it would get
    // no word within the test's wait.
    const TScopedAnswerWait patient(std::chrono::seconds(60));
    TModbusBoard modbus(true);
    TPtyBoard relays;
    std::vector<std::unique_ptr<TOutputTarget>> targets;
    targets.push_back(modbus.Target());
    TTargetSpec serial;
    QString error;
    ASSERT_TRUE(ParseTarget(relays.Target(), serial, error));
    targets.push_back(MakeTarget(serial));
    TOutputs outputs(std::move(targets));
    outputs.Start();
    ASSERT_TRUE(modbus.Shows(0x00));
    modbus.Signal(SIGSTOP);
    for (const int word : {0x01, 0x02, 0x04, 0x08}) {
        outputs.Write(std::uint8_t(word));
        EXPECT_TRUE(WaitFor([&] { return relays.Shows(word); })) << "word " << word;
    }
    modbus.Signal(SIGCONT);
    outputs.Stop();
}
