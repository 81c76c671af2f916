// The LCUS target against a relay module stood in for on the far side of a pseudo-terminal: the
// module takes four-byte frames (A0, channel, state, sum) and answers the byte FF with its relays
// as text, as the CH340 modules do; it keeps every frame it took, and counts those it would
// refuse (a wrong start, channel, state or sum).

#include "outputs/Outputs.h"
#include "outputs/Targets.h"
#include "tests/support/CoreSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

#include <atomic>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

namespace {

class TLcusModule
{
public:
    // `relays`: what it shows at first (bit n: channel n + 1); `answers`: whether it answers FF;
    // `lies`: it answers that every relay is off, whatever it shows.
    TLcusModule(int channels, int relays, bool answers, bool lies = false)
        : FChannels(channels), FRelays(relays), FAnswers(answers), FLies(lies)
    {
        char name[256] = {};
        EXPECT_EQ(::openpty(&FModule, &FTerminal, name, nullptr, nullptr), 0);
        Device = QString::fromLocal8Bit(name);
        FThread = std::thread([this] { Run(); });
    }
    ~TLcusModule()
    {
        FStop = true;
        FThread.join();
        ::close(FModule);
        ::close(FTerminal);
    }
    TLcusModule(const TLcusModule&) = delete;
    TLcusModule& operator=(const TLcusModule&) = delete;

    // The frames taken since the last call, as "channel:state" words.
    QStringList Take()
    {
        const std::lock_guard lock(FLock);
        return std::exchange(FFrames, {});
    }
    int Relays()
    {
        const std::lock_guard lock(FLock);
        return FRelays;
    }
    int Refused() const { return FRefused; }

    QString Device;

private:
    void Run()
    {
        QByteArray pending;
        while (!FStop) {
            pollfd ready{FModule, POLLIN, 0};
            if (::poll(&ready, 1, 20) <= 0)
                continue;
            char bytes[64];
            const ssize_t n = ::read(FModule, bytes, sizeof bytes);
            if (n <= 0)
                continue;
            pending.append(bytes, n);
            while (!pending.isEmpty()) {
                const auto first = static_cast<unsigned char>(pending[0]);
                if (first == 0xFF) {
                    pending.remove(0, 1);
                    if (FAnswers)
                        Answer();
                    continue;
                }
                if (pending.size() < 4)
                    break;
                Take(pending.left(4));
                pending.remove(0, 4);
            }
        }
    }
    void Take(const QByteArray& frame)
    {
        const auto byte = [&](int i) { return static_cast<unsigned char>(frame[i]); };
        const int channel = byte(1);
        if (byte(0) != 0xA0 || channel < 1 || channel > FChannels || byte(2) > 1 ||
            byte(3) != ((byte(0) + byte(1) + byte(2)) & 0xFF)) {
            ++FRefused;
            return;
        }
        const std::lock_guard lock(FLock);
        FFrames << QStringLiteral("%1:%2").arg(channel).arg(byte(2));
        if (byte(2) != 0)
            FRelays |= 1 << (channel - 1);
        else
            FRelays &= ~(1 << (channel - 1));
    }
    void Answer()
    {
        QByteArray text;
        for (int channel = 1; channel <= FChannels; ++channel)
            text += QStringLiteral("CH%1:%2\r\n")
                        .arg(channel)
                        .arg(!FLies && ((Relays() >> (channel - 1)) & 1) ? "ON" : "OFF")
                        .toLatin1();
        EXPECT_EQ(::write(FModule, text.constData(), std::size_t(text.size())), text.size());
    }

    const int FChannels;
    std::mutex FLock;
    int FRelays;
    QStringList FFrames;
    const bool FAnswers;
    const bool FLies;
    std::atomic<int> FRefused{0};
    std::atomic<bool> FStop{false};
    int FModule = -1;
    int FTerminal = -1;
    std::thread FThread;
};

} // namespace

// Each change sends one frame per relay that changes, never one with a wrong sum; the first word
// after an open sends what differs from what the module said it shows, or every relay when it
// said nothing; outputs beyond the module's relays send nothing.
TEST(LcusTarget, EachWordSendsAFramePerRelayThatChanges)
{
    const struct
    {
        const char* What;
        int Channels;
        int Shows;    // what the module shows when the target opens
        bool Answers; // whether it says so
        struct
        {
            int Previous;
            int Word;
            const char* Frames;
        } Steps[3];
    } rows[] = {
        {"4 relays that say they show CH1 and CH4",
         4,
         0b1001,
         true,
         {{-1, 0x01, "4:0"}, {0x01, 0x03, "2:1"}, {0x03, 0x3C, "1:0 2:0 3:1 4:1"}}},
        {"4 relays that say nothing",
         4,
         0b0110,
         false,
         {{-1, 0x01, "1:1 2:0 3:0 4:0"}, {0x01, 0x01, ""}, {0x01, 0x30, "1:0"}}},
        {"1 relay that shows it on",
         1,
         0b1,
         true,
         {{-1, 0x00, "1:0"}, {0x00, 0x3E, ""}, {0x3E, 0x3F, "1:1"}}},
        {"8 relays, all off",
         8,
         0,
         true,
         {{-1, 0x3F, "1:1 2:1 3:1 4:1 5:1 6:1"},
          {0x3F, 0x2A, "1:0 3:0 5:0"},
          {0x2A, 0, "2:0 4:0 6:0"}}},
    };
    for (const auto& row : rows) {
        TLcusModule module(row.Channels, row.Shows, row.Answers);
        // A module that answers is believed however late a busy machine lets it answer; one
        // that says nothing is waited for as the target waits for it.
        const std::optional<TScopedAnswerWait> patient =
            row.Answers ? std::make_optional<TScopedAnswerWait>(std::chrono::seconds(30))
                        : std::nullopt;
        const auto target = MakeTarget(QStringLiteral("lcus:") + module.Device,
                                       TLcusAddress{module.Device, row.Channels});
        ASSERT_TRUE(target->Open()) << row.What << ": " << target->Error().toStdString();
        for (const auto& step : row.Steps) {
            const QString expected = QString::fromLatin1(step.Frames);
            ASSERT_TRUE(target->Write(std::uint8_t(step.Word), step.Previous)) << row.What;
            QStringList frames;
            const qsizetype count = expected.isEmpty() ? 0 : expected.count(u' ') + 1;
            EXPECT_TRUE(WaitFor([&] { return (frames += module.Take()).size() >= count; }))
                << row.What;
            EXPECT_EQ(frames.join(u' '), expected) << row.What << ", word " << step.Word;
        }
        EXPECT_EQ(module.Refused(), 0) << row.What << ": a frame it would refuse";
        target->Close();
    }
}

// At an end every relay is told off, whatever the module says it shows: one that answers "all
// off" with relays on, one that says nothing, and one that tells the truth.
TEST(LcusTarget, AnEndSwitchesEveryRelayOffWhateverTheModuleSays)
{
    const struct
    {
        const char* What;
        bool Answers;
        bool Lies;
    } rows[] = {{"a module that lies", true, true},
                {"a module that says nothing", false, false},
                {"a module that tells the truth", true, false}};
    for (const auto& row : rows) {
        TLcusModule module(4, 0b0101, row.Answers, row.Lies);
        std::vector<std::unique_ptr<TOutputTarget>> targets;
        targets.push_back(
            MakeTarget(QStringLiteral("lcus:") + module.Device, TLcusAddress{module.Device, 4}));
        TOutputs outputs(std::move(targets));
        outputs.Start();
        ASSERT_TRUE(WaitFor([&] { return outputs.Health().front().Shown == 0; })) << row.What;
        EXPECT_TRUE(outputs.Stop()) << row.What;
        EXPECT_TRUE(WaitFor([&] { return module.Relays() == 0; }))
            << row.What << ": relays " << module.Relays() << " left on";
    }
}
