#include "platform/FramePacer.h"

#include "core/TickTimer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace {

// Refresh rates outside this range are taken for a screen that does not know its own.
constexpr qreal MinRefreshRate = 20;
constexpr qreal MaxRefreshRate = 500;
constexpr qreal DefaultRefreshRate = 60;

} // namespace

TFramePacer::TFramePacer(QWidget* window) : QObject(window), FWindow(window)
{
    FFlush.setSingleShot(true);
    FFlush.setTimerType(Qt::PreciseTimer);
    connect(&FFlush, &QTimer::timeout, this, &TFramePacer::Flush);
    FWindow->installEventFilter(this);
}

int TFramePacer::FrameInterval() const
{
    const QScreen* screen = FWindow->screen();
    qreal rate = screen != nullptr ? screen->refreshRate() : DefaultRefreshRate;
    if (!(rate >= MinRefreshRate && rate <= MaxRefreshRate))
        rate = DefaultRefreshRate;
    return std::max(1, int(std::floor(1000.0 / rate)));
}

void TFramePacer::Flush()
{
    FFlush.stop();
    FFlushing = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(FWindow, &request);
    FFlushing = false;
}

bool TFramePacer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != FWindow || event->type() != QEvent::UpdateRequest)
        return false;
    const qint64 now = MonotonicMilliseconds();
    const qint64 since = FLastPaintMs < 0 ? -1 : now - FLastPaintMs;
    if (FFlushing || since < 0 || since >= FrameInterval()) {
        // The first repaint after a quiet frame goes through at once: a click is answered
        // without delay.
        FFlush.stop();
        FLastPaintMs = now;
        return false;
    }
    // Everything dirty stays gathered in the window until the frame's end; no further request
    // is made meanwhile.
    if (!FFlush.isActive())
        FFlush.start(int(std::max<qint64>(1, FrameInterval() - since)));
    return true;
}
