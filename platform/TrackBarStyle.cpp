#include "platform/TrackBarStyle.h"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionSlider>

namespace {

const QColor TickColour(224, 224, 224);
const QColor HandleFace(212, 208, 200);
const QColor HandleLight(255, 255, 255);
const QColor HandleShadow(64, 64, 64);
const QColor GrooveDark(32, 32, 32);
const QColor GrooveLight(160, 160, 160);

const QStyleOptionSlider* HorizontalSlider(QStyle::ComplexControl control,
                                           const QStyleOptionComplex* option)
{
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != QStyle::CC_Slider || slider == nullptr || slider->orientation != Qt::Horizontal)
        return nullptr;
    return slider;
}

// The x of the handle's left edge for a value.
int HandleLeft(const QStyleOptionSlider* slider, int value)
{
    return slider->rect.x() +
           QStyle::sliderPositionFromValue(slider->minimum, slider->maximum, value,
                                           slider->rect.width() - TTrackBarStyle::HandleWidth,
                                           slider->upsideDown);
}

} // namespace

TTrackBarStyle::TTrackBarStyle(QObject* parent)
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{
    setParent(parent);
}

int TTrackBarStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                const QWidget* widget) const
{
    switch (metric) {
    case PM_SliderLength:
        return HandleWidth;
    case PM_SliderThickness:
    case PM_SliderControlThickness:
        return HandleHeight;
    case PM_SliderTickmarkOffset:
        return TickTop - HandleTop - HandleHeight;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

QRect TTrackBarStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                     SubControl subControl, const QWidget* widget) const
{
    const QStyleOptionSlider* slider = HorizontalSlider(control, option);
    if (slider == nullptr)
        return QProxyStyle::subControlRect(control, option, subControl, widget);
    const QRect r = slider->rect;
    switch (subControl) {
    case SC_SliderHandle:
        return QRect(HandleLeft(slider, slider->sliderPosition), r.y() + HandleTop, HandleWidth,
                     HandleHeight);
    case SC_SliderGroove:
        return QRect(r.x(), r.y() + HandleTop, r.width(), HandleHeight);
    default:
        return QProxyStyle::subControlRect(control, option, subControl, widget);
    }
}

void TTrackBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                        QPainter* painter, const QWidget* widget) const
{
    const QStyleOptionSlider* slider = HorizontalSlider(control, option);
    if (slider == nullptr) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    painter->save();
    const QRect r = slider->rect;
    const int half = HandleWidth / 2;
    // Groove: a sunken line through the handle's middle, from the first to the last position.
    const int grooveTop = r.y() + HandleTop + HandleHeight / 2 - 1;
    const QRect groove(r.x() + half, grooveTop, r.width() - 2 * half, 3);
    painter->fillRect(groove, GrooveLight);
    painter->fillRect(groove.adjusted(0, 0, -1, -2), GrooveDark);
    painter->fillRect(QRect(groove.left(), groove.top(), 1, 2), GrooveDark);
    // Ticks: one for each value, under the handle's middle.
    if ((slider->tickPosition & QSlider::TicksBelow) != 0) {
        const int step =
            slider->tickInterval > 0 ? slider->tickInterval : std::max(1, slider->singleStep);
        for (int v = slider->minimum; v <= slider->maximum; v += step)
            painter->fillRect(QRect(HandleLeft(slider, v) + half, r.y() + TickTop, 1, TickLength),
                              TickColour);
    }
    // Handle: a raised button face.
    const QRect handle = subControlRect(control, option, SC_SliderHandle, widget);
    painter->fillRect(handle, HandleShadow);
    painter->fillRect(handle.adjusted(0, 0, -1, -1), HandleLight);
    painter->fillRect(handle.adjusted(1, 1, -1, -1), HandleFace);
    if ((slider->state & State_HasFocus) != 0) {
        painter->setPen(QPen(HandleShadow, 1, Qt::DotLine));
        painter->drawRect(handle.adjusted(2, 2, -3, -3));
    }
    painter->restore();
}
