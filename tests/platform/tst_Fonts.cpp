// The Windows font names the windows ask for resolve to installed fonts with close metrics.

#include "platform/Fonts.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

TEST(Fonts, WindowsNamesResolveToMetricTwins)
{
    const std::pair<const char*, const char*> cases[] = {
        {"MS Sans Serif", "Liberation Sans"},
        {"Small Fonts", "Liberation Sans"},
        {"Times New Roman", "Liberation Serif"},
        {"Arial", "Liberation Sans"},
    };
    for (const auto& [asked, resolved] : cases)
        EXPECT_EQ(QFontInfo(MakeFont(asked, 11)).family(), resolved) << asked;
}

TEST(Fonts, PanelTextKeepsItsWidth)
{
    // "Tiempo actual:" was laid out in a 70 px box; a wide fallback font needs 82 px.
    const QFontMetrics fm(DefaultFont());
    EXPECT_LE(fm.horizontalAdvance(QStringLiteral("Tiempo actual:")), 74);
}

TEST(Fonts, SizesAreCharacterHeightsInPixels)
{
    const QFont f = MakeFont("Times New Roman", 24, fsBold | fsItalic | fsUnderline | fsStrikeOut);
    EXPECT_EQ(f.pixelSize(), 24);
    EXPECT_TRUE(f.bold());
    EXPECT_TRUE(f.italic());
    EXPECT_TRUE(f.underline());
    EXPECT_TRUE(f.strikeOut());
}

TEST(HostTexts, StandardButtonsSpeakSpanish)
{
    QMessageBox box(QMessageBox::Critical, "x", "y", QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove('&'), "Cancelar");
}
