#pragma once
// Pictures and the drawing surface that draws on them.
//
// TCanvas draws with the vocabulary the controls are written in (brush, pen, fill rectangle,
// rectangle, ellipse, polyline, text out, draw and stretch-draw pictures, copy with a replaced
// colour) and follows the rules those controls count on: rectangles are (Left, Top, Right,
// Bottom) with Right and Bottom exclusive, and a line or polyline leaves out its last point.
//
// A canvas draws into a QImage. Outside a paint (BeginPaint/EndPaint) every operation is drawn
// at once and the touched rectangle is reported through the change handler, so the widget that
// owns the image can put it on screen; inside a paint the operations are clipped to the area
// being repainted.
//
// Screen scale: coordinates are logical pixels. The target image may carry a device pixel ratio
// (a drawing surface's backing image has the screen's), and the canvas then draws what it draws
// at a ratio of 1, scaled: the rules above hold in logical pixels. Where a fractional ratio puts
// an edge between device pixels, the edge snaps to the nearest device pixel edge, halves rounded
// up (logical edge x lands on device edge floor(x * ratio + 0.5)): rectangles that touch still
// tile without gap or overlap, and a one-pixel line is one or two device pixels wide at 125 %
// and 150 %, two at 200 %, never blurred. Outlines and wide pens run through the centres of the
// pixels named. Pictures are drawn at their logical size (the image's size over its ratio); one
// drawn at a ratio above 1 is resampled smoothly to the target's ratio, one at ratio 1 (pixel art)
// keeps its pixels, each repeated over the device pixels it covers (whole steps at 200 %). Text is
// laid out in logical pixels and rendered at the target's ratio.

#include "platform/Colors.h"

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

struct TRect
{
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    constexpr int Width() const { return Right - Left; }
    constexpr int Height() const { return Bottom - Top; }
    constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
    static TRect FromQRect(const QRect& r)
    {
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

constexpr TRect Rect(int left, int top, int right, int bottom)
{
    return TRect{left, top, right, bottom};
}

enum TPenStyle
{
    psSolid,
    psDash,
    psDot,
    psClear
};
enum TBrushStyle
{
    bsSolid,
    bsClear
};

struct TPen
{
    TColor Color = clBlack;
    int Width = 1;
    TPenStyle Style = psSolid;
};

struct TBrush
{
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
};

class TBitmap;

// The size of an image in logical pixels: its size over its device pixel ratio.
QSize LogicalSize(const QImage& image);

class TCanvas
{
public:
    explicit TCanvas(QImage* target = nullptr);
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;
    ~TCanvas();

    void SetTarget(QImage* target);
    QImage* Target() const { return FTarget; }

    // Called with the touched rectangle after each operation drawn outside a paint.
    void SetChangedHandler(std::function<void(const QRect&)> handler);
    // Called before drawing when the target image has not been made yet.
    void SetTargetProvider(std::function<void()> provider);

    // Paint bracket: operations in between are clipped to `clip` and report no changes.
    void BeginPaint(const QRegion& clip);
    void EndPaint();
    bool Painting() const { return FPainter != nullptr; }
    // Narrows the paint clip to `r` (within the paint's own clip); an empty rect restores it.
    void SetPaintClip(const QRect& r);
    QRect PaintClipBounds() const;

    TPen Pen;
    TBrush Brush;
    QFont Font;
    TColor FontColor = clWindowText;
    QPoint PenPos;

    void FillRect(const TRect& r);
    void FrameRect(const TRect& r);
    void Rectangle(const TRect& r);
    void Rectangle(int l, int t, int r, int b) { Rectangle(Rect(l, t, r, b)); }
    void Ellipse(const TRect& r);
    void Ellipse(int l, int t, int r, int b) { Ellipse(Rect(l, t, r, b)); }
    void MoveTo(int x, int y) { PenPos = QPoint(x, y); }
    void LineTo(int x, int y);
    void Polyline(std::span<const QPoint> points);
    void Polyline(std::initializer_list<QPoint> points)
    {
        Polyline(std::span<const QPoint>(points.begin(), points.size()));
    }

    void TextOut(int x, int y, const QString& text);
    // Text clipped to r, written at (x, y), on the brush when the brush is solid.
    void TextRect(const TRect& r, int x, int y, const QString& text);
    QSize TextExtent(const QString& text) const;
    int TextWidth(const QString& text) const { return TextExtent(text).width(); }

    void Draw(int x, int y, const TBitmap& picture);
    void Draw(int x, int y, const QImage& picture);
    void StretchDraw(const TRect& dest, const TBitmap& picture);
    // Copies source rectangle `src` of `image` onto `dest`, stretching (nearest pixel, rows and
    // columns dropped or repeated, never blended) when the sizes differ.
    void CopyRect(const TRect& dest, const QImage& image, const TRect& src);
    // Copies like CopyRect, with every pixel of colour `transparent` replaced by the brush.
    void BrushCopy(const TRect& dest, const QImage& image, const TRect& src, TColor transparent);
    // The dotted focus rectangle, drawn by inverting every other pixel of the outline.
    void DrawFocusRect(const TRect& r);

    // The colour of the device pixel under the centre of logical pixel (x, y).
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor c);

private:
    class PainterScope;
    void Changed(const QRect& r);
    void DrawEllipse(const QRect& q);
    struct TEllipseStyle;
    bool CopyEllipse(const QRect& q, const TEllipseStyle& style);
    void LinePixels(QPoint from, QPoint to, std::vector<QRect>& out) const;
    void StrokeSegments(std::span<const QPoint> points);

    QImage* FTarget = nullptr;
    std::function<void(const QRect&)> FChanged;
    std::function<void()> FProvideTarget;
    std::unique_ptr<class QPainter> FPainter;
    QRegion FPaintClip;
    QRect FClipBounds; // bounds of the clip in force during a paint

    // The last ellipse drawn outside a paint and the target's contents key right after it. The
    // same ellipse again on a target nobody changed since would set the same pixels: a clock
    // that marks the same slot a thousand times a second draws it once.
    // Pen and brush as an ellipse is drawn with them, colours resolved (a system colour follows
    // the palette).
    struct TEllipseStyle
    {
        QRgb PenColor = 0;
        int PenWidth = 0;
        TPenStyle PenStyle = psSolid;
        QRgb BrushColor = 0;
        TBrushStyle BrushStyle = bsSolid;
        bool operator==(const TEllipseStyle&) const = default;
    };
    TEllipseStyle EllipseStyle() const;
    struct TLastEllipse
    {
        QImage* Target = nullptr;
        qint64 Key = 0;
        QRect Box;
        TEllipseStyle Style;
    };
    TLastEllipse FLastEllipse;

    // An ellipse's pixels on a transparent picture of its own box, drawn once per size and
    // style: see CopyEllipse.
    struct TEllipseStamp
    {
        QSize Size;
        TEllipseStyle Style;
        QImage Pixels;
        bool Usable = false;
    };
    TEllipseStamp FEllipseStamp;
};

// A device-independent picture with a drawing surface of its own. Sizes are logical pixels.
class TBitmap
{
public:
    TBitmap();
    TBitmap(int width, int height);
    explicit TBitmap(const QImage& image);
    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);
    ~TBitmap();

    // The size in logical pixels; a picture made at a device pixel ratio above 1 (drawn artwork
    // for high-density screens) has more pixels than that.
    int Width() const { return LogicalSize(FImage).width(); }
    int Height() const { return LogicalSize(FImage).height(); }
    bool Empty() const { return FImage.isNull() || FImage.width() == 0 || FImage.height() == 0; }
    void SetWidth(int w) { SetSize(w, Height()); }
    void SetHeight(int h) { SetSize(Width(), h); }
    // Keeps the overlapping part of the old image; new area is white.
    void SetSize(int w, int h);
    // Copies the image (converted to the picture format, keeping its device pixel ratio).
    void Assign(const QImage& image);
    void Assign(const TBitmap& other) { Assign(other.FImage); }

    const QImage& Image() const { return FImage; }
    TCanvas* Canvas() { return &FCanvas; }

private:
    QImage FImage;
    TCanvas FCanvas{&FImage};
};
