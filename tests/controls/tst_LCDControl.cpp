#include "controls/LCDControl.h"

#include "platform/Resources.h"
#include "tests/support/TestSupport.h"

#include <QAccessibleValueInterface>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>

namespace {

QImage Glyph(const QString& name)
{
    return LoadBitmapResource(name).convertToFormat(QImage::Format_RGB32);
}

QImage Digit(int d)
{
    return Glyph(QString::number(d));
}

// True when `shot` shows `glyph` with its top left corner at (x, y).
bool Shows(const QImage& shot, int x, int y, const QImage& glyph)
{
    if (glyph.isNull() || !shot.rect().contains(QRect(QPoint(x, y), glyph.size())))
        return false;
    for (int gy = 0; gy < glyph.height(); ++gy)
        for (int gx = 0; gx < glyph.width(); ++gx)
            if (PixelOf(shot, x + gx, y + gy) != PixelOf(glyph, gx, gy))
                return false;
    return true;
}

bool ColumnBlack(const QImage& shot, int x, int y, int h)
{
    for (int i = 0; i < h; ++i)
        if (PixelOf(shot, x, y + i) != clBlack)
            return false;
    return true;
}

class LCDControlTest : public ::testing::Test
{
protected:
    TLCDControl& Make(int w, int h)
    {
        lcd = std::make_unique<TLCDControl>();
        lcd->resize(w, h);
        ShowAndWait(lcd.get());
        (void)Grab(lcd.get());
        return *lcd;
    }
    std::unique_ptr<TLCDControl> lcd;
    const TColor shadow = FromQColor(ToQColor(clBtnShadow));
    const TColor highlight = FromQColor(ToQColor(clBtnHighlight));
};

} // namespace

TEST_F(LCDControlTest, GlyphsHaveTheirSizesAndDiffer)
{
    QList<QImage> glyphs{Glyph("CHARK"), Glyph("PERCENT")};
    for (int d = 0; d <= 9; ++d)
        glyphs << Digit(d);
    for (int i = 0; i < glyphs.size(); ++i) {
        EXPECT_EQ(glyphs[i].size(), QSize(7, 11)) << "glyph " << i;
        for (int j = 0; j < i; ++j)
            EXPECT_NE(glyphs[i], glyphs[j]) << "glyphs " << i << " and " << j;
    }
    EXPECT_EQ(Glyph("ON").size(), QSize(16, 2));
    EXPECT_EQ(Glyph("OFF").size(), QSize(16, 2));
    EXPECT_NE(Glyph("ON"), Glyph("OFF"));
}

TEST_F(LCDControlTest, ConstructionLayout)
{
    EXPECT_EQ(TLCDControl().size(), QSize(100, 120));
    TLCDControl& l = Make(100, 120);
    EXPECT_EQ(l.Number(), 0);
    EXPECT_EQ(l.NumberMax(), 100);
    EXPECT_EQ(l.NumberType(), ntNone);
    EXPECT_EQ(l.BarRect(), Rect(2, 2, 98, 100));
    const QImage shot = Grab(&l);
    EXPECT_TRUE(ColumnBlack(shot, 31, 98, 7)); // the strip below the bar's 32 rows
    EXPECT_TRUE(Shows(shot, 46, 105, Digit(0)));
    // Each polyline leaves out its last point, so the bottom left corner stays black.
    EXPECT_EQ(PixelOf(shot, 99, 0), shadow);
    EXPECT_EQ(PixelOf(shot, 0, 118), shadow);
    EXPECT_EQ(PixelOf(shot, 99, 1), highlight);
    EXPECT_EQ(PixelOf(shot, 2, 119), highlight);
    EXPECT_EQ(PixelOf(shot, 1, 119), clBlack);
    EXPECT_EQ(PixelOf(shot, 0, 119), clBlack);
}

TEST_F(LCDControlTest, BarLightsRowsFromTheBottom)
{
    struct Case
    {
        int w, h, max, number, rows, lit, left; // columns at left and left + 18
    };
    // clang-format off
    const Case cases[] = {
        {81, 249, 100, 0, 75, 0, 21},
        {81, 249, 100, 1, 75, 0, 21},
        {81, 249, 100, 2, 75, 1, 21},
        {81, 249, 100, 40, 75, 30, 21},
        {81, 249, 100, 99, 75, 74, 21},
        {81, 249, 100, 100, 75, 75, 21},
        {100, 120, 100, 50, 32, 16, 31},
        // The product of rows and Number does not overflow.
        {100, 120, 2000000000, 2000000000, 32, 32, 31},
        {100, 120, 2000000000, 1999999999, 32, 31, 31},
    };
    // clang-format on
    for (const Case& c : cases) {
        TLCDControl& l = Make(c.w, c.h);
        l.SetNumberMax(c.max);
        l.SetNumber(c.number);
        const QImage shot = Grab(&l);
        for (int k = 0; k < c.rows; ++k) {
            const QImage segment = Glyph(k >= c.rows - c.lit ? "ON" : "OFF");
            const int y = 2 + 3 * k;
            ASSERT_TRUE(Shows(shot, c.left, y, segment)) << c.number << " row " << k;
            ASSERT_TRUE(Shows(shot, c.left + 18, y, segment)) << c.number << " row " << k;
            ASSERT_EQ(PixelOf(shot, c.left, y + 2), clBlack) << c.number << " row " << k;
            ASSERT_TRUE(ColumnBlack(shot, c.left + 16, y, 3)) << c.number << " row " << k;
            ASSERT_TRUE(ColumnBlack(shot, c.left + 17, y, 3)) << c.number << " row " << k;
        }
    }
}

TEST_F(LCDControlTest, DigitsAndSuffixAreCentred)
{
    struct Case
    {
        int number;
        TNumberType type;
        int x;
        QList<QImage> glyphs;
    };
    const Case cases[] = {
        {7, ntPercent, 32, {Digit(7), Glyph("PERCENT")}},
        {100, ntNone, 28, {Digit(1), Digit(0), Digit(0)}},
        {40, ntCharK, 28, {Digit(4), Digit(0), Glyph("CHARK")}},
        {5, ntNone, 36, {Digit(5)}},
    };
    TLCDControl& l = Make(81, 249);
    for (const Case& c : cases) {
        l.SetNumberType(c.type);
        l.SetNumber(c.number);
        const QImage shot = Grab(&l);
        const int n = int(c.glyphs.size());
        for (int i = 0; i < n; ++i)
            EXPECT_TRUE(Shows(shot, c.x + 8 * i, 249 - 15, c.glyphs[i])) << c.number << ", " << i;
        EXPECT_TRUE(ColumnBlack(shot, c.x - 1, 234, 11)) << c.number;
        EXPECT_TRUE(ColumnBlack(shot, c.x + 8 * n - 1, 234, 11)) << c.number;
    }
}

TEST_F(LCDControlTest, SettersRedrawAtOnceOrRefuse)
{
    struct Step
    {
        const char* what;
        std::function<void(TLCDControl&)> set;
        int number, max;
        bool drawn, repainted; // the number area redrawn at once; everything repainted
    };
    using T = TLCDControl&;
    // clang-format off
    const Step steps[] = {
        {"new Number", [](T l) { l.SetNumber(50); }, 50, 100, true, false},
        {"same Number", [](T l) { l.SetNumber(50); }, 50, 100, false, false},
        {"Number above NumberMax", [](T l) { l.SetNumber(150); }, 50, 100, false, false},
        {"negative Number", [](T l) { l.SetNumber(-1); }, 50, 100, false, false},
        {"NumberMax below Number", [](T l) { l.SetNumberMax(30); }, 50, 100, false, false},
        {"NumberType", [](T l) { l.SetNumberType(ntPercent); }, 50, 100, true, false},
        {"same NumberType", [](T l) { l.SetNumberType(ntPercent); }, 50, 100, false, false},
        {"Number 0", [](T l) { l.SetNumber(0); }, 0, 100, true, false},
        {"most negative Number", [](T l) { l.SetNumber(INT32_MIN); }, 0, 100, false, false},
        {"NumberMax 0", [](T l) { l.SetNumberMax(0); }, 0, 100, false, false},
        {"negative NumberMax", [](T l) { l.SetNumberMax(-100); }, 0, 100, false, false},
        {"new NumberMax", [](T l) { l.SetNumberMax(200); }, 0, 200, true, true},
    };
    // clang-format on
    TLCDControl& l = Make(81, 249);
    for (const Step& s : steps) {
        (void)Grab(&l);
        // Marks on the border and the strip above the digits (only a full repaint draws
        // there) and in the number area.
        l.Canvas()->SetPixel(0, 100, clRed);
        l.Canvas()->SetPixel(40, 249 - 18, clRed);
        l.Canvas()->SetPixel(40, 249 - 4, clRed);
        s.set(l);
        EXPECT_EQ(l.Number(), s.number) << s.what;
        EXPECT_EQ(l.NumberMax(), s.max) << s.what;
        const QImage shot = Grab(&l);
        EXPECT_EQ(PixelOf(shot, 40, 249 - 4) != clRed, s.drawn) << s.what;
        EXPECT_EQ(PixelOf(shot, 0, 100) != clRed, s.repainted) << s.what;
        EXPECT_EQ(PixelOf(shot, 40, 249 - 18) != clRed, s.repainted) << s.what;
    }
    // Stored properties load Number first: 150 is refused while NumberMax is still 100.
    TLCDControl loaded;
    loaded.SetNumber(150);
    loaded.SetNumberMax(200);
    EXPECT_EQ(loaded.Number(), 0);
}

TEST_F(LCDControlTest, NarrowControlKeepsItsBorder)
{
    // The bar's columns (x = -4 and 14) and ten digits are wider than the control.
    TLCDControl& l = Make(30, 120);
    l.SetNumberMax(2000000000);
    l.SetNumber(1999999999);
    const QImage shot = Grab(&l);
    for (int y = 1; y < 118; ++y) {
        ASSERT_EQ(PixelOf(shot, 0, y), shadow) << y;
        ASSERT_EQ(PixelOf(shot, 1, y), clBlack) << y;
        ASSERT_EQ(PixelOf(shot, 28, y), clBlack) << y;
        ASSERT_EQ(PixelOf(shot, 29, y), highlight) << y;
    }
    EXPECT_EQ(PixelOf(shot, 5, 95), PixelOf(Glyph("ON"), 9, 0)); // what fits is drawn
}

TEST_F(LCDControlTest, ScreenReadersReadTheNumberAsALevel)
{
    using T = TLCDControl&;
    const std::tuple<const char*, std::function<void(T)>, const char*, int, int> steps[] = {
        {"new control", [](T) {}, "0", 0, 100},
        {"new Number", [](T l) { l.SetNumber(42); }, "42", 42, 100},
        {"percent", [](T l) { l.SetNumberType(ntPercent); }, "42 %", 42, 100},
        {"K", [](T l) { l.SetNumberType(ntCharK); }, "42 K", 42, 100},
        {"refused Number", [](T l) { l.SetNumber(150); }, "42 K", 42, 100},
        {"new NumberMax", [](T l) { l.SetNumberMax(200); }, "42 K", 42, 200},
    };
    TLCDControl& l = Make(81, 249);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&l);
    ASSERT_NE(iface->valueInterface(), nullptr);
    for (const auto& [what, set, text, value, max] : steps) {
        set(l);
        EXPECT_EQ(iface->text(QAccessible::Value), text) << what;
        EXPECT_EQ(iface->valueInterface()->currentValue().toInt(), value) << what;
        EXPECT_EQ(iface->valueInterface()->maximumValue().toInt(), max) << what;
    }
}
