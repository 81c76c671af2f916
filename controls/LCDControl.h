#pragma once
// TLCDControl: a level display in LCD glyphs on a black ground.
//
// A one-pixel sunken border frames the control. Inside it, a bar of two columns of 16 x 2
// segments fills from the bottom in proportion to Number / NumberMax (one segment row every
// three pixels), and under it the decimal value of Number is written in 7 x 11 digit glyphs,
// centred, followed by the suffix glyph NumberType chooses. The glyphs are the bitmap
// resources 0 to 9, "CHARK", "PERCENT", "ON" and "OFF".
//
// The setters keep 0 <= Number <= NumberMax and 0 < NumberMax; values that would break this
// are refused silently and change nothing.
//
// To assistive technology the display is a read-only level bar: its value is Number, from 0 to
// NumberMax, read as the digits and suffix shown ("42", "42 K", "42 %"); every change of the
// value or its suffix is announced (ValueChanged). The name is the owner's to give.

#include "platform/Graphics.h"
#include "platform/Surface.h"

#include <array>
#include <cstdint>

enum TNumberType : std::uint8_t
{
    ntNone = 0,
    ntCharK = 1,
    ntPercent = 2
};

class TLCDControl : public TSurfaceWidget
{
    Q_OBJECT
public:
    explicit TLCDControl(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(TLCDControl)
    ~TLCDControl() override;

    QSize sizeHint() const override { return QSize(100, 120); }
    QSize minimumSizeHint() const override { return QSize(1, 1); }

    // A value from 0 to NumberMax redraws the bar and the number at once, without a repaint
    // of the rest; other values are refused.
    std::int32_t Number() const { return FNumber; }
    void SetNumber(std::int32_t value);

    // A value of 0 or less, or below Number, is refused; a new maximum repaints later.
    std::int32_t NumberMax() const { return FNumberMax; }
    void SetNumberMax(std::int32_t value);

    // Redraws the bar and the number at once.
    TNumberType NumberType() const { return FNumberType; }
    void SetNumberType(TNumberType value);

    // The number as the display writes it, with its suffix.
    QString NumberText() const;

    // The bar's rectangle and the number area for the current size, in client coordinates.
    TRect BarRect() const;
    TRect NumberRect() const;

protected:
    void Paint() override;

private:
    void DrawDisplay();
    void AnnounceValue();
    void DrawBar(const TRect& r, std::int32_t n);
    void DrawNumberText(std::int32_t n, TNumberType type, int x, int y);
    static int NumberTextWidth(std::int32_t n, TNumberType type);
    void DrawGlyph(const TBitmap& glyph, int x, int y, const TRect& clip);

    std::array<TBitmap, 10> FDigitBitmaps;
    TBitmap FCharK;
    TBitmap FPercent;
    TBitmap FSegmentOn;
    TBitmap FSegmentOff;
    std::int32_t FNumber = 0;
    std::int32_t FNumberMax = 100;
    TNumberType FNumberType = ntNone;
};
