// TAnimatedBitmap: one picture of a sheet, by row and column, on a timer or under the mouse.

#include "controls/JLAniBmp.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

// A sheet of rows x columns pictures of width x height, picture k filled with Colour(k).
TColor Colour(int k)
{
    return RGBColor(40 * k + 20, 255 - 30 * k, (k * 97) % 256);
}

TBitmap Sheet(int columns, int rows, int width, int height)
{
    QImage image(columns * width, rows * height, QImage::Format_RGB32);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    image.setPixelColor(c * width + x, r * height + y,
                                        ToQColor(Colour(r * columns + c)));
    return TBitmap(image);
}

constexpr TColor FormColour = RGBColor(10, 20, 30);

// A form painted in its own colour (not its palette's, which its children share).
class Form : public QWidget
{
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(rect(), ToQColor(FormColour));
    }
};

struct AniBmpTest : ::testing::Test
{
    Form form;
    TAnimatedBitmap* strip = new TAnimatedBitmap(&form);

    void SetUp() override
    {
        form.resize(700, 400);
        strip->move(5, 5);
        ShowAndWait(&form);
    }

    // A sheet of 2 rows by 3 columns, pictures 10 x 8.
    void SixPictures()
    {
        strip->SetColumns(3);
        strip->SetRows(2);
        strip->SetBitmap(Sheet(3, 2, 10, 8));
    }

    // The picture the control shows, or -1 when it is not one uniform picture of the sheet.
    int Shown(const QImage& shot) const
    {
        const TColor c = PixelOf(shot, 0, 0);
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (PixelOf(shot, x, y) != c)
                    return -1;
        for (int k = 0; k < 64; ++k)
            if (Colour(k) == c)
                return k;
        return -1;
    }
    int Shown() const { return Shown(Grab(strip)); }
    // The picture on the control's canvas, drawn without waiting for a paint.
    int Drawn() const { return Shown(strip->Surface().copy(strip->rect())); }

    // The picture drawn at each tick of the picture timer.
    std::vector<int> ticks;
    void RecordTicks()
    {
        QObject::connect(&strip->PictureTimer(), &QTimer::timeout, strip,
                         [this] { ticks.push_back(Drawn()); });
    }
};

} // namespace

TEST(AniBmpNew, IsAStillEmpty300PixelSquare)
{
    TAnimatedBitmap strip;
    EXPECT_EQ(strip.size(), QSize(300, 300));
    EXPECT_EQ(strip.ActivePicture(), 0);
    EXPECT_EQ(strip.Columns(), 1);
    EXPECT_EQ(strip.Rows(), 1);
    EXPECT_EQ(strip.Interval(), 0);
    EXPECT_FALSE(strip.ReversePlay());
    EXPECT_FALSE(strip.HasPicture());
    EXPECT_EQ(strip.SetWidth(), 0);
    EXPECT_EQ(strip.SetHeight(), 0);
    EXPECT_FALSE(strip.PictureTimer().isActive());
}

TEST_F(AniBmpTest, EmptySheetDrawsNothing)
{
    strip->resize(50, 40);
    strip->SetActivePicture(0);
    const QImage shot = Grab(&form);
    EXPECT_EQ(PixelOf(shot, 5, 5), FormColour);
    EXPECT_EQ(PixelOf(shot, 30, 30), FormColour);
    EXPECT_EQ(strip->size(), QSize(50, 40));
}

TEST_F(AniBmpTest, TwoRowSheetShowsItsLowerHalf)
{
    strip->SetRows(2);
    strip->SetColumns(1);
    strip->SetBitmap(Sheet(1, 2, 619, 105));
    EXPECT_EQ(Shown(), 0);
    EXPECT_EQ(strip->size(), QSize(619, 105));
    EXPECT_EQ(strip->SetWidth(), 619);
    EXPECT_EQ(strip->SetHeight(), 105);
    strip->SetActivePicture(1);
    EXPECT_EQ(strip->SourceY(), 105);
    EXPECT_EQ(strip->SourceX(), 0);
    // Drawn at once, and shown.
    EXPECT_EQ(Drawn(), 1);
    EXPECT_EQ(Shown(), 1);
}

TEST_F(AniBmpTest, PicturesLieRowByRow)
{
    SixPictures();
    const struct
    {
        int picture, x, y;
    } rows[] = {{0, 0, 0}, {1, 10, 0}, {2, 20, 0}, {3, 0, 8}, {4, 10, 8}, {5, 20, 8}};
    for (const auto& row : rows) {
        strip->SetActivePicture(row.picture);
        EXPECT_EQ(strip->SourceX(), row.x) << "picture " << row.picture;
        EXPECT_EQ(strip->SourceY(), row.y) << "picture " << row.picture;
        EXPECT_EQ(Shown(), row.picture);
    }
    EXPECT_EQ(strip->size(), QSize(10, 8));
}

TEST_F(AniBmpTest, TimerRunsForwardsAndWraps)
{
    SixPictures();
    strip->SetInterval(10);
    EXPECT_TRUE(strip->PictureTimer().isActive());
    EXPECT_EQ(strip->PictureTimer().interval(), 10);
    RecordTicks();
    ASSERT_TRUE(WaitFor([&] { return ticks.size() >= 8; }));
    ticks.resize(8);
    EXPECT_EQ(ticks, (std::vector<int>{1, 2, 3, 4, 5, 0, 1, 2}));
}

TEST_F(AniBmpTest, TimerRunsBackwardsAndWraps)
{
    SixPictures();
    strip->SetReversePlay(true);
    strip->SetInterval(10);
    RecordTicks();
    ASSERT_TRUE(WaitFor([&] { return ticks.size() >= 8; }));
    ticks.resize(8);
    EXPECT_EQ(ticks, (std::vector<int>{5, 4, 3, 2, 1, 0, 5, 4}));
}

TEST_F(AniBmpTest, IntervalZeroStopsAtThePictureOnShow)
{
    SixPictures();
    strip->SetInterval(10);
    ASSERT_TRUE(WaitFor([&] { return strip->ActivePicture() == 3; }));
    strip->SetInterval(0);
    EXPECT_FALSE(strip->PictureTimer().isActive());
    const int picture = strip->ActivePicture();
    EXPECT_EQ(Shown(), picture);
    // Setting it again changes nothing either.
    strip->SetInterval(0);
    EXPECT_FALSE(strip->PictureTimer().isActive());
    EXPECT_EQ(strip->ActivePicture(), picture);
}

TEST_F(AniBmpTest, SameIntervalAgainDoesNotRestartTheTimer)
{
    SixPictures();
    strip->SetInterval(20);
    const int id = strip->PictureTimer().timerId();
    strip->SetInterval(20);
    EXPECT_EQ(strip->PictureTimer().timerId(), id);
    strip->SetInterval(15);
    EXPECT_EQ(strip->PictureTimer().interval(), 15);
    EXPECT_TRUE(strip->PictureTimer().isActive());
}

TEST_F(AniBmpTest, PastTheLastPictureForwardsStartsAgain)
{
    SixPictures();
    strip->SetActivePicture(9);
    EXPECT_EQ(Drawn(), 0);
    EXPECT_EQ(strip->ActivePicture(), 0);
}

TEST_F(AniBmpTest, PastTheLastPictureBackwardsShowsTheLast)
{
    SixPictures();
    strip->SetReversePlay(true);
    strip->SetActivePicture(9);
    EXPECT_EQ(Drawn(), 5);
    EXPECT_EQ(strip->ActivePicture(), 9);
    strip->SetInterval(10);
    RecordTicks();
    ASSERT_TRUE(WaitFor([&] { return ticks.size() >= 6; }));
    ticks.resize(6);
    // 8, 7, 6 still show picture 5; then 5, 4, 3.
    EXPECT_EQ(ticks, (std::vector<int>{5, 5, 5, 5, 4, 3}));
}

TEST_F(AniBmpTest, PressingPicksThePictureUnderThePointersHeight)
{
    strip->SetRows(2);
    strip->SetBitmap(Sheet(1, 2, 50, 105));
    ASSERT_EQ(Shown(), 0);
    QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(10, 52)); // 52 / 105
    EXPECT_EQ(strip->ActivePicture(), 0);
    QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(10, 52));

    strip->SetRows(1);
    strip->SetColumns(4);
    strip->SetBitmap(Sheet(4, 1, 30, 100));
    QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(10, 60)); // 60 * 4 / 100
    EXPECT_EQ(strip->ActivePicture(), 2);
    EXPECT_EQ(Drawn(), 2);
    QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(10, 60));
}

TEST_F(AniBmpTest, DraggingMovesThroughThePicturesUntilRelease)
{
    strip->SetColumns(4);
    strip->SetBitmap(Sheet(4, 1, 30, 100));
    int moves = 0;
    strip->OnMouseMove = [&](QObject*, Qt::MouseButtons, Qt::KeyboardModifiers, int, int) {
        ++moves;
    };
    QTest::mousePress(strip, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(strip->ActivePicture(), 0);
    QTest::mouseMove(strip, QPoint(10, 80));
    EXPECT_EQ(strip->ActivePicture(), 3);
    EXPECT_EQ(Shown(), 3);
    QTest::mouseMove(strip, QPoint(10, 30));
    EXPECT_EQ(strip->ActivePicture(), 1);
    QTest::mouseRelease(strip, Qt::RightButton, {}, QPoint(10, 30));
    EXPECT_EQ(moves, 2);
    // Without a button held a move picks nothing.
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 90), strip->mapToGlobal(QPointF(10, 90)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &move);
    EXPECT_EQ(moves, 3);
    EXPECT_EQ(strip->ActivePicture(), 1);
}

TEST_F(AniBmpTest, DraggingAboveTheControlWrapsTheIndex)
{
    strip->SetColumns(4);
    strip->SetBitmap(Sheet(4, 1, 30, 100));
    strip->SetReversePlay(true);
    QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(10, 60));
    // -24 * 4 / 100 = -0.96 truncates to 0.
    QTest::mouseMove(strip, QPoint(10, -24));
    EXPECT_EQ(strip->ActivePicture(), 0);
    // -25 * 4 / 100 = -1: 65535 in the 16-bit index, which backwards shows the last picture.
    QTest::mouseMove(strip, QPoint(10, -25));
    EXPECT_EQ(strip->ActivePicture(), 65535);
    EXPECT_EQ(Shown(), 3);
    // Forwards the same index starts again at picture 0.
    strip->SetReversePlay(false);
    QTest::mouseMove(strip, QPoint(10, -30));
    EXPECT_EQ(strip->ActivePicture(), 0);
    EXPECT_EQ(Shown(), 0);
    QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(10, -30));
}

TEST(AniBmpScale, ScalePosition)
{
    const struct
    {
        int y, n, h, expected;
    } rows[] = {{52, 1, 105, 0},  {60, 4, 100, 2},    {104, 1, 105, 0},   {105, 1, 105, 1},
                {-50, 1, 105, 0}, {-105, 1, 105, -1}, {-211, 1, 105, -2}, {7, 3, 0, 0}};
    for (const auto& r : rows)
        EXPECT_EQ(TAnimatedBitmap::ScalePosition(r.y, r.n, r.h), r.expected)
            << "y " << r.y << " n " << r.n << " h " << r.h;
}

TEST_F(AniBmpTest, ClicksAndMouseEventsReachTheirHandlers)
{
    SixPictures();
    QStringList calls;
    strip->OnMouseDown = [&](QObject* s, Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
        EXPECT_EQ(s, strip);
        calls << QString("down %1,%2").arg(x).arg(y);
    };
    strip->OnMouseUp = [&](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
        calls << QString("up %1,%2").arg(x).arg(y);
    };
    strip->OnClick = [&](QObject*) { calls << "click"; };
    strip->OnDblClick = [&](QObject*) { calls << "dblclick"; };
    QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(3, 4));
    EXPECT_EQ(calls, (QStringList{"down 3,4", "up 3,4", "click"}));
    calls.clear();
    // Released off the control: no click.
    QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(3, 4));
    QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(40, 4));
    EXPECT_EQ(calls, (QStringList{"down 3,4", "up 40,4"}));
    calls.clear();
    QTest::mouseDClick(strip, Qt::LeftButton, {}, QPoint(3, 4));
    EXPECT_TRUE(calls.contains("dblclick"));
    EXPECT_EQ(calls.count("click"), 0);
}

TEST_F(AniBmpTest, AlwaysOnePictureInSizeOnceItHasASheet)
{
    strip->SetWidth(50);
    strip->SetHeight(20);
    EXPECT_EQ(strip->size(), QSize(50, 20)); // no sheet yet
    SixPictures();
    EXPECT_EQ(strip->size(), QSize(10, 8));
    strip->SetWidth(50);
    EXPECT_EQ(strip->size(), QSize(10, 8));
    strip->SetHeight(70);
    EXPECT_EQ(strip->size(), QSize(10, 8));
    strip->resize(200, 200);
    EXPECT_EQ(strip->size(), QSize(10, 8));
    strip->SetColumns(2); // 30 / 2
    EXPECT_EQ(strip->size(), QSize(15, 8));
    EXPECT_EQ(strip->SetWidth(), 15);
}

TEST(AniBmpSize, SheetGivenWhileHiddenFitsBeforeTheFirstPaint)
{
    QWidget form;
    form.resize(400, 400);
    auto* strip = new TAnimatedBitmap(&form);
    strip->SetRows(2);
    strip->SetBitmap(Sheet(1, 2, 619 / 2, 105));
    strip->resize(300, 300); // as a stored form would
    ShowAndWait(&form);
    EXPECT_EQ(strip->size(), QSize(309, 105));
}

TEST_F(AniBmpTest, ZeroColumnsOrRowsIsRefused)
{
    SixPictures();
    strip->SetActivePicture(4);
    strip->SetColumns(0);
    strip->SetRows(0);
    EXPECT_EQ(strip->Columns(), 3);
    EXPECT_EQ(strip->Rows(), 2);
    EXPECT_EQ(strip->size(), QSize(10, 8));
    EXPECT_EQ(Shown(), 4);
}

TEST_F(AniBmpTest, TheSheetIsTheControlsOwnCopy)
{
    TBitmap sheet = Sheet(1, 1, 10, 10);
    strip->SetBitmap(sheet);
    sheet.Canvas()->Brush.Color = clWhite;
    sheet.Canvas()->FillRect(Rect(0, 0, 10, 10));
    EXPECT_EQ(Shown(), 0);
}
