#include "BSSGrid.h"

TBSSGrid::TBSSGrid(QWidget* parent) : TStringGrid(parent)
{
    SetColor(clSilver);
    SetCellstyle(csNone);
}

void TBSSGrid::SetCellstyle(Tcellstyle style)
{
    if (style != FCellstyle)
        FCellstyle = style;
}

void TBSSGrid::DrawCell(int col, int row, const TRect& rect, TGridDrawState state)
{
    TStringGrid::DrawCell(col, row, rect, state);
    // Both edge styles use the same colours in the same places, so they look alike.
    if (FCellstyle == csRaised || FCellstyle == csLowered)
        DrawCellEdges(rect, clWindow, clBtnShadow);
}

void TBSSGrid::DrawCellEdges(const TRect& r, TColor light, TColor dark)
{
    TCanvas* c = Canvas();
    c->Pen.Color = light;
    c->Polyline(
        {QPoint(r.Left + 1, r.Bottom - 1), QPoint(r.Left + 1, r.Top), QPoint(r.Right, r.Top)});
    c->Pen.Color = dark;
    c->Polyline(
        {QPoint(r.Left + 1, r.Bottom - 1), QPoint(r.Right, r.Bottom - 1), QPoint(r.Right, r.Top)});
}
