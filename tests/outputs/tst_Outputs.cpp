// The worker that drives the targets, with targets that record what they are asked to do: all off
// first, only changes, one report per loss, the current word after a return, all off at the end,
// and never a wait on the caller's thread.

#include "outputs/Outputs.h"
#include "tests/support/CoreSupport.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

// What a recording target was asked to do; it outlives the target, which the outputs delete.
class CallLog
{
public:
    Strings Calls()
    {
        const std::lock_guard lock(FLock);
        return FCalls;
    }
    void Note(std::string call)
    {
        const std::lock_guard lock(FLock);
        FCalls.push_back(std::move(call));
    }

    // Holds every Write until Release (a device that takes its time), for a minute at most.
    void Hold()
    {
        const std::lock_guard lock(FLock);
        FHeld = true;
    }
    void Release()
    {
        {
            const std::lock_guard lock(FLock);
            FHeld = false;
        }
        FReleased.notify_all();
    }
    void WaitWhileHeld()
    {
        std::unique_lock lock(FLock);
        Waiting = true;
        FReleased.wait_for(lock, 60s, [this] { return !FHeld; });
        Waiting = false;
    }

    std::atomic<int> OpensToFail{0};
    std::atomic<bool> LoseAtNextWrite{false};
    std::atomic<bool> Waiting{false}; // a Write is held now
    std::atomic<bool> LoseAtService{false};
    std::atomic<bool> Delivers{true}; // what was written reached the device

private:
    std::mutex FLock;
    std::condition_variable FReleased;
    bool FHeld = false;
    Strings FCalls;
};

class Recording : public TOutputTarget
{
public:
    Recording(const char* name, CallLog& log) : TOutputTarget(QString::fromLatin1(name)), FLog(log)
    {
    }

    bool Open() override
    {
        if (FLog.OpensToFail > 0) {
            --FLog.OpensToFail;
            FLog.Note("Open failed");
            return Fail(QStringLiteral("no contesta; compruebe el cable"));
        }
        FLog.Note("Open");
        return true;
    }
    bool Write(std::uint8_t word, int previous) override
    {
        FLog.WaitWhileHeld();
        if (FLog.LoseAtNextWrite.exchange(false)) {
            FLog.Note("Write lost");
            return Fail(QStringLiteral("se ha desconectado"));
        }
        FLog.Note("Write " + std::to_string(word) + " from " + std::to_string(previous));
        return true;
    }
    bool Service() override
    {
        return !FLog.LoseAtService || Fail(QStringLiteral("el servidor cortó la conexión"));
    }
    bool Delivered() const override { return FLog.Delivers; }
    void Flush(std::chrono::steady_clock::time_point) override { FLog.Note("Flush"); }
    void Close() override { FLog.Note("Close"); }

private:
    CallLog& FLog;
};

struct Started
{
    explicit Started(std::size_t count) : Targets(count)
    {
        std::vector<std::unique_ptr<TOutputTarget>> targets;
        for (std::size_t i = 0; i < count; ++i)
            targets.push_back(std::make_unique<Recording>(i == 0 ? "uno" : "dos", Targets[i]));
        Outputs = std::make_unique<TOutputs>(std::move(targets));
    }
    std::deque<CallLog> Targets;
    std::unique_ptr<TOutputs> Outputs;
};

bool EndsWith(const Strings& calls, const Strings& tail)
{
    return calls.size() >= tail.size() && std::equal(tail.rbegin(), tail.rend(), calls.rbegin());
}

} // namespace

// A word written before the start is the first thing a target gets (the timer started again with
// an output on): not all off first, which on a plug would be a blip of its power.
TEST(Outputs, TheFirstWordStraightAwayThenOnlyChangesThenAllOffAtTheEnd)
{
    Started s(2);
    s.Outputs->Write(5);
    s.Outputs->Start();
    // Each word once the one before has reached both targets (words written faster than a
    // target takes them may give way to the newest one).
    const struct
    {
        std::uint8_t Word;
        const char* Seen;
    } steps[] = {{5, "Write 5 from -1"},
                 {5, "Write 5 from -1"},
                 {7, "Write 7 from 5"},
                 {7, "Write 7 from 5"},
                 {0xFF, "Write 63 from 7"}};
    for (const auto& step : steps) {
        s.Outputs->Write(step.Word);
        for (CallLog& target : s.Targets)
            ASSERT_TRUE(WaitFor([&] {
                return EndsWith(target.Calls(), Strings{std::string(step.Seen)});
            })) << ::testing::PrintToString(target.Calls());
    }
    s.Outputs->Stop();
    for (CallLog& target : s.Targets)
        EXPECT_EQ(target.Calls(), (Strings{"Open", "Write 5 from -1", "Write 7 from 5",
                                           "Write 63 from 7", "Write 0 from 63", "Flush", "Close"}))
            << "bits 6 and 7 never reach a target; a repeated word sends nothing";
}

TEST(Outputs, ATargetThatFailsOrIsLostIsReportedOnceAndGetsTheCurrentWordWhenBack)
{
    Started s(2);
    CallLog& flaky = s.Targets[0];
    flaky.OpensToFail = 2;
    QSignalSpy trouble(s.Outputs.get(), &TOutputs::Trouble);
    s.Outputs->Start();
    s.Outputs->Write(3);
    ASSERT_TRUE(WaitFor(
        [&] {
            return EndsWith(flaky.Calls(), {"Open", "Write 3 from -1"});
        },
        5000))
        << ::testing::PrintToString(flaky.Calls());
    ASSERT_EQ(trouble.size(), 1) << "one report for the failing opens";
    EXPECT_EQ(trouble[0][0].toString(),
              QStringLiteral("Salida uno: no contesta; compruebe el cable"));
    // The other goes on (it may have opened before the word came, or after).
    EXPECT_TRUE(EndsWith(s.Targets[1].Calls(), {"Write 3 from 0"}) ||
                EndsWith(s.Targets[1].Calls(), {"Open", "Write 3 from -1"}))
        << ::testing::PrintToString(s.Targets[1].Calls());

    flaky.LoseAtNextWrite = true;
    s.Outputs->Write(2);
    ASSERT_TRUE(WaitFor([&] {
        return EndsWith(flaky.Calls(), {"Open", "Write 2 from -1"});
    })) << ::testing::PrintToString(flaky.Calls());
    ASSERT_EQ(trouble.size(), 2);
    EXPECT_EQ(trouble[1][0].toString(), QStringLiteral("Salida uno: se ha desconectado"));
}

TEST(Outputs, WriteNeverWaitsForATargetAndStopKeepsItsBound)
{
    Started s(1);
    s.Outputs->Start();
    ASSERT_TRUE(WaitFor([&] { return s.Targets[0].Calls().size() >= 2; }));
    CallLog& target = s.Targets[0];
    target.Hold(); // a device that takes its time
    s.Outputs->Write(1);
    ASSERT_TRUE(WaitFor([&] { return target.Waiting.load(); }));
    for (int i = 2; i <= 100; ++i)
        s.Outputs->Write(static_cast<std::uint8_t>(i % 64));
    EXPECT_TRUE(target.Waiting) << "a Write waited for the target";
    // The end does not wait for the target either: it gives up on it after its bound, the target
    // still held, and says that it may stay on.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.Outputs->Stop(1s));
    EXPECT_TRUE(target.Waiting) << "Stop waited for the target";
    EXPECT_LT(std::chrono::steady_clock::now() - before, 30s);
    // Let go, the target's thread finishes its end by itself.
    target.Release();
    EXPECT_TRUE(WaitFor([&] { return EndsWith(target.Calls(), {"Close"}); }))
        << ::testing::PrintToString(target.Calls());
}

// A target that opens and is lost again at once, before anything it was sent arrived (a broker
// that drops the connection at each publish), is one loss: reported once, the pause growing.
TEST(Outputs, ALossEndsOnlyWhenAWriteHasGoneThrough)
{
    Started s(1);
    CallLog& flaky = s.Targets[0];
    flaky.Delivers = false;
    flaky.LoseAtService = true;
    QSignalSpy trouble(s.Outputs.get(), &TOutputs::Trouble);
    s.Outputs->Start();
    const auto opens = [&] {
        const Strings calls = flaky.Calls();
        return std::count(calls.begin(), calls.end(), "Open");
    };
    ASSERT_TRUE(WaitFor([&] { return opens() >= 3; }));
    EXPECT_EQ(trouble.size(), 1) << "one loss, however often it opens";

    flaky.Delivers = true; // its next write goes through: the loss after it is a new one
    EXPECT_TRUE(WaitFor([&] { return trouble.size() >= 2; }, 10000));
}
