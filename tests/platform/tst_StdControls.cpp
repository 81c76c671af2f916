// Labels: the text a label paints is the text a plain QLabel of the same font, colour and box
// paints, at any screen ratio, also after the label has cycled through texts it remembers.

#include "platform/Fonts.h"
#include "platform/StdControls.h"
#include "tests/support/TestSupport.h"

#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <gtest/gtest.h>

#include <cmath>

namespace {

// The widget drawn at `ratio` over a dark green ground.
QImage Render(QWidget* widget, qreal ratio)
{
    QImage image((QSizeF(widget->size()) * ratio).toSize(), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(QColor(0, 80, 40));
    QPainter p(&image);
    widget->render(&p, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

TEST(Label, PaintsAsAPlainLabelDoes)
{
    struct Case
    {
        const char* Text;
        QFont Font;
        TColor Color;
    };
    const QFont clock = MakeFont(QStringLiteral("MS Sans Serif"), 21);
    const QFont title = MakeFont(QStringLiteral("Times New Roman"), 24, fsBold | fsItalic);
    const Case table[] = {
        {"23", clock, clLime},
        {"0", clock, clLime},
        {"Temporizador 24 horas", title, clAqua},
        {"Hora(s) & minutos", DefaultFont(), clYellow},
        {"<b>rich</b> text", DefaultFont(), clYellow},
        {"two\nlines", DefaultFont(), clWhite},
        {" www.example.com ", MakeFont(QStringLiteral("MS Sans Serif"), 16, fsUnderline), clLime},
        {"tachado", MakeFont(QStringLiteral("MS Sans Serif"), 13, fsStrikeOut), clLime},
        {"", DefaultFont(), clWhite},
    };
    for (const Case& c : table) {
        const QString text = QString::fromUtf8(c.Text);
        TLabel label(nullptr, QStringLiteral("label"), QRect(0, 0, 20, 10), QStringLiteral("55"),
                     c.Color, c.Font);
        // The text painted once, then other texts, then the text again: what is compared is
        // painted from what the label remembered of it.
        label.SetCaption(text);
        (void)Render(&label, 1);
        for (const char* other : {"55", "12"}) {
            label.SetCaption(QString::fromLatin1(other));
            (void)Render(&label, 1);
        }
        label.SetCaption(text);

        QLabel plain(text);
        plain.setFont(c.Font);
        plain.setAlignment(Qt::AlignLeft | Qt::AlignTop);
        plain.setMargin(0);
        plain.setIndent(0);
        plain.setAttribute(Qt::WA_TranslucentBackground);
        QPalette pal = plain.palette();
        pal.setColor(QPalette::WindowText, ToQColor(c.Color));
        plain.setPalette(pal);
        plain.setGeometry(label.geometry());

        for (qreal ratio : {1.0, 1.5, 2.0}) {
            const QImage ours = Render(&label, ratio);
            EXPECT_EQ(ours, Render(&plain, ratio)) << c.Text << " at " << ratio;
            QImage ground(ours.size(), QImage::Format_RGB32);
            ground.setDevicePixelRatio(ratio);
            ground.fill(QColor(0, 80, 40));
            EXPECT_EQ(ours == ground, text.isEmpty()) << c.Text << " at " << ratio;
        }
    }
}

// The box grows to a new, longer text, also when the text was measured before.
TEST(Label, BoxGrowsForLongerTexts)
{
    const QFont clock = MakeFont(QStringLiteral("MS Sans Serif"), 21);
    TLabel label(nullptr, QStringLiteral("cy"), QRect(216, 4, 33, 24), QStringLiteral("cy"), clLime,
                 clock);
    const int start = label.width();
    label.SetCaption(QStringLiteral("5"));
    EXPECT_EQ(label.width(), start);
    const QString wide = QStringLiteral("55555555");
    const int needed = QFontMetrics(clock).horizontalAdvance(wide);
    label.SetCaption(wide);
    EXPECT_EQ(label.width(), needed);
    label.SetCaption(QStringLiteral("5"));
    label.SetCaption(wide);
    EXPECT_EQ(label.width(), needed);
    EXPECT_EQ(label.geometry().topLeft(), QPoint(216, 4));

    // A larger font: the texts are measured again.
    const QFont larger = MakeFont(QStringLiteral("MS Sans Serif"), 42);
    label.setFont(larger);
    label.SetCaption(QStringLiteral("5"));
    label.SetCaption(wide);
    EXPECT_EQ(label.width(), QFontMetrics(larger).horizontalAdvance(wide));
}

// Every level shows on the level bar, in proportion to the bar's width, at every screen ratio:
// counted along the bar's middle row, as the columns that differ from the empty bar's.
TEST(LevelBar, ShowsEveryLevelInProportion)
{
    TLevelBar bar(nullptr, QStringLiteral("AudioLevel"), QRect(0, 0, 65, 17));
    bar.setRange(0, 100);
    for (qreal ratio : {1.0, 1.5, 2.0}) {
        bar.setValue(0);
        const QImage empty = Render(&bar, ratio);
        const int row = empty.height() / 2;
        bar.setValue(100);
        const QImage full = Render(&bar, ratio);
        int inner = 0; // the columns a full bar fills
        for (int x = 0; x < full.width(); ++x)
            inner += full.pixel(x, row) != empty.pixel(x, row) ? 1 : 0;
        ASSERT_GT(inner, 40 * ratio) << ratio;
        for (int level : {1, 2, 5, 10, 13, 50, 99}) {
            bar.setValue(level);
            const QImage shot = Render(&bar, ratio);
            int shown = 0;
            for (int x = 0; x < shot.width(); ++x)
                shown += shot.pixel(x, row) != empty.pixel(x, row) ? 1 : 0;
            const double expected = std::max(1.0, level * inner / 100.0);
            EXPECT_NEAR(shown, expected, 1 + ratio) << "level " << level << " at " << ratio;
        }
    }
}

// A change of level reaches the screen by itself, as the meter's events change it: the bar is
// shown, its value changed, and what its window shows is read without a paint of the test's own.
TEST(LevelBar, ALowLevelReachesTheScreen)
{
    TLevelBar bar(nullptr, QStringLiteral("AudioLevel"), QRect(100, 100, 65, 17));
    bar.setRange(0, 100);
    bar.setValue(0);
    ShowAndWait(&bar);
    const auto onScreen = [&bar] {
        return bar.screen()
            ->grabWindow(bar.winId())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    QImage empty;
    ASSERT_TRUE(WaitFor([&] { return !(empty = onScreen()).isNull(); }));
    const int row = empty.height() / 2;
    const auto columnsShown = [&] {
        const QImage shot = onScreen();
        int shown = 0;
        for (int x = 0; x < shot.width() && x < empty.width(); ++x)
            shown += shot.pixel(x, row) != empty.pixel(x, row) ? 1 : 0;
        return shown;
    };
    const struct
    {
        int Level;
        int Least; // columns shown, of the about 60 of a full bar
        int Most;
    } rows[] = {{10, 4, 8}, {0, 0, 0}, {3, 1, 3}, {50, 27, 33}};
    for (const auto& row : rows) {
        bar.setValue(row.Level);
        EXPECT_TRUE(WaitFor([&] {
            const int shown = columnsShown();
            return shown >= row.Least && shown <= row.Most;
        })) << "level "
            << row.Level << ": " << columnsShown() << " columns shown";
    }
}
