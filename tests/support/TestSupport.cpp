#include "TestSupport.h"

#include <QTest>

QImage Grab(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TColor PixelOf(const QImage& image, int x, int y)
{
    return FromQColor(image.pixelColor(x, y));
}

void ShowAndWait(QWidget* widget)
{
    widget->show();
    (void)QTest::qWaitForWindowExposed(widget);
}
