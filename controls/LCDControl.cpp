#include "LCDControl.h"

#include "platform/Resources.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

#include <algorithm>

namespace {

constexpr int GlyphAdvance = 8;   // a 7-pixel glyph and a 1-pixel gap
constexpr int SegmentRowStep = 3; // a 2-pixel segment and a row of ground
constexpr int NumberAreaTop = 15; // distance of the number area from the bottom edge
constexpr int BarBottom = 20;     // distance of the bar's bottom from the bottom edge

// The display as a screen reader sees it: a level bar whose value nobody can set.
class TLCDAccessible : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit TLCDAccessible(TLCDControl* lcd) : QAccessibleWidget(lcd, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? Lcd()->NumberText() : QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return Lcd()->Number(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return Lcd()->NumberMax(); }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    const TLCDControl* Lcd() const { return static_cast<const TLCDControl*>(object()); }
};

QAccessibleInterface* LCDAccessibleFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String(TLCDControl::staticMetaObject.className()))
        return nullptr;
    return new TLCDAccessible(static_cast<TLCDControl*>(object));
}

} // namespace

TLCDControl::TLCDControl(QWidget* parent) : TSurfaceWidget(parent)
{
    // Before the first interface is asked for: Qt keeps the interface it made for an object.
    [[maybe_unused]] static const bool factoryInstalled = [] {
        QAccessible::installFactory(LCDAccessibleFactory);
        return true;
    }();
    for (int digit = 0; digit < int(FDigitBitmaps.size()); ++digit)
        FDigitBitmaps[digit].Assign(LoadBitmapResource(digit));
    FCharK.Assign(LoadBitmapResource(QStringLiteral("CHARK")));
    FPercent.Assign(LoadBitmapResource(QStringLiteral("PERCENT")));
    FSegmentOn.Assign(LoadBitmapResource(QStringLiteral("ON")));
    FSegmentOff.Assign(LoadBitmapResource(QStringLiteral("OFF")));
    resize(100, 120);
}

TLCDControl::~TLCDControl() = default;

void TLCDControl::SetNumber(std::int32_t value)
{
    // The digits have no minus sign and the bar no negative fill: negatives are refused too.
    if (value == FNumber || value > FNumberMax || value < 0)
        return;
    FNumber = value;
    DrawDisplay();
    AnnounceValue();
}

void TLCDControl::SetNumberMax(std::int32_t value)
{
    if (value <= 0 || value < FNumber)
        return;
    FNumberMax = value;
    Invalidate();
}

void TLCDControl::SetNumberType(TNumberType value)
{
    if (value == FNumberType)
        return;
    FNumberType = value;
    DrawDisplay();
    AnnounceValue();
}

QString TLCDControl::NumberText() const
{
    QString digits = QString::number(FNumber);
    switch (FNumberType) {
    case ntCharK:
        return digits + QStringLiteral(" K");
    case ntPercent:
        return digits + QStringLiteral(" %");
    case ntNone:
        break;
    }
    return digits;
}

void TLCDControl::AnnounceValue()
{
    QAccessibleValueChangeEvent event(this, FNumber);
    QAccessible::updateAccessibility(&event);
}

TRect TLCDControl::BarRect() const
{
    return Rect(2, 2, width() - 2, height() - BarBottom);
}

TRect TLCDControl::NumberRect() const
{
    return Rect(2, height() - NumberAreaTop, width() - 2, height() - 2);
}

void TLCDControl::Paint()
{
    TCanvas* c = Canvas();
    const int w = width();
    const int h = height();
    c->Brush.Style = bsSolid;
    c->Brush.Color = clBlack;
    c->FillRect(ClientRect());
    c->Pen.Width = 1;
    c->Pen.Style = psSolid;
    c->Pen.Color = clBtnShadow;
    c->Polyline({QPoint(w - 1, 0), QPoint(0, 0), QPoint(0, h - 1)});
    c->Pen.Color = clBtnHighlight;
    c->Polyline({QPoint(w - 1, 1), QPoint(w - 1, h - 1), QPoint(1, h - 1)});
    DrawDisplay();
}

void TLCDControl::DrawDisplay()
{
    TCanvas* c = Canvas();
    DrawBar(BarRect(), FNumber);
    const int x = width() / 2 - NumberTextWidth(FNumber, FNumberType) / 2;
    c->Brush.Style = bsSolid;
    c->Brush.Color = clBlack;
    c->FillRect(NumberRect());
    DrawNumberText(FNumber, FNumberType, x, height() - NumberAreaTop);
}

// The columns are placed from the rectangle's width alone, as absolute positions, so the bar
// stands two pixels left of the control's middle.
void TLCDControl::DrawBar(const TRect& r, std::int32_t n)
{
    const int xc = (r.Right - r.Left) / 2;
    const int steps = (r.Bottom - r.Top) / SegmentRowStep;
    // 64-bit product: a large NumberMax must not overflow the fill.
    const int lit = int(std::int64_t(steps) * n / FNumberMax);
    const int dark = steps - lit;
    int y = r.Top;
    for (int i = 0; i < dark; ++i, y += SegmentRowStep) {
        DrawGlyph(FSegmentOff, xc - 17, y, r);
        DrawGlyph(FSegmentOff, xc + 1, y, r);
    }
    for (int i = 0; i < lit; ++i, y += SegmentRowStep) {
        DrawGlyph(FSegmentOn, xc - 17, y, r);
        DrawGlyph(FSegmentOn, xc + 1, y, r);
    }
}

int TLCDControl::NumberTextWidth(std::int32_t n, TNumberType type)
{
    const int length = int(QString::number(n).size());
    return GlyphAdvance * (type == ntNone ? length : length + 1);
}

void TLCDControl::DrawNumberText(std::int32_t n, TNumberType type, int x, int y)
{
    const TRect area = NumberRect();
    for (QChar ch : QString::number(n)) {
        const int digit = ch.digitValue();
        if (digit >= 0 && digit < int(FDigitBitmaps.size()))
            DrawGlyph(FDigitBitmaps[digit], x, y, area);
        x += GlyphAdvance;
    }
    if (type == ntCharK)
        DrawGlyph(FCharK, x, y, area);
    else if (type == ntPercent)
        DrawGlyph(FPercent, x, y, area);
}

// Draws the glyph at (x, y), keeping to `clip`: on a control too small for its contents the
// glyphs are cut instead of covering the border.
void TLCDControl::DrawGlyph(const TBitmap& glyph, int x, int y, const TRect& clip)
{
    const TRect dest =
        Rect(std::max(x, clip.Left), std::max(y, clip.Top), std::min(x + glyph.Width(), clip.Right),
             std::min(y + glyph.Height(), clip.Bottom));
    if (dest.IsEmpty())
        return;
    Canvas()->CopyRect(dest, glyph.Image(),
                       Rect(dest.Left - x, dest.Top - y, dest.Right - x, dest.Bottom - y));
}
