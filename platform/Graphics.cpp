#include "Graphics.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

QSize LogicalSize(const QImage& image)
{
    if (image.isNull())
        return QSize();
    const qreal dpr = image.devicePixelRatio();
    return QSize(int(std::lround(image.width() / dpr)), int(std::lround(image.height() / dpr)));
}

namespace {

qreal RatioOf(const QImage* image)
{
    return image && !image->isNull() ? image->devicePixelRatio() : 1.0;
}

// Paths (outlines of ellipses, wide pens) run through the centres of the pixels their
// coordinates name. At a ratio of 1 the aliased painter already does so; elsewhere the path is
// moved by half a pixel, so that a one-pixel outline covers the pixels [l, r) it covers at 1.
void CentrePaths(QPainter& p, qreal ratio)
{
    if (!qFuzzyCompare(ratio, 1.0))
        p.translate(0.5, 0.5);
}

// The pen of a path that is one pixel wide: one device pixel at a ratio of 1, one logical
// pixel elsewhere.
QPen ThinPen(const QColor& c, qreal ratio)
{
    return QPen(c, qFuzzyCompare(ratio, 1.0) ? 0 : 1);
}

} // namespace

// Gives an operation a painter: the paint's own one inside a paint, a fresh one otherwise.
class TCanvas::PainterScope
{
public:
    explicit PainterScope(TCanvas& canvas)
    {
        if (!canvas.FPainter && canvas.FTarget && canvas.FTarget->isNull() && canvas.FProvideTarget)
            canvas.FProvideTarget();
        if (canvas.FPainter) {
            FPainter = canvas.FPainter.get();
            FPainter->save();
        } else if (canvas.FTarget && !canvas.FTarget->isNull()) {
            FOwn.emplace(canvas.FTarget);
            FPainter = &*FOwn;
        }
        if (FPainter)
            FPainter->setRenderHint(QPainter::Antialiasing, false);
    }
    ~PainterScope()
    {
        if (FPainter && !FOwn)
            FPainter->restore();
    }
    QPainter* operator->() { return FPainter; }
    QPainter& Get() { return *FPainter; }
    explicit operator bool() const { return FPainter != nullptr; }

private:
    std::optional<QPainter> FOwn;
    QPainter* FPainter = nullptr;
};

TCanvas::TCanvas(QImage* target) : FTarget(target) {}

TCanvas::~TCanvas() = default;

void TCanvas::SetTarget(QImage* target)
{
    FTarget = target;
}

void TCanvas::SetChangedHandler(std::function<void(const QRect&)> handler)
{
    FChanged = std::move(handler);
}

void TCanvas::SetTargetProvider(std::function<void()> provider)
{
    FProvideTarget = std::move(provider);
}

void TCanvas::BeginPaint(const QRegion& clip)
{
    if (FPainter || !FTarget || FTarget->isNull())
        return;
    FPainter = std::make_unique<QPainter>(FTarget);
    FPaintClip = clip;
    FClipBounds = clip.boundingRect();
    FPainter->setClipRegion(clip);
}

void TCanvas::EndPaint()
{
    FPainter.reset();
    FPaintClip = QRegion();
}

void TCanvas::SetPaintClip(const QRect& r)
{
    if (!FPainter)
        return;
    const QRegion clip = r.isEmpty() ? FPaintClip : FPaintClip.intersected(r);
    FClipBounds = clip.boundingRect();
    FPainter->setClipRegion(clip);
}

QRect TCanvas::PaintClipBounds() const
{
    if (FPainter)
        return FClipBounds;
    return FTarget ? QRect(QPoint(0, 0), LogicalSize(*FTarget)) : QRect();
}

void TCanvas::Changed(const QRect& r)
{
    if (!FPainter && FChanged && !r.isEmpty())
        FChanged(r);
}

void TCanvas::FillRect(const TRect& r)
{
    // Owner drawing often fills many cells of which few lie in the area being repainted.
    if (r.IsEmpty() || (FPainter && !FClipBounds.intersects(r.ToQRect())))
        return;
    PainterScope p(*this);
    if (!p)
        return;
    p->fillRect(r.ToQRect(), ToQColor(Brush.Color));
    Changed(r.ToQRect());
}

void TCanvas::FrameRect(const TRect& r)
{
    if (r.IsEmpty())
        return;
    PainterScope p(*this);
    if (!p)
        return;
    const QColor c = ToQColor(Brush.Color);
    const QRect q = r.ToQRect();
    p->fillRect(QRect(q.left(), q.top(), q.width(), 1), c);
    p->fillRect(QRect(q.left(), q.bottom(), q.width(), 1), c);
    p->fillRect(QRect(q.left(), q.top(), 1, q.height()), c);
    p->fillRect(QRect(q.right(), q.top(), 1, q.height()), c);
    Changed(q);
}

void TCanvas::Rectangle(const TRect& r)
{
    if (r.IsEmpty())
        return;
    PainterScope p(*this);
    if (!p)
        return;
    const QRect q = r.ToQRect();
    if (Pen.Style == psClear) {
        // Without a pen the filled area ends one pixel short on the right and bottom.
        if (Brush.Style == bsSolid)
            p->fillRect(q.adjusted(0, 0, -1, -1), ToQColor(Brush.Color));
    } else if (Pen.Width <= 1 && Pen.Style == psSolid) {
        if (Brush.Style == bsSolid)
            p->fillRect(q, ToQColor(Brush.Color));
        const QColor c = ToQColor(Pen.Color);
        p->fillRect(QRect(q.left(), q.top(), q.width(), 1), c);
        p->fillRect(QRect(q.left(), q.bottom(), q.width(), 1), c);
        p->fillRect(QRect(q.left(), q.top(), 1, q.height()), c);
        p->fillRect(QRect(q.right(), q.top(), 1, q.height()), c);
    } else {
        QPen pen(ToQColor(Pen.Color), std::max(1, Pen.Width),
                 Pen.Style == psDash  ? Qt::DashLine
                 : Pen.Style == psDot ? Qt::DotLine
                                      : Qt::SolidLine,
                 Qt::SquareCap, Qt::MiterJoin);
        p->setPen(pen);
        p->setBrush(Brush.Style == bsSolid ? QBrush(ToQColor(Brush.Color)) : QBrush(Qt::NoBrush));
        CentrePaths(p.Get(), RatioOf(FTarget));
        p->drawRect(QRect(q.left(), q.top(), q.width() - 1, q.height() - 1));
    }
    Changed(q.adjusted(-Pen.Width, -Pen.Width, Pen.Width, Pen.Width));
}

void TCanvas::Ellipse(const TRect& r)
{
    if (r.IsEmpty())
        return;
    const QRect q = r.ToQRect();
    // Drawing is opaque and not antialiased, so the same ellipse on unchanged pixels changes
    // nothing; any change of the image (a paint, any drawing) gives it a new contents key.
    const TLastEllipse& last = FLastEllipse;
    const TEllipseStyle style = EllipseStyle();
    if (!FPainter && FTarget && !FTarget->isNull() && last.Target == FTarget &&
        last.Key == FTarget->cacheKey() && last.Box == q && last.Style == style)
        return;
    if (!CopyEllipse(q, style))
        DrawEllipse(q);
    if (!FPainter && FTarget && !FTarget->isNull())
        FLastEllipse = {FTarget, FTarget->cacheKey(), q, style};
    Changed(q.adjusted(-Pen.Width, -Pen.Width, Pen.Width, Pen.Width));
}

// At a ratio of 1, an aliased ellipse with a thin outline or none is drawn by the painter in
// whole-pixel steps from its box alone, so it is the same set of pixels wherever the box lies.
// Its pixels are then drawn once on a picture of their own and copied from there at each
// position, without a painter: a running clock draws the same ellipse thousands of times a
// second. Anything else (another ratio or pen, a paint in progress, another kind of image) is
// drawn by the painter.
TCanvas::TEllipseStyle TCanvas::EllipseStyle() const
{
    return {ToQColor(Pen.Color).rgba(), Pen.Width, Pen.Style, ToQColor(Brush.Color).rgba(),
            Brush.Style};
}

bool TCanvas::CopyEllipse(const QRect& q, const TEllipseStyle& style)
{
    constexpr int StampMargin = 1;
    // Stamps are for boxes of a few cells; a larger one is left to the painter, which only
    // touches what lies on the image.
    constexpr int MaxStampSide = 256;
    if (FPainter || !FTarget || FTarget->isNull() || FTarget->devicePixelRatio() != 1.0 ||
        q.width() > MaxStampSide || q.height() > MaxStampSide)
        return false;
    const QImage::Format format = FTarget->format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return false;
    if (Pen.Style != psClear && (Pen.Style != psSolid || Pen.Width > 1))
        return false;
    TEllipseStamp& stamp = FEllipseStamp;
    if (stamp.Size != q.size() || !(stamp.Style == style)) {
        // A pixel of margin all round, in case the outline strays past the box.
        stamp = {q.size(), style,
                 QImage(q.size() + QSize(2 * StampMargin, 2 * StampMargin),
                        QImage::Format_ARGB32),
                 false};
        if (stamp.Pixels.isNull())
            return false;
        stamp.Pixels.fill(Qt::transparent);
        TCanvas painter(&stamp.Pixels);
        painter.Pen = Pen;
        painter.Brush = Brush;
        painter.DrawEllipse(QRect(QPoint(StampMargin, StampMargin), q.size()));
        // Aliased: every pixel is either left alone or set outright.
        stamp.Usable = true;
        for (int y = 0; y < stamp.Pixels.height() && stamp.Usable; ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(stamp.Pixels.constScanLine(y));
            for (int x = 0; x < stamp.Pixels.width(); ++x)
                if (qAlpha(row[x]) != 0 && qAlpha(row[x]) != 255) {
                    stamp.Usable = false;
                    break;
                }
        }
    }
    if (!stamp.Usable)
        return false;
    const QPoint origin = q.topLeft() - QPoint(StampMargin, StampMargin);
    const QRect area = QRect(origin, stamp.Pixels.size()).intersected(FTarget->rect());
    uchar* const target = FTarget->bits(); // one detach for all rows
    const qsizetype stride = FTarget->bytesPerLine();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto* from =
            reinterpret_cast<const QRgb*>(stamp.Pixels.constScanLine(y - origin.y()));
        auto* to = reinterpret_cast<QRgb*>(target + y * stride);
        for (int x = area.left(); x <= area.right(); ++x)
            if (qAlpha(from[x - origin.x()]) == 255)
                to[x] = from[x - origin.x()];
    }
    return true;
}

void TCanvas::DrawEllipse(const QRect& q)
{
    PainterScope p(*this);
    if (!p)
        return;
    const qreal ratio = RatioOf(FTarget);
    if (Pen.Style == psClear)
        p->setPen(Qt::NoPen);
    else if (Pen.Width <= 1)
        p->setPen(ThinPen(ToQColor(Pen.Color), ratio));
    else
        p->setPen(QPen(ToQColor(Pen.Color), Pen.Width));
    p->setBrush(Brush.Style == bsSolid ? QBrush(ToQColor(Brush.Color)) : QBrush(Qt::NoBrush));
    CentrePaths(p.Get(), ratio);
    p->drawEllipse(QRect(q.left(), q.top(), q.width() - 1, q.height() - 1));
}

// The pixels of a one-pixel line from `from` towards `to`, without the end point, as runs.
void TCanvas::LinePixels(QPoint from, QPoint to, std::vector<QRect>& out) const
{
    const int dx = std::abs(to.x() - from.x());
    const int dy = std::abs(to.y() - from.y());
    const int sx = to.x() >= from.x() ? 1 : -1;
    const int sy = to.y() >= from.y() ? 1 : -1;
    if (dy == 0) {
        if (dx > 0)
            out.emplace_back(sx > 0 ? from.x() : to.x() + 1, from.y(), dx, 1);
        return;
    }
    if (dx == 0) {
        out.emplace_back(from.x(), sy > 0 ? from.y() : to.y() + 1, 1, dy);
        return;
    }
    int x = from.x();
    int y = from.y();
    if (dx >= dy) {
        int err = 2 * dy - dx;
        for (int i = 0; i < dx; ++i) {
            out.emplace_back(x, y, 1, 1);
            if (err > 0) {
                y += sy;
                err -= 2 * dx;
            }
            err += 2 * dy;
            x += sx;
        }
    } else {
        int err = 2 * dx - dy;
        for (int i = 0; i < dy; ++i) {
            out.emplace_back(x, y, 1, 1);
            if (err > 0) {
                x += sx;
                err -= 2 * dy;
            }
            err += 2 * dx;
            y += sy;
        }
    }
}

void TCanvas::StrokeSegments(std::span<const QPoint> points)
{
    if (points.size() < 2 || Pen.Style == psClear)
        return;
    PainterScope p(*this);
    if (!p)
        return;
    QRect bounds;
    for (const QPoint& pt : points)
        bounds |= QRect(pt, QSize(1, 1));
    const QColor c = ToQColor(Pen.Color);
    if (Pen.Width <= 1 && Pen.Style == psSolid) {
        std::vector<QRect> pixels;
        for (size_t i = 0; i + 1 < points.size(); ++i)
            LinePixels(points[i], points[i + 1], pixels);
        for (const QRect& px : pixels)
            p->fillRect(px, c);
    } else {
        // A wide pen has round ends and joins and is centred on the line.
        QPen pen(c, std::max(1, Pen.Width),
                 Pen.Style == psDash  ? Qt::DashLine
                 : Pen.Style == psDot ? Qt::DotLine
                                      : Qt::SolidLine,
                 Qt::RoundCap, Qt::RoundJoin);
        if (Pen.Width <= 1)
            pen.setCapStyle(Qt::FlatCap);
        p->setPen(pen);
        p->setBrush(Qt::NoBrush);
        CentrePaths(p.Get(), RatioOf(FTarget));
        p->drawPolyline(points.data(), int(points.size()));
    }
    Changed(bounds.adjusted(-Pen.Width, -Pen.Width, Pen.Width, Pen.Width));
}

void TCanvas::LineTo(int x, int y)
{
    const QPoint pts[2] = {PenPos, QPoint(x, y)};
    StrokeSegments(pts);
    PenPos = QPoint(x, y);
}

void TCanvas::Polyline(std::span<const QPoint> points)
{
    StrokeSegments(points);
}

QSize TCanvas::TextExtent(const QString& text) const
{
    const QFontMetrics fm(Font);
    return QSize(fm.horizontalAdvance(text), fm.height());
}

void TCanvas::TextOut(int x, int y, const QString& text)
{
    const QSize size = TextExtent(text);
    TextRect(Rect(x, y, x + size.width(), y + size.height()), x, y, text);
}

void TCanvas::TextRect(const TRect& r, int x, int y, const QString& text)
{
    PainterScope p(*this);
    if (!p || r.IsEmpty())
        return;
    p->setClipRect(r.ToQRect(), Qt::IntersectClip);
    if (Brush.Style == bsSolid)
        p->fillRect(r.ToQRect(), ToQColor(Brush.Color));
    p->setFont(Font);
    p->setPen(ToQColor(FontColor));
    const QFontMetrics fm(Font);
    p->drawText(QPoint(x, y + fm.ascent()), text);
    Changed(r.ToQRect());
}

void TCanvas::Draw(int x, int y, const TBitmap& picture)
{
    Draw(x, y, picture.Image());
}

void TCanvas::Draw(int x, int y, const QImage& picture)
{
    if (picture.isNull())
        return;
    const QSize size = LogicalSize(picture);
    CopyRect(Rect(x, y, x + size.width(), y + size.height()), picture,
             Rect(0, 0, size.width(), size.height()));
}

void TCanvas::StretchDraw(const TRect& dest, const TBitmap& picture)
{
    CopyRect(dest, picture.Image(), Rect(0, 0, picture.Width(), picture.Height()));
}

namespace {

// The part of `src` that lies inside the image, and the matching part of `dest`; parts of the
// source outside the image are not read and leave the destination untouched.
bool ClipSource(const QImage& image, TRect& dest, TRect& src)
{
    if (src.IsEmpty() || dest.IsEmpty())
        return false;
    const QSize size = LogicalSize(image);
    const TRect bounds = Rect(0, 0, size.width(), size.height());
    TRect inside = Rect(std::max(src.Left, bounds.Left), std::max(src.Top, bounds.Top),
                        std::min(src.Right, bounds.Right), std::min(src.Bottom, bounds.Bottom));
    if (inside.IsEmpty())
        return false;
    if (inside == src)
        return true;
    // Scale the cut into destination coordinates.
    auto mapX = [&](int sx) {
        return dest.Left + int((long long)(sx - src.Left) * dest.Width() / src.Width());
    };
    auto mapY = [&](int sy) {
        return dest.Top + int((long long)(sy - src.Top) * dest.Height() / src.Height());
    };
    dest = Rect(mapX(inside.Left), mapY(inside.Top), mapX(inside.Right), mapY(inside.Bottom));
    src = inside;
    return !dest.IsEmpty();
}

} // namespace

void TCanvas::CopyRect(const TRect& destIn, const QImage& image, const TRect& srcIn)
{
    TRect dest = destIn;
    TRect src = srcIn;
    if (image.isNull() || !ClipSource(image, dest, src))
        return;
    PainterScope p(*this);
    if (!p)
        return;
    // A picture drawn at a ratio above 1 is resampled smoothly to the target's ratio; pixel art
    // (ratio 1) keeps its pixels, each repeated over the device pixels it covers.
    const qreal ratio = image.devicePixelRatio();
    p->setRenderHint(QPainter::SmoothPixmapTransform, ratio > 1.0);
    p->setCompositionMode(QPainter::CompositionMode_Source);
    const QRectF source(src.Left * ratio, src.Top * ratio, src.Width() * ratio,
                        src.Height() * ratio);
    p->drawImage(QRectF(dest.ToQRect()), image, source);
    Changed(dest.ToQRect());
}

void TCanvas::BrushCopy(const TRect& destIn, const QImage& image, const TRect& srcIn,
                        TColor transparent)
{
    TRect dest = destIn;
    TRect src = srcIn;
    if (image.isNull() || !ClipSource(image, dest, src))
        return;
    const qreal ratio = image.devicePixelRatio();
    QImage part = image
                      .copy(QRect(int(src.Left * ratio), int(src.Top * ratio),
                                  int(std::lround(src.Width() * ratio)),
                                  int(std::lround(src.Height() * ratio))))
                      .convertToFormat(QImage::Format_RGB32);
    part.setDevicePixelRatio(ratio);
    const QRgb from = ToQColor(transparent).rgb() & 0xFFFFFF;
    const QRgb to = ToQColor(Brush.Color).rgb();
    for (int y = 0; y < part.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(part.scanLine(y));
        for (int x = 0; x < part.width(); ++x)
            if ((line[x] & 0xFFFFFF) == from)
                line[x] = to;
    }
    CopyRect(dest, part, Rect(0, 0, src.Width(), src.Height()));
}

void TCanvas::DrawFocusRect(const TRect& r)
{
    if (r.IsEmpty() || !FTarget || FTarget->isNull())
        return;
    PainterScope p(*this);
    if (!p)
        return;
    p->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    const QColor white(255, 255, 255);
    // Every other pixel along the outline, starting at the top left corner.
    int i = 0;
    auto dot = [&](int x, int y) {
        if ((i++ & 1) == 0)
            p->fillRect(QRect(x, y, 1, 1), white);
    };
    for (int x = r.Left; x < r.Right; ++x)
        dot(x, r.Top);
    for (int y = r.Top + 1; y < r.Bottom; ++y)
        dot(r.Right - 1, y);
    for (int x = r.Right - 2; x >= r.Left; --x)
        dot(x, r.Bottom - 1);
    for (int y = r.Bottom - 2; y > r.Top; --y)
        dot(r.Left, y);
    Changed(r.ToQRect());
}

TColor TCanvas::Pixel(int x, int y) const
{
    if (!FTarget || FTarget->isNull())
        return clBlack;
    // The device pixel under the logical pixel's centre.
    const qreal ratio = FTarget->devicePixelRatio();
    const QPoint device(int(std::floor((x + 0.5) * ratio)), int(std::floor((y + 0.5) * ratio)));
    if (x < 0 || y < 0 || !FTarget->rect().contains(device))
        return clBlack;
    return FromQColor(FTarget->pixelColor(device));
}

void TCanvas::SetPixel(int x, int y, TColor c)
{
    PainterScope p(*this);
    if (!p)
        return;
    p->fillRect(QRect(x, y, 1, 1), ToQColor(c));
    Changed(QRect(x, y, 1, 1));
}

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int width, int height)
{
    SetSize(width, height);
}

TBitmap::TBitmap(const QImage& image)
{
    Assign(image);
}

TBitmap::TBitmap(const TBitmap& other) : FImage(other.FImage) {}

TBitmap& TBitmap::operator=(const TBitmap& other)
{
    if (this != &other)
        FImage = other.FImage;
    return *this;
}

TBitmap::~TBitmap() = default;

void TBitmap::SetSize(int w, int h)
{
    w = std::max(0, w);
    h = std::max(0, h);
    if (w == Width() && h == Height())
        return;
    // A picture keeps its ratio when resized.
    const qreal ratio = RatioOf(&FImage);
    QImage next(int(std::lround(w * ratio)), int(std::lround(h * ratio)), QImage::Format_RGB32);
    next.setDevicePixelRatio(ratio);
    next.fill(Qt::white);
    if (!FImage.isNull() && w > 0 && h > 0) {
        QPainter p(&next);
        p.drawImage(0, 0, FImage);
    }
    FImage = next;
}

void TBitmap::Assign(const QImage& image)
{
    FImage = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGB32);
}
