// The string grid: which input raises the select-cell event, what is repainted, what is shown.

#include "platform/Fonts.h"
#include "platform/StringGrid.h"
#include "tests/support/TestSupport.h"

#include <QAccessible>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Cell = std::pair<int, int>;

struct GridTest : ::testing::Test
{
    TStringGrid grid;
    std::vector<Cell> selected;
    std::vector<Cell> drawn;

    void SetUp() override
    {
        grid.SetColCount(5);
        grid.SetRowCount(4);
        grid.SetDefaultColWidth(30);
        grid.SetDefaultRowHeight(12);
        grid.SetColor(clTeal);
        grid.SetOptions(grid.Options() | goDrawFocusSelected);
        grid.resize(200, 80);
        grid.OnSelectCell = [this](QObject* sender, int c, int r, bool&) {
            EXPECT_EQ(sender, &grid);
            selected.emplace_back(c, r);
        };
        grid.OnDrawCell = [this](QObject*, int c, int r, TRect, TGridDrawState) {
            drawn.emplace_back(c, r);
        };
        ShowAndWait(&grid);
        QApplication::processEvents();
        selected.clear();
        drawn.clear();
    }
    // Widget coordinates of the middle of a cell.
    QPoint Mid(int c, int r) const
    {
        const TRect rc = grid.CellRect(c, r);
        return QPoint(rc.Left + rc.Width() / 2, rc.Top + rc.Height() / 2) +
               QPoint(grid.BorderWidth(), grid.BorderWidth());
    }
    void Press(int c, int r, Qt::MouseButton b = Qt::LeftButton)
    {
        QTest::mousePress(&grid, b, Qt::NoModifier, Mid(c, r));
    }
    void Release(int c, int r, Qt::MouseButton b = Qt::LeftButton)
    {
        QTest::mouseRelease(&grid, b, Qt::NoModifier, Mid(c, r));
    }
    void MoveHeld(int c, int r)
    {
        QMouseEvent move(QEvent::MouseMove, Mid(c, r), grid.mapToGlobal(Mid(c, r)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&grid, &move);
    }
};

} // namespace

TEST_F(GridTest, CellRectFollowsWidthsAndLines)
{
    EXPECT_EQ(grid.CellRect(0, 0), Rect(0, 0, 30, 12));
    EXPECT_EQ(grid.CellRect(2, 3), Rect(62, 39, 92, 51));
    EXPECT_TRUE(grid.CellRect(5, 0).IsEmpty());
    EXPECT_EQ(grid.Col(), 1);
    EXPECT_EQ(grid.Row(), 1);
}

TEST_F(GridTest, LeftPressSelectsAlsoTheFocusedCell)
{
    Press(2, 2);
    Release(2, 2);
    Press(2, 2);
    Release(2, 2);
    EXPECT_EQ(selected, (std::vector<Cell>{{2, 2}, {2, 2}}));
    EXPECT_EQ(grid.Col(), 2);
    EXPECT_EQ(grid.Row(), 2);
}

TEST_F(GridTest, RightButtonAndCaptionCellsSelectNothing)
{
    Press(2, 2, Qt::RightButton);
    Release(2, 2, Qt::RightButton);
    Press(0, 2);
    Release(0, 2);
    Press(3, 0);
    Release(3, 0);
    EXPECT_TRUE(selected.empty());
    EXPECT_EQ(grid.Col(), 1);
}

TEST_F(GridTest, DragSelectsEachNewCellEntered)
{
    Press(1, 1);
    MoveHeld(1, 1);
    MoveHeld(2, 1);
    MoveHeld(2, 1);
    MoveHeld(3, 1);
    MoveHeld(2, 1);
    MoveHeld(0, 1); // caption column: no move
    Release(2, 1);
    MoveHeld(4, 1); // button released: no move
    EXPECT_EQ(selected, (std::vector<Cell>{{1, 1}, {2, 1}, {3, 1}, {2, 1}}));
}

TEST_F(GridTest, DoubleClickSelectsOnce)
{
    // What a widget receives from a real double click: press, release, double click, release.
    Press(3, 2);
    Release(3, 2);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, Mid(3, 2), grid.mapToGlobal(Mid(3, 2)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&grid, &dbl);
    Release(3, 2);
    EXPECT_EQ(selected, (std::vector<Cell>{{3, 2}}));
}

// A press, or the second press of a double click, on a caption cell starts no drag: moving on
// into the cells with the button held selects nothing. Sent through the window as the window
// system delivers them, so that the toolkit itself makes the second press a double click.
TEST_F(GridTest, DragFromACaptionCellSelectsNothing)
{
    struct Case
    {
        const char* name;
        int presses;
    };
    for (const Case& c : {Case{"single press", 1}, Case{"double click", 2}}) {
        selected.clear();
        QWindow* window = grid.windowHandle();
        ASSERT_NE(window, nullptr);
        const QPoint caption = Mid(0, 2);
        const QPointF global = window->mapToGlobal(caption);
        // Far from any earlier input, and the presses well inside the double-click interval.
        static int time = 100000;
        time += 10000;
        int dblClicks = 0;
        struct Counter : QObject
        {
            int* count;
            explicit Counter(int* n) : count(n) {}
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::MouseButtonDblClick)
                    ++*count;
                return false;
            }
        } counter(&dblClicks);
        grid.installEventFilter(&counter);
        for (int i = 0; i < c.presses; ++i) {
            if (i > 0)
                qt_handleMouseEvent(window, caption, global, Qt::NoButton, Qt::LeftButton,
                                    QEvent::MouseButtonRelease, Qt::NoModifier, time += 5);
            qt_handleMouseEvent(window, caption, global, Qt::LeftButton, Qt::LeftButton,
                                QEvent::MouseButtonPress, Qt::NoModifier, time += 5);
        }
        for (int col : {1, 2, 3}) {
            const QPoint p = Mid(col, 2);
            qt_handleMouseEvent(window, p, window->mapToGlobal(p), Qt::LeftButton, Qt::NoButton,
                                QEvent::MouseMove, Qt::NoModifier, time += 5);
        }
        qt_handleMouseEvent(window, Mid(3, 2), window->mapToGlobal(Mid(3, 2)), Qt::NoButton,
                            Qt::LeftButton, QEvent::MouseButtonRelease, Qt::NoModifier, time += 5);
        QApplication::processEvents();
        grid.removeEventFilter(&counter);
        EXPECT_EQ(dblClicks, c.presses - 1) << c.name;
        EXPECT_TRUE(selected.empty()) << c.name << ": " << selected.size() << " cells selected";
    }
}

// The same double click on a cell keeps the drag going.
TEST_F(GridTest, DragAfterADoubleClickOnACellSelectsTheCellsEntered)
{
    QWindow* window = grid.windowHandle();
    ASSERT_NE(window, nullptr);
    int time = 500000;
    auto send = [&](QPoint p, Qt::MouseButtons held, Qt::MouseButton button, QEvent::Type type) {
        qt_handleMouseEvent(window, p, window->mapToGlobal(p), held, button, type, Qt::NoModifier,
                            time += 5);
    };
    send(Mid(1, 2), Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    send(Mid(1, 2), Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
    send(Mid(1, 2), Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    send(Mid(2, 2), Qt::LeftButton, Qt::NoButton, QEvent::MouseMove);
    send(Mid(2, 2), Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
    QApplication::processEvents();
    EXPECT_EQ(selected, (std::vector<Cell>{{1, 2}, {2, 2}}));
}

TEST_F(GridTest, ArrowKeysSelectEachCellLandedOn)
{
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_Right);
    QTest::keyClick(&grid, Qt::Key_Down);
    QTest::keyClick(&grid, Qt::Key_Left);
    QTest::keyClick(&grid, Qt::Key_Left); // at the first non-fixed column: no move
    QTest::keyClick(&grid, Qt::Key_Up);
    QTest::keyClick(&grid, Qt::Key_End);
    EXPECT_EQ(selected, (std::vector<Cell>{{2, 1}, {2, 2}, {1, 2}, {1, 1}, {4, 1}}));
}

TEST_F(GridTest, RefusedSelectionKeepsTheFocusedCell)
{
    grid.OnSelectCell = [](QObject*, int, int, bool& canSelect) { canSelect = false; };
    Press(3, 3);
    EXPECT_EQ(grid.Col(), 1);
    EXPECT_EQ(grid.Row(), 1);
}

TEST_F(GridTest, MoveRepaintsTheCellLeftAndTheCellEntered)
{
    Press(3, 2);
    QApplication::processEvents();
    EXPECT_NE(std::find(drawn.begin(), drawn.end(), Cell{1, 1}), drawn.end());
    EXPECT_NE(std::find(drawn.begin(), drawn.end(), Cell{3, 2}), drawn.end());
    EXPECT_EQ(std::find(drawn.begin(), drawn.end(), Cell{4, 3}), drawn.end());
}

TEST_F(GridTest, FocusedCellShowsSelectionColourOthersTheGridColour)
{
    Press(2, 2);
    const QImage shot = Grab(&grid);
    const TRect sel = grid.CellRect(2, 2);
    const int b = grid.BorderWidth();
    EXPECT_EQ(PixelOf(shot, sel.Left + b + 5, sel.Top + b + 5), FromQColor(ToQColor(clHighlight)));
    const TRect other = grid.CellRect(3, 3);
    EXPECT_EQ(PixelOf(shot, other.Left + b + 5, other.Top + b + 5), clTeal);
    const TRect fixed = grid.CellRect(0, 2);
    EXPECT_EQ(PixelOf(shot, fixed.Left + b + 5, fixed.Top + b + 5),
              FromQColor(ToQColor(clBtnFace)));
}

TEST_F(GridTest, DrawCellEventPaintsOverTheGridsOwnDrawing)
{
    grid.OnDrawCell = [this](QObject*, int c, int r, TRect rect, TGridDrawState) {
        if (c == 4 && r == 3) {
            grid.Canvas()->Brush.Color = clRed;
            grid.Canvas()->FillRect(rect);
        }
    };
    grid.Invalidate();
    const TRect rc = grid.CellRect(4, 3);
    const int b = grid.BorderWidth();
    EXPECT_EQ(PixelOf(Grab(&grid), rc.Left + b, rc.Top + b), clRed);
}

TEST_F(GridTest, CellTextIsDrawnInTheCell)
{
    grid.SetCellFont(MakeFont("Liberation Sans", 11), clBlack);
    grid.SetCells(0, 1, QStringLiteral("WWW"));
    EXPECT_EQ(grid.Cells(0, 1), "WWW");
    const QImage shot = Grab(&grid);
    const TRect rc = grid.CellRect(0, 1);
    const int b = grid.BorderWidth();
    int dark = 0;
    for (int y = rc.Top; y < rc.Bottom; ++y)
        for (int x = rc.Left; x < rc.Right; ++x)
            dark += qGray(shot.pixel(x + b, y + b)) < 100;
    EXPECT_GT(dark, 5);
}

TEST_F(GridTest, ExceptionInSelectHandlerIsReportedAndGridGoesOn)
{
    ErrorRecorder errors;
    grid.OnSelectCell = [](QObject*, int c, int, bool&) {
        if (c == 2)
            throw std::runtime_error("select failed");
    };
    Press(2, 2);
    Release(2, 2);
    ASSERT_EQ(errors.Messages.size(), 1);
    EXPECT_EQ(errors.Messages[0], "select failed");
    Press(3, 2);
    EXPECT_EQ(grid.Col(), 3);
}

TEST_F(GridTest, DescriptionIsTheFocusedCellAsTheOwnerSaysIt)
{
    const auto description = [this] {
        return QAccessible::queryAccessibleInterface(&grid)->text(QAccessible::Description);
    };
    grid.SetCells(2, 2, "dos");
    Press(2, 2);
    EXPECT_EQ(description(), "dos");
    // Asked afresh each time: the owner's answer follows its own data without a move.
    QString mark = "-";
    grid.OnDescribeCell = [&](QObject*, int c, int r, QString& text) {
        text += QStringLiteral(" %1,%2 %3").arg(c).arg(r).arg(mark);
    };
    mark = "+";
    EXPECT_EQ(description(), "dos 2,2 +");
    QTest::keyClick(&grid, Qt::Key_Up);
    EXPECT_EQ(description(), " 2,1 +");
    // A failing owner is reported, not thrown into the screen reader's bridge.
    const ErrorRecorder errors;
    grid.OnDescribeCell = [](QObject*, int, int, QString&) { throw std::runtime_error("roto"); };
    EXPECT_EQ(description(), "");
    EXPECT_EQ(errors.Messages, QStringList{"roto"});
}
