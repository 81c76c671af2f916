#include "JCheck.h"

#include "core/ErrorReport.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>

namespace {

// The control as a screen reader sees it: a check box, checked or not, or partly (grayed).
class TJCheckAccessible : public QAccessibleWidget
{
public:
    explicit TJCheckAccessible(TJCheck* check) : QAccessibleWidget(check, QAccessible::CheckBox) {}
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        const auto* check = static_cast<const TJCheck*>(object());
        state.checkable = true;
        state.checked = check->State() == cbChecked;
        state.checkStateMixed = check->State() == cbGrayed;
        return state;
    }
};

QAccessibleInterface* JCheckAccessibleFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String(TJCheck::staticMetaObject.className()))
        return nullptr;
    return new TJCheckAccessible(static_cast<TJCheck*>(object));
}

} // namespace

TJCheck::TJCheck(QWidget* parent) : TSurfaceWidget(parent)
{
    // Before the first interface is asked for: Qt keeps the interface it made for an object.
    [[maybe_unused]] static const bool factoryInstalled = [] {
        QAccessible::installFactory(JCheckAccessibleFactory);
        return true;
    }();
    setFocusPolicy(Qt::StrongFocus);
    resize(98, 20);
}

TJCheck::~TJCheck() = default;

void TJCheck::SetStretchBitMaps(bool value)
{
    if (value == FStretchBitMaps)
        return;
    FStretchBitMaps = value;
    Invalidate();
}

void TJCheck::SetCheckType(TCheckType value)
{
    if (value == FCheckType)
        return;
    FCheckType = value;
    Invalidate();
}

void TJCheck::SetCheckWidth(std::uint16_t value)
{
    if (value == FCheckWidth)
        return;
    FCheckWidth = value;
    Invalidate();
}

void TJCheck::SetGrayedColor(TColor value)
{
    if (value == FGrayedColor)
        return;
    FGrayedColor = value;
    Invalidate();
}

void TJCheck::SetColor(TColor value)
{
    if (value == FColor)
        return;
    FColor = value;
    Invalidate();
}

void TJCheck::SetCheckBevelStyle(TBevelCut value)
{
    if (value == FCheckBevelStyle)
        return;
    FCheckBevelStyle = value;
    Invalidate();
}

void TJCheck::SetCheckBoxWidth(std::uint16_t value)
{
    if (value == FCheckBoxWidth)
        return;
    FCheckBoxWidth = value;
    Invalidate();
}

void TJCheck::SetCheckBevelWidth(std::uint16_t value)
{
    if (value == FCheckBevelWidth)
        return;
    FCheckBevelWidth = value;
    Invalidate();
}

void TJCheck::SetTextIndentSize(std::uint16_t value)
{
    if (value == FTextIndentSize)
        return;
    FTextIndentSize = value;
    Invalidate();
}

void TJCheck::SetTransparentColor(TColor value)
{
    if (value == FTransparentColor)
        return;
    FTransparentColor = value;
    Invalidate();
}

void TJCheck::SetDown(bool value)
{
    if (value == FDown)
        return;
    FDown = value;
    Invalidate();
}

void TJCheck::SetCheckColor(TColor value)
{
    FCheckColor = value;
    Invalidate();
}

void TJCheck::SetSizeToBitMap(bool value)
{
    if (value == FSizeToBitMap)
        return;
    FSizeToBitMap = value;
    if (value)
        SetCheckBoxWidth(std::uint16_t(FCheckedBitMap.Height() + 2 * FCheckBevelWidth));
}

void TJCheck::SetCheckedBitMap(const TBitmap& picture)
{
    if (&picture == &FCheckedBitMap)
        return;
    FCheckedBitMap.Assign(picture);
    if (FSizeToBitMap)
        SetCheckBoxWidth(std::uint16_t(FCheckedBitMap.Height() + 2 * FCheckBevelWidth));
}

void TJCheck::SetUnCheckedBitMap(const TBitmap& picture)
{
    if (&picture != &FUnCheckedBitMap)
        FUnCheckedBitMap.Assign(picture);
}

void TJCheck::SetCaption(const QString& text)
{
    QString next = text.left(MaxCaptionLength);
    if (next.size() == MaxCaptionLength && next.back().isHighSurrogate())
        next.chop(1); // never keep half a character
    if (next != FCaption) {
        FCaption = next;
        setAccessibleName(FCaption);
    }
    Invalidate();
}

void TJCheck::SetState(TCheckBoxState value)
{
    if (value == FState)
        return;
    const TCheckBoxState before = FState;
    FState = value;
    Invalidate();
    // A screen reader hears the change.
    QAccessible::State changed;
    changed.checked = (before == cbChecked) != (value == cbChecked);
    changed.checkStateMixed = (before == cbGrayed) != (value == cbGrayed);
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
    if (OnClick)
        OnClick(this);
}

void TJCheck::SetChecked(bool value)
{
    SetState(value ? cbChecked : cbUnchecked);
}

// The right and bottom edges count as inside.
bool TJCheck::Inside(QPoint p) const
{
    return p.x() >= 0 && p.x() <= width() && p.y() >= 0 && p.y() <= height();
}

// The font height as a signed value: negative for a character height in pixels.
int TJCheck::FontHeight() const
{
    const QFont f = font();
    if (f.pixelSize() > 0)
        return -f.pixelSize();
    return -int(std::lround(f.pointSizeF() * 96.0 / 72.0));
}

void TJCheck::Paint()
{
    TCanvas* c = Canvas();
    const int cbw = FCheckBoxWidth;
    const int h = height();
    const int top = h / 2 - cbw / 2;
    const TRect box = Rect(1, top, cbw + 1, top + cbw);
    const TRect pressed = Rect(2, top + 1, cbw + 2, top + cbw + 1);

    c->Font = font();
    c->FontColor = clWindowText;
    c->Brush.Style = bsSolid;
    c->Brush.Color = FColor;
    // A windowed control's background is erased with its colour before it paints.
    c->FillRect(ClientRect());

    // The pen is left as the previous paint left it: the box outline only shows where no
    // bevel covers it.
    if (!FDown) {
        c->Rectangle(box);
        switch (FCheckBevelStyle) {
        case bvNone:
            DrawBevelFrame(box, FColor, FColor, FCheckBevelWidth);
            break;
        case bvLowered:
            DrawBevelFrame(box, clBtnShadow, clBtnHighlight, FCheckBevelWidth);
            break;
        case bvRaised:
            DrawBevelFrame(box, clBtnHighlight, clBtnShadow, FCheckBevelWidth);
            break;
        case bvSpace:
            break;
        }
    } else {
        c->Pen.Color = clBlack;
        c->Pen.Width = 2;
        c->Rectangle(pressed);
        c->Pen.Width = 1;
    }

    const int textX = cbw + 1 + FTextIndentSize;
    const int textY = FontHeight() / 2 + h / 2 - 1;
    const QSize extent = c->TextExtent(FCaption);
    c->TextOut(textX, textY, FCaption);

    switch (FState) {
    case cbChecked:
        c->Pen.Color = FCheckColor;
        c->Pen.Width = FCheckWidth;
        switch (FCheckType) {
        case ctBitMap:
            DrawPicture(FCheckedBitMap, top);
            break;
        case ctCheckMark:
            DrawCheckMark(top);
            break;
        case ctVCheckMark:
            DrawVCheckMark(top);
            break;
        case ctCross:
            DrawCross(top);
            break;
        case ctUserDraw:
            break;
        }
        break;
    case cbGrayed:
        c->Brush.Color = FGrayedColor;
        c->Rectangle(pressed);
        break;
    case cbUnchecked:
        if (FCheckType == ctBitMap)
            DrawPicture(FUnCheckedBitMap, top);
        break;
    }

    c->Brush.Color = FColor;
    c->Pen.Color = FColor;
    const TRect focus =
        Rect(textX - 1, textY, textX + extent.width() + 2, textY + extent.height() + 1);
    c->FrameRect(focus);
    if (FFocusShown)
        c->DrawFocusRect(focus);
}

void TJCheck::DrawBevelFrame(TRect r, TColor topLeft, TColor bottomRight, int width)
{
    TCanvas* c = Canvas();
    c->Pen.Width = 1;
    --r.Right;
    --r.Bottom;
    // Beyond the box's own size every further ring would lie outside the box.
    const int passes = std::min(width, int(FCheckBoxWidth));
    for (int i = 0; i < passes; ++i) {
        c->Pen.Color = topLeft;
        c->Polyline({QPoint(r.Left, r.Bottom), QPoint(r.Left, r.Top), QPoint(r.Right, r.Top)});
        c->Pen.Color = bottomRight;
        c->Polyline(
            {QPoint(r.Right, r.Top), QPoint(r.Right, r.Bottom), QPoint(r.Left - 1, r.Bottom)});
        r = Rect(r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1);
    }
}

// The picture goes into the box inside the bevel, stretched over it or copied at its own size
// with its transparent colour shown in the brush colour. Parts of the box that the picture
// does not reach keep the box's fill.
void TJCheck::DrawPicture(const TBitmap& picture, int top)
{
    TCanvas* c = Canvas();
    const int cbw = FCheckBoxWidth;
    const int d = FCheckBevelWidth;
    const TRect inner = Rect(1 + d, top + d, cbw + 1 - d, top + cbw - d);
    if (FStretchBitMaps)
        c->StretchDraw(inner, picture);
    else
        c->BrushCopy(inner, picture.Image(), Rect(0, 0, cbw - 2 * d, cbw - 2 * d),
                     FTransparentColor);
}

// The marks are computed in signed integers, so a box taller than the control draws its mark
// clipped instead of wrapping around.
void TJCheck::DrawCheckMark(int top)
{
    TCanvas* c = Canvas();
    const int cbw = FCheckBoxWidth;
    const int d = FCheckBevelWidth;
    const int l = 1, t = top, r = cbw + 1, b = top + cbw;
    c->MoveTo(l + d + 1, t + d + cbw / 2 + 1);
    c->LineTo(l + d + 1, b - d - 1);
    c->LineTo(r - d - 1, t + d + 1);
}

void TJCheck::DrawVCheckMark(int top)
{
    TCanvas* c = Canvas();
    const int cbw = FCheckBoxWidth;
    const int d = FCheckBevelWidth;
    const int l = 1, t = top, r = cbw + 1, b = top + cbw;
    // Three tenths of the right edge, to the nearest integer with ties to even; 3k / 10 is a
    // correctly rounded double, so its ties are exact.
    const int xv = int(std::nearbyint(3.0 * (r - d) / 10.0));
    c->MoveTo(l + d + 2, t + d + cbw / 2 + 1);
    c->LineTo(xv, b - d - 1);
    c->LineTo(r - d - 1, t + d + 1);
}

void TJCheck::DrawCross(int top)
{
    TCanvas* c = Canvas();
    const int cbw = FCheckBoxWidth;
    const int d = FCheckBevelWidth;
    const int l = 1, t = top, r = cbw + 1, b = top + cbw;
    c->MoveTo(l + d + 1, t + d + 1);
    c->LineTo(r - d - 1, b - d - 1);
    c->MoveTo(r - d - 1, t + d + 1);
    c->LineTo(l + d + 1, b - d - 1);
}

void TJCheck::mousePressEvent(QMouseEvent* event)
{
    Guard(this, [&] {
        setFocus(Qt::MouseFocusReason);
        FFocusShown = true;
        const QPoint p = event->position().toPoint();
        if (OnMouseDown)
            OnMouseDown(this, event->button(), event->modifiers(), p.x(), p.y());
        // Qt keeps the pointer grabbed for this widget while a button is held.
        FMouseCaptured = true;
        SetDown(true);
    });
}

void TJCheck::mouseMoveEvent(QMouseEvent* event)
{
    Guard(this, [&] {
        const QPoint p = event->position().toPoint();
        if (FMouseCaptured)
            SetDown(Inside(p));
        if (OnMouseMove)
            OnMouseMove(this, event->buttons(), event->modifiers(), p.x(), p.y());
    });
}

void TJCheck::mouseReleaseEvent(QMouseEvent* event)
{
    Guard(this, [&] {
        const QPoint p = event->position().toPoint();
        FMouseCaptured = false;
        SetDown(false);
        if (Inside(p))
            SetChecked(!Checked());
        if (OnMouseUp)
            OnMouseUp(this, event->button(), event->modifiers(), p.x(), p.y());
    });
}

void TJCheck::keyPressEvent(QKeyEvent* event)
{
    Guard(this, [&] {
        const bool space = event->key() == Qt::Key_Space;
        if (space)
            SetDown(true);
        int key = event->key();
        if (OnKeyDown)
            OnKeyDown(this, key, event->modifiers());
        if (OnKeyPress) {
            for (QChar ch : event->text()) {
                if (!ch.isNull())
                    OnKeyPress(this, ch);
            }
        }
        if (!space)
            QWidget::keyPressEvent(event);
    });
}

void TJCheck::keyReleaseEvent(QKeyEvent* event)
{
    // A held key repeats as press and release pairs; only the real release counts.
    if (event->isAutoRepeat())
        return;
    Guard(this, [&] {
        const bool space = event->key() == Qt::Key_Space;
        if (space) {
            SetDown(false);
            SetChecked(!Checked());
        }
        int key = event->key();
        if (OnKeyUp)
            OnKeyUp(this, key, event->modifiers());
        if (!space)
            QWidget::keyReleaseEvent(event);
    });
}

void TJCheck::focusInEvent(QFocusEvent* event)
{
    TSurfaceWidget::focusInEvent(event);
    FFocusShown = true;
    Invalidate();
}

void TJCheck::focusOutEvent(QFocusEvent* event)
{
    TSurfaceWidget::focusOutEvent(event);
    FFocusShown = false;
    Invalidate();
}

void TJCheck::changeEvent(QEvent* event)
{
    TSurfaceWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        Invalidate();
}
