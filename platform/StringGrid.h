#pragma once
// The string grid the windows are built from: a table of text cells with fixed caption rows
// and columns, grid lines and one focused cell, drawn on a drawing surface.
//
// Events: OnDrawCell runs after the grid's own drawing of each cell it paints; OnSelectCell
// runs before the focused cell moves, on a left press on a cell (also the focused one; not the
// second press of a double click), for each new cell entered while the left button is held,
// and for each keyboard move. After a move the grid repaints the cell it left and the cell
// it entered. Fixed cells are never selected.
//
// To assistive technology the grid's description is its focused cell: the cell's text, which
// OnDescribeCell may change ("14:35, marcada"). It is worked out whenever it is asked for and
// announced (DescriptionChanged) after every move of the focused cell, every press on it and
// every change of its text; the grid's name is the owner's to give.

#include "platform/Surface.h"

#include <QStringList>

#include <functional>
#include <vector>

enum TGridDrawStateFlag : unsigned
{
    gdSelected = 1,
    gdFocused = 2,
    gdFixed = 4
};
using TGridDrawState = unsigned;

enum TGridOption : unsigned
{
    goFixedVertLine = 1,
    goFixedHorzLine = 2,
    goVertLine = 4,
    goHorzLine = 8,
    goRangeSelect = 16,
    goDrawFocusSelected = 32,
    goEditing = 64,
};
using TGridOptions = unsigned;

using TDrawCellEvent =
    std::function<void(QObject* Sender, int ACol, int ARow, TRect Rect, TGridDrawState State)>;
using TSelectCellEvent = std::function<void(QObject* Sender, int ACol, int ARow, bool& CanSelect)>;
using TDescribeCellEvent = std::function<void(QObject* Sender, int ACol, int ARow, QString& Text)>;

class TStringGrid : public TSurfaceWidget
{
    Q_OBJECT
public:
    explicit TStringGrid(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(TStringGrid)

    int ColCount() const { return FColCount; }
    int RowCount() const { return FRowCount; }
    void SetColCount(int n);
    void SetRowCount(int n);
    int FixedCols() const { return FFixedCols; }
    int FixedRows() const { return FFixedRows; }
    void SetFixedCols(int n);
    void SetFixedRows(int n);
    int DefaultColWidth() const { return FDefaultColWidth; }
    int DefaultRowHeight() const { return FDefaultRowHeight; }
    void SetDefaultColWidth(int w);
    void SetDefaultRowHeight(int h);
    int GridLineWidth() const { return FGridLineWidth; }
    TGridOptions Options() const { return FOptions; }
    void SetOptions(TGridOptions o);

    TColor Color() const { return FColor; }
    void SetColor(TColor c);
    TColor FixedColor() const { return FFixedColor; }
    void SetFixedColor(TColor c);
    // The cell font and its colour.
    void SetCellFont(const QFont& font, TColor color);
    const QFont& CellFont() const { return FCellFont; }

    QString Cells(int col, int row) const;
    // Stores the text and repaints that cell.
    void SetCells(int col, int row, const QString& text);

    // The focused cell.
    int Col() const { return FCol; }
    int Row() const { return FRow; }
    // What a screen reader says of the focused cell (see above); asks OnDescribeCell.
    QString FocusedCellDescription();

    // The cell's rectangle in client coordinates (Right and Bottom exclusive); empty for a cell
    // outside the grid.
    TRect CellRect(int col, int row) const;
    // The cell under a client point; false where there is none.
    bool MouseToCell(QPoint client, int& col, int& row) const;
    void InvalidateCell(int col, int row);

    QSize sizeHint() const override;

    TDrawCellEvent OnDrawCell;
    TSelectCellEvent OnSelectCell;
    TDescribeCellEvent OnDescribeCell;

protected:
    // Draws one cell after its background has been filled: the default text, then OnDrawCell.
    virtual void DrawCell(int col, int row, const TRect& rect, TGridDrawState state);
    // Asks OnSelectCell; true when the move may take place.
    virtual bool SelectCell(int col, int row);

    void Paint() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int ColLeft(int col) const;
    int RowTop(int row) const;
    void MoveCurrent(int col, int row);
    void AnnounceFocusedCell();
    void PaintLines(const QRect& clip);
    void ResizeCells();

    int FColCount = 5;
    int FRowCount = 5;
    int FFixedCols = 1;
    int FFixedRows = 1;
    int FDefaultColWidth = 64;
    int FDefaultRowHeight = 24;
    int FGridLineWidth = 1;
    TGridOptions FOptions = goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine;
    TColor FColor = clWindow;
    TColor FFixedColor = clBtnFace;
    TColor FFontColor = clWindowText;
    QFont FCellFont;
    std::vector<QString> FCells;
    int FCol = 1;
    int FRow = 1;
    bool FSelecting = false;
};
