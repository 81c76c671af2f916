// One target that hangs beside a relay board on a pseudo-terminal: the board gets every change as
// if it were alone, and all off at the end within the bound, whatever the other one does. The
// hanging ones are real: a listener whose queue is full (a connect that is never answered), a
// stopped broker (SIGSTOP) before and after the connection, and a device that never takes a word.

#include "outputs/Outputs.h"
#include "outputs/Targets.h"
#include "tests/support/CoreSupport.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/NeverAccepts.h"
#include "tests/support/PtyBoard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A device that takes its first word and then never returns from a write, until released.
class TStuckDevice : public TOutputTarget
{
public:
    struct TGate
    {
        std::mutex Lock;
        std::condition_variable Changed;
        bool Released = false;
        std::atomic<bool> Closed{false};
        int Writes = 0;
        void Release()
        {
            const std::lock_guard lock(Lock);
            Released = true;
            Changed.notify_all();
        }
    };
    explicit TStuckDevice(TGate& gate) : TOutputTarget(QStringLiteral("atascada")), FGate(gate) {}
    bool Open() override { return true; }
    bool Write(std::uint8_t, int) override
    {
        std::unique_lock lock(FGate.Lock);
        if (FGate.Writes++ > 0)
            FGate.Changed.wait(lock, [this] { return FGate.Released; });
        return true;
    }
    void Close() override { FGate.Closed = true; }

private:
    TGate& FGate;
};

std::unique_ptr<TOutputTarget> Mqtt(const std::string& host, int port)
{
    TTargetSpec spec;
    QString error;
    EXPECT_TRUE(ParseTarget(
        QString("mqtt://%1:%2/tira").arg(QString::fromStdString(host)).arg(port), spec, error))
        << error.toStdString();
    return MakeTarget(spec);
}

std::unique_ptr<TOutputTarget> Mqtt(const std::string& address)
{
    const auto colon = address.rfind(':');
    return Mqtt(address.substr(0, colon), std::stoi(address.substr(colon + 1)));
}

} // namespace

TEST(OutputsHanging, AHangingTargetHoldsUpNoOtherAndQuitReachesTheRest)
{
    // A connection is waited for for a minute: a board that waited on the other target would get
    // no word within the test's wait, and an end that waited for it would not come within it.
    const TScopedAnswerWait hanging(std::chrono::seconds(60));
    TNeverAccepts listener;
    ASSERT_NE(listener.Port, 0) << "the listener's queue never filled";
    TPrivateBroker stoppedFirst;
    stoppedFirst.Signal(SIGSTOP);
    TPrivateBroker stoppedLater;
    TSubscriber watching(stoppedLater.Address);
    TStuckDevice::TGate gate;
    const struct
    {
        const char* What;
        std::function<std::unique_ptr<TOutputTarget>()> Make;
        std::function<void()> Hang; // once both targets are started (the board is all off)
        std::function<void()> After = [] {};
    } rows[] = {
        {"hangs in open: a listener that never accepts",
         [&] { return Mqtt("127.0.0.1", listener.Port); }, [] {}},
        {"hangs in open: a stopped broker", [&] { return Mqtt(stoppedFirst.Address); }, [] {}},
        {"hangs in write: a broker stopped after the connection",
         [&] { return Mqtt(stoppedLater.Address); },
         [&] {
             ASSERT_EQ(watching.Take(6).size(), 6) << "the target's all off at start";
             stoppedLater.Signal(SIGSTOP);
         }},
        {"hangs in write: a device that never takes the word",
         [&] { return std::make_unique<TStuckDevice>(gate); }, [] {},
         [&] { // its thread may end now, and does
             gate.Release();
             EXPECT_TRUE(WaitFor([&] { return gate.Closed.load(); }));
         }},
    };
    for (const auto& row : rows) {
        TPtyBoard board;
        std::vector<std::unique_ptr<TOutputTarget>> targets;
        TTargetSpec serial;
        QString error;
        ASSERT_TRUE(ParseTarget(board.Target(), serial, error));
        targets.push_back(MakeTarget(serial));
        targets.push_back(row.Make());
        TOutputs outputs(std::move(targets));
        outputs.Start();
        ASSERT_TRUE(WaitFor([&] { return board.Shows(0); })) << row.What << ": all off first";
        row.Hang();

        for (const std::uint8_t word : {0x15, 0x2a}) {
            outputs.Write(word);
            EXPECT_TRUE(WaitFor([&] { return board.Shows(word); }, 20000))
                << row.What << ": the board waited";
        }

        // Stop gives the targets 1 s, and a thread still in a call its last tenth; an end that
        // waited for the hanging one would take its minute (the time itself is bench_outputs').
        const auto quit = Clock::now();
        // The hanging one never confirmed all off: it may still show an output on.
        EXPECT_FALSE(outputs.Stop(1s)) << row.What;
        EXPECT_LT(Clock::now() - quit, 20s) << row.What;
        EXPECT_TRUE(board.Shows(0)) << row.What << ": the board all off at the end";
        row.After();
    }
    stoppedFirst.Signal(SIGCONT);
    stoppedLater.Signal(SIGCONT);
}
