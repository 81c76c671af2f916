#include "Artwork.h"

#include "core/PoolTask.h"
#include "platform/Colors.h"
#include "platform/Fonts.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <array>
#include <cmath>
#include <future>
#include <vector>

namespace Artwork {

namespace {

// Window places of the lamp pictures D0 .. D7.
constexpr std::array<QRect, 8> LampPlaces = {
    QRect(548, 486, 61, 57), QRect(485, 486, 61, 58), QRect(420, 485, 61, 60),
    QRect(357, 485, 60, 58), QRect(290, 487, 60, 56), QRect(218, 488, 61, 54),
    QRect(147, 484, 61, 60), QRect(73, 484, 65, 61),
};

constexpr int BoardWidth = 619;
constexpr int BoardHeight = 105;
constexpr double LampRadius = 22.0;

QPointF LampCentre(int k)
{
    const QRectF r = LampPlaces[size_t(k)];
    return QPointF(r.center().x() + 0.5 - BoardPlace.left(), 44.5);
}

// An image of `w` x `h` logical pixels at `ratio` device pixels each.
QImage Picture(int w, int h, int ratio, QImage::Format format)
{
    QImage image(w * ratio, h * ratio, format);
    image.setDevicePixelRatio(ratio);
    return image;
}

// The wooden board, computed pixel by pixel: a warm gradient from top to bottom crossed by
// gently waving darker grain lines, and a bevelled edge. At a ratio above 1 every device pixel
// is computed at the logical point under its centre.
void PaintWood(QImage& board)
{
    const int ratio = int(std::lround(board.devicePixelRatio()));
    auto logical = [ratio](int device) { return (device + 0.5) / ratio - 0.5; };
    constexpr int GrainLines = 14;
    constexpr double Spacing = 7.3;
    // The grain lines' heights at each column.
    const int columns = board.width();
    std::vector<double> grainY(size_t(GrainLines) * size_t(columns));
    for (int i = 0; i < GrainLines; ++i)
        for (int x = 0; x < columns; ++x)
            grainY[size_t(i) * size_t(columns) + size_t(x)] =
                4 + i * Spacing + 1.8 * std::sin(logical(x) / 57.0 + i * 1.7);
    for (int row = 0; row < board.height(); ++row) {
        const double y = logical(row);
        const double t = std::clamp(y / (BoardHeight - 1), 0.0, 1.0);
        const double r = t < 0.5 ? 170 - 40 * t : 150 - 64 * (t - 0.5);
        const double g = t < 0.5 ? 110 - 36 * t : 92 - 44 * (t - 0.5);
        const double b = t < 0.5 ? 58 - 28 * t : 44 - 24 * (t - 0.5);
        auto* line = reinterpret_cast<QRgb*>(board.scanLine(row));
        for (int x = 0; x < columns; ++x) {
            // Darken near the closest grain line, fading over one pixel either side.
            double dark = 0;
            const int near = int(std::lround((y - 4) / Spacing));
            for (int i = std::max(0, near - 1); i <= std::min(GrainLines - 1, near + 1); ++i) {
                const double d = std::abs(y - grainY[size_t(i) * size_t(columns) + size_t(x)]);
                if (d < 1.0)
                    dark = std::max(dark, (1.0 - d) * (0.3 + 0.12 * (i % 3)));
            }
            const double keep = 1.0 - dark * 0.45;
            line[x] = qRgb(int(r * keep), int(g * keep), int(b * keep));
        }
    }
    // The bevel: one logical pixel, light on the top and left, dark on the bottom and right.
    QPainter p(&board);
    const QColor light(205, 150, 95);
    const QColor dark(70, 40, 18);
    p.fillRect(QRect(0, 0, BoardWidth, 1), light);
    p.fillRect(QRect(0, 0, 1, BoardHeight), light);
    p.fillRect(QRect(0, BoardHeight - 1, BoardWidth, 1), dark);
    p.fillRect(QRect(BoardWidth - 1, 0, 1, BoardHeight), dark);
}

void PaintLamp(QPainter& p, QPointF centre, bool lit)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    // Chromed bezel.
    QLinearGradient bezel(centre - QPointF(0, LampRadius + 3), centre + QPointF(0, LampRadius + 3));
    bezel.setColorAt(0.0, QColor(235, 235, 235));
    bezel.setColorAt(1.0, QColor(90, 90, 90));
    p.setPen(QPen(QColor(40, 30, 20), 1));
    p.setBrush(bezel);
    p.drawEllipse(centre, LampRadius + 3, LampRadius + 3);
    // Glass.
    QRadialGradient glass(centre - QPointF(6, 7), LampRadius * 1.4);
    if (lit) {
        glass.setColorAt(0.0, QColor(255, 235, 200));
        glass.setColorAt(0.25, QColor(255, 70, 40));
        glass.setColorAt(1.0, QColor(190, 0, 0));
    } else {
        glass.setColorAt(0.0, QColor(150, 70, 70));
        glass.setColorAt(0.35, QColor(95, 12, 12));
        glass.setColorAt(1.0, QColor(45, 0, 0));
    }
    p.setPen(QPen(QColor(30, 0, 0), 1));
    p.setBrush(glass);
    p.drawEllipse(centre, LampRadius, LampRadius);
    // Reflection.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, lit ? 150 : 60));
    p.drawEllipse(centre + QPointF(-8, -9), 5.0, 3.5);
}

// The wood with the lamps' names; both pictures of the board share it.
QImage PlainBoard(int ratio)
{
    QImage board = Picture(BoardWidth, BoardHeight, ratio, QImage::Format_RGB32);
    PaintWood(board);
    QPainter p(&board);
    // The window's own text font, already loaded for its labels.
    p.setFont(DefaultFont());
    for (int k = 0; k < 8; ++k) {
        const QRectF label(LampCentre(k).x() - 20, 77, 40, 16);
        p.setPen(QColor(60, 30, 10));
        p.drawText(label.translated(1, 1), Qt::AlignCenter, QStringLiteral("D%1").arg(k));
        p.setPen(QColor(255, 235, 170));
        p.drawText(label, Qt::AlignCenter, QStringLiteral("D%1").arg(k));
    }
    return board;
}

QImage Transparent(int w, int h)
{
    QImage image = Picture(w, h, Ratio(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// The board, its hidden twin and the eight lamp strips share one sheet.
struct TSheets
{
    QImage sheet;
    // The sheet being drawn.
    std::future<QImage> drawing;

    ~TSheets()
    {
        if (drawing.valid())
            drawing.wait();
    }
};

TSheets& Sheets()
{
    static TSheets sheets;
    return sheets;
}

} // namespace

int Ratio()
{
    // The highest ratio of the screens, up to a whole step: the pictures are drawn once, and a
    // screen of a lower ratio resamples them down.
    const qreal screens = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    return std::clamp(int(std::ceil(screens - 0.01)), 1, 4);
}

QRect LampPlace(int k)
{
    return (k >= 0 && k < 8) ? LampPlaces[size_t(k)] : QRect();
}

QImage DrawBoardSheet(int ratio)
{
    const QImage plain = PlainBoard(ratio);
    QImage image = Picture(BoardWidth, 2 * BoardHeight, ratio, QImage::Format_RGB32);
    QPainter p(&image);
    for (int row = 0; row < 2; ++row) {
        p.drawImage(0, row * BoardHeight, plain);
        for (int k = 0; k < 8; ++k)
            PaintLamp(p, LampCentre(k) + QPointF(0, row * BoardHeight), row == 1);
    }
    p.end();
    return image;
}

void PrepareBoardSheet()
{
    TSheets& s = Sheets();
    const int ratio = Ratio();
    if (s.drawing.valid() ||
        (!s.sheet.isNull() && std::lround(s.sheet.devicePixelRatio()) == ratio))
        return;
    s.drawing = RunOnPool([ratio] { return DrawBoardSheet(ratio); });
}

QImage BoardSheet()
{
    TSheets& s = Sheets();
    const int ratio = Ratio();
    // A sheet drawn ahead for another ratio is drawn again below.
    if (s.drawing.valid())
        s.sheet = s.drawing.get();
    if (s.sheet.isNull() || std::lround(s.sheet.devicePixelRatio()) != ratio)
        s.sheet = DrawBoardSheet(ratio);
    return s.sheet;
}

QImage LampStrip(int k)
{
    const QRect place = LampPlace(k);
    if (place.isNull())
        return QImage();
    const QImage sheet = BoardSheet();
    const int ratio = int(std::lround(sheet.devicePixelRatio()));
    const QRect onBoard = place.translated(-BoardPlace.topLeft());
    auto cut = [&](const QRect& r) { return QRect(r.topLeft() * ratio, r.size() * ratio); };
    QImage strip = Picture(2 * place.width(), place.height(), ratio, QImage::Format_RGB32);
    QPainter p(&strip);
    // The painter works in logical pixels, the source rectangles are the sheet's own pixels.
    p.drawImage(QRectF(0, 0, place.width(), place.height()), sheet,
                cut(onBoard.translated(0, BoardHeight)));
    p.drawImage(QRectF(place.width(), 0, place.width(), place.height()), sheet, cut(onBoard));
    return strip;
}

QImage IndicatorLamp(bool lit)
{
    QImage image = Picture(16, 16, Ratio(), QImage::Format_RGB32);
    image.fill(ToQColor(clBtnFace));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    QRadialGradient glass(QPointF(6, 6), 9);
    if (lit) {
        glass.setColorAt(0.0, QColor(220, 255, 200));
        glass.setColorAt(0.4, QColor(40, 230, 40));
        glass.setColorAt(1.0, QColor(0, 120, 0));
    } else {
        glass.setColorAt(0.0, QColor(110, 140, 110));
        glass.setColorAt(1.0, QColor(20, 55, 20));
    }
    p.setBrush(glass);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    return image;
}

QImage ClockGlyph()
{
    QImage image = Transparent(20, 20);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(200, 0, 0), 2));
    p.setBrush(QColor(255, 250, 225));
    p.drawRoundedRect(QRectF(1, 1, 18, 18), 3, 3);
    p.setPen(QPen(QColor(30, 30, 30), 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(3.5, 3.5, 13, 13));
    for (int h = 0; h < 12; h += 3) {
        const double a = h * M_PI / 6;
        p.drawPoint(QPointF(10 + 5 * std::sin(a), 10 - 5 * std::cos(a)));
    }
    p.setPen(QPen(QColor(0, 0, 0), 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(10, 5.5));
    p.drawLine(QPointF(10, 10), QPointF(13.5, 11.5));
    return image;
}

QImage OpenFolderGlyph()
{
    QImage image = Transparent(19, 19);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(90, 60, 0), 1));
    p.setBrush(QColor(230, 180, 60));
    p.drawPolygon(QPolygonF({QPointF(1.5, 6.5), QPointF(6.5, 6.5), QPointF(8, 8.5),
                             QPointF(14.5, 8.5), QPointF(14.5, 17.5), QPointF(1.5, 17.5)}));
    p.setBrush(QColor(255, 215, 100));
    p.drawPolygon(
        QPolygonF({QPointF(4, 11), QPointF(18, 11), QPointF(14.5, 17.5), QPointF(1.5, 17.5)}));
    // The arrow: out of the folder, up and over.
    p.setPen(QPen(QColor(0, 110, 0), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath arc(QPointF(8, 8));
    arc.cubicTo(QPointF(8, 2), QPointF(13, 1.5), QPointF(16, 4.5));
    p.drawPath(arc);
    p.setBrush(QColor(0, 110, 0));
    p.drawPolygon(QPolygonF({QPointF(17.5, 2), QPointF(17.5, 6.5), QPointF(13.2, 5.8)}));
    return image;
}

// Pixel art: drawn at one device pixel per pixel, then every pixel repeated Ratio() times.
QImage QuestionGlyph(bool enabled)
{
    QImage image = Transparent(18, 18);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath mark;
    // The hook: an open arc over the stem, then the dot.
    mark.moveTo(5.5, 6.5);
    mark.cubicTo(5.5, 2.5, 12.5, 2.5, 12.5, 6.5);
    mark.cubicTo(12.5, 9.0, 9.0, 9.5, 9.0, 12.0);
    QPen stroke(enabled ? QColor(255, 255, 0) : QColor(128, 128, 128), 2.4, Qt::SolidLine,
                Qt::RoundCap, Qt::RoundJoin);
    // A dark outline first, so that the yellow reads on the light button face.
    p.setPen(QPen(enabled ? QColor(90, 70, 0) : QColor(255, 255, 255), 4.0, Qt::SolidLine,
                  Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(mark);
    p.drawPoint(QPointF(9.0, 15.0));
    p.setPen(stroke);
    p.drawPath(mark);
    p.drawPoint(QPointF(9.0, 15.0));
    return image;
}

QImage FloppyGlyph()
{
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(0, 0, 0));
    p.setBrush(QColor(40, 60, 140));
    p.drawPolygon(
        QPolygon({QPoint(0, 0), QPoint(14, 0), QPoint(15, 1), QPoint(15, 15), QPoint(0, 15)}));
    p.setBrush(QColor(245, 245, 245));
    p.drawRect(3, 1, 9, 6); // label
    p.setBrush(QColor(190, 190, 200));
    p.drawRect(4, 10, 8, 5); // shutter
    p.fillRect(9, 11, 2, 3, QColor(40, 60, 140));
    p.end();
    const int ratio = Ratio();
    if (ratio == 1)
        return image;
    QImage scaled =
        image.scaled(image.size() * ratio, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    scaled.setDevicePixelRatio(ratio);
    return scaled;
}

} // namespace Artwork
