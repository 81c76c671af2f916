#include "controls/JCheck.h"

#include "tests/support/TestSupport.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr TColor PureBlue = RGBColor(0, 0, 255);

struct Px
{
    int x, y;
    TColor c;
};

TColor Resolved(TColor c)
{
    return FromQColor(ToQColor(c));
}

// A picture whose pixels are given by `colour(x, y)`.
TBitmap Picture(int w, int h, const std::function<TColor(int, int)>& colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixelColor(x, y, ToQColor(colour(x, y)));
    return TBitmap(image);
}

class JCheckTest : public ::testing::Test
{
protected:
    // The check box at (10, 10) on an active form; another widget holds the focus at first.
    TJCheck& Make(int w = 98, int h = 20)
    {
        form = std::make_unique<QWidget>();
        form->resize(200, 100);
        auto* other = new QWidget(form.get());
        other->setFocusPolicy(Qt::StrongFocus);
        check = new TJCheck(form.get());
        check->setGeometry(10, 10, w, h);
        clicks = 0;
        check->OnClick = [this](QObject* sender) { clicks += sender == check ? 1 : 100; };
        ShowAndWait(form.get());
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        other->setFocus();
        EXPECT_TRUE(WaitFor([other] { return other->hasFocus(); }));
        (void)Grab(check);
        return *check;
    }
    QImage Shot() { return Grab(check); }
    void Expect(const std::vector<Px>& pixels, const std::string& what)
    {
        const QImage shot = Shot();
        for (const Px& p : pixels)
            EXPECT_EQ(PixelOf(shot, p.x, p.y), p.c) << what << " at " << p.x << "," << p.y;
    }
    // A mark drawn outside a paint stays until the control paints again.
    void Mark() { check->Canvas()->SetPixel(60, 2, clRed); }
    bool Repainted() { return PixelOf(Shot(), 60, 2) != clRed; }

    std::unique_ptr<QWidget> form;
    TJCheck* check = nullptr;
    int clicks = 0;
    const TColor F = Resolved(clBtnFace), L = Resolved(clBtnHighlight), S = Resolved(clBtnShadow);
};

} // namespace

TEST_F(JCheckTest, NewControl)
{
    TJCheck& c = Make();
    EXPECT_EQ(TJCheck().size(), QSize(98, 20));
    EXPECT_EQ(c.CheckBoxWidth(), 12);
    EXPECT_EQ(c.CheckType(), ctCheckMark);
    EXPECT_EQ(c.Color(), clBtnFace);
    c.SetCaption(QStringLiteral("Hola"));
    const QImage shot = Shot();
    int firstInk = 99; // the caption starts at x = 18
    for (int x = 13; x < 60; ++x)
        for (int y = 0; y < 20; ++y)
            if (PixelOf(shot, x, y) != F)
                firstInk = std::min(firstInk, x);
    EXPECT_GE(firstInk, 18);
    EXPECT_LE(firstInk, 20);
}

TEST_F(JCheckTest, BoxLooks)
{
    struct Case
    {
        const char* what;
        std::function<void(TJCheck&)> set;
        std::vector<Px> pixels;
    };
    const TColor K = clBlack, G = clLime;
    // The box of a new control is (1, 4, 13, 16); grayed and pressed boxes are (2, 5, 14, 17).
    // clang-format off
    const Case cases[] = {
        {"raised", [](TJCheck&) {},
         {{1, 4, L}, {11, 4, L}, {1, 14, L}, {12, 4, S}, {12, 15, S}, {1, 15, S}, {6, 9, F}}},
        {"lowered", [](TJCheck& c) { c.SetCheckBevelStyle(bvLowered); }, {{1, 4, S}, {12, 15, L}}},
        {"none", [](TJCheck& c) { c.SetCheckBevelStyle(bvNone); }, {{1, 4, F}, {12, 15, F}}},
        {"space", [](TJCheck& c) { c.SetCheckBevelStyle(bvSpace); }, {{1, 4, F}, {1, 10, F}}},
        {"two pixels", [](TJCheck& c) { c.SetCheckBevelWidth(2); },
         {{2, 5, L}, {3, 5, L}, {11, 14, S}, {3, 6, F}}},
        {"wider than the box", [](TJCheck& c) { c.SetCheckBevelWidth(40); },
         {{30, 10, F}, {14, 4, F}, {6, 17, F}}},
        // Outlined with the bevel's last pen colour.
        {"grayed", [](TJCheck& c) { c.SetGrayedColor(clLime); c.SetState(cbGrayed); },
         {{3, 6, G}, {12, 15, G}, {2, 5, S}, {13, 16, S}, {14, 10, F}}},
        // A black two-pixel pen: columns 1-2 and 12-13, rows 4-5 and 15-16.
        {"pressed", [](TJCheck& c) { c.SetDown(true); },
         {{1, 10, K}, {2, 10, K}, {12, 10, K}, {13, 10, K}, {7, 4, K}, {7, 16, K}, {6, 10, F}}},
    };
    // clang-format on
    for (const Case& t : cases) {
        t.set(Make());
        Expect(t.pixels, t.what);
    }
}

TEST_F(JCheckTest, MarksAreDrawnAtTheirCoordinates)
{
    struct Case
    {
        const char* what;
        TCheckType type;
        int box, height, pen;
        std::vector<QPoint> on, off;
    };
    // clang-format off
    const Case cases[] = {
        {"check mark", ctCheckMark, 12, 20, 1,
         {{3, 12}, {3, 14}, {7, 10}, {10, 7}}, {{3, 11}, {11, 6}, {4, 14}, {4, 12}}},
        {"V mark", ctVCheckMark, 12, 20, 1,
         {{4, 12}, {4, 13}, {4, 14}, {5, 13}}, {{4, 11}, {3, 14}, {5, 14}, {11, 6}}},
        {"cross", ctCross, 22, 23, 1,
         {{3, 2}, {12, 11}, {20, 19}, {21, 2}, {4, 19}}, {{21, 20}, {3, 20}, {12, 4}, {4, 2}}},
        {"wide cross", ctCross, 22, 23, 3,
         {{3, 2}, {4, 3}, {12, 11}, {19, 18}, {20, 3}, {4, 19}}, {{12, 4}, {12, 18}, {5, 11}}},
        // The V's lowest point is at 0.3 x (box + 1 - bevel), ties to even: 4.5 and 7.5.
        {"V mark, box 15", ctVCheckMark, 15, 20, 1, {{4, 16}}, {{3, 16}, {5, 16}}},
        {"V mark, box 25", ctVCheckMark, 25, 30, 1, {{8, 26}}, {{7, 26}, {9, 26}}},
        // Top = -6: the cross runs (3, -4) -> (21, 14), clipped.
        {"box taller than the control", ctCross, 22, 10, 1, {{7, 0}, {10, 3}, {13, 6}}, {}},
        {"user draw", ctUserDraw, 12, 20, 1, {}, {{3, 12}, {4, 12}, {6, 10}, {7, 9}, {10, 7}}},
    };
    // clang-format on
    for (const Case& t : cases) {
        TJCheck& c = Make(t.box + 1, t.height);
        c.SetCheckType(t.type);
        c.SetCheckBoxWidth(std::uint16_t(t.box));
        c.SetCheckWidth(std::uint16_t(t.pen));
        c.SetCheckColor(clRed);
        c.SetChecked(true);
        std::vector<Px> pixels;
        for (QPoint p : t.on)
            pixels.push_back({p.x(), p.y(), clRed});
        for (QPoint p : t.off)
            pixels.push_back({p.x(), p.y(), F});
        Expect(pixels, t.what);
        c.SetChecked(false);
        for (Px& p : pixels)
            p.c = F;
        Expect(pixels, std::string(t.what) + " unchecked");
    }
}

TEST_F(JCheckTest, PicturesGoIntoTheInnerBox)
{
    const TColor face = F;
    const TBitmap checked = Picture(
        16, 16, [&](int x, int y) { return x == y ? clRed : (x > 10 && y < 5 ? PureBlue : face); });
    const TBitmap unchecked = Picture(16, 16, [&](int x, int) { return x < 8 ? clLime : face; });
    TJCheck& c = Make(30, 20); // box 18: top = 1, inner box (2, 2, 18, 18)
    c.SetCheckType(ctBitMap);
    c.SetCheckBoxWidth(18);
    c.SetColor(clYellow);
    c.SetCheckedBitMap(checked);
    c.SetUnCheckedBitMap(unchecked);
    auto expectCopy = [&](const TBitmap& picture, const char* what) {
        const QImage shot = Shot();
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const TColor p = FromQColor(picture.Image().pixelColor(x, y));
                ASSERT_EQ(PixelOf(shot, 2 + x, 2 + y), p == face ? clYellow : p) << what;
            }
    };
    expectCopy(unchecked, "unchecked");
    c.SetChecked(true);
    expectCopy(checked, "checked");

    c.SetTransparentColor(clRed); // now the red shows in Color and the button face stays
    Expect({{2 + 5, 2 + 5, clYellow}, {2 + 1, 2 + 8, face}}, "transparent red");
    c.SetTransparentColor(clBtnFace);
    (void)Shot();

    // A new picture shows at the next repaint; stretched, nothing is replaced.
    c.SetCheckedBitMap(Picture(8, 8, [&](int x, int y) { return (x + y) % 2 ? clRed : face; }));
    Expect({{2 + 12, 2 + 2, PureBlue}}, "old picture");
    c.SetStretchBitMaps(true);
    Expect({{2, 2, face}, {3, 3, face}, {4, 2, clRed}, {5, 3, clRed}, {17, 14, clRed}},
           "stretched");

    // A picture smaller than the inner box (2, 0, 22, 20) leaves the rest in Color.
    c.SetStretchBitMaps(false);
    c.SetCheckBoxWidth(22);
    c.SetCheckedBitMap(checked);
    Expect({{5, 3, clRed},
            {14, 2, PureBlue},
            {19, 0, clYellow},
            {19, 19, clYellow},
            {5, 17, clYellow}},
           "small picture");
}

TEST_F(JCheckTest, SizeToBitMapSetsTheBoxFromThePictureHeight)
{
    // Height + 2 x bevel as a 16-bit sum: 16 + 2 x 32767 wraps to 14.
    const int cases[][3] = {{16, 1, 18}, {16, 3, 22}, {30, 0, 30}, {16, 32767, 14}};
    for (const auto& [height, bevel, box] : cases) {
        TJCheck c;
        c.SetCheckBevelWidth(std::uint16_t(bevel));
        c.SetCheckedBitMap(Picture(16, height, [](int, int) { return clRed; }));
        EXPECT_EQ(c.CheckBoxWidth(), 12);
        c.SetSizeToBitMap(true);
        EXPECT_EQ(c.CheckBoxWidth(), box) << height << " + 2 x " << bevel;
        c.SetCheckBoxWidth(5);
        c.SetCheckedBitMap(Picture(16, height, [](int, int) { return PureBlue; }));
        EXPECT_EQ(c.CheckBoxWidth(), box) << "new picture";
    }
}

TEST_F(JCheckTest, OnlyStateChangesRepaintAndClick)
{
    struct Step
    {
        std::function<void(TJCheck&)> set;
        TCheckBoxState state;
        int clicks;
    };
    const Step steps[] = {
        {[](TJCheck& c) { c.SetChecked(false); }, cbUnchecked, 0},
        {[](TJCheck& c) { c.SetChecked(true); }, cbChecked, 1},
        {[](TJCheck& c) { c.SetState(cbChecked); }, cbChecked, 1},
        {[](TJCheck& c) { c.SetState(cbGrayed); }, cbGrayed, 2},
        {[](TJCheck& c) { c.SetChecked(false); }, cbUnchecked, 3},
        {[](TJCheck& c) { c.SetState(cbUnchecked); }, cbUnchecked, 3},
    };
    TJCheck& c = Make();
    for (size_t i = 0; i < std::size(steps); ++i) {
        Mark();
        const int before = clicks;
        steps[i].set(c);
        EXPECT_EQ(c.State(), steps[i].state) << "step " << i;
        EXPECT_EQ(clicks, steps[i].clicks) << "step " << i;
        EXPECT_EQ(Repainted(), clicks != before) << "step " << i;
    }
}

TEST_F(JCheckTest, MouseTogglesOnReleaseInside)
{
    TJCheck& c = Make();
    const int w = c.width(), h = c.height();
    const std::pair<QPoint, bool> cases[] = {{{5, 5}, true},      {{w, h}, true},
                                             {{w, 0}, true},      {{w + 1, h}, false},
                                             {{w, h + 1}, false}, {{-1, 5}, false}};
    c.SetState(cbGrayed);
    clicks = 0;
    for (const auto& [release, toggles] : cases) {
        const bool was = c.Checked();
        const int before = clicks;
        QTest::mousePress(&c, Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_TRUE(c.Down());
        QTest::mouseMove(&c, QPoint(w + 20, 5));
        EXPECT_FALSE(c.Down());
        QTest::mouseMove(&c, QPoint(6, 6));
        EXPECT_TRUE(c.Down());
        QTest::mouseMove(&c, release);
        EXPECT_EQ(c.Down(), toggles) << release.x() << "," << release.y();
        QTest::mouseRelease(&c, Qt::LeftButton, {}, release);
        EXPECT_FALSE(c.Down());
        EXPECT_EQ(c.Checked(), toggles ? !was : was) << release.x() << "," << release.y();
        EXPECT_EQ(clicks - before, toggles ? 1 : 0);
    }
}

TEST_F(JCheckTest, FocusRectangleFollowsTheFocus)
{
    TJCheck& c = Make();
    c.SetCaption(QStringLiteral("Eco"));
    const int y = -11 / 2 + 10 - 1; // the caption's top for the 11-pixel font
    EXPECT_EQ(PixelOf(Shot(), 17, y), F);
    QTest::mousePress(&c, Qt::RightButton, {}, QPoint(30, 10));
    EXPECT_TRUE(WaitFor([&] { return c.hasFocus(); }));
    EXPECT_NE(PixelOf(Shot(), 17, y), F); // the first dot, at the top left corner
    QTest::mouseRelease(&c, Qt::RightButton, {}, QPoint(30, 10));
    EXPECT_TRUE(c.Checked());
    c.clearFocus();
    EXPECT_TRUE(WaitFor([&] { return PixelOf(Shot(), 17, y) == F; }));
}

TEST_F(JCheckTest, SpaceKeyTogglesOnRelease)
{
    TJCheck& c = Make();
    c.setFocus();
    ASSERT_TRUE(WaitFor([&] { return c.hasFocus(); }));
    c.SetState(cbGrayed);
    clicks = 0;
    struct Step
    {
        QEvent::Type type;
        Qt::Key key;
        bool autoRepeat, down;
        TCheckBoxState state;
        int clicks;
    };
    const QEvent::Type P = QEvent::KeyPress, R = QEvent::KeyRelease;
    const Step steps[] = {
        {P, Qt::Key_Space, false, true, cbGrayed, 0},
        {R, Qt::Key_Space, true, true, cbGrayed, 0}, // a held key repeats
        {P, Qt::Key_Space, true, true, cbGrayed, 0},
        {R, Qt::Key_Space, false, false, cbChecked, 1},
        {P, Qt::Key_Return, false, false, cbChecked, 1},
        {R, Qt::Key_Return, false, false, cbChecked, 1},
        {P, Qt::Key_Space, false, true, cbChecked, 1},
        {R, Qt::Key_Space, false, false, cbUnchecked, 2},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step& s = steps[i];
        QKeyEvent event(s.type, s.key, Qt::NoModifier, QString(), s.autoRepeat);
        QApplication::sendEvent(&c, &event);
        EXPECT_EQ(c.Down(), s.down) << "step " << i;
        EXPECT_EQ(c.State(), s.state) << "step " << i;
        EXPECT_EQ(clicks, s.clicks) << "step " << i;
    }
    QTest::keyClick(&c, Qt::Key_Space);
    EXPECT_TRUE(c.Checked());
}

TEST_F(JCheckTest, CaptionIsCutAndRepaints)
{
    TJCheck& c = Make();
    Mark();
    c.SetCaption(QString(300, QLatin1Char('x')));
    EXPECT_EQ(c.Caption().size(), TJCheck::MaxCaptionLength);
    EXPECT_TRUE(Repainted());
    Mark();
    c.SetCaption(c.Caption()); // unchanged, but repaints all the same
    EXPECT_TRUE(Repainted());
}

// A screen reader is told whether the box is checked, after a click as after the program's
// change.
TEST_F(JCheckTest, AScreenReaderKnowsTheState)
{
    TJCheck c;
    c.resize(98, 20);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&c);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::CheckBox);
    EXPECT_TRUE(iface->state().checkable);
    const struct
    {
        const char* What;
        std::function<void()> Do;
        bool Checked;
        bool Mixed;
    } rows[] = {
        {"a click", [&] { QTest::mouseClick(&c, Qt::LeftButton, {}, QPoint(5, 5)); }, true, false},
        {"grayed by the program", [&] { c.SetState(cbGrayed); }, false, true},
        {"unchecked by the program", [&] { c.SetChecked(false); }, false, false},
    };
    for (const auto& row : rows) {
        row.Do();
        EXPECT_EQ(iface->state().checked, row.Checked) << row.What;
        EXPECT_EQ(iface->state().checkStateMixed, row.Mixed) << row.What;
    }
}
