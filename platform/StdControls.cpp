#include "StdControls.h"

#include <QEvent>
#include <QMovie>
#include <QPainter>
#include <QPicture>
#include <QStyleOptionProgressBar>
#include <QStylePainter>

#include <algorithm>
#include <cmath>

namespace {

// Texts a label remembers at most.
constexpr qsizetype MaxRemembered = 256;

// Width the text needs in the font; italic glyphs lean past their advance.
int NeededWidth(const QFont& font, const QString& text)
{
    return QFontMetrics(font).horizontalAdvance(text) + (font.italic() ? 2 : 0);
}

} // namespace

TLabel::TLabel(QWidget* parent, const QString& name, const QRect& geometry, const QString& text,
               TColor color, const QFont& font)
    : QLabel(text, parent)
{
    setObjectName(name);
    setFont(font);
    // Like an auto-sized label, the box grows to hold its text in the font actually used.
    const QFontMetrics fm(font);
    QRect box = geometry;
    box.setWidth(std::max(box.width(), NeededWidth(font, text)));
    box.setHeight(std::max(box.height(), fm.height()));
    setGeometry(box);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMargin(0);
    setIndent(0);
    setWordWrap(false);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    SetFontColor(color);
}

void TLabel::SetCaption(const QString& text)
{
    if (text == this->text())
        return;
    setText(text);
    const int needed = Shown(text).Width;
    if (needed > width())
        resize(needed, height());
}

const TLabel::TShownText& TLabel::Shown(const QString& text)
{
    auto known = FShown.constFind(text);
    if (known == FShown.cend()) {
        if (FShown.size() >= MaxRemembered)
            FShown.clear();
        QStaticText layout(text);
        layout.setTextFormat(Qt::PlainText);
        known = FShown.insert(text, {NeededWidth(font(), text), layout});
    }
    return *known;
}

void TLabel::paintEvent(QPaintEvent* event)
{
    // Plain one-line text at the top left, as every label of the program shows it; anything
    // else (wrapped, rich, aligned otherwise, disabled, selectable, a picture, a font with lines,
    // whose underline a laid-out text cuts short) is painted the usual way.
    constexpr Qt::TextInteractionFlags selectable =
        Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard | Qt::TextEditable;
    const bool plain =
        !wordWrap() && isEnabled() && margin() == 0 && indent() <= 0 &&
        contentsMargins().isNull() && alignment() == (Qt::AlignLeft | Qt::AlignTop) &&
        layoutDirection() == Qt::LeftToRight && frameShape() == QFrame::NoFrame &&
        buddy() == nullptr && !(textInteractionFlags() & selectable) && movie() == nullptr &&
        pixmap().isNull() && picture().isNull() && !text().contains(QLatin1Char('\n')) &&
        !font().underline() && !font().strikeOut() && !font().overline() &&
        (textFormat() == Qt::PlainText ||
         (textFormat() == Qt::AutoText && !Qt::mightBeRichText(text())));
    if (!plain) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(foregroundRole()));
    p.drawStaticText(contentsRect().topLeft(), Shown(text()).Layout);
}

void TLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        FShown.clear();
    QLabel::changeEvent(event);
}

void TLabel::SetFontColor(TColor color)
{
    SetTextColor(this, color);
}

TPanel::TPanel(QWidget* parent, const QString& name) : QWidget(parent)
{
    setObjectName(name);
    // The paint covers the whole box: what lies beneath is never painted for it.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPanel::SetColor(TColor color)
{
    if (color == FColor)
        return;
    FColor = color;
    update();
}

void TPanel::SetBevels(TBevelCut inner, TBevelCut outer)
{
    FInner = inner;
    FOuter = outer;
    update();
}

void TPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QRect r = rect();
    // Opaque as promised, whatever the colour.
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(r, ToQColor(FColor));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    auto bevel = [&](TBevelCut cut) {
        if (cut == bvNone)
            return;
        if (cut != bvSpace) {
            const QColor light = ToQColor(clBtnHighlight);
            const QColor dark = ToQColor(clBtnShadow);
            const QColor& tl = cut == bvRaised ? light : dark;
            const QColor& br = cut == bvRaised ? dark : light;
            p.fillRect(QRect(r.left(), r.top(), r.width(), 1), tl);
            p.fillRect(QRect(r.left(), r.top(), 1, r.height()), tl);
            p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), br);
            p.fillRect(QRect(r.right(), r.top(), 1, r.height()), br);
        }
        r.adjust(1, 1, -1, -1);
    };
    bevel(FOuter);
    bevel(FInner);
}

void SetBackgroundColor(QWidget* widget, TColor color)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Window, ToQColor(color));
    widget->setPalette(pal);
    widget->setAutoFillBackground(true);
}

void SetTextColor(QWidget* widget, TColor color)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, ToQColor(color));
    widget->setPalette(pal);
}

TPaintBox::TPaintBox(QWidget* parent, const QString& name, const QRect& geometry)
    : TSurfaceWidget(parent)
{
    setObjectName(name);
    setGeometry(geometry);
}

void TPaintBox::SetColor(TColor color)
{
    if (color == FColor)
        return;
    FColor = color;
    Invalidate();
}

void TPaintBox::Paint()
{
    // The handlers' brush is theirs: the background is filled without changing it.
    TCanvas* canvas = Canvas();
    const TBrush brush = canvas->Brush;
    canvas->Brush = TBrush{FColor, bsSolid};
    canvas->FillRect(ClientRect());
    canvas->Brush = brush;
}

TShape::TShape(QWidget* parent, const QString& name, const QRect& geometry, TColor brushColor,
               TColor penColor)
    : QWidget(parent), FBrushColor(brushColor), FPenColor(penColor)
{
    setObjectName(name);
    setGeometry(geometry);
}

void TShape::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), ToQColor(FPenColor));
    p.fillRect(rect().adjusted(1, 1, -1, -1), ToQColor(FBrushColor));
}

TLevelBar::TLevelBar(QWidget* parent, const QString& name, const QRect& geometry)
    : QProgressBar(parent)
{
    setObjectName(name);
    setGeometry(geometry);
    setTextVisible(false);
    // The bar's own setValue repaints only when the style's chunk would change by a whole step,
    // which a low level on a short bar never does; this bar shows every value.
    connect(this, &QProgressBar::valueChanged, this, [this] { update(); });
}

void TLevelBar::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    painter.drawControl(QStyle::CE_ProgressBarGroove, option);
    const qint64 span = qint64(maximum()) - minimum();
    if (span <= 0 || value() <= minimum())
        return;
    const QRect contents = style()->subElementRect(QStyle::SE_ProgressBarContents, &option, this);
    const double share = double(qint64(value()) - minimum()) / double(span);
    const int shown = std::max(1, int(std::lround(share * contents.width())));
    option.progress = option.maximum;
    painter.setClipRect(QRect(contents.left(), contents.top(), shown, contents.height()));
    painter.drawControl(QStyle::CE_ProgressBarContents, option);
}

TRadioButton::TRadioButton(QWidget* parent, const QString& name, const QRect& geometry,
                           const QString& text)
    : QRadioButton(text, parent)
{
    setObjectName(name);
    setGeometry(geometry);
    // A lone auto-exclusive button could never be unchecked by the program.
    setAutoExclusive(false);
}
