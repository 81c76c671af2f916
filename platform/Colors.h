#pragma once
// Colour values as the program stores them: 0x00BBGGRR for a red, green, blue triple, or a
// system colour (high byte 0x80, low byte the system colour's index) that is resolved from the
// application palette when something is drawn.

#include <QColor>
#include <cstdint>

using TColor = std::uint32_t;

constexpr TColor RGBColor(int r, int g, int b)
{
    return TColor(r & 0xFF) | (TColor(g & 0xFF) << 8) | (TColor(b & 0xFF) << 16);
}

constexpr TColor clBlack = RGBColor(0, 0, 0);
constexpr TColor clMaroon = RGBColor(128, 0, 0);
constexpr TColor clNavy = RGBColor(0, 0, 128);
constexpr TColor clGreen = RGBColor(0, 128, 0);
constexpr TColor clTeal = RGBColor(0, 128, 128);
constexpr TColor clGray = RGBColor(128, 128, 128);
constexpr TColor clSilver = RGBColor(192, 192, 192);
constexpr TColor clRed = RGBColor(255, 0, 0);
constexpr TColor clBlue = RGBColor(0, 0, 255);
constexpr TColor clLime = RGBColor(0, 255, 0);
constexpr TColor clYellow = RGBColor(255, 255, 0);
constexpr TColor clAqua = RGBColor(0, 255, 255);
constexpr TColor clWhite = RGBColor(255, 255, 255);

constexpr TColor clSystemFlag = 0x80000000u;
constexpr TColor clWindow = clSystemFlag | 5;
constexpr TColor clWindowText = clSystemFlag | 8;
constexpr TColor clHighlight = clSystemFlag | 13;
constexpr TColor clHighlightText = clSystemFlag | 14;
constexpr TColor clBtnFace = clSystemFlag | 15;
constexpr TColor clBtnShadow = clSystemFlag | 16;
constexpr TColor clBtnText = clSystemFlag | 18;
constexpr TColor clBtnHighlight = clSystemFlag | 20;

constexpr bool IsSystemColor(TColor c)
{
    return (c & 0xFF000000u) == clSystemFlag;
}

// The colour as drawn: system colours come from the application palette.
QColor ToQColor(TColor c);

// The stored value of an opaque colour (system colours are resolved first).
TColor FromQColor(const QColor& c);
