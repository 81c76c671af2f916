#include "JLabel.h"

#include "core/ErrorReport.h"

#include <QApplication>
#include <QMouseEvent>

TJLabel::TJLabel(QWidget* parent, const QString& name, const QRect& geometry, const QString& text,
                 TColor color, const QFont& font)
    : TLabel(parent, name, geometry, text, color, font)
{
    // Qt delivers moves without a button held only to widgets that track the mouse.
    setMouseTracking(true);
}

void TJLabel::SetColor(TColor color)
{
    if (FOwnColor && color == FColor)
        return;
    FColor = color;
    if (!FOwnColor) {
        // From now on the label fills its box instead of showing its parent through.
        setAttribute(Qt::WA_TranslucentBackground, false);
        setAttribute(Qt::WA_NoSystemBackground, false);
        FOwnColor = true;
    }
    SetBackgroundColor(this, color);
}

TColor TJLabel::FontColor() const
{
    return FromQColor(palette().color(QPalette::WindowText));
}

unsigned TJLabel::FontStyle() const
{
    const QFont f = font();
    return (f.bold() ? fsBold : fsNone) | (f.italic() ? fsItalic : fsNone) |
           (f.underline() ? fsUnderline : fsNone) | (f.strikeOut() ? fsStrikeOut : fsNone);
}

void TJLabel::SetFontStyle(unsigned style)
{
    QFont f = font();
    f.setBold(style & fsBold);
    f.setItalic(style & fsItalic);
    f.setUnderline(style & fsUnderline);
    f.setStrikeOut(style & fsStrikeOut);
    setFont(f);
}

void TJLabel::mouseMoveEvent(QMouseEvent* event)
{
    // Not passed on to the label: the move is used up here.
    event->accept();
    Guard(this, [&] { HoverMouseMove(event->position().toPoint()); });
}

void TJLabel::HoverMouseMove(QPoint pos)
{
    if (!FOnEnabled)
        return;
    // Pointer positions are 16-bit signed client coordinates; both edges count as inside.
    const int x = qint16(pos.x());
    const int y = qint16(pos.y());
    const bool inside = 0 <= x && x <= width() && 0 <= y && y <= height();
    if (mouseGrabber() != this) {
        grabMouse();
        if (isEnabled() && isVisible() && OnActiveForm())
            SetLook(FOnMoveBColor, FOnMoveFColor, FOnStyles);
    }
    if (mouseGrabber() == this && !inside && FHovering)
        LeaveHover();
    if (mouseGrabber() == this && inside && !FHovering)
        FHovering = true;
}

bool TJLabel::OnActiveForm() const
{
    // A label on no form is a window of its own, which is no form to be active.
    const QWidget* form = window();
    return form != this && QApplication::activeWindow() == form;
}

void TJLabel::LeaveHover()
{
    FHovering = false;
    SetLook(FOffMoveBColor, FOffMoveFColor, fsNone);
    if (mouseGrabber() == this)
        releaseMouse();
}

void TJLabel::ReleaseGrab()
{
    // A handler may open a modal box, which must get the clicks. Without the grab the label
    // learns that the pointer has gone from its leave event instead.
    if (mouseGrabber() == this)
        releaseMouse();
}

void TJLabel::AfterHandler()
{
    // The pointer may have gone elsewhere while a handler ran (a box was closed over there).
    if (FHovering && !underMouse())
        LeaveHover();
}

void TJLabel::leaveEvent(QEvent* event)
{
    TLabel::leaveEvent(event);
    if (FHovering)
        Guard(this, [this] { LeaveHover(); });
}

void TJLabel::SetLook(TColor background, TColor text, unsigned style)
{
    SetColor(background);
    SetFontColor(text);
    SetFontStyle(style);
}

void TJLabel::mousePressEvent(QMouseEvent* event)
{
    TLabel::mousePressEvent(event);
    event->accept();
    Guard(this, [&] {
        const QPoint pos = event->position().toPoint();
        FClicking = event->button() == Qt::LeftButton;
        if (OnMouseDown) {
            ReleaseGrab();
            OnMouseDown(this, event->button(), event->modifiers(), pos.x(), pos.y());
            AfterHandler();
        }
    });
}

void TJLabel::mouseReleaseEvent(QMouseEvent* event)
{
    TLabel::mouseReleaseEvent(event);
    event->accept();
    Guard(this, [&] {
        const QPoint pos = event->position().toPoint();
        const bool click = FClicking && event->button() == Qt::LeftButton && rect().contains(pos);
        FClicking = false;
        if (!OnMouseUp && !(click && OnClick))
            return;
        ReleaseGrab();
        if (OnMouseUp)
            OnMouseUp(this, event->button(), event->modifiers(), pos.x(), pos.y());
        if (click && OnClick)
            OnClick(this);
        AfterHandler();
    });
}

void TJLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is no click.
    mousePressEvent(event);
    FClicking = false;
    Guard(this, [this] {
        if (!OnDblClick)
            return;
        ReleaseGrab();
        OnDblClick(this);
        AfterHandler();
    });
}
