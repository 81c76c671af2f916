// TBSSGrid: defaults and the cell edge style.

#include "controls/BSSGrid.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

struct BSSGridTest : ::testing::Test
{
    TBSSGrid grid;
    void SetUp() override
    {
        grid.SetColCount(4);
        grid.SetRowCount(4);
        grid.SetDefaultColWidth(35);
        grid.SetDefaultRowHeight(13);
        grid.SetColor(clTeal);
        grid.resize(160, 70);
        // The event paints the whole cell, so the edges are seen to be drawn after it.
        grid.OnDrawCell = [this](QObject*, int c, int r, TRect rect, TGridDrawState) {
            if (c == 2 && r == 2) {
                grid.Canvas()->Brush.Color = clRed;
                grid.Canvas()->FillRect(rect);
            }
        };
        ShowAndWait(&grid);
    }
    // Client pixel of the grid as shown.
    TColor At(const QImage& shot, int x, int y) const
    {
        return PixelOf(shot, x + grid.BorderWidth(), y + grid.BorderWidth());
    }
};

} // namespace

TEST(BSSGridDefaults, NewGridIsSilverWithoutEdges)
{
    TBSSGrid grid;
    EXPECT_EQ(grid.Color(), clSilver);
    EXPECT_EQ(grid.Cellstyle(), csNone);
    grid.resize(400, 200);
    ShowAndWait(&grid);
    const TRect r = grid.CellRect(2, 2);
    EXPECT_EQ(PixelOf(Grab(&grid), r.Left + 5 + grid.BorderWidth(), r.Top + 5 + grid.BorderWidth()),
              clSilver);
}

TEST_F(BSSGridTest, NoneDrawsExactlyLikeThePlainGrid)
{
    TStringGrid plain;
    plain.SetColCount(4);
    plain.SetRowCount(4);
    plain.SetDefaultColWidth(35);
    plain.SetDefaultRowHeight(13);
    plain.SetColor(clTeal);
    plain.resize(160, 70);
    plain.OnDrawCell = [&](QObject*, int c, int r, TRect rect, TGridDrawState) {
        if (c == 2 && r == 2) {
            plain.Canvas()->Brush.Color = clRed;
            plain.Canvas()->FillRect(rect);
        }
    };
    ShowAndWait(&plain);
    EXPECT_EQ(Grab(&grid), Grab(&plain));
}

TEST_F(BSSGridTest, RaisedEdgesAreDrawnAfterTheDrawCellEvent)
{
    grid.SetCellstyle(csRaised);
    grid.Invalidate();
    const QImage shot = Grab(&grid);
    const TRect r = grid.CellRect(2, 2); // (72, 28, 107, 41)
    const TColor light = FromQColor(ToQColor(clWindow));
    const TColor dark = FromQColor(ToQColor(clBtnShadow));
    struct Probe
    {
        int x, y;
        TColor expected;
        const char* what;
    };
    const Probe probes[] = {
        {r.Left + 1, r.Top + 5, light, "left edge at L+1"},
        {r.Left + 1, r.Top, light, "top left corner"},
        {r.Left + 10, r.Top, light, "top edge"},
        {r.Right - 1, r.Top, light, "top edge's last pixel"},
        {r.Left + 10, r.Bottom - 1, dark, "bottom edge"},
        {r.Left + 1, r.Bottom - 1, dark, "bottom edge starts at L+1"},
        {r.Right, r.Top + 5, dark, "right edge on the grid line"},
        {r.Right, r.Bottom - 1, dark, "bottom right corner"},
        {r.Left, r.Top + 5, clRed, "column L keeps the event's fill"},
        {r.Left + 10, r.Top + 5, clRed, "inside keeps the event's fill"},
    };
    for (const Probe& p : probes)
        EXPECT_EQ(At(shot, p.x, p.y), p.expected) << p.what;
}

TEST_F(BSSGridTest, LoweredLooksLikeRaised)
{
    grid.SetCellstyle(csRaised);
    grid.Invalidate();
    const QImage raised = Grab(&grid);
    grid.SetCellstyle(csLowered);
    grid.Invalidate();
    EXPECT_EQ(Grab(&grid), raised);
}

TEST_F(BSSGridTest, NewStyleShowsOnlyWhenCellsAreRepainted)
{
    const QImage before = Grab(&grid);
    grid.SetCellstyle(csRaised);
    QApplication::processEvents();
    EXPECT_EQ(Grab(&grid), before);
    grid.InvalidateCell(2, 2);
    const TRect r = grid.CellRect(2, 2);
    EXPECT_EQ(At(Grab(&grid), r.Left + 1, r.Top + 5), FromQColor(ToQColor(clWindow)));
}
