#pragma once
// TJCheck: a focusable check box that draws itself.
//
// A square box of side CheckBoxWidth with a bevel sits at the left, vertically centred, and
// the caption follows TextIndentSize pixels to its right. The checked state shows, by
// CheckType, a picture (ctBitMap, with UnCheckedBitMap for the unchecked state), a check
// mark, a V-shaped check mark or a cross drawn in CheckColor with a CheckWidth pen, or nothing
// (ctUserDraw). The grayed state fills the box with GrayedColor. While a mouse button or the
// space key is held on the control it shows a pressed box (Down); a mouse button held and
// dragged off the control lifts it again, and only a release on the control (its right and
// bottom edge included) or of the space key toggles Checked.
//
// Checked and State are one value. Every change of it, by the user or by code, repaints the
// control and then fires OnClick; setting the current value does neither.

#include "platform/Events.h"
#include "platform/Graphics.h"
#include "platform/StdControls.h"
#include "platform/Surface.h"

#include <QChar>

#include <cstdint>
#include <functional>

enum TCheckType : std::uint8_t
{
    ctBitMap = 0,
    ctCheckMark = 1,
    ctVCheckMark = 2,
    ctCross = 3,
    ctUserDraw = 4,
};

enum TCheckBoxState : std::uint8_t
{
    cbUnchecked = 0,
    cbChecked = 1,
    cbGrayed = 2
};

class TJCheck : public TSurfaceWidget
{
    Q_OBJECT
public:
    // Longer captions are cut to this many characters.
    static constexpr int MaxCaptionLength = 255;

    explicit TJCheck(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(TJCheck)
    ~TJCheck() override;

    QSize sizeHint() const override { return QSize(98, 20); }
    QSize minimumSizeHint() const override { return QSize(1, 1); }

    // Setters of this group store a new value and repaint later; an equal value does nothing.
    bool StretchBitMaps() const { return FStretchBitMaps; }
    void SetStretchBitMaps(bool value);
    TCheckType CheckType() const { return FCheckType; }
    void SetCheckType(TCheckType value);
    std::uint16_t CheckWidth() const { return FCheckWidth; }
    void SetCheckWidth(std::uint16_t value);
    TColor GrayedColor() const { return FGrayedColor; }
    void SetGrayedColor(TColor value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    TBevelCut CheckBevelStyle() const { return FCheckBevelStyle; }
    void SetCheckBevelStyle(TBevelCut value);
    std::uint16_t CheckBoxWidth() const { return FCheckBoxWidth; }
    void SetCheckBoxWidth(std::uint16_t value);
    std::uint16_t CheckBevelWidth() const { return FCheckBevelWidth; }
    void SetCheckBevelWidth(std::uint16_t value);
    std::uint16_t TextIndentSize() const { return FTextIndentSize; }
    void SetTextIndentSize(std::uint16_t value);
    // The colour of picture pixels shown in Color when a picture is copied unstretched.
    TColor TransparentColor() const { return FTransparentColor; }
    void SetTransparentColor(TColor value);
    bool Down() const { return FDown; }
    void SetDown(bool value);

    // Repaints later even when the colour is unchanged.
    TColor CheckColor() const { return FCheckColor; }
    void SetCheckColor(TColor value);

    // Turning it on makes CheckBoxWidth the checked picture's height plus both bevels
    // (a 16-bit sum).
    bool SizeToBitMap() const { return FSizeToBitMap; }
    void SetSizeToBitMap(bool value);

    // The setters copy the image into the control's own pictures and request no repaint: the
    // new picture shows at the next repaint. With SizeToBitMap on, a new checked picture also
    // sets CheckBoxWidth from its height.
    const TBitmap& CheckedBitMap() const { return FCheckedBitMap; }
    void SetCheckedBitMap(const TBitmap& picture);
    const TBitmap& UnCheckedBitMap() const { return FUnCheckedBitMap; }
    void SetUnCheckedBitMap(const TBitmap& picture);

    // Cut to MaxCaptionLength characters; repaints later in every case.
    QString Caption() const { return FCaption; }
    void SetCaption(const QString& text);

    // A change repaints later and then fires OnClick.
    TCheckBoxState State() const { return FState; }
    void SetState(TCheckBoxState value);
    bool Checked() const { return FState == cbChecked; }
    void SetChecked(bool value);

    TNotifyEvent OnClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TKeyEvent OnKeyDown;
    TKeyPressEvent OnKeyPress;
    TKeyEvent OnKeyUp;

protected:
    void Paint() override;

    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool Inside(QPoint p) const;
    int FontHeight() const;
    void DrawBevelFrame(TRect r, TColor topLeft, TColor bottomRight, int width);
    void DrawPicture(const TBitmap& picture, int top);
    void DrawCheckMark(int top);
    void DrawVCheckMark(int top);
    void DrawCross(int top);

    bool FStretchBitMaps = false;
    bool FSizeToBitMap = false;
    TCheckType FCheckType = ctCheckMark;
    std::uint16_t FCheckWidth = 1;
    TColor FGrayedColor = clGray;
    TColor FColor = clBtnFace;
    TBevelCut FCheckBevelStyle = bvRaised;
    std::uint16_t FCheckBoxWidth = 12;
    std::uint16_t FCheckBevelWidth = 1;
    std::uint16_t FTextIndentSize = 5;
    TBitmap FCheckedBitMap;
    TBitmap FUnCheckedBitMap;
    QString FCaption;
    TColor FTransparentColor = clBtnFace;
    bool FDown = false;
    TColor FCheckColor = clBlack;
    TCheckBoxState FState = cbUnchecked;
    bool FFocusShown = false;
    bool FMouseCaptured = false;
};
