#include "StringGrid.h"

#include "core/ErrorReport.h"

#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

namespace {

// The grid as a screen reader sees it: its description is the focused cell, asked for afresh
// each time, so that it follows an owner's data (the marks of a schedule) without being told.
class TStringGridAccessible : public QAccessibleWidget
{
public:
    explicit TStringGridAccessible(TStringGrid* grid) : QAccessibleWidget(grid) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Description)
            return static_cast<TStringGrid*>(object())->FocusedCellDescription();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* StringGridAccessibleFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String(TStringGrid::staticMetaObject.className()))
        return nullptr;
    return new TStringGridAccessible(static_cast<TStringGrid*>(object));
}

} // namespace

TStringGrid::TStringGrid(QWidget* parent) : TSurfaceWidget(parent)
{
    // Before the first interface is asked for: Qt keeps the interface it made for an object.
    [[maybe_unused]] static const bool factoryInstalled = [] {
        QAccessible::installFactory(StringGridAccessibleFactory);
        return true;
    }();
    setFocusPolicy(Qt::StrongFocus);
    SetBorderWidth(2);
    FCellFont = font();
    ResizeCells();
}

void TStringGrid::ResizeCells()
{
    FCells.assign(size_t(FColCount) * size_t(FRowCount), QString());
    FCol = std::clamp(FCol, FFixedCols, std::max(FFixedCols, FColCount - 1));
    FRow = std::clamp(FRow, FFixedRows, std::max(FFixedRows, FRowCount - 1));
    Invalidate();
}

void TStringGrid::SetColCount(int n)
{
    n = std::max(1, n);
    if (n == FColCount)
        return;
    FColCount = n;
    FFixedCols = std::min(FFixedCols, n - 1);
    ResizeCells();
}

void TStringGrid::SetRowCount(int n)
{
    n = std::max(1, n);
    if (n == FRowCount)
        return;
    FRowCount = n;
    FFixedRows = std::min(FFixedRows, n - 1);
    ResizeCells();
}

void TStringGrid::SetFixedCols(int n)
{
    n = std::clamp(n, 0, FColCount - 1);
    if (n == FFixedCols)
        return;
    FFixedCols = n;
    FCol = std::max(FCol, FFixedCols);
    Invalidate();
}

void TStringGrid::SetFixedRows(int n)
{
    n = std::clamp(n, 0, FRowCount - 1);
    if (n == FFixedRows)
        return;
    FFixedRows = n;
    FRow = std::max(FRow, FFixedRows);
    Invalidate();
}

void TStringGrid::SetDefaultColWidth(int w)
{
    if (w == FDefaultColWidth)
        return;
    FDefaultColWidth = std::max(0, w);
    Invalidate();
}

void TStringGrid::SetDefaultRowHeight(int h)
{
    if (h == FDefaultRowHeight)
        return;
    FDefaultRowHeight = std::max(0, h);
    Invalidate();
}

void TStringGrid::SetOptions(TGridOptions o)
{
    if (o == FOptions)
        return;
    FOptions = o;
    Invalidate();
}

void TStringGrid::SetColor(TColor c)
{
    if (c == FColor)
        return;
    FColor = c;
    Invalidate();
}

void TStringGrid::SetFixedColor(TColor c)
{
    if (c == FFixedColor)
        return;
    FFixedColor = c;
    Invalidate();
}

void TStringGrid::SetCellFont(const QFont& font, TColor color)
{
    FCellFont = font;
    FFontColor = color;
    Invalidate();
}

QString TStringGrid::Cells(int col, int row) const
{
    if (col < 0 || row < 0 || col >= FColCount || row >= FRowCount)
        return QString();
    return FCells[size_t(row) * size_t(FColCount) + size_t(col)];
}

void TStringGrid::SetCells(int col, int row, const QString& text)
{
    if (col < 0 || row < 0 || col >= FColCount || row >= FRowCount)
        return;
    FCells[size_t(row) * size_t(FColCount) + size_t(col)] = text;
    InvalidateCell(col, row);
    if (col == FCol && row == FRow)
        AnnounceFocusedCell();
}

QString TStringGrid::FocusedCellDescription()
{
    QString text = Cells(FCol, FRow);
    // Asked for by the screen reader's bridge, a Qt frame.
    if (OnDescribeCell)
        Guard(this, [&] { OnDescribeCell(this, FCol, FRow, text); });
    return text;
}

void TStringGrid::AnnounceFocusedCell()
{
    QAccessibleEvent event(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

int TStringGrid::ColLeft(int col) const
{
    return col * (FDefaultColWidth + FGridLineWidth);
}

int TStringGrid::RowTop(int row) const
{
    return row * (FDefaultRowHeight + FGridLineWidth);
}

TRect TStringGrid::CellRect(int col, int row) const
{
    if (col < 0 || row < 0 || col >= FColCount || row >= FRowCount)
        return TRect{};
    const int l = ColLeft(col);
    const int t = RowTop(row);
    return Rect(l, t, l + FDefaultColWidth, t + FDefaultRowHeight);
}

bool TStringGrid::MouseToCell(QPoint client, int& col, int& row) const
{
    if (client.x() < 0 || client.y() < 0)
        return false;
    const int c = client.x() / (FDefaultColWidth + FGridLineWidth);
    const int r = client.y() / (FDefaultRowHeight + FGridLineWidth);
    if (c >= FColCount || r >= FRowCount)
        return false;
    col = c;
    row = r;
    return true;
}

void TStringGrid::InvalidateCell(int col, int row)
{
    const TRect r = CellRect(col, row);
    if (!r.IsEmpty())
        Invalidate(r);
}

QSize TStringGrid::sizeHint() const
{
    return QSize(ColLeft(FColCount) + 2 * BorderWidth(), RowTop(FRowCount) + 2 * BorderWidth());
}

void TStringGrid::DrawCell(int col, int row, const TRect& rect, TGridDrawState state)
{
    const QString text = Cells(col, row);
    if (!text.isEmpty())
        Canvas()->TextRect(rect, rect.Left + 2, rect.Top + 2, text);
    if (OnDrawCell)
        OnDrawCell(this, col, row, rect, state);
}

bool TStringGrid::SelectCell(int col, int row)
{
    bool canSelect = true;
    if (OnSelectCell)
        OnSelectCell(this, col, row, canSelect);
    return canSelect;
}

void TStringGrid::PaintLines(const QRect& clip)
{
    TCanvas* c = Canvas();
    const TColor fixedLine = clBlack;
    const TColor normalLine = FColor == clSilver ? clGray : clSilver;
    const int lw = FGridLineWidth;
    if (lw <= 0)
        return;
    const int right = ColLeft(FColCount);
    const int bottom = RowTop(FRowCount);
    for (int col = 0; col < FColCount; ++col) {
        const int x = ColLeft(col) + FDefaultColWidth;
        if (x > clip.right() + 1 || x + lw < clip.left())
            continue;
        for (int row = 0; row < FRowCount; ++row) {
            const bool fixed = col < FFixedCols || row < FFixedRows;
            if (!(FOptions & (fixed ? goFixedVertLine : goVertLine)))
                continue;
            c->Brush = TBrush{fixed ? fixedLine : normalLine, bsSolid};
            c->FillRect(Rect(x, RowTop(row), x + lw, std::min(bottom, RowTop(row + 1))));
        }
    }
    for (int row = 0; row < FRowCount; ++row) {
        const int y = RowTop(row) + FDefaultRowHeight;
        if (y > clip.bottom() + 1 || y + lw < clip.top())
            continue;
        for (int col = 0; col < FColCount; ++col) {
            const bool fixed = col < FFixedCols || row < FFixedRows;
            if (!(FOptions & (fixed ? goFixedHorzLine : goHorzLine)))
                continue;
            c->Brush = TBrush{fixed ? fixedLine : normalLine, bsSolid};
            c->FillRect(Rect(ColLeft(col), y, std::min(right, ColLeft(col + 1)), y + lw));
        }
    }
}

void TStringGrid::Paint()
{
    TCanvas* c = Canvas();
    const QRect clip = c->PaintClipBounds();

    // The area beyond the last column and row shows the grid's colour.
    c->Brush = TBrush{FColor, bsSolid};
    const TRect client = ClientRect();
    c->FillRect(Rect(ColLeft(FColCount), 0, client.Right, client.Bottom));
    c->FillRect(Rect(0, RowTop(FRowCount), client.Right, client.Bottom));

    PaintLines(clip);

    for (int row = 0; row < FRowCount; ++row) {
        for (int col = 0; col < FColCount; ++col) {
            const TRect r = CellRect(col, row);
            // The cell and the grid line pixels to its right and below it, which an owner's
            // drawing may reach.
            const QRect area = QRect(r.Left, r.Top, r.Width() + 1, r.Height() + 1);
            if (!area.intersects(clip))
                continue;
            TGridDrawState state = 0;
            const bool fixed = col < FFixedCols || row < FFixedRows;
            if (fixed)
                state |= gdFixed;
            if (!fixed && col == FCol && row == FRow) {
                state |= gdSelected;
                if (hasFocus())
                    state |= gdFocused;
            }
            const bool highlighted =
                (state & gdSelected) && (!(state & gdFocused) || (FOptions & goDrawFocusSelected));
            c->SetPaintClip(area);
            c->Brush = TBrush{fixed ? FFixedColor : highlighted ? clHighlight : FColor, bsSolid};
            c->Font = FCellFont;
            c->FontColor = highlighted ? clHighlightText : FFontColor;
            c->FillRect(r);
            DrawCell(col, row, r, state);
            if (fixed) {
                // Raised inner edge of the caption cells.
                c->Pen = TPen{clBtnHighlight, 1, psSolid};
                c->Polyline(
                    {QPoint(r.Left, r.Bottom - 1), QPoint(r.Left, r.Top), QPoint(r.Right, r.Top)});
                c->Pen = TPen{clBtnShadow, 1, psSolid};
                c->Polyline({QPoint(r.Left, r.Bottom - 1), QPoint(r.Right - 1, r.Bottom - 1),
                             QPoint(r.Right - 1, r.Top - 1)});
            }
            c->SetPaintClip(QRect());
        }
    }

    if (hasFocus()) {
        const TRect r = CellRect(FCol, FRow);
        if (r.ToQRect().intersects(clip))
            c->DrawFocusRect(r);
    }
}

void TStringGrid::MoveCurrent(int col, int row)
{
    if (col < FFixedCols || row < FFixedRows || col >= FColCount || row >= FRowCount)
        return;
    if (!SelectCell(col, row))
        return;
    const int oldCol = FCol;
    const int oldRow = FRow;
    FCol = col;
    FRow = row;
    InvalidateCell(oldCol, oldRow);
    InvalidateCell(col, row);
    // Also when the cell stays: the press may have changed what the owner says of it.
    AnnounceFocusedCell();
}

void TStringGrid::mousePressEvent(QMouseEvent* event)
{
    Guard(this, [&] {
        if (event->button() != Qt::LeftButton)
            return;
        FSelecting = false;
        int col = 0;
        int row = 0;
        if (!MouseToCell(ClientFromWidget(event->position().toPoint()), col, row))
            return;
        if (col < FFixedCols || row < FFixedRows)
            return;
        FSelecting = true;
        MoveCurrent(col, row);
    });
}

void TStringGrid::mouseMoveEvent(QMouseEvent* event)
{
    Guard(this, [&] {
        if (!FSelecting || !(event->buttons() & Qt::LeftButton))
            return;
        int col = 0;
        int row = 0;
        if (!MouseToCell(ClientFromWidget(event->position().toPoint()), col, row))
            return;
        if (col < FFixedCols || row < FFixedRows || (col == FCol && row == FRow))
            return;
        MoveCurrent(col, row);
    });
}

void TStringGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        FSelecting = false;
}

void TStringGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click selects nothing; it only keeps the drag going, and
    // only where a single press would have started one: a caption cell starts no drag.
    if (event->button() != Qt::LeftButton)
        return;
    int col = 0;
    int row = 0;
    FSelecting = MouseToCell(ClientFromWidget(event->position().toPoint()), col, row) &&
                 col >= FFixedCols && row >= FFixedRows;
}

void TStringGrid::keyPressEvent(QKeyEvent* event)
{
    Guard(this, [&] {
        int col = FCol;
        int row = FRow;
        const int lastCol = FColCount - 1;
        const int lastRow = FRowCount - 1;
        const int pageRows =
            std::max(1, ClientRect().Height() / (FDefaultRowHeight + 1) - FFixedRows);
        const bool ctrl = event->modifiers() & Qt::ControlModifier;
        switch (event->key()) {
        case Qt::Key_Left:
            --col;
            break;
        case Qt::Key_Right:
            ++col;
            break;
        case Qt::Key_Up:
            --row;
            break;
        case Qt::Key_Down:
            ++row;
            break;
        case Qt::Key_PageUp:
            row -= pageRows;
            break;
        case Qt::Key_PageDown:
            row += pageRows;
            break;
        case Qt::Key_Home:
            col = FFixedCols;
            if (ctrl)
                row = FFixedRows;
            break;
        case Qt::Key_End:
            col = lastCol;
            if (ctrl)
                row = lastRow;
            break;
        default:
            event->ignore();
            return;
        }
        col = std::clamp(col, FFixedCols, lastCol);
        row = std::clamp(row, FFixedRows, lastRow);
        if (col != FCol || row != FRow)
            MoveCurrent(col, row);
    });
}

void TStringGrid::focusInEvent(QFocusEvent* event)
{
    TSurfaceWidget::focusInEvent(event);
    InvalidateCell(FCol, FRow);
}

void TStringGrid::focusOutEvent(QFocusEvent* event)
{
    TSurfaceWidget::focusOutEvent(event);
    FSelecting = false;
    InvalidateCell(FCol, FRow);
}
