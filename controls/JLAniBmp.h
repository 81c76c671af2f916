#pragma once
// TAnimatedBitmap: one picture out of a sheet of equal pictures.
//
// Bitmap holds Rows x Columns pictures, numbered from 0 row by row; ActivePicture picks the one
// on show. With Interval not 0 a timer of the control steps through them (backwards with
// ReversePlay); pressing a mouse button on the control and moving up and down picks the
// picture under the pointer's height. Once it has a sheet the control is always exactly one
// picture in size.
//
// Past the last picture: without ReversePlay the count starts again at picture 0 (and
// ActivePicture becomes 0 when the picture is drawn); with ReversePlay the last picture is
// shown and ActivePicture is left as it is. Columns or Rows 0 is refused: nothing changes.

#include "platform/Events.h"
#include "platform/Surface.h"

#include <QTimer>

#include <cstdint>
#include <functional>

class TAnimatedBitmap : public TSurfaceWidget
{
    Q_OBJECT
public:
    // A 300 x 300 control with an empty sheet of one picture, not animated.
    explicit TAnimatedBitmap(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(TAnimatedBitmap)

    std::uint16_t ActivePicture() const { return FActivePicture; }
    // Stores the index as given and draws at once.
    void SetActivePicture(std::uint16_t index);

    std::uint16_t Columns() const { return FColumns; }
    std::uint16_t Rows() const { return FRows; }
    // Fits the control to the new picture size and invalidates; 0 is refused.
    void SetColumns(std::uint16_t columns);
    void SetRows(std::uint16_t rows);

    std::uint16_t Interval() const { return FInterval; }
    // 0 stops the animation at the picture on show; anything else (re)starts the timer.
    void SetInterval(std::uint16_t milliseconds);

    const TBitmap& Bitmap() const { return FBitmap; }
    // Copies the sheet, fits the control to one picture of it and invalidates.
    void SetBitmap(const TBitmap& sheet);

    bool ReversePlay() const { return FReversePlay; }
    void SetReversePlay(bool reverse) { FReversePlay = reverse; }

    // The size of one picture as last worked out when drawing.
    std::uint16_t SetWidth() const { return FPictureWidth; }
    std::uint16_t SetHeight() const { return FPictureHeight; }
    // Resize the control and draw at once; with a sheet, drawing fits the control to one
    // picture again, so these last only while the sheet is empty.
    void SetWidth(std::uint16_t value);
    void SetHeight(std::uint16_t value);

    // Top left corner, in the sheet, of the picture last drawn.
    std::uint16_t SourceX() const { return FSourceX; }
    std::uint16_t SourceY() const { return FSourceY; }
    bool HasPicture() const { return !FBitmap.Empty(); }
    const QTimer& PictureTimer() const { return FPictureTimer; }

    // y * n / h truncated towards zero, 0 when h is 0: the picture under a pointer height.
    static int ScalePosition(int y, int n, int h);

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

    QSize sizeHint() const override;

protected:
    void Paint() override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QSize PictureSize() const;
    // Stores the size of one picture of the sheet as it is now.
    void MeasurePicture();
    // Gives the control the size of one picture (when there is a sheet).
    void FitToPicture();
    // Works out where ActivePicture's picture lies in the sheet.
    void LocatePicture();
    void DrawPicture();
    // Draws on the control's canvas at once instead of waiting for the next paint.
    void PaintNow();
    void SheetChanged();
    void AnimationTick();
    void PickPicture(int y);

    std::uint16_t FActivePicture = 0;
    std::uint16_t FColumns = 1;
    std::uint16_t FInterval = 0;
    std::uint16_t FRows = 1;
    bool FReversePlay = false;
    std::uint16_t FPictureWidth = 0;
    std::uint16_t FPictureHeight = 0;
    std::uint16_t FSourceX = 0;
    std::uint16_t FSourceY = 0;
    bool FDragging = false;
    bool FClicking = false;
    TBitmap FBitmap;
    // Declared last so that it goes first.
    QTimer FPictureTimer;
};
