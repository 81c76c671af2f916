// The display controls on a screen of another scale: ctest runs this program at the device pixel
// ratios 1, 1.5 and 2 (QT_SCALE_FACTOR). What is drawn must lie where it lies at a ratio of 1,
// in logical pixels, with its edges on device pixels: each check reads the device pixel under
// the centre of a logical pixel.

#include "app/Artwork.h"
#include "controls/BSSGrid.h"
#include "controls/Frames.h"
#include "controls/JCheck.h"
#include "controls/JLAniBmp.h"
#include "controls/LCDControl.h"
#include "core/PoolTask.h"
#include "platform/Resources.h"
#include "tests/support/TestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <set>
#include <utility>

namespace {

// The ratio this run was started at.
qreal ExpectedRatio()
{
    const QByteArray factor = qgetenv("QT_SCALE_FACTOR");
    return factor.isEmpty() ? 1.0 : factor.toDouble();
}

// The device pixel under the centre of logical pixel (x, y).
TColor At(const QImage& shot, int x, int y)
{
    const qreal r = shot.devicePixelRatio();
    return PixelOf(shot, int(std::floor((x + 0.5) * r)), int(std::floor((y + 0.5) * r)));
}

// The device edge a logical edge lands on: the nearest one, halves rounded up.
int DeviceEdge(qreal logical, qreal ratio)
{
    return int(std::floor(logical * ratio + 0.5));
}

// The device pixel under the centre of client pixel (x, y) of a surface whose client area
// starts at (border, border): its image starts on the device edge nearest to that corner.
TColor AtClient(const QImage& shot, int border, int x, int y)
{
    const qreal r = shot.devicePixelRatio();
    const int origin = DeviceEdge(border, r);
    return PixelOf(shot, origin + int(std::floor((x + 0.5) * r)),
                   origin + int(std::floor((y + 0.5) * r)));
}

bool Near(TColor a, TColor b, int tolerance)
{
    const QColor x = ToQColor(a);
    const QColor y = ToQColor(b);
    return std::abs(x.red() - y.red()) <= tolerance &&
           std::abs(x.green() - y.green()) <= tolerance &&
           std::abs(x.blue() - y.blue()) <= tolerance;
}

class ScreenScaleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ratio = ExpectedRatio();
        ASSERT_DOUBLE_EQ(qApp->devicePixelRatio(), ratio) << "the run's screen scale";
    }

    // A schedule grid as the window has it: a click toggles a slot, marked slots are red.
    void MakeGrid()
    {
        grid.SetColCount(13);
        grid.SetRowCount(25);
        grid.SetDefaultColWidth(35);
        grid.SetDefaultRowHeight(13);
        grid.resize(460, 330);
        // Without focus the grid draws no focus rectangle over the clicked cell.
        grid.setFocusPolicy(Qt::NoFocus);
        grid.OnSelectCell = [this](QObject*, int col, int row, bool&) {
            const auto slot = std::make_pair(col, row);
            if (!marked.erase(slot))
                marked.insert(slot);
            grid.InvalidateCell(col, row);
        };
        grid.OnDrawCell = [this](QObject*, int col, int row, TRect r, TGridDrawState) {
            if (marked.count({col, row}) != 0) {
                grid.Canvas()->Brush.Color = clRed;
                grid.Canvas()->FillRect(r);
            }
        };
        ShowAndWait(&grid);
    }

    qreal ratio = 1;
    TBSSGrid grid;
    std::set<std::pair<int, int>> marked;
};

TEST_F(ScreenScaleTest, RedCellCoversTheToggledSlot)
{
    MakeGrid();
    const int b = grid.BorderWidth();
    const TRect r = grid.CellRect(3, 4);
    QTest::mouseClick(&grid, Qt::LeftButton, {}, QPoint(r.Left + b + 5, r.Top + b + 5));
    ASSERT_TRUE(WaitFor([&] { return AtClient(Grab(&grid), b, r.Left + 5, r.Top + 5) == clRed; }));
    const QImage shot = Grab(&grid);
    EXPECT_DOUBLE_EQ(shot.devicePixelRatio(), ratio);
    EXPECT_DOUBLE_EQ(grid.Surface().devicePixelRatio(), ratio);
    const int midX = (r.Left + r.Right) / 2;
    const int midY = (r.Top + r.Bottom) / 2;
    for (QPoint p : {QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1), QPoint(midX, midY)})
        EXPECT_EQ(AtClient(shot, b, p.x(), p.y()), clRed) << "inside at " << p.x() << "," << p.y();
    for (QPoint p : {QPoint(r.Left - 1, midY), QPoint(r.Right, midY), QPoint(midX, r.Top - 1),
                     QPoint(midX, r.Bottom)})
        EXPECT_NE(AtClient(shot, b, p.x(), p.y()), clRed) << "outside at " << p.x() << "," << p.y();
    // The red run of a device row begins and ends on the device edges of the logical ones, and
    // the row holds no blend of red and its neighbours.
    const int origin = DeviceEdge(b, ratio);
    const int y = origin + int(std::floor((midY + 0.5) * ratio));
    int first = -1;
    int last = -1;
    std::set<TColor> colours;
    for (int x = origin + DeviceEdge(r.Left - 2, ratio);
         x < origin + DeviceEdge(r.Right + 2, ratio); ++x) {
        colours.insert(PixelOf(shot, x, y));
        if (PixelOf(shot, x, y) == clRed) {
            first = first < 0 ? x : first;
            last = x;
        }
    }
    EXPECT_EQ(first, origin + DeviceEdge(r.Left, ratio));
    EXPECT_EQ(last + 1, origin + DeviceEdge(r.Right, ratio));
    EXPECT_LE(colours.size(), 3U) << "red, the grid line and the cell beside it";
}

TEST_F(ScreenScaleTest, PointerEllipseFillsItsBox)
{
    MakeGrid();
    const TRect cell = grid.CellRect(5, 7);
    const TRect box = Rect(cell.Left + 12, cell.Top + 2, cell.Right - 12, cell.Bottom - 2);
    TCanvas* canvas = grid.Canvas();
    canvas->Pen.Color = clBlack;
    canvas->Brush.Color = clYellow;
    canvas->Ellipse(box);
    const int b = grid.BorderWidth();
    const TColor ground = AtClient(Grab(&grid), b, cell.Left + 2, cell.Top + 2);
    const int cx = (box.Left + box.Right) / 2;
    const int cy = (box.Top + box.Bottom) / 2;
    ASSERT_TRUE(WaitFor([&] { return AtClient(Grab(&grid), b, cx, cy) == clYellow; }));
    const QImage shot = Grab(&grid);
    const TRect& r = box;
    // The outline touches the four sides of the box from inside, and nothing lies beyond them.
    const std::pair<QPoint, QPoint> sides[] = {
        {{r.Left, cy}, {r.Left - 1, cy}},
        {{r.Right - 1, cy}, {r.Right, cy}},
        {{cx, r.Top}, {cx, r.Top - 1}},
        {{cx, r.Bottom - 1}, {cx, r.Bottom}},
    };
    for (const auto& [on, beyond] : sides) {
        EXPECT_EQ(AtClient(shot, b, on.x(), on.y()), clBlack)
            << "outline at " << on.x() << "," << on.y();
        EXPECT_EQ(AtClient(shot, b, beyond.x(), beyond.y()), ground)
            << "beyond at " << beyond.x() << "," << beyond.y();
    }
}

// The window draws its board on the application's thread pool while it makes its controls: the
// picture, the lamps' names included, must be the one the GUI thread draws.
TEST_F(ScreenScaleTest, BoardDrawnOnAThreadOfItsOwnIsTheSamePicture)
{
    const int ratio = Artwork::Ratio();
    std::future<QImage> drawing = RunOnPool([ratio] { return Artwork::DrawBoardSheet(ratio); });
    ASSERT_EQ(drawing.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const QImage drawn = drawing.get();
    const QImage here = Artwork::DrawBoardSheet(ratio);
    ASSERT_FALSE(here.isNull());
    EXPECT_EQ(drawn, here);
}

TEST_F(ScreenScaleTest, LampsLieOverTheBoardsLamps)
{
    const QImage sheet = Artwork::BoardSheet();
    ASSERT_EQ(LogicalSize(sheet), QSize(619, 210));
    QWidget host;
    host.resize(700, 600);
    TAnimatedBitmap board(&host);
    board.setGeometry(Artwork::BoardPlace);
    board.SetBitmap(TBitmap(sheet));
    board.SetRows(2);
    board.SetColumns(1);
    board.SetActivePicture(0);
    TPlayFrame lamp(&host);
    const QRect place = Artwork::LampPlace(3);
    lamp.move(place.topLeft());
    lamp.SetImagenBMP(TBitmap(Artwork::LampStrip(3)));
    lamp.SetNFrames(2);
    lamp.SetFrameActual(2);
    ShowAndWait(&host);
    EXPECT_EQ(board.geometry(), Artwork::BoardPlace);
    EXPECT_EQ(lamp.geometry(), place);

    // The sheet's colour at a window point, upper (dark) or lower (lit) picture; a picture drawn
    // at another ratio than the screen's is resampled, hence the tolerance.
    const QPoint origin = Artwork::BoardPlace.topLeft();
    auto sheetAt = [&](QPoint p, bool lit) {
        return At(sheet, p.x() - origin.x(), p.y() - origin.y() + (lit ? 105 : 0));
    };
    constexpr int Tolerance = 24;
    const QPoint lampCentre = place.center();
    const QPoint otherLamp = Artwork::LampPlace(6).center();
    const QPoint wood = place.topLeft() + QPoint(2, 2);
    QImage shot = Grab(&host);
    for (QPoint p : {lampCentre, otherLamp, wood, origin + QPoint(300, 95)})
        EXPECT_TRUE(Near(At(shot, p.x(), p.y()), sheetAt(p, false), Tolerance))
            << "dark at " << p.x() << "," << p.y();
    lamp.SetFrameActual(1);
    ASSERT_TRUE(WaitFor([&] {
        return Near(At(Grab(&host), lampCentre.x(), lampCentre.y()), sheetAt(lampCentre, true),
                    Tolerance);
    }));
    shot = Grab(&host);
    EXPECT_FALSE(Near(sheetAt(lampCentre, true), sheetAt(lampCentre, false), Tolerance));
    EXPECT_TRUE(Near(At(shot, wood.x(), wood.y()), sheetAt(wood, true), Tolerance));
    EXPECT_TRUE(Near(At(shot, otherLamp.x(), otherLamp.y()), sheetAt(otherLamp, false), Tolerance));
}

TEST_F(ScreenScaleTest, LcdSegmentRowsLieThreePixelsApart)
{
    TLCDControl lcd;
    lcd.resize(100, 120);
    lcd.SetNumber(50); // 32 rows of segments, the lower 16 lit
    ShowAndWait(&lcd);
    const QImage on = LoadBitmapResource(QStringLiteral("ON"));
    const QImage off = LoadBitmapResource(QStringLiteral("OFF"));
    ASSERT_EQ(on.size(), QSize(16, 2));
    const QImage shot = Grab(&lcd);
    for (int row : {0, 15, 16, 31}) {
        const QImage& segment = row >= 16 ? on : off;
        const int y = 2 + 3 * row;
        for (int left : {31, 49})
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 16; ++dx)
                    ASSERT_EQ(At(shot, left + dx, y + dy), FromQColor(segment.pixelColor(dx, dy)))
                        << "row " << row << " at " << left + dx << "," << y + dy;
        EXPECT_EQ(At(shot, 31, y + 2), clBlack) << "ground below row " << row;
        EXPECT_EQ(At(shot, 47, y), clBlack) << "gap beside row " << row;
    }
}

TEST_F(ScreenScaleTest, CrossRunsCornerToCorner)
{
    struct Case
    {
        int pen;
        std::vector<QPoint> on, off;
    };
    const Case cases[] = {
        {1, {{3, 2}, {12, 11}, {20, 19}, {21, 2}, {4, 19}}, {{21, 20}, {3, 20}, {12, 4}, {4, 2}}},
        {3, {{3, 2}, {4, 3}, {12, 11}, {19, 18}, {20, 3}, {4, 19}}, {{12, 4}, {12, 18}, {5, 11}}},
    };
    for (const Case& c : cases) {
        TJCheck check;
        check.resize(23, 23);
        check.SetCheckType(ctCross);
        check.SetCheckBoxWidth(22);
        check.SetCheckWidth(std::uint16_t(c.pen));
        check.SetCheckColor(clRed);
        check.SetChecked(true);
        ShowAndWait(&check);
        const QImage shot = Grab(&check);
        for (QPoint p : c.on)
            EXPECT_EQ(At(shot, p.x(), p.y()), clRed)
                << "pen " << c.pen << " at " << p.x() << "," << p.y();
        for (QPoint p : c.off)
            EXPECT_NE(At(shot, p.x(), p.y()), clRed)
                << "pen " << c.pen << " at " << p.x() << "," << p.y();
    }
}

} // namespace
