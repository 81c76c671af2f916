#pragma once
// The standard controls the windows use, as Qt widgets placed in pixels at 96 dpi: labels
// drawn on their parent's background, panels with bevels, paint boxes, shapes and radio buttons.

#include "platform/Colors.h"
#include "platform/Surface.h"

#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QStaticText>

class TLabel : public QLabel
{
    Q_OBJECT
public:
    // A transparent label: the text is drawn at the top left of its box on the parent's
    // background, in `color` and `font`, neither wrapped nor moved. The box keeps its left
    // and top and grows where the text needs more room.
    TLabel(QWidget* parent, const QString& name, const QRect& geometry, const QString& text,
           TColor color, const QFont& font);

    void SetFontColor(TColor color);
    // Sets the text; the box grows where the new text needs more room.
    void SetCaption(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // What the label knows of a text it has shown: a clock label cycles through a few dozen
    // texts many times a second, and measuring or laying out a text means shaping it.
    struct TShownText
    {
        int Width = 0;      // as the box needs it
        QStaticText Layout; // one line, for painting
    };
    const TShownText& Shown(const QString& text);
    QHash<QString, TShownText> FShown;
};

enum TBevelCut
{
    bvNone,
    bvLowered,
    bvRaised,
    bvSpace
};

class TPanel : public QWidget
{
    Q_OBJECT
public:
    TPanel(QWidget* parent, const QString& name);

    void SetColor(TColor color);
    TColor Color() const { return FColor; }
    void SetBevels(TBevelCut inner, TBevelCut outer);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TColor FColor = clBtnFace;
    TBevelCut FInner = bvNone;
    TBevelCut FOuter = bvRaised;
};

// Sets the widget's background colour (drawn by Qt behind its children).
void SetBackgroundColor(QWidget* widget, TColor color);
// Sets the colour of the widget's own text (a check box's or a radio button's caption).
void SetTextColor(QWidget* widget, TColor color);

// An area that handlers draw on through Canvas(), outside any paint. It keeps nothing of its own:
// whenever the area is rendered again (shown again after another page was in front, resized,
// Invalidate) it shows just its colour, and what was drawn on it is gone.
class TPaintBox : public TSurfaceWidget
{
    Q_OBJECT
public:
    TPaintBox(QWidget* parent, const QString& name, const QRect& geometry);

    TColor Color() const { return FColor; }
    // Invalidates.
    void SetColor(TColor color);

protected:
    void Paint() override;

private:
    TColor FColor = clBtnFace;
};

// A rectangle filled with the brush colour and outlined one pixel wide with the pen colour.
class TShape : public QWidget
{
    Q_OBJECT
public:
    TShape(QWidget* parent, const QString& name, const QRect& geometry, TColor brushColor,
           TColor penColor);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TColor FBrushColor;
    TColor FPenColor;
};

// A radio button that stands alone: a click checks it (and a click on it when checked keeps it
// checked), and the program may check or uncheck it. clicked() comes with every click;
// setChecked() runs no click handler.
// A progress bar that shows every value above its minimum, in proportion: the style's own bar
// rounds a chunk narrower than its end caps away (a 65 px bar showed nothing below 13 of 100),
// so the chunk is drawn as the style draws a full one, cut at the value's share of the bar; and
// every change of the value is repainted.
class TLevelBar : public QProgressBar
{
    Q_OBJECT
public:
    TLevelBar(QWidget* parent, const QString& name, const QRect& geometry);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TRadioButton : public QRadioButton
{
    Q_OBJECT
public:
    TRadioButton(QWidget* parent, const QString& name, const QRect& geometry, const QString& text);

protected:
    void nextCheckState() override { setChecked(true); }
};
