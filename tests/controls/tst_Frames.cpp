// TPlayFrame: one frame of a strip, always one frame in size, stepping on its own timer.

#include "controls/Frames.h"
#include "tests/support/TestSupport.h"

#include <QAccessible>
#include <QPointer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <ostream>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace {

// Distinct frame colours; none is the background of the control.
constexpr TColor FrameColours[] = {RGBColor(255, 0, 0), RGBColor(0, 200, 0), RGBColor(0, 0, 255),
                                   RGBColor(255, 200, 0), RGBColor(200, 0, 200)};

// A strip of `frames` frames of `width` x `height`, frame k (from 1) in FrameColours[k - 1].
TBitmap ColourStrip(int frames, int width = 20, int height = 16)
{
    QImage image(frames * width, height, QImage::Format_RGB32);
    for (int k = 0; k < frames; ++k)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixelColor(k * width + x, y, ToQColor(FrameColours[k]));
    return TBitmap(image);
}

// Every pixel of this strip tells where it lies: red = column, green = row.
TColor Coded(int x, int y)
{
    return RGBColor(x, y, 128);
}

TBitmap CodedStrip(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, ToQColor(Coded(x, y)));
    return TBitmap(image);
}

struct FramesTest : ::testing::Test
{
    QWidget form;
    TPlayFrame* lamp = new TPlayFrame(&form);

    void SetUp() override
    {
        form.resize(300, 200);
        lamp->move(10, 10);
        ShowAndWait(&form);
    }

    TColor Background() const { return FromQColor(lamp->palette().color(QPalette::Window)); }
    // What the control shows at (x, y), and what its canvas holds there without any paint.
    TColor Shown(int x, int y) const { return PixelOf(Grab(lamp), x, y); }
    TColor Drawn(int x, int y) const { return PixelOf(lamp->Surface(), x, y); }

    // The whole control shows one colour.
    bool ShowsOnly(TColor colour) const
    {
        const QImage shot = Grab(lamp);
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (PixelOf(shot, x, y) != colour)
                    return false;
        return true;
    }

    // Records, after every tick of the running BlinkTimer, the frame number and its colour.
    struct Tick
    {
        int frame;
        TColor colour;
        friend bool operator==(const Tick&, const Tick&) = default;
    };
    std::vector<Tick> ticks;
    void RecordTicks()
    {
        ASSERT_NE(lamp->BlinkTimer(), nullptr);
        // Connected after the control's own handler, so it sees the tick's outcome.
        QObject::connect(lamp->BlinkTimer(), &QTimer::timeout, lamp, [this] {
            ticks.push_back({lamp->FrameActual(), Drawn(5, 5)});
        });
    }
    static std::vector<Tick> Expected(std::initializer_list<int> frames)
    {
        std::vector<Tick> out;
        for (int f : frames)
            out.push_back({f, FrameColours[f - 1]});
        return out;
    }
};

std::ostream& operator<<(std::ostream& os, const FramesTest::Tick& t)
{
    return os << "frame " << t.frame << " colour " << std::hex << t.colour << std::dec;
}

} // namespace

TEST(FramesNew, IsOneEmptySixtyPixelFrameWithoutTimer)
{
    TPlayFrame lamp;
    EXPECT_EQ(lamp.size(), QSize(60, 60));
    EXPECT_EQ(lamp.ImagenBMP().Width(), 60);
    EXPECT_EQ(lamp.ImagenBMP().Height(), 60);
    EXPECT_EQ(lamp.NFrames(), 1);
    EXPECT_EQ(lamp.FrameActual(), 1);
    EXPECT_EQ(lamp.FrameWidth(), 60);
    EXPECT_EQ(lamp.BlinkRate(), 1000);
    EXPECT_EQ(lamp.LedStatus(), lsOff);
    EXPECT_TRUE(lamp.Sentido());
    EXPECT_FALSE(lamp.FrameStop());
    EXPECT_EQ(lamp.BlinkTimer(), nullptr);
    EXPECT_TRUE(lamp.findChildren<QTimer*>().isEmpty());
    EXPECT_EQ(lamp.sizeHint(), QSize(60, 60));
    ShowAndWait(&lamp);
    EXPECT_EQ(lamp.size(), QSize(60, 60));
    const QImage shot = Grab(&lamp);
    EXPECT_EQ(PixelOf(shot, 0, 0), clWhite);
    EXPECT_EQ(PixelOf(shot, 59, 59), clWhite);
}

TEST_F(FramesTest, FormEntryWithTwoFramesShowsTheRightHalfThenTheLeftAtOnce)
{
    // The order a stored form sets them in.
    lamp->SetImagenBMP(CodedStrip(122, 60));
    lamp->SetNFrames(2);
    lamp->SetFrameActual(2);
    EXPECT_EQ(lamp->size(), QSize(61, 60));
    EXPECT_EQ(lamp->FrameWidth(), 61);
    EXPECT_EQ(Shown(0, 0), Coded(61, 0));
    EXPECT_EQ(Shown(60, 59), Coded(121, 59));
    EXPECT_EQ(Shown(30, 20), Coded(91, 20));

    lamp->SetFrameActual(1);
    // On the canvas before any paint has run...
    EXPECT_EQ(Drawn(0, 0), Coded(0, 0));
    EXPECT_EQ(Drawn(60, 59), Coded(60, 59));
    // ... and on screen.
    EXPECT_EQ(Shown(0, 0), Coded(0, 0));
    EXPECT_EQ(Shown(60, 59), Coded(60, 59));
}

TEST_F(FramesTest, SettingTheSameFrameDoesNotRedraw)
{
    lamp->SetImagenBMP(ColourStrip(2));
    lamp->SetNFrames(2);
    ASSERT_EQ(Shown(5, 5), FrameColours[0]);
    // A mark on the canvas stays until something draws the frame again.
    lamp->Canvas()->Brush.Color = clWhite;
    lamp->Canvas()->FillRect(Rect(0, 0, 10, 10));
    lamp->SetFrameActual(1);
    EXPECT_EQ(Shown(5, 5), clWhite);
    lamp->SetFrameActual(2);
    EXPECT_EQ(Shown(5, 5), FrameColours[1]);
}

TEST_F(FramesTest, ThreeFramesOfA122PixelStripAre40PixelsWide)
{
    lamp->SetImagenBMP(CodedStrip(122, 60));
    lamp->SetNFrames(3);
    EXPECT_EQ(lamp->FrameWidth(), 40);
    EXPECT_EQ(lamp->size(), QSize(40, 60));
    EXPECT_EQ(lamp->FrameActual(), 1);
    lamp->SetFrameActual(3);
    EXPECT_EQ(Shown(0, 0), Coded(80, 0));
    EXPECT_EQ(Shown(39, 59), Coded(119, 59));
}

TEST_F(FramesTest, NFramesLeavesAnOutOfRangeFrameAlone)
{
    lamp->SetImagenBMP(ColourStrip(4));
    lamp->SetNFrames(4);
    lamp->SetFrameActual(4);
    lamp->SetNFrames(2);
    EXPECT_EQ(lamp->FrameActual(), 4);
    EXPECT_EQ(lamp->size(), QSize(40, 16));
}

TEST_F(FramesTest, AnyOtherSizeIsUndone)
{
    lamp->SetImagenBMP(ColourStrip(2));
    lamp->SetNFrames(2);
    lamp->resize(100, 30);
    EXPECT_EQ(lamp->size(), QSize(20, 16));
    lamp->setGeometry(50, 60, 7, 90);
    EXPECT_EQ(lamp->geometry(), QRect(50, 60, 20, 16));
    EXPECT_EQ(Shown(19, 15), FrameColours[0]);
}

TEST(FramesSize, SizeGivenBeforeTheWindowExistsIsUndoneWhenShown)
{
    QWidget form;
    form.resize(200, 200);
    auto* lamp = new TPlayFrame(&form);
    lamp->SetImagenBMP(ColourStrip(2));
    lamp->SetNFrames(2);
    lamp->resize(120, 120); // as a stored form would
    ShowAndWait(&form);
    EXPECT_EQ(lamp->size(), QSize(20, 16));
}

TEST_F(FramesTest, NewPictureIsOneFrameTheSizeOfThePicture)
{
    lamp->SetImagenBMP(ColourStrip(3));
    lamp->SetNFrames(3);
    lamp->SetFrameActual(3);
    lamp->SetImagenBMP(CodedStrip(90, 40));
    EXPECT_EQ(lamp->NFrames(), 1);
    EXPECT_EQ(lamp->FrameActual(), 1);
    EXPECT_EQ(lamp->FrameWidth(), 90);
    EXPECT_EQ(lamp->size(), QSize(90, 40));
    EXPECT_EQ(Shown(0, 0), Coded(0, 0));
    EXPECT_EQ(Shown(89, 39), Coded(89, 39));
}

TEST_F(FramesTest, ThePictureIsTheControlsOwnCopy)
{
    TBitmap strip = ColourStrip(2);
    lamp->SetImagenBMP(strip);
    strip.Canvas()->Brush.Color = clWhite;
    strip.Canvas()->FillRect(Rect(0, 0, 40, 16));
    EXPECT_EQ(PixelOf(lamp->ImagenBMP().Image(), 5, 5), FrameColours[0]);

    // Giving the control its own picture changes nothing.
    lamp->SetNFrames(2);
    lamp->SetFrameActual(2);
    lamp->SetImagenBMP(lamp->ImagenBMP());
    EXPECT_EQ(lamp->NFrames(), 2);
    EXPECT_EQ(lamp->FrameActual(), 2);
}

TEST_F(FramesTest, FramesOutsideTheStripShowTheBackground)
{
    // 2 columns are left over beside the three frames; frame 4 would start on them.
    lamp->SetImagenBMP(CodedStrip(122, 60));
    lamp->SetNFrames(3);
    const struct
    {
        std::uint16_t frame;
        const char* what;
    } rows[] = {{0, "frame 0"}, {4, "one past the last frame"}, {65535, "the highest frame"}};
    for (const auto& row : rows) {
        lamp->SetFrameActual(2); // something else on show first
        lamp->SetFrameActual(row.frame);
        EXPECT_EQ(Drawn(0, 0), Background()) << row.what;
        EXPECT_EQ(Drawn(39, 59), Background()) << row.what;
        EXPECT_TRUE(ShowsOnly(Background())) << row.what;
    }
}

TEST_F(FramesTest, ZeroFramesIsRefused)
{
    lamp->SetImagenBMP(ColourStrip(2));
    lamp->SetNFrames(2);
    lamp->SetFrameActual(2);
    lamp->SetNFrames(0);
    EXPECT_EQ(lamp->NFrames(), 2);
    EXPECT_EQ(lamp->FrameWidth(), 20);
    EXPECT_EQ(lamp->size(), QSize(20, 16));
    EXPECT_TRUE(ShowsOnly(FrameColours[1]));
}

TEST_F(FramesTest, BlinkCyclesForwardsEndlessly)
{
    lamp->SetImagenBMP(ColourStrip(4));
    lamp->SetNFrames(4);
    lamp->SetBlinkRate(10);
    lamp->SetLedStatus(lsBlink);
    ASSERT_NE(lamp->BlinkTimer(), nullptr);
    EXPECT_TRUE(lamp->BlinkTimer()->isActive());
    EXPECT_EQ(lamp->BlinkTimer()->interval(), 10);
    RecordTicks();
    ASSERT_TRUE(WaitFor([&] { return ticks.size() >= 6; }));
    ticks.resize(6);
    EXPECT_EQ(ticks, Expected({2, 3, 4, 1, 2, 3}));
    EXPECT_EQ(lamp->LedStatus(), lsBlink);
}

TEST_F(FramesTest, BlinkCyclesBackwardsEndlessly)
{
    lamp->SetImagenBMP(ColourStrip(4));
    lamp->SetNFrames(4);
    lamp->SetFrameActual(2);
    lamp->SetSentido(false);
    lamp->SetBlinkRate(10);
    lamp->SetLedStatus(lsBlink);
    RecordTicks();
    ASSERT_TRUE(WaitFor([&] { return ticks.size() >= 5; }));
    ticks.resize(5);
    EXPECT_EQ(ticks, Expected({1, 4, 3, 2, 1}));
}

TEST_F(FramesTest, OnePassForwardsEndsOnTheLastFrameAndStopsOnce)
{
    lamp->SetImagenBMP(ColourStrip(4));
    lamp->SetNFrames(4);
    lamp->SetBlinkRate(10);
    lamp->SetFrameStop(true);
    int stopped = 0;
    QObject* sender = nullptr;
    lamp->OnStopped = [&](QObject* s) {
        ++stopped;
        sender = s;
        // By now the timer is gone and the run is over.
        EXPECT_EQ(lamp->BlinkTimer(), nullptr);
        EXPECT_EQ(lamp->LedStatus(), lsOff);
        EXPECT_FALSE(lamp->FrameStop());
    };
    lamp->SetLedStatus(lsBlink);
    const QPointer<QTimer> timer = lamp->BlinkTimer();
    RecordTicks();
    ASSERT_TRUE(WaitFor([&] { return stopped > 0; }));
    // The last tick put frame 1 up and replaced it with frame 4 at once.
    EXPECT_EQ(ticks, Expected({2, 3, 4, 4}));
    EXPECT_EQ(sender, lamp);
    EXPECT_EQ(lamp->FrameActual(), 4);
    EXPECT_EQ(lamp->LedStatus(), lsOff);
    EXPECT_FALSE(lamp->FrameStop());
    // The timer is released once its tick is over, and nothing ticks again.
    ASSERT_TRUE(WaitFor([&] { return timer.isNull(); }));
    EXPECT_EQ(stopped, 1);
    EXPECT_TRUE(ShowsOnly(FrameColours[3]));
}

TEST_F(FramesTest, OnePassBackwardsFromThreeEndsOnFrameOne)
{
    lamp->SetImagenBMP(ColourStrip(4));
    lamp->SetNFrames(4);
    lamp->SetFrameActual(3);
    lamp->SetSentido(false);
    lamp->SetBlinkRate(10);
    lamp->SetFrameStop(true);
    int stopped = 0;
    lamp->OnStopped = [&](QObject*) { ++stopped; };
    lamp->SetLedStatus(lsBlink);
    const QPointer<QTimer> timer = lamp->BlinkTimer();
    RecordTicks();
    ASSERT_TRUE(WaitFor([&] { return timer.isNull(); }));
    // 2, 1, and at the next tick the wrap to 4 is replaced by frame 1.
    EXPECT_EQ(ticks, Expected({2, 1, 1}));
    EXPECT_EQ(stopped, 1);
    EXPECT_EQ(lamp->FrameActual(), 1);
    EXPECT_EQ(lamp->LedStatus(), lsOff);
    EXPECT_FALSE(lamp->FrameStop());
    EXPECT_TRUE(ShowsOnly(FrameColours[0]));
}

TEST_F(FramesTest, AFailingStopHandlerIsReportedAndTheRunStillEnds)
{
    ErrorRecorder errors;
    lamp->SetImagenBMP(ColourStrip(2));
    lamp->SetNFrames(2);
    lamp->SetBlinkRate(5);
    lamp->SetFrameStop(true);
    lamp->OnStopped = [](QObject*) { throw std::runtime_error("parada"); };
    lamp->SetLedStatus(lsBlink);
    ASSERT_TRUE(WaitFor([&] { return !errors.Messages.isEmpty(); }));
    EXPECT_EQ(errors.Messages, QStringList{"parada"});
    EXPECT_EQ(lamp->LedStatus(), lsOff);
    EXPECT_EQ(lamp->FrameActual(), 2);
}

TEST_F(FramesTest, TheStopHandlerMayFreeTheControl)
{
    lamp->SetImagenBMP(ColourStrip(2));
    lamp->SetNFrames(2);
    lamp->SetBlinkRate(5);
    lamp->SetFrameStop(true);
    QPointer<TPlayFrame> alive(lamp);
    lamp->OnStopped = [&](QObject* sender) { delete sender; };
    lamp->SetLedStatus(lsBlink);
    ASSERT_TRUE(WaitFor([&] { return alive.isNull(); }));
    lamp = nullptr;
}

TEST_F(FramesTest, StillStatesKeepTheFrameAndHaveNoTimer)
{
    lamp->SetImagenBMP(ColourStrip(3));
    lamp->SetNFrames(3);
    lamp->SetFrameActual(2);
    lamp->SetBlinkRate(5);
    lamp->SetLedStatus(lsBlink);
    const QPointer<QTimer> timer = lamp->BlinkTimer();
    lamp->SetLedStatus(lsOn);
    EXPECT_EQ(lamp->BlinkTimer(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return timer.isNull(); }));
    const std::uint16_t frame = lamp->FrameActual();
    lamp->SetLedStatus(lsOff);
    EXPECT_EQ(lamp->BlinkTimer(), nullptr);
    EXPECT_EQ(lamp->FrameActual(), frame);
    EXPECT_TRUE(lamp->findChildren<QTimer*>().isEmpty());
    EXPECT_TRUE(ShowsOnly(FrameColours[frame - 1]));
}

TEST_F(FramesTest, BlinkRateChangesARunningTimerAtOnce)
{
    lamp->SetBlinkRate(500);
    EXPECT_EQ(lamp->BlinkRate(), 500);
    EXPECT_EQ(lamp->BlinkTimer(), nullptr);
    lamp->SetLedStatus(lsBlink);
    ASSERT_NE(lamp->BlinkTimer(), nullptr);
    EXPECT_EQ(lamp->BlinkTimer()->interval(), 500);
    lamp->SetBlinkRate(20);
    EXPECT_EQ(lamp->BlinkTimer()->interval(), 20);
    EXPECT_TRUE(lamp->BlinkTimer()->isActive());
}

TEST_F(FramesTest, NamesItselfFromWhatItShowsAfterItsLabel)
{
    using T = TPlayFrame&;
    const std::tuple<const char*, std::function<void(T)>, const char*> steps[] = {
        {"new control on frame 1", [](T) {}, "encendida"},
        {"label", [](T l) { l.SetLabel("D3"); }, "D3: encendida"},
        {"dark frame", [](T l) { l.SetFrameActual(2); }, "D3: apagada"},
        {"frame outside the strip", [](T l) { l.SetFrameActual(0); }, "D3: apagada"},
        {"lit frame", [](T l) { l.SetFrameActual(1); }, "D3: encendida"},
        {"blinking", [](T l) { l.SetLedStatus(lsBlink); }, "D3: intermitente"},
        {"blinking on frame 2", [](T l) { l.SetFrameActual(2); }, "D3: intermitente"},
        {"stopped on frame 2", [](T l) { l.SetLedStatus(lsOff); }, "D3: apagada"},
    };
    lamp->SetImagenBMP(ColourStrip(2));
    lamp->SetNFrames(2);
    for (const auto& [what, set, name] : steps) {
        set(*lamp);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(lamp)->text(QAccessible::Name), name)
            << what;
    }
}
