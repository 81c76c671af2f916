#pragma once
// TJLabel: a label with a hover look.
//
// With OnEnabled set, the pointer moving onto the label gives it the hover look
// (background OnMoveBColor, font colour OnMoveFColor, font style OnStyles) and the label takes
// the mouse grab, so that it sees the pointer leave; the first move outside (the right and
// bottom edges, x = width and y = height, still count as inside) gives it the off look
// (OffMoveBColor, OffMoveFColor and a plain font) and ends the grab. The hover look is taken
// only while the label is enabled, visible and on the active window; a label that is a window
// of its own (on no form) never takes it. Leaving gives the off look all the same.
// The grab ends before any handler of a press, release or click runs (a handler may open a modal
// box, which must get the clicks); the hover look lasts until the pointer leaves, which the label
// then learns from its leave event, or from where the pointer is when the handler returns.
//
// The label handles mouse moves itself and does not pass them on: OnMouseMove never fires
// and the parent sees no moves over the label. With OnEnabled clear a move changes nothing.
// Setting the hover properties changes nothing on screen until the next hover change.

#include "platform/Events.h"
#include "platform/Fonts.h"
#include "platform/StdControls.h"

#include <functional>

class TJLabel : public TLabel
{
    Q_OBJECT
public:
    // A label as TLabel makes it (transparent until SetColor), hover behaviour off and every
    // hover colour black.
    TJLabel(QWidget* parent, const QString& name, const QRect& geometry, const QString& text,
            TColor color, const QFont& font);
    Q_DISABLE_COPY_MOVE(TJLabel)

    // The label's own look. SetColor makes the label fill its box with the colour.
    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    TColor FontColor() const;
    // A set of TFontStyle values.
    unsigned FontStyle() const;
    void SetFontStyle(unsigned style);

    TColor OnMoveBColor() const { return FOnMoveBColor; }
    TColor OffMoveBColor() const { return FOffMoveBColor; }
    TColor OnMoveFColor() const { return FOnMoveFColor; }
    TColor OffMoveFColor() const { return FOffMoveFColor; }
    unsigned OnStyles() const { return FOnStyles; }
    bool OnEnabled() const { return FOnEnabled; }
    void SetOnMoveBColor(TColor color) { FOnMoveBColor = color; }
    void SetOffMoveBColor(TColor color) { FOffMoveBColor = color; }
    void SetOnMoveFColor(TColor color) { FOnMoveFColor = color; }
    void SetOffMoveFColor(TColor color) { FOffMoveFColor = color; }
    void SetOnStyles(unsigned styles) { FOnStyles = styles; }
    void SetOnEnabled(bool enabled) { FOnEnabled = enabled; }

    // True from a move inside while the label holds the grab until the pointer is seen leaving.
    bool Hovering() const { return FHovering; }

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    // Kept with the label's other events; the hover handling takes every move, so it never fires.
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void HoverMouseMove(QPoint pos);
    bool OnActiveForm() const;
    void SetLook(TColor background, TColor text, unsigned style);
    // The off look, and the grab ended.
    void LeaveHover();
    void ReleaseGrab();
    void AfterHandler();

    TColor FColor = clBtnFace;
    bool FOwnColor = false;
    TColor FOnMoveBColor = clBlack;
    TColor FOffMoveBColor = clBlack;
    TColor FOnMoveFColor = clBlack;
    TColor FOffMoveFColor = clBlack;
    unsigned FOnStyles = fsNone;
    bool FOnEnabled = false;
    bool FHovering = false;
    bool FClicking = false;
};
