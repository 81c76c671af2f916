// The wave functions' own checks, their texts, MulDiv, and the device notification windows.

#include "sound/DeviceWindow.h"
#include "sound/MMSystem.h"
#include "tests/support/CoreSupport.h"
#include "tests/support/SimulatedSoundCard.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(MulDiv, RoundsHalvesAwayFromZero)
{
    struct Row
    {
        int a, b, c, result;
    };
    for (const Row& r :
         {Row{50, 22050, 1000, 1103}, Row{3, 1, 2, 2}, Row{-3, 1, 2, -2}, Row{3, -1, 2, -2},
          Row{5, 1, 3, 2}, Row{4, 1, 3, 1}, Row{50, 65535, 100, 32768}, Row{1, 1, 0, -1},
          Row{0x7FFFFFFF, 4, 1, -1}, Row{0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF}})
        EXPECT_EQ(MulDiv(r.a, r.b, r.c), r.result) << r.a << "*" << r.b << "/" << r.c;
}

TEST(WaveFunctions, EveryCodeTheyReturnHasASpanishText)
{
    for (MMRESULT code :
         {MMSYSERR_ERROR, MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED, MMSYSERR_INVALHANDLE,
          MMSYSERR_NODRIVER, MMSYSERR_NOMEM, MMSYSERR_NOTSUPPORTED, MMSYSERR_INVALFLAG,
          MMSYSERR_INVALPARAM, WAVERR_BADFORMAT, WAVERR_STILLPLAYING, WAVERR_UNPREPARED,
          WAVERR_CLOSETIMEOUT}) {
        char text[256];
        ASSERT_EQ(waveOutGetErrorTextA(code, text, sizeof text), MMSYSERR_NOERROR) << code;
        EXPECT_GT(std::strlen(text), 10u) << code;
    }
    char text[256] = "x";
    EXPECT_EQ(waveInGetErrorTextA(12345, text, sizeof text), MMSYSERR_BADERRNUM);
    EXPECT_STREQ(text, "");
    char shortText[8];
    ASSERT_EQ(waveInGetErrorTextA(MMSYSERR_NOMEM, shortText, sizeof shortText), 0u);
    EXPECT_STREQ(shortText, "No hay ");
}

TEST(WaveFunctions, WithoutADriverThereAreNoDevicesAndOpensFail)
{
    ASSERT_EQ(InstalledWaveDriver(), nullptr);
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    HWAVEIN handle = 0;
    EXPECT_EQ(waveInOpen(&handle, WAVE_MAPPER, &f, 1, 0, CALLBACK_WINDOW), MMSYSERR_NODRIVER);
    WAVEINCAPSA caps{};
    EXPECT_EQ(waveInGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
}

class WaveChecks : public ::testing::Test
{
protected:
    TScopedWaveDriver Installed{std::make_unique<TSimulatedSoundCard>()};
    TSimulatedSoundCard& Card = static_cast<TSimulatedSoundCard&>(*Installed.Driver());
    std::vector<UINT> Received;
    TDeviceWindow Window{[this](TMessage& m) { Received.push_back(m.Msg); }};
};

TEST_F(WaveChecks, FormatsWhoseFiguresDisagreeAreRefusedBeforeTheDriver)
{
    struct Row
    {
        const char* name;
        WAVEFORMATEX format;
        MMRESULT result;
    };
    const Row rows[] = {
        {"good", {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0}, MMSYSERR_NOERROR},
        {"block align 0", {WAVE_FORMAT_PCM, 1, 8000, 16000, 0, 16, 0}, WAVERR_BADFORMAT},
        {"byte rate", {WAVE_FORMAT_PCM, 1, 8000, 8000, 2, 16, 0}, WAVERR_BADFORMAT},
        {"not PCM", {2, 1, 8000, 16000, 2, 16, 0}, WAVERR_BADFORMAT},
        {"24 bits", {WAVE_FORMAT_PCM, 1, 8000, 24000, 3, 24, 0}, WAVERR_BADFORMAT},
        {"three channels", {WAVE_FORMAT_PCM, 3, 8000, 48000, 6, 16, 0}, WAVERR_BADFORMAT},
        {"rate 0", {WAVE_FORMAT_PCM, 1, 0, 0, 2, 16, 0}, WAVERR_BADFORMAT},
    };
    for (const Row& row : rows) {
        Card.Log.clear();
        EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &row.format, 0, 0, WAVE_FORMAT_QUERY),
                  row.result)
            << row.name;
        EXPECT_EQ(Card.Log.empty(), row.result != MMSYSERR_NOERROR) << row.name;
    }
}

TEST_F(WaveChecks, SizesFlagsAndHeaderStatesAreChecked)
{
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    HWAVEIN handle = 0;
    EXPECT_EQ(waveInOpen(&handle, 0, &f, Window.Handle(), 0, 0x8), MMSYSERR_INVALFLAG);
    EXPECT_EQ(waveInOpen(&handle, 0, &f, 0, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&handle, 0, nullptr, Window.Handle(), 0, CALLBACK_WINDOW),
              MMSYSERR_INVALPARAM);
    ASSERT_EQ(waveInOpen(&handle, 0, &f, Window.Handle(), 0, CALLBACK_WINDOW), 0u);

    std::vector<char> data(800);
    WAVEHDR header{};
    header.lpData = data.data();
    header.dwBufferLength = 800;
    EXPECT_EQ(waveInPrepareHeader(handle, &header, 32), MMSYSERR_INVALPARAM)
        << "a 32-bit header's size is not this platform's";
    EXPECT_EQ(waveInAddBuffer(handle, &header, sizeof header), WAVERR_UNPREPARED);
    ASSERT_EQ(waveInPrepareHeader(handle, &header, sizeof header), 0u);
    ASSERT_EQ(waveInAddBuffer(handle, &header, sizeof header), 0u);
    EXPECT_EQ(waveInAddBuffer(handle, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInUnprepareHeader(handle, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(handle), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInStart(handle + 1), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(handle), MMSYSERR_INVALHANDLE) << "an input handle";
    ASSERT_EQ(waveInReset(handle), 0u);
    EXPECT_EQ(header.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    EXPECT_EQ(waveInUnprepareHeader(handle, &header, sizeof header), 0u);
    EXPECT_EQ(waveInClose(handle), 0u);
    EXPECT_EQ(waveInClose(handle), MMSYSERR_INVALHANDLE) << "a second close";
}

TEST_F(WaveChecks, ProductNamesAreCutToThirtyOneBytes)
{
    Card.OutDevices[0].Name = std::string(40, 'x');
    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(static_cast<UINT_PTR>(-1), &caps, sizeof caps), 0u);
    EXPECT_EQ(std::string(caps.szPname), std::string(31, 'x'));
    EXPECT_NE(caps.dwSupport & WAVECAPS_VOLUME, 0u);
}

TEST(DeviceWindow, MessagesFromAnyThreadArriveInOrderOnTheGuiThread)
{
    std::vector<WPARAM> received;
    std::vector<std::thread::id> threads;
    TDeviceWindow window([&](TMessage& m) {
        received.push_back(m.WParam);
        threads.push_back(std::this_thread::get_id());
    });
    std::thread poster([&] {
        for (WPARAM i = 0; i < 100; ++i)
            PostMessageA(window.Handle(), MM_WIM_DATA, i, 0);
    });
    poster.join();
    ASSERT_TRUE(WaitFor([&] { return received.size() == 100; }));
    for (WPARAM i = 0; i < 100; ++i)
        ASSERT_EQ(received[i], i);
    EXPECT_EQ(threads.front(), std::this_thread::get_id());
}

TEST(DeviceWindow, WaitingTakesOneWindowsMessagesAndLeavesTheOthers)
{
    std::vector<UINT> first, second;
    TDeviceWindow a([&](TMessage& m) { first.push_back(m.Msg); });
    TDeviceWindow b([&](TMessage& m) { second.push_back(m.Msg); });
    PostMessageA(b.Handle(), 1, 0, 0);
    PostMessageA(a.Handle(), 2, 0, 0);
    TMessage m;
    const auto soon = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    ASSERT_TRUE(GetMessageFor(a.Handle(), m, soon));
    EXPECT_EQ(m.Msg, 2u);
    EXPECT_FALSE(GetMessageFor(a.Handle(), m, soon)) << "nothing more for a: gives up";
    EXPECT_TRUE(second.empty());
    ASSERT_TRUE(WaitFor([&] { return second.size() == 1; }));
    EXPECT_TRUE(first.empty());
}

TEST(DeviceWindow, ADestroyedWindowTakesItsMessagesWithIt)
{
    int calls = 0;
    auto window = std::make_unique<TDeviceWindow>([&](TMessage&) { ++calls; });
    const HWND handle = window->Handle();
    PostMessageA(handle, 1, 0, 0);
    window.reset();
    EXPECT_FALSE(PostMessageA(handle, 1, 0, 0));
    EXPECT_EQ(PendingDeviceMessages(), 0u);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

} // namespace
