// The echo on the simulated sound card: switching on and off, the format and the blocks handed
// from input to output, and its failures.

#include "audio/WaveRedirector.h"
#include "tests/audio/WaveFixture.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

using Strings = std::vector<std::string>;

class WaveRedirector : public WaveTest
{
protected:
    // The redirector's own events, and the input's levels, written into the card's log.
    void WireRedirector(TAudioRedirector& r, bool withOnError = true)
    {
        r.OnActivate = [this](QObject*) { Card.Log.emplace_back("OnActivate"); };
        r.OnDeactivate = [this](QObject*) { Card.Log.emplace_back("OnDeactivate"); };
        if (withOnError)
            r.OnError = [this](QObject* sender) {
                Card.Log.push_back(
                    "OnError: " +
                    static_cast<TAudioRedirector*>(sender)->LastErrorText().toStdString());
            };
        r.AudioIn()->OnLevel = [this](QObject*, std::int32_t level) {
            Card.Log.push_back("OnLevel(" + std::to_string(level) + ")");
        };
    }
    void SwitchOn(TAudioRedirector& r)
    {
        r.SetActive(true);
        Pump();
        ASSERT_TRUE(r.AudioOut()->Active());
    }
    HWAVE In() const { return Card.LastOpened(TWaveDirection::In); }
    HWAVE Out() const { return Card.LastOpened(TWaveDirection::Out); }
};

TEST_F(WaveRedirector, FullCycleOpensTheOutputFromTheMessageLoopAndClosesItInsideTheSwitchOff)
{
    TAudioRedirector r;
    WireRedirector(r);
    r.SetActive(true);
    EXPECT_TRUE(r.Active());
    EXPECT_TRUE(Card.Calls("OnActivate").empty()) << "not before the message loop ran";
    Pump();
    EXPECT_EQ(LogFrom("MM_WIM_OPEN", {"waveInPrepareHeader", "waveInAddBuffer"}),
              (Strings{"MM_WIM_OPEN", "waveInStart", "waveOutOpen/query", "waveOutOpen",
                       "MM_WOM_OPEN", "waveOutGetDevCapsA", "OnActivate"}));
    EXPECT_EQ(Card.QueuedCount(In()), 5u);
    EXPECT_EQ(std::memcmp(Card.FormatOf(In()), Card.FormatOf(Out()), sizeof(WAVEFORMATEX)), 0);
    EXPECT_EQ(r.PendingFormat(), nullptr);

    Card.RecordBuffers(In(), 2, Sample16(16384));
    Pump();
    EXPECT_EQ(Card.Calls("OnLevel"), (Strings{"OnLevel(50)", "OnLevel(50)"}));
    EXPECT_EQ(Card.QueuedCount(Out()), 2u) << "each recorded block goes to the output";
    EXPECT_EQ(r.AudioOut()->RingCount(), 2);
    EXPECT_EQ(Card.Play(Out(), 2), 2u);
    Pump();
    EXPECT_EQ(Card.Played.size(), 1600u);
    EXPECT_EQ(Card.Played[1], 0x40);
    EXPECT_EQ(r.AudioOut()->RingCount(), 0) << "played blocks are released";

    Card.Log.clear();
    r.SetActive(false);
    EXPECT_FALSE(r.Active());
    EXPECT_EQ(Card.Log.back(), "OnDeactivate") << "fired inside the switch-off";
    EXPECT_EQ(Count("waveOutClose"), 1u);
    EXPECT_EQ(Count("OnDeactivate"), 1u);
}

TEST_F(WaveRedirector, RecordedBlocksArePlayedWithoutCopying)
{
    TAudioRedirector r;
    SwitchOn(r);
    const char* recorded = r.AudioIn()->HeaderList()[0]->lpData;
    Card.RecordBuffers(In(), 1, Sample16(1000));
    Pump();
    ASSERT_EQ(r.AudioOut()->RingCount(), 1);
    EXPECT_EQ(r.AudioOut()->HeaderList()[0]->lpData, recorded);
    EXPECT_EQ(r.AudioOut()->HeaderList()[0]->dwUser, r.AudioOut()->OwnerTag());
}

TEST_F(WaveRedirector, OutputThatRefusesTheFormatSwitchesTheEchoOff)
{
    for (bool withOnError : {true, false}) {
        SCOPED_TRACE(withOnError ? "with OnError" : "without OnError");
        Card.Log.clear();
        Errors.Messages.clear();
        Card.Fail("waveOutOpen/query", WAVERR_BADFORMAT);
        TAudioRedirector r;
        WireRedirector(r, withOnError);
        r.SetActive(true);
        Pump();
        EXPECT_FALSE(r.Active());
        EXPECT_FALSE(r.AudioIn()->Active());
        EXPECT_EQ(Count("waveInClose"), 1u) << "the input opened and closed again";
        EXPECT_TRUE(Card.Calls("OnActivate").empty());
        EXPECT_TRUE(Card.Calls("OnDeactivate").empty());
        const std::string text = WaveErrorText(WAVERR_BADFORMAT).toStdString();
        if (withOnError) {
            EXPECT_EQ(Card.Calls("OnError"), Strings{"OnError: " + text});
            EXPECT_TRUE(Errors.Messages.isEmpty());
        } else {
            ASSERT_EQ(Errors.Messages.size(), 1);
            EXPECT_EQ(Errors.Messages[0].toStdString(), text);
        }
        Card.Fail("waveOutOpen/query", 0);
    }
}

TEST_F(WaveRedirector, NoCaptureDeviceLeavesItOffWithoutEvents)
{
    Card.InDevices.clear();
    TAudioRedirector r;
    WireRedirector(r, false);
    EXPECT_THROW(r.SetActive(true), EWaveAudioSysError);
    EXPECT_FALSE(r.Active());
    Pump();
    EXPECT_TRUE(Card.Calls("On").empty());
    WireRedirector(r, true);
    r.SetActive(true);
    EXPECT_FALSE(r.Active());
    EXPECT_EQ(Card.Calls("OnError").size(), 1u);
}

TEST_F(WaveRedirector, RingSettingsAreTheInputs)
{
    TAudioRedirector r;
    r.SetBufferCount(3);
    SwitchOn(r);
    EXPECT_EQ(Card.QueuedCount(In()), 3u);
    EXPECT_EQ(r.AudioOut()->BufferCount(), 0);
    EXPECT_EQ(Card.QueuedCount(Out()), 0u) << "the output holds only what it is handed";
}

TEST_F(WaveRedirector, DestroyedWhileRunningClosesBothSilently)
{
    {
        TAudioRedirector r;
        WireRedirector(r);
        SwitchOn(r);
        Card.RecordBuffers(In(), 2, Sample16(8000));
        Card.Log.clear();
    }
    EXPECT_EQ(Count("waveInClose"), 1u);
    EXPECT_EQ(Count("waveOutClose"), 1u);
    EXPECT_TRUE(Card.Calls("On").empty()) << "neither OnDeactivate nor a level";
}

TEST_F(WaveRedirector, BlockForAClosedOutputIsFreed)
{
    TAudioRedirector r;
    SwitchOn(r);
    r.AudioOut()->SetActive(false);
    Card.RecordBuffers(In(), 3, Sample16(8000));
    Pump();
    EXPECT_EQ(WaveBlocksAlive(), 5u) << "only the input's ring";
}

// The sound server stalls: nothing is played. The output keeps what its sink holds anyway (the
// 50 ms blocks its latency covers wholly or in part) and MaxEchoBacklog blocks more; later blocks
// are dropped.
TEST_F(WaveRedirector, OutputThatFallsBehindGetsNoMoreThanItsBacklogBeyondItsSinksLatency)
{
    const struct
    {
        DWORD LatencyMs;
        std::uint16_t Held;
    } rows[] = {{0, 2}, {30, 3}, {50, 4}, {250, 8}, {260, 8}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.LatencyMs);
        Card.OutLatency = row.LatencyMs;
        TAudioRedirector r;
        SwitchOn(r);
        for (int round = 0; round < 3; ++round) { // the input's ring is 5 buffers
            Card.RecordBuffers(In(), 5, Sample16(8000));
            Pump();
        }
        EXPECT_EQ(r.AudioOut()->RingCount(), row.Held);
        EXPECT_EQ(Card.Play(Out(), 20), row.Held);
        Pump();
        Card.RecordBuffers(In(), 1, Sample16(8000));
        Pump();
        EXPECT_EQ(r.AudioOut()->RingCount(), 1) << "the echo goes on once the output caught up";
    }
}

// A stall shorter than the backlog rule's blocks made the output run dry and left every later
// block later by the gap. A lead that stood above the echo's own beyond the sink's latency for a
// whole window of blocks is cut from the start of the next block; a window that saw the lead
// short once (the output ran dry) cuts nothing.
TEST_F(WaveRedirector, LeadThatStoodAboveTheEchosOwnForAWindowIsCutFromTheNextBlock)
{
    constexpr DWORD Lead = TAudioRedirector::EchoLeadMs;
    constexpr DWORD Margin = TAudioRedirector::TrimMarginMs;
    const struct
    {
        const char* Case;
        DWORD SinkMs;
        std::optional<DWORD> LeadMs; // beyond the sink; unset: the driver cannot tell
        std::optional<DWORD> ShortOnce;
        DWORD CutMs; // 50: the block is dropped
    } rows[] = {
        {"a stall's gap left standing", 0, Lead + 25, {}, 25},
        {"within the margin", 0, Lead + Margin, {}, 0},
        {"just beyond it", 0, Lead + Margin + 1, {}, Margin + 1},
        {"the sink's own latency is kept", 185, Lead + 25, {}, 25},
        {"the window ran dry once", 0, Lead + 25, 1, 0},
        {"more than a block", 0, Lead + 80, {}, 50},
        {"a driver that cannot tell", 0, {}, {}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Case);
        Card.OutLatency = row.SinkMs;
        TAudioRedirector r;
        SwitchOn(r);
        const std::size_t perMs = r.AudioOut()->WaveFormat().nAvgBytesPerSec / 1000;
        std::vector<std::size_t> lengths;
        for (std::uint32_t block = 0; block < TAudioRedirector::TrimWindow; ++block) {
            Card.OutAhead.reset();
            if (row.LeadMs)
                Card.OutAhead =
                    row.SinkMs + (block == 7 && row.ShortOnce ? *row.ShortOnce : *row.LeadMs);
            const std::size_t before = Card.Played.size();
            Card.RecordBuffers(In(), 1, Sample16(8000));
            Pump();
            Card.Play(Out(), 1);
            lengths.push_back(Card.Played.size() - before);
        }
        const std::size_t block = 50 * perMs;
        EXPECT_EQ(std::count(lengths.begin(), lengths.end() - 1, block), lengths.size() - 1);
        EXPECT_EQ(lengths.back(), block - row.CutMs * perMs);
    }
}

TEST_F(WaveRedirector, FailedPlaybackIsReportedOnceAndSwitchesTheEchoOff)
{
    TAudioRedirector r;
    WireRedirector(r, false);
    SwitchOn(r);
    Card.Fail("waveOutWrite", MMSYSERR_ERROR);
    Card.RecordBuffers(In(), 3, Sample16(8000));
    Pump();
    ASSERT_EQ(Errors.Messages.size(), 1);
    EXPECT_EQ(Errors.Messages[0], WaveErrorText(MMSYSERR_ERROR));
    EXPECT_FALSE(r.Active());
    EXPECT_EQ(Count("OnDeactivate"), 1u);
}

// The loudspeaker goes away under the echo: the first refused block opens the error box, and
// while the user reads it (a nested message loop inside the input's DataReady) more blocks come,
// fail too and switch the echo off. The block in hand belongs to the output, which freed it; the
// input's close goes on without waiting for the header in hand and completes once the box closes.
TEST_F(WaveRedirector, OutputRefusingBlocksWhileTheErrorBoxIsOpenInsideDataReady)
{
    TAudioRedirector r;
    WireRedirector(r, false);
    SwitchOn(r);
    r.AudioIn()->CloseTimeout = std::chrono::milliseconds(200);
    bool closingInsideTheBox = false;
    const TScopedExceptionReporter box([&](QObject*, const QString& message) {
        Errors.Messages.push_back(message);
        Card.RecordBuffers(In(), 2, Sample16(8000));
        // The box's loop: it runs until the echo has gone off and every other buffer is back.
        closingInsideTheBox = WaitFor([&] { return !r.Active() && r.AudioIn()->RingCount() == 1; });
    });
    Card.Fail("waveOutWrite", MMSYSERR_NODRIVER);
    Card.RecordBuffers(In(), 1, Sample16(8000));
    Pump();
    EXPECT_TRUE(closingInsideTheBox);
    ASSERT_EQ(Errors.Messages.size(), 1) << "one report, and no close timeout";
    EXPECT_EQ(Errors.Messages[0], WaveErrorText(MMSYSERR_NODRIVER));
    EXPECT_FALSE(r.AudioIn()->Active());
    EXPECT_FALSE(r.AudioOut()->Active());
    EXPECT_EQ(Count("OnDeactivate"), 1u);

    Card.Fail("waveOutWrite", 0);
    SwitchOn(r);
    Card.RecordBuffers(In(), 1, Sample16(8000));
    Pump();
    EXPECT_EQ(Card.Play(Out(), 1), 1u) << "the echo plays again";
}

TEST_F(WaveRedirector, LostServerGivesOneReportAndCanBeSwitchedOnAgain)
{
    TAudioRedirector r;
    WireRedirector(r, false);
    SwitchOn(r);
    Card.RecordBuffers(In(), 1, Sample16(8000)); // one block on its way to the output
    Card.Record(In(), Sample16(8000));           // and a half-filled buffer
    Card.LoseServer();
    Pump();
    EXPECT_EQ(Errors.Messages.size(), 1);
    EXPECT_FALSE(r.Active());
    EXPECT_FALSE(r.AudioIn()->Active());
    EXPECT_FALSE(r.AudioOut()->Active());
    Card.Log.clear();
    r.SetActive(true);
    Pump();
    EXPECT_TRUE(r.AudioOut()->Active()) << ::testing::PrintToString(Card.Log);
}

TEST_F(WaveRedirector, OutputOpenedWithoutAFormatFailsThroughTheErrorPath)
{
    TAudioRedirector r;
    WireRedirector(r);
    r.AudioOut()->SetActive(true);
    EXPECT_FALSE(r.AudioOut()->Active());
    EXPECT_EQ(Card.Calls("OnError").size(), 1u);
    EXPECT_EQ(Count("waveOutOpen"), 0u);
}

TEST_F(WaveRedirector, FormatKeptByAHandlerIsCopiedForTheOutput)
{
    TAudioRedirector r;
    WAVEFORMATEX mine{};
    PCMFormatToWaveFormat(mine, Stereo8bit22050Hz);
    r.AudioIn()->SetPCMFormat(nonePCM);
    r.AudioIn()->OnFormat = [&](QObject*, PWaveFormatEx& format, bool& freeIt) {
        format = &mine;
        freeIt = false;
    };
    SwitchOn(r);
    EXPECT_EQ(std::memcmp(Card.FormatOf(Out()), &mine, sizeof mine), 0);
}

} // namespace
