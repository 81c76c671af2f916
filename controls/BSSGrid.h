#pragma once
// TBSSGrid: the string grid with a cell edge style.
//
// After the grid has drawn a cell (its text and OnDrawCell), Cellstyle csRaised or csLowered
// draws a one-pixel edge: the window colour on the left (x = L+1) and top (y = T), the
// button-shadow colour on the bottom (y = B-1) and right (x = R, on the grid line). csNone
// adds nothing, so the grid draws exactly like the plain string grid. The background is silver
// after construction.

#include "platform/StringGrid.h"

#include <cstdint>

enum Tcellstyle : std::uint8_t
{
    csRaised = 0,
    csLowered = 1,
    csNone = 2
};

class TBSSGrid : public TStringGrid
{
    Q_OBJECT
public:
    explicit TBSSGrid(QWidget* parent = nullptr);

    Tcellstyle Cellstyle() const { return FCellstyle; }
    // Stores the style; requests no repaint: the new edges appear when the cells are next
    // repainted for another reason.
    void SetCellstyle(Tcellstyle style);

protected:
    void DrawCell(int col, int row, const TRect& rect, TGridDrawState state) override;

private:
    void DrawCellEdges(const TRect& rect, TColor light, TColor dark);

    Tcellstyle FCellstyle = csNone;
};
