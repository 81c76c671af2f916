#pragma once
// The look of a small horizontal track bar with tick marks below, in the height the toolkit's
// own track bar has (about 19 px): a thin sunken groove, a handle 9 px wide and 10 px high
// on it, and light tick marks under the groove, one for each value, readable on a dark
// panel. Everything else is drawn by the style it is laid over.
//
// Give it to a slider with setStyle(); the slider does not own it, so parent it to the slider.

#include <QProxyStyle>

class TTrackBarStyle : public QProxyStyle
{
    Q_OBJECT
public:
    // The handle and groove lie in the rows HandleTop to HandleTop + HandleHeight - 1 (the
    // rows above stay free for a control just above the bar), the ticks below them.
    static constexpr int HandleTop = 3;
    static constexpr int HandleWidth = 9;
    static constexpr int HandleHeight = 10;
    static constexpr int TickTop = 15;
    static constexpr int TickLength = 4;

    explicit TTrackBarStyle(QObject* parent = nullptr);

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl subControl, const QWidget* widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
};
