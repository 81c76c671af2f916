#include "TestSupport.h"

#include <QTest>

ErrorRecorder::ErrorRecorder()
    // A reporter of exceptions, named so; the check takes it for an exception left unthrown.
    // NOLINTNEXTLINE(bugprone-throw-keyword-missing)
    : FReporter([this](QObject* sender, const QString& message) {
          Senders.append(sender);
          Messages.append(message);
      })
{
}

QImage Grab(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TColor PixelOf(const QImage& image, int x, int y)
{
    return FromQColor(image.pixelColor(x, y));
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

void ShowAndWait(QWidget* widget)
{
    widget->show();
    (void)QTest::qWaitForWindowExposed(widget);
}
