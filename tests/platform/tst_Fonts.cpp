// The Windows font names the windows ask for resolve to installed fonts with close metrics.

#include "platform/Fonts.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

#include <fontconfig/fontconfig.h>

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

// What the font library makes of a request under `config`: the file and how it is rendered.
QString Matched(FcConfig* config, const char* request)
{
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(request));
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr)
        return QStringLiteral("no match");
    FcChar8* file = nullptr;
    FcPatternGetString(match, FC_FILE, 0, &file);
    int hintStyle = -1;
    int filter = -1;
    int rgba = -1;
    FcBool antialias = FcFalse;
    FcBool hinting = FcFalse;
    FcPatternGetInteger(match, FC_HINT_STYLE, 0, &hintStyle);
    FcPatternGetInteger(match, FC_LCD_FILTER, 0, &filter);
    FcPatternGetInteger(match, FC_RGBA, 0, &rgba);
    FcPatternGetBool(match, FC_ANTIALIAS, 0, &antialias);
    FcPatternGetBool(match, FC_HINTING, 0, &hinting);
    QString text = QStringLiteral("%1 hintstyle %2 lcdfilter %3 rgba %4 antialias %5 "
                                  "hinting %6")
                       .arg(QString::fromUtf8(reinterpret_cast<const char*>(file)))
                       .arg(hintStyle)
                       .arg(filter)
                       .arg(rgba)
                       .arg(antialias)
                       .arg(hinting);
    FcPatternDestroy(match);
    return text;
}

// The configuration files `config` knows of, enabled or merely offered.
int ConfigurationFiles(FcConfig* config)
{
    FcConfigFileInfoIter files;
    FcConfigFileInfoIterInit(config, &files);
    int count = 0;
    do {
        FcChar8* name = nullptr;
        FcChar8* description = nullptr;
        FcBool enabled = FcFalse;
        if (FcConfigFileInfoIterGet(config, &files, &name, &description, &enabled) != FcFalse) {
            ++count;
            FcStrFree(name);
            FcStrFree(description);
        }
    } while (FcConfigFileInfoIterNext(config, &files) != FcFalse);
    return count;
}

// The application reads the fonts' configuration ahead of the toolkit, leaving out only what the
// font library reads for its listing tools: fonts resolve and render as the library's own start
// makes them.
TEST(Fonts, ConfigurationReadAheadIsTheLibrarysOwn)
{
    FcConfig* own = FcInitLoadConfigAndFonts();
    ASSERT_NE(own, nullptr);
    for (const char* request :
         {"Liberation Sans:pixelsize=11", "Liberation Serif:bold:italic:pixelsize=24",
          "Liberation Sans:bold:pixelsize=13", "sans-serif:pixelsize=11", "Arial:pixelsize=16",
          "monospace"})
        EXPECT_EQ(Matched(nullptr, request), Matched(own, request)) << request;
    // The files merely offered were not read.
    EXPECT_LT(ConfigurationFiles(FcConfigGetCurrent()), ConfigurationFiles(own));
    FcConfigDestroy(own);
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
