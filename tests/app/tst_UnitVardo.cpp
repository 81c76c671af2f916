// The main window: what it shows at start and how the schedule grids edit the schedule.

#include "app/UnitVardo.h"
#include "platform/TrackBarStyle.h"
#include "tests/support/TestSupport.h"

#include <QStyleOption>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct FormTest : ::testing::Test
{
    TFormVardo form;

    void SetUp() override { ShowAndWait(&form); }

    TBSSGrid* ShowPage(int plane)
    {
        form.PageControl1->setCurrentIndex(plane);
        TBSSGrid* grid = form.ScheduleGrid(plane);
        EXPECT_TRUE(WaitFor([&] { return grid->isVisible(); }));
        return grid;
    }
    static QPoint Mid(TBSSGrid* g, int c, int r)
    {
        const TRect rc = g->CellRect(c, r);
        return QPoint(rc.Left + rc.Width() / 2 + g->BorderWidth(),
                      rc.Top + rc.Height() / 2 + g->BorderWidth());
    }
    static void Click(TBSSGrid* g, int c, int r, Qt::MouseButton b = Qt::LeftButton)
    {
        QTest::mouseClick(g, b, Qt::NoModifier, Mid(g, c, r));
    }
    static void MoveHeld(TBSSGrid* g, int c, int r)
    {
        QMouseEvent move(QEvent::MouseMove, Mid(g, c, r), g->mapToGlobal(Mid(g, c, r)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(g, &move);
    }
    // Colour shown in the middle of a cell.
    static TColor CellColour(TBSSGrid* g, int c, int r)
    {
        const QPoint p = Mid(g, c, r);
        return PixelOf(Grab(g), p.x(), p.y());
    }
    static bool HasInk(TBSSGrid* g, int c, int r, TColor ink)
    {
        const QImage shot = Grab(g);
        const TRect rc = g->CellRect(c, r);
        const QColor want = ToQColor(ink);
        for (int y = rc.Top + 1; y < rc.Bottom - 1; ++y)
            for (int x = rc.Left + 1; x < rc.Right - 1; ++x) {
                const QColor got = shot.pixelColor(x + g->BorderWidth(), y + g->BorderWidth());
                if (std::abs(got.red() - want.red()) + std::abs(got.green() - want.green()) +
                        std::abs(got.blue() - want.blue()) <
                    60)
                    return true;
            }
        return false;
    }
};

} // namespace

TEST_F(FormTest, WindowFrame)
{
    EXPECT_EQ(form.windowTitle(), "Control de Brelom");
    // The program's icon, set once the window has painted.
    EXPECT_TRUE(WaitFor([&] { return !form.windowIcon().pixmap(32).isNull(); }));
    EXPECT_EQ(form.size(), QSize(664, 575));
    EXPECT_EQ(PixelOf(Grab(&form), 20, 560), RGBColor(54, 75, 86));
    EXPECT_EQ(form.PageControl1->geometry(), QRect(100, 74, 485, 391));
    EXPECT_EQ(form.Panel1->geometry(), QRect(0, 0, 664, 37));
    EXPECT_EQ(PixelOf(Grab(form.Panel1), 70, 30), RGBColor(54, 75, 86));
}

TEST_F(FormTest, StartsOnTheMicrophonePageWithTheClockReadOut)
{
    EXPECT_EQ(form.PageControl1->currentWidget(), form.VUMETRO);
    EXPECT_EQ(form.PageControl1->tabText(6), "VUMETRO");
    for (int p = 0; p < 6; ++p)
        EXPECT_EQ(form.PageControl1->tabText(p), QStringLiteral("D%1").arg(p));
    EXPECT_EQ(form.PageControl1->count(), 7);

    struct Text
    {
        TLabel* label;
        const char* text;
        int left;
    };
    const Text texts[] = {
        {form.Label3, "Tiempo actual:", 76}, {form.cx, "cx", 145},
        {form.Label1, "Hora(s)", 179},       {form.cy, "cy", 216},
        {form.Label2, "minutos", 249},
    };
    for (const Text& t : texts) {
        EXPECT_EQ(t.label->text(), t.text);
        EXPECT_EQ(t.label->parentWidget(), form.Panel1) << t.text;
        EXPECT_EQ(t.label->x(), t.left) << t.text;
        // The whole text fits its box in the font in use.
        EXPECT_GE(t.label->width(), t.label->fontMetrics().horizontalAdvance(t.label->text()))
            << t.text;
    }
    EXPECT_EQ(form.Label5->text(), "Temporizador 24 horas");
    EXPECT_EQ(form.Label6->text(), "Temporizador 24 horas");
    EXPECT_EQ(form.Label19->text(), "Practicas de tecnología");
    QString letters;
    for (TLabel* l : form.LetterLabels)
        letters += l->text();
    EXPECT_EQ(letters, "Temporizador");
}

TEST_F(FormTest, TitlesAreDrawnInTheirColours)
{
    const QImage shot = Grab(&form);
    auto anyPixel = [&](QRect box, const std::function<bool(QColor)>& wanted) {
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                if (wanted(shot.pixelColor(x, y)))
                    return true;
        return false;
    };
    auto near = [&](QRect box, QColor want) {
        return anyPixel(box, [&](QColor c) { return c == want; });
    };
    EXPECT_TRUE(near(QRect(356, 42, 229, 28), QColor(0, 255, 255))) << "aqua title";
    // The maroon shadow shows only at the edges of the strokes, blended with the ground.
    EXPECT_TRUE(anyPixel(QRect(354, 40, 229, 28), [](QColor c) {
        return c.red() > c.green() + 35 && c.red() > c.blue() + 30;
    })) << "maroon shadow";
    EXPECT_TRUE(near(QRect(7, 30, 29, 55), QColor(0, 255, 255))) << "letter T";
    EXPECT_TRUE(anyPixel(QRect(76, 11, 70, 13), [](QColor c) {
        return c.red() > 180 && c.green() > 180 && c.blue() < 120;
    })) << "yellow panel text";
}

TEST_F(FormTest, GridCaptionsAndTempOnlyInTheFirstGrid)
{
    for (int p = 0; p < 6; ++p) {
        TBSSGrid* g = form.ScheduleGrid(p);
        EXPECT_EQ(g->ColCount(), 13);
        EXPECT_EQ(g->RowCount(), 25);
        EXPECT_EQ(g->Cells(0, 0), p == 0 ? "TEMP" : "") << p;
        for (int i = 1; i <= 12; ++i)
            EXPECT_EQ(g->Cells(i, 0), QStringLiteral("%1 min").arg((i - 1) * 5)) << p;
        for (int j = 1; j <= 24; ++j)
            EXPECT_EQ(g->Cells(0, j), QStringLiteral("%1 h").arg(j - 1)) << p;
    }
    TBSSGrid* g1 = ShowPage(0);
    EXPECT_TRUE(HasInk(g1, 0, 0, clTeal));
    EXPECT_TRUE(HasInk(g1, 3, 0, clTeal));
    TBSSGrid* g2 = ShowPage(1);
    EXPECT_FALSE(HasInk(g2, 0, 0, clTeal));
    EXPECT_TRUE(HasInk(g2, 0, 5, clTeal));
}

TEST_F(FormTest, NoCellIsRedAtStart)
{
    for (int p = 0; p < 6; ++p) {
        TBSSGrid* g = ShowPage(p);
        const QImage shot = Grab(g);
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                ASSERT_NE(PixelOf(shot, x, y), clRed)
                    << "grid " << p + 1 << " at " << x << "," << y;
    }
}

TEST_F(FormTest, PressOnPageD2Column3Row9TogglesIndex632)
{
    TBSSGrid* g = ShowPage(2);
    Click(g, 3, 9);
    EXPECT_EQ(form.Schedule[632], 1);
    int marked = 0;
    for (int i = 0; i < TSchedule::Size; ++i)
        marked += form.Schedule[i];
    EXPECT_EQ(marked, 1);
    EXPECT_EQ(CellColour(g, 3, 9), clRed);

    Click(g, 3, 9);
    EXPECT_EQ(form.Schedule[632], 0);
    // Unmarked again, the focused cell shows the selection colour.
    EXPECT_EQ(CellColour(g, 3, 9), FromQColor(ToQColor(clHighlight)));
}

TEST_F(FormTest, MarkedCellsStayRedWhenFocusMovesOn)
{
    TBSSGrid* g = ShowPage(4);
    Click(g, 1, 1);
    Click(g, 12, 24);
    Click(g, 5, 5);
    Click(g, 5, 5);
    EXPECT_EQ(CellColour(g, 1, 1), clRed);
    EXPECT_EQ(CellColour(g, 12, 24), clRed);
    EXPECT_EQ(CellColour(g, 5, 5), FromQColor(ToQColor(clHighlight)));
    EXPECT_EQ(CellColour(g, 6, 6), clTeal);
    EXPECT_EQ(form.Schedule.Flag(4, 0, 0), 1);
    EXPECT_EQ(form.Schedule.Flag(4, 11, 23), 1);
    // Repainting the whole grid draws the same.
    const QImage before = Grab(g);
    g->Invalidate();
    EXPECT_EQ(Grab(g), before);
}

TEST_F(FormTest, DragTogglesEveryCellEnteredAndAgainOnTheWayBack)
{
    TBSSGrid* g = ShowPage(0);
    QTest::mousePress(g, Qt::LeftButton, Qt::NoModifier, Mid(g, 2, 4));
    MoveHeld(g, 3, 4);
    MoveHeld(g, 4, 4);
    MoveHeld(g, 5, 4);
    MoveHeld(g, 4, 4); // back over cell 4: toggled once more
    QTest::mouseRelease(g, Qt::LeftButton, Qt::NoModifier, Mid(g, 4, 4));
    const int expected[] = {0, 0, 1, 1, 0, 1, 0};
    for (int col = 1; col <= 6; ++col)
        EXPECT_EQ(form.Schedule.Flag(0, col - 1, 3), expected[col]) << "column " << col;
    EXPECT_EQ(CellColour(g, 5, 4), clRed);
    EXPECT_EQ(CellColour(g, 3, 4), clRed);
}

TEST_F(FormTest, ArrowKeysToggleEachCellLandedOn)
{
    TBSSGrid* g = ShowPage(5);
    g->setFocus();
    ASSERT_TRUE(WaitFor([&] { return g->hasFocus(); }));
    QTest::keyClick(g, Qt::Key_Down);  // (1,2)
    QTest::keyClick(g, Qt::Key_Right); // (2,2)
    QTest::keyClick(g, Qt::Key_Up);    // (2,1)
    QTest::keyClick(g, Qt::Key_Up);    // stays: no toggle
    EXPECT_EQ(form.Schedule.Flag(5, 0, 1), 1);
    EXPECT_EQ(form.Schedule.Flag(5, 1, 1), 1);
    EXPECT_EQ(form.Schedule.Flag(5, 1, 0), 1);
    EXPECT_EQ(form.Schedule.Flag(5, 0, 0), 0);
    EXPECT_EQ(CellColour(g, 1, 2), clRed);
}

TEST_F(FormTest, RightButtonCaptionsAndDoubleClick)
{
    TBSSGrid* g = ShowPage(1);
    Click(g, 4, 4, Qt::RightButton);
    Click(g, 0, 4);
    Click(g, 4, 0);
    EXPECT_EQ(form.Schedule, TSchedule{});

    // A double click: press, release, double click, release toggles once.
    QTest::mousePress(g, Qt::LeftButton, Qt::NoModifier, Mid(g, 6, 6));
    QTest::mouseRelease(g, Qt::LeftButton, Qt::NoModifier, Mid(g, 6, 6));
    QMouseEvent dbl(QEvent::MouseButtonDblClick, Mid(g, 6, 6), g->mapToGlobal(Mid(g, 6, 6)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(g, &dbl);
    QTest::mouseRelease(g, Qt::LeftButton, Qt::NoModifier, Mid(g, 6, 6));
    EXPECT_EQ(form.Schedule.Flag(1, 5, 5), 1);
}

TEST_F(FormTest, EachGridEditsItsOwnPlane)
{
    for (int p = 0; p < 6; ++p) {
        TBSSGrid* g = ShowPage(p);
        Click(g, p + 1, p + 2);
    }
    for (int p = 0; p < 6; ++p)
        for (int q = 0; q < 6; ++q)
            EXPECT_EQ(form.Schedule.Flag(q, p, p + 1), p == q ? 1 : 0) << p << "/" << q;
}

TEST_F(FormTest, WideningTheWindowWidensOnlyThePanel)
{
    const QRect page = form.PageControl1->geometry();
    const QRect title = form.Label5->geometry();
    form.resize(900, 575);
    EXPECT_TRUE(WaitFor([&] { return form.Panel1->width() == 900; }));
    EXPECT_EQ(form.Panel1->height(), 37);
    EXPECT_EQ(form.PageControl1->geometry(), page);
    EXPECT_EQ(form.Label5->geometry(), title);
}

TEST_F(FormTest, HiddenSpareGridsAreWiredToTheLastPlane)
{
    EXPECT_FALSE(form.TabSheet1->isVisible());
    EXPECT_FALSE(form.BSSGrid9->isVisible());
    bool canSelect = true;
    form.BSSGrid7->OnSelectCell(form.BSSGrid7, 2, 3, canSelect);
    EXPECT_EQ(form.Schedule.Flag(5, 1, 2), 1);
}

TEST_F(FormTest, KeyboardOrderThroughTheTopPanel)
{
    form.activateWindow();
    form.LuzTimer->setFocus();
    ASSERT_TRUE(WaitFor([&] { return form.LuzTimer->hasFocus(); }));
    const QWidget* expected[] = {form.Velocidad, form.JOn,     form.LoadGrid,
                                 form.SaveGrid,  form.BitBtn1, form.TrackBar1};
    for (const QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
    // The page control comes before the panel: going back from LuzTimer lands in it.
    form.LuzTimer->setFocus();
    QTest::keyClick(form.LuzTimer, Qt::Key_Backtab);
    QWidget* back = QApplication::focusWidget();
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back == form.PageControl1 || form.PageControl1->isAncestorOf(back))
        << back->objectName().toStdString();
    EXPECT_FALSE(form.SpeedButton1->focusPolicy() & Qt::TabFocus)
        << "a speed button takes no focus";
}

// "Test/Normal" and the slider below it overlap in their positions: at every slider position the
// check box square and the slider's handle are both seen whole, and the slider's tick marks
// stand out from the panel.
TEST(UnitVardo, TestNormalSquareAndSliderHandleAreBothSeen)
{
    TFormVardo form;
    ShowAndWait(&form);
    EXPECT_EQ(form.Velocidad->geometry(), QRect(376, 1, 81, 17));
    EXPECT_EQ(form.TrackBar1->geometry(), QRect(368, 14, 121, 19));
    QStyleOptionButton box;
    box.initFrom(form.Velocidad);
    const QRect square = form.Velocidad->style()
                             ->subElementRect(QStyle::SE_CheckBoxIndicator, &box, form.Velocidad)
                             .translated(form.Velocidad->pos());
    ASSERT_FALSE(square.isEmpty());
    const TColor panel = RGBColor(54, 75, 86);
    for (int value = form.TrackBar1->minimum(); value <= form.TrackBar1->maximum(); ++value) {
        form.TrackBar1->setValue(value);
        QStyleOptionSlider option;
        option.initFrom(form.TrackBar1);
        option.orientation = Qt::Horizontal;
        option.minimum = form.TrackBar1->minimum();
        option.maximum = form.TrackBar1->maximum();
        option.sliderPosition = value;
        option.sliderValue = value;
        option.tickPosition = form.TrackBar1->tickPosition();
        const QRect handle = form.TrackBar1->style()
                                 ->subControlRect(QStyle::CC_Slider, &option,
                                                  QStyle::SC_SliderHandle, form.TrackBar1)
                                 .translated(form.TrackBar1->pos());
        EXPECT_FALSE(handle.intersects(square)) << "position " << value;
        EXPECT_GE(handle.height(), 9) << "position " << value;
        const QImage shot = Grab(form.Panel1);
        // The square's inside (its base colour, white) and its frame, left and bottom.
        const QPoint mid = square.center();
        EXPECT_EQ(PixelOf(shot, mid.x(), mid.y()), clWhite) << "position " << value;
        EXPECT_NE(PixelOf(shot, square.left(), mid.y()), panel) << "position " << value;
        EXPECT_NE(PixelOf(shot, mid.x(), square.bottom()), panel) << "position " << value;
        // The handle: a light face inside a dark edge, over the panel.
        const QPoint h = handle.center();
        const QColor face = ToQColor(PixelOf(shot, h.x(), h.y()));
        EXPECT_GT(face.lightness(), 150) << "position " << value;
        EXPECT_NE(PixelOf(shot, handle.right(), h.y()), PixelOf(shot, h.x(), h.y()))
            << "position " << value;
        EXPECT_NE(PixelOf(shot, handle.right() + 2, h.y()), PixelOf(shot, h.x(), h.y()))
            << "position " << value;
    }
    // Tick marks below the groove, one per value, light on the dark panel; between them the
    // panel shows.
    const QImage shot = Grab(form.Panel1);
    const int tickY = form.TrackBar1->y() + form.TrackBar1->height() - 4;
    int ticks = 0;
    bool onTick = false;
    // From the first handle position's middle to the last's.
    const int half = TTrackBarStyle::HandleWidth / 2;
    for (int x = form.TrackBar1->x() + half; x <= form.TrackBar1->geometry().right() - half; ++x) {
        const QColor c = ToQColor(PixelOf(shot, x, tickY));
        const bool light = c.lightness() - ToQColor(panel).lightness() > 100;
        ticks += light && !onTick ? 1 : 0;
        onTick = light;
    }
    EXPECT_EQ(ticks, form.TrackBar1->maximum() - form.TrackBar1->minimum() + 1);
}
