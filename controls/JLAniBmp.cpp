#include "JLAniBmp.h"

#include "core/ErrorReport.h"

#include <QMouseEvent>
#include <QPaintEvent>

#include <algorithm>
#include <climits>
#include <cmath>

TAnimatedBitmap::TAnimatedBitmap(QWidget* parent) : TSurfaceWidget(parent)
{
    // An empty sheet draws nothing: what lies beneath shows through.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    resize(300, 300);
    // OnMouseMove reports every move over the control, with or without a button held.
    setMouseTracking(true);
    connect(&FPictureTimer, &QTimer::timeout, this,
            [this] { Guard(this, [this] { AnimationTick(); }); });
}

void TAnimatedBitmap::SetActivePicture(std::uint16_t index)
{
    FActivePicture = index;
    PaintNow();
}

void TAnimatedBitmap::SetColumns(std::uint16_t columns)
{
    // The counts divide the sheet's size: 0 is no sheet layout at all.
    if (columns == FColumns || columns == 0)
        return;
    FColumns = columns;
    FitToPicture();
    Invalidate();
}

void TAnimatedBitmap::SetRows(std::uint16_t rows)
{
    if (rows == FRows || rows == 0)
        return;
    FRows = rows;
    FitToPicture();
    Invalidate();
}

void TAnimatedBitmap::SetInterval(std::uint16_t milliseconds)
{
    if (milliseconds == FInterval)
        return;
    FInterval = milliseconds;
    if (FInterval == 0) {
        FPictureTimer.stop();
    } else {
        FPictureTimer.setInterval(FInterval);
        FPictureTimer.start();
    }
}

void TAnimatedBitmap::SetBitmap(const TBitmap& sheet)
{
    FBitmap.Assign(sheet);
    SheetChanged();
}

void TAnimatedBitmap::SetWidth(std::uint16_t value)
{
    resize(value, height());
    PaintNow();
}

void TAnimatedBitmap::SetHeight(std::uint16_t value)
{
    resize(width(), value);
    PaintNow();
}

int TAnimatedBitmap::ScalePosition(int y, int n, int h)
{
    if (h == 0)
        return 0;
    const double q = std::trunc(double(y) * n / h);
    return int(std::clamp(q, double(INT_MIN), double(INT_MAX)));
}

QSize TAnimatedBitmap::sizeHint() const
{
    return HasPicture() ? PictureSize() : TSurfaceWidget::sizeHint();
}

void TAnimatedBitmap::Paint()
{
    if (HasPicture())
        DrawPicture();
}

void TAnimatedBitmap::paintEvent(QPaintEvent* event)
{
    if (HasPicture())
        TSurfaceWidget::paintEvent(event);
}

void TAnimatedBitmap::resizeEvent(QResizeEvent* event)
{
    TSurfaceWidget::resizeEvent(event);
    FitToPicture();
}

void TAnimatedBitmap::mousePressEvent(QMouseEvent* event)
{
    Guard(this, [&] {
        const QPoint pos = event->position().toPoint();
        if (OnMouseDown)
            OnMouseDown(this, event->button(), event->modifiers(), pos.x(), pos.y());
        FClicking = event->button() == Qt::LeftButton;
        FDragging = true;
        PickPicture(pos.y());
    });
}

void TAnimatedBitmap::mouseMoveEvent(QMouseEvent* event)
{
    Guard(this, [&] {
        const QPoint pos = event->position().toPoint();
        if (OnMouseMove)
            OnMouseMove(this, event->buttons(), event->modifiers(), pos.x(), pos.y());
        if (FDragging)
            PickPicture(pos.y());
    });
}

void TAnimatedBitmap::mouseReleaseEvent(QMouseEvent* event)
{
    Guard(this, [&] {
        const QPoint pos = event->position().toPoint();
        if (OnMouseUp)
            OnMouseUp(this, event->button(), event->modifiers(), pos.x(), pos.y());
        FDragging = false;
        const bool click = FClicking && event->button() == Qt::LeftButton && rect().contains(pos);
        FClicking = false;
        if (click && OnClick)
            OnClick(this);
    });
}

void TAnimatedBitmap::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click picks like any press, but is no click.
    mousePressEvent(event);
    FClicking = false;
    Guard(this, [this] {
        if (OnDblClick)
            OnDblClick(this);
    });
}

QSize TAnimatedBitmap::PictureSize() const
{
    return QSize(FBitmap.Width() / FColumns, FBitmap.Height() / FRows);
}

void TAnimatedBitmap::MeasurePicture()
{
    const QSize size = PictureSize();
    FPictureWidth = std::uint16_t(size.width());
    FPictureHeight = std::uint16_t(size.height());
}

void TAnimatedBitmap::FitToPicture()
{
    MeasurePicture();
    if (HasPicture())
        resize(FPictureWidth, FPictureHeight);
}

void TAnimatedBitmap::LocatePicture()
{
    MeasurePicture();
    const std::uint32_t count = std::uint32_t(FColumns) * FRows;
    std::uint32_t shown = FActivePicture;
    if (FReversePlay) {
        shown = std::min(shown, count - 1);
    } else if (FActivePicture >= count) {
        FActivePicture = 0;
        shown = 0;
    }
    FSourceX = std::uint16_t(shown % FColumns * FPictureWidth);
    FSourceY = std::uint16_t(shown / FColumns * FPictureHeight);
}

void TAnimatedBitmap::DrawPicture()
{
    LocatePicture();
    Canvas()->CopyRect(
        ClientRect(), FBitmap.Image(),
        Rect(FSourceX, FSourceY, FSourceX + FPictureWidth, FSourceY + FPictureHeight));
}

void TAnimatedBitmap::PaintNow()
{
    if (!HasPicture())
        return;
    FitToPicture();
    DrawPicture();
}

void TAnimatedBitmap::SheetChanged()
{
    // With a sheet the control is one picture in size and the picture covers it.
    setAttribute(Qt::WA_OpaquePaintEvent, HasPicture());
    FitToPicture();
    Invalidate();
}

void TAnimatedBitmap::AnimationTick()
{
    if (FReversePlay) {
        const std::uint32_t count = std::uint32_t(FColumns) * FRows;
        FActivePicture =
            FActivePicture == 0 ? std::uint16_t(count - 1) : std::uint16_t(FActivePicture - 1);
    } else {
        ++FActivePicture; // LocatePicture wraps it past the last picture
    }
    PaintNow();
}

void TAnimatedBitmap::PickPicture(int y)
{
    // Above the control the quotient turns negative and wraps in the 16-bit index.
    SetActivePicture(std::uint16_t(ScalePosition(y, FColumns, FPictureHeight)));
}
