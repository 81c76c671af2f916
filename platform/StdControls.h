#pragma once
// The standard controls the windows use, as Qt widgets placed in pixels at 96 dpi: labels
// drawn on their parent's background, panels with bevels.

#include "platform/Colors.h"

#include <QFrame>
#include <QLabel>

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
