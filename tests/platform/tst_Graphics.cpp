// The canvas's drawing rules, read back pixel by pixel.

#include "platform/Graphics.h"

#include <QGuiApplication>
#include <QPalette>
#include <gtest/gtest.h>

namespace {

constexpr TColor clNavyBlue = RGBColor(0, 0, 128);

struct Picture
{
    TBitmap bitmap{30, 30};
    Picture()
    {
        bitmap.Canvas()->Brush = TBrush{clWhite, bsSolid};
        bitmap.Canvas()->FillRect(Rect(0, 0, 30, 30));
    }
    TCanvas* c() { return bitmap.Canvas(); }
    TColor at(int x, int y) const { return FromQColor(bitmap.Image().pixelColor(x, y)); }
    int count(TColor color) const
    {
        int n = 0;
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x)
                n += at(x, y) == color;
        return n;
    }
};

} // namespace

TEST(Canvas, FillRectLeavesRightAndBottomOut)
{
    Picture p;
    p.c()->Brush.Color = clRed;
    p.c()->FillRect(Rect(2, 3, 6, 5));
    EXPECT_EQ(p.at(2, 3), clRed);
    EXPECT_EQ(p.at(5, 4), clRed);
    EXPECT_EQ(p.at(6, 4), clWhite);
    EXPECT_EQ(p.at(5, 5), clWhite);
    EXPECT_EQ(p.count(clRed), 4 * 2);
}

TEST(Canvas, PolylineLeavesOutItsLastPoint)
{
    Picture p;
    p.c()->Pen.Color = clNavyBlue;
    p.c()->Polyline({QPoint(1, 10), QPoint(1, 2), QPoint(8, 2)});
    EXPECT_EQ(p.at(1, 10), clNavyBlue);
    EXPECT_EQ(p.at(1, 2), clNavyBlue);
    EXPECT_EQ(p.at(7, 2), clNavyBlue);
    EXPECT_EQ(p.at(8, 2), clWhite);
    EXPECT_EQ(p.count(clNavyBlue), 8 + 7);
}

struct LineCase
{
    QPoint from, to;
    std::vector<QPoint> pixels;
};

TEST(Canvas, OnePixelLinesAreExact)
{
    const LineCase cases[] = {
        {{3, 2}, {7, 6}, {{3, 2}, {4, 3}, {5, 4}, {6, 5}}},
        {{7, 2}, {3, 6}, {{7, 2}, {6, 3}, {5, 4}, {4, 5}}},
        {{0, 0}, {4, 2}, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
        {{5, 5}, {5, 5}, {}},
        {{9, 4}, {6, 4}, {{9, 4}, {8, 4}, {7, 4}}},
    };
    for (const LineCase& lc : cases) {
        Picture p;
        p.c()->Pen.Color = clRed;
        p.c()->MoveTo(lc.from.x(), lc.from.y());
        p.c()->LineTo(lc.to.x(), lc.to.y());
        for (const QPoint& px : lc.pixels)
            EXPECT_EQ(p.at(px.x(), px.y()), clRed) << "line " << lc.from.x() << "," << lc.from.y()
                                                   << " pixel " << px.x() << "," << px.y();
        EXPECT_EQ(p.count(clRed), int(lc.pixels.size()))
            << "line " << lc.from.x() << "," << lc.from.y();
        EXPECT_EQ(p.c()->PenPos, lc.to);
    }
}

TEST(Canvas, RectangleOutlinesWithPenAndFillsWithBrush)
{
    Picture p;
    p.c()->Pen.Color = clBlack;
    p.c()->Brush.Color = clYellow;
    p.c()->Rectangle(2, 2, 8, 6);
    EXPECT_EQ(p.at(2, 2), clBlack);
    EXPECT_EQ(p.at(7, 5), clBlack);
    EXPECT_EQ(p.at(8, 5), clWhite);
    EXPECT_EQ(p.at(3, 3), clYellow);
    EXPECT_EQ(p.count(clYellow), 4 * 2);
}

TEST(Canvas, EllipseStaysInsideItsBox)
{
    Picture p;
    p.c()->Pen.Color = clBlack;
    p.c()->Brush.Color = clYellow;
    p.c()->Ellipse(12, 2, 23, 11);
    EXPECT_EQ(p.at(17, 6), clYellow);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x)
            if (x < 12 || x >= 23 || y < 2 || y >= 11) {
                ASSERT_EQ(p.at(x, y), clWhite) << x << "," << y;
            }
}

// The same ellipse drawn again is drawn again whenever anything changed the picture in between
// (here a fill over it, a colour change, a pixel set straight into the image); repeated on
// an untouched picture it leaves every pixel as it was and reports no change.
TEST(Canvas, RepeatedEllipseIsDrawnAgainAfterAnyChange)
{
    Picture p;
    int changes = 0;
    p.c()->SetChangedHandler([&](const QRect&) { ++changes; });
    p.c()->Pen.Color = clBlack;
    p.c()->Brush.Color = clYellow;
    p.c()->Ellipse(12, 2, 23, 11);
    const QImage first = *p.c()->Target();
    p.c()->Ellipse(12, 2, 23, 11);
    EXPECT_EQ(*p.c()->Target(), first);
    EXPECT_EQ(changes, 1) << "an unchanged picture gives no repaint";

    p.c()->Brush.Color = clWhite;
    p.c()->FillRect(Rect(0, 0, 30, 30));
    p.c()->Brush.Color = clYellow;
    p.c()->Ellipse(12, 2, 23, 11);
    EXPECT_EQ(p.at(17, 6), clYellow) << "after a fill";

    p.c()->Brush.Color = clRed;
    p.c()->Ellipse(12, 2, 23, 11);
    EXPECT_EQ(p.at(17, 6), clRed) << "another colour";

    p.c()->Target()->setPixelColor(17, 6, QColor(0, 0, 255));
    p.c()->Ellipse(12, 2, 23, 11);
    EXPECT_EQ(p.at(17, 6), clRed) << "after a pixel set in the image itself";
}

TEST(Canvas, CopyRectReadsNothingOutsideTheSource)
{
    QImage source(10, 4, QImage::Format_RGB32);
    source.fill(QColor(0, 0, 255));
    Picture p;
    // Half of the source rectangle lies to the right of the image.
    p.c()->CopyRect(Rect(0, 0, 10, 4), source, Rect(5, 0, 15, 4));
    EXPECT_EQ(p.at(0, 0), RGBColor(0, 0, 255));
    EXPECT_EQ(p.at(4, 3), RGBColor(0, 0, 255));
    EXPECT_EQ(p.at(5, 0), clWhite);
    EXPECT_EQ(p.at(9, 3), clWhite);
    // Wholly outside: nothing is drawn.
    p.c()->CopyRect(Rect(0, 10, 10, 14), source, Rect(20, 0, 30, 4));
    EXPECT_EQ(p.at(0, 10), clWhite);
}

TEST(Canvas, CopyRectStretchesWithoutBlending)
{
    QImage source(2, 1, QImage::Format_RGB32);
    source.setPixelColor(0, 0, QColor(255, 0, 0));
    source.setPixelColor(1, 0, QColor(0, 0, 255));
    Picture p;
    p.c()->CopyRect(Rect(0, 0, 8, 2), source, Rect(0, 0, 2, 1));
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(p.at(x, 1), x < 4 ? clRed : RGBColor(0, 0, 255)) << x;
}

TEST(Canvas, BrushCopyReplacesTheTransparentColour)
{
    QImage source(4, 1, QImage::Format_RGB32);
    source.fill(QColor(0, 255, 0));
    source.setPixelColor(2, 0, QColor(255, 0, 0));
    Picture p;
    p.c()->Brush.Color = clYellow;
    p.c()->BrushCopy(Rect(1, 1, 5, 2), source, Rect(0, 0, 4, 1), clLime);
    EXPECT_EQ(p.at(1, 1), clYellow);
    EXPECT_EQ(p.at(3, 1), clRed);
    EXPECT_EQ(p.at(4, 1), clYellow);
}

TEST(Canvas, TextOutFillsItsExtentWithTheBrush)
{
    Picture p;
    p.c()->Brush.Color = clYellow;
    p.c()->FontColor = clBlack;
    p.c()->Font.setPixelSize(11);
    const QSize extent = p.c()->TextExtent(QStringLiteral("Hi"));
    ASSERT_GT(extent.width(), 0);
    p.c()->TextOut(0, 0, QStringLiteral("Hi"));
    EXPECT_GT(p.count(clBlack) + p.count(clYellow), 0);
    EXPECT_EQ(p.at(extent.width(), 0), clWhite);
    EXPECT_EQ(p.at(0, extent.height()), clWhite);
}

TEST(Canvas, ReportsTouchedRectangleOutsideAPaintOnly)
{
    Picture p;
    QRect touched;
    p.c()->SetChangedHandler([&](const QRect& r) { touched = r; });
    p.c()->Brush.Color = clRed;
    p.c()->FillRect(Rect(1, 2, 4, 6));
    EXPECT_EQ(touched, QRect(1, 2, 3, 4));

    touched = QRect();
    p.c()->BeginPaint(QRegion(0, 0, 5, 5));
    p.c()->FillRect(Rect(0, 0, 30, 30));
    p.c()->EndPaint();
    EXPECT_TRUE(touched.isNull());
    // The paint was clipped to its area.
    EXPECT_EQ(p.at(4, 4), clRed);
    EXPECT_EQ(p.at(20, 20), clWhite);
}

TEST(Canvas, SystemColoursResolveFromThePalette)
{
    Picture p;
    p.c()->Brush.Color = clBtnFace;
    p.c()->FillRect(Rect(0, 0, 1, 1));
    EXPECT_EQ(p.at(0, 0), FromQColor(ToQColor(clBtnFace)));
    EXPECT_EQ(ToQColor(5655350), QColor(54, 75, 86));
}

TEST(Bitmap, AssignCopiesAndSetSizeKeepsContent)
{
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(QColor(255, 0, 0));
    TBitmap b;
    EXPECT_TRUE(b.Empty());
    b.Assign(image);
    image.fill(QColor(0, 0, 255));
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(FromQColor(b.Image().pixelColor(0, 0)), clRed);
    b.SetSize(5, 2);
    EXPECT_EQ(FromQColor(b.Image().pixelColor(2, 1)), clRed);
    EXPECT_EQ(FromQColor(b.Image().pixelColor(4, 1)), clWhite);
    TBitmap copy(b);
    copy.Canvas()->Brush.Color = clBlack;
    copy.Canvas()->FillRect(Rect(0, 0, 5, 2));
    EXPECT_EQ(FromQColor(b.Image().pixelColor(0, 0)), clRed);
}

// Ellipses are copied from a stamp where that gives the painter's own pixels: every case here
// is compared with the painter drawing the same ellipse on an image the stamp does not serve,
// on a patterned ground, so that a pixel set wrongly or a pixel left alone wrongly both show.
TEST(Canvas, CopiedEllipsesAreThePaintersPixels)
{
    struct Case
    {
        TRect Box;
        TPen Pen;
        TBrush Brush;
    };
    const TPen thin{clBlack, 1, psSolid};
    const TPen none{clBlack, 1, psClear};
    const TPen wide{clRed, 3, psSolid};
    const TBrush yellow{clYellow, bsSolid};
    const TBrush hollow{clWhite, bsClear};
    // In the order drawn: the stamp is kept from one case to the next while size and style stay.
    const Case table[] = {
        {Rect(12, 2, 24, 15), thin, yellow},   // a grid cell's pointer
        {Rect(40, 19, 52, 32), thin, yellow},  // the same elsewhere (the stamp kept)
        {Rect(41, 20, 53, 33), thin, yellow},  // odd positions
        {Rect(3, 5, 4, 6), thin, yellow},      // one pixel: nothing, as painted
        {Rect(3, 5, 5, 8), thin, yellow},      // two by three
        {Rect(5, 7, 66, 48), thin, hollow},    // large, outline only
        {Rect(5, 7, 66, 48), none, yellow},    // fill only
        {Rect(-6, -4, 10, 9), thin, yellow},   // over the top left corner
        {Rect(60, 50, 75, 66), thin, yellow},  // over the bottom right corner
        {Rect(20, 20, 37, 30), wide, yellow},  // a wide outline: painted
        {Rect(20, 20, 37, 30), thin, TBrush{clBlue, bsSolid}},
    };
    QImage ground(70, 60, QImage::Format_RGB32);
    for (int y = 0; y < ground.height(); ++y)
        for (int x = 0; x < ground.width(); ++x)
            ground.setPixel(x, y, qRgb(x * 3, y * 4, (x * y) % 251));
    QImage copied = ground;
    QImage painted = ground.convertToFormat(QImage::Format_RGB888);
    TCanvas onCopied(&copied);
    TCanvas onPainted(&painted);
    for (const Case& c : table) {
        const QImage before = copied.copy();
        for (TCanvas* canvas : {&onCopied, &onPainted}) {
            canvas->Pen = c.Pen;
            canvas->Brush = c.Brush;
            canvas->Ellipse(c.Box);
        }
        EXPECT_EQ(copied != before, c.Box.Right - c.Box.Left > 1) << c.Box.Left << "," << c.Box.Top;
        EXPECT_EQ(copied, painted.convertToFormat(QImage::Format_RGB32))
            << c.Box.Left << "," << c.Box.Top << " " << c.Box.Right << "," << c.Box.Bottom;
    }
}

// A system colour follows the palette: an ellipse drawn again after the palette changed takes
// the new colour, on the same place (not skipped as a repeat) and elsewhere (not copied from a
// stamp of the old colour).
TEST(Canvas, EllipsesFollowAPaletteChange)
{
    const QPalette before = QGuiApplication::palette();
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    TCanvas canvas(&image);
    canvas.Pen = TPen{clBlack, 1, psClear};
    canvas.Brush = TBrush{clBtnFace, bsSolid};
    canvas.Ellipse(Rect(0, 0, 16, 12));
    EXPECT_EQ(image.pixelColor(8, 6), before.color(QPalette::Button));

    QPalette changed = before;
    changed.setColor(QPalette::Button, QColor(200, 10, 10));
    QGuiApplication::setPalette(changed);
    canvas.Ellipse(Rect(0, 0, 16, 12));
    canvas.Ellipse(Rect(20, 0, 36, 12));
    QGuiApplication::setPalette(before);
    EXPECT_EQ(image.pixelColor(8, 6), QColor(200, 10, 10));
    EXPECT_EQ(image.pixelColor(28, 6), QColor(200, 10, 10));
}
