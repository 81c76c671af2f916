#include "Surface.h"

#include "core/ErrorReport.h"

#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace {

// The backing image's size in device pixels: whole device pixels covering the client area.
QSize DeviceSize(const TRect& client, qreal ratio)
{
    return QSize(std::max(1, int(std::ceil(client.Width() * ratio - 0.001))),
                 std::max(1, int(std::ceil(client.Height() * ratio - 0.001))));
}

} // namespace

TSurfaceWidget::TSurfaceWidget(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    FCanvas.SetChangedHandler([this](const QRect& r) { update(r.translated(FBorder, FBorder)); });
    FCanvas.SetTargetProvider([this] { EnsureImage(); });
}

TRect TSurfaceWidget::ClientRect() const
{
    return Rect(0, 0, std::max(0, width() - 2 * FBorder), std::max(0, height() - 2 * FBorder));
}

void TSurfaceWidget::SetBorderWidth(int width)
{
    if (width == FBorder)
        return;
    FBorder = std::max(0, width);
    FImage = QImage();
    Invalidate();
}

const QImage& TSurfaceWidget::Surface() const
{
    const_cast<TSurfaceWidget*>(this)->EnsureImage();
    return FImage;
}

void TSurfaceWidget::EnsureImage()
{
    const TRect client = ClientRect();
    const qreal dpr = devicePixelRatioF();
    if (FImage.isNull() || !qFuzzyCompare(FImage.devicePixelRatio(), dpr) ||
        FImage.size() != DeviceSize(client, dpr)) {
        ResizeImage();
        FDirty = QRegion(client.ToQRect());
    }
}

void TSurfaceWidget::ResizeImage()
{
    const TRect client = ClientRect();
    const qreal dpr = devicePixelRatioF();
    QImage next(DeviceSize(client, dpr), QImage::Format_RGB32);
    next.setDevicePixelRatio(dpr);
    next.fill(palette().color(QPalette::Window));
    FImage = next;
    FCanvas.SetTarget(&FImage);
}

void TSurfaceWidget::Invalidate()
{
    FDirty = QRegion(ClientRect().ToQRect());
    update();
}

void TSurfaceWidget::Invalidate(const TRect& r)
{
    const QRect q = r.ToQRect().intersected(ClientRect().ToQRect());
    if (q.isEmpty())
        return;
    FDirty += q;
    update(q.translated(FBorder, FBorder));
}

void TSurfaceWidget::RenderPending()
{
    // A new image (first use, new size, or a screen of another pixel density) is rendered whole.
    EnsureImage();
    if (FDirty.isEmpty() || FCanvas.Painting())
        return;
    const QRegion area = FDirty;
    FDirty = QRegion();
    FCanvas.BeginPaint(area);
    Guard(this, [this] { Paint(); });
    FCanvas.EndPaint();
}

void TSurfaceWidget::paintEvent(QPaintEvent* event)
{
    RenderPending();
    QPainter p(this);
    const QRect client = ClientRect().ToQRect().translated(FBorder, FBorder);
    const QRect target = event->rect().intersected(client);
    if (!target.isEmpty()) {
        // The image's own pixels, one for one, from the device pixel nearest to the client
        // area's corner: at a fractional ratio that corner may lie inside a device pixel, and
        // the image is never resampled to follow it.
        const QTransform toDevice = p.deviceTransform();
        const QPointF corner = toDevice.map(QPointF(client.topLeft()));
        const QRectF device(std::floor(corner.x() + 0.5), std::floor(corner.y() + 0.5),
                            FImage.width(), FImage.height());
        p.setClipRect(target);
        p.drawImage(toDevice.inverted().mapRect(device), FImage, QRectF(FImage.rect()));
        p.setClipping(false);
    }
    if (FBorder > 0) {
        // Sunken edge: shadow and dark outside, highlight and face inside.
        const QRect r = rect();
        const QPalette pal = palette();
        auto edge = [&](const QRect& q, const QColor& topLeft, const QColor& bottomRight) {
            p.fillRect(QRect(q.left(), q.top(), q.width(), 1), topLeft);
            p.fillRect(QRect(q.left(), q.top(), 1, q.height()), topLeft);
            p.fillRect(QRect(q.left(), q.bottom(), q.width(), 1), bottomRight);
            p.fillRect(QRect(q.right(), q.top(), 1, q.height()), bottomRight);
        };
        edge(r, pal.color(QPalette::Dark), pal.color(QPalette::Light));
        if (FBorder > 1)
            edge(r.adjusted(1, 1, -1, -1), pal.color(QPalette::Shadow),
                 pal.color(QPalette::Button));
    }
}

void TSurfaceWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FImage = QImage();
    Invalidate();
}

bool TSurfaceWidget::event(QEvent* event)
{
    // On a screen of another pixel density the backing image is made again at its ratio and
    // rendered whole; drawings made at the old ratio are not kept.
    if (event->type() == QEvent::ScreenChangeInternal
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
        || event->type() == QEvent::DevicePixelRatioChange
#endif
    ) {
        if (!FImage.isNull() && !qFuzzyCompare(FImage.devicePixelRatio(), devicePixelRatioF())) {
            FImage = QImage();
            Invalidate();
        }
    }
    return QWidget::event(event);
}

void TSurfaceWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Invalidate();
    RenderPending();
}
