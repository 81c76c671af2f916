#include "Fonts.h"

#include <fontconfig/fontconfig.h>

namespace {

struct Substitute
{
    const char* asked;
    const char* installed;
};

// DejaVu Sans, fontconfig's fallback, is wider than the bitmap fonts these texts were laid out
// with and clips them in their boxes; the Liberation fonts keep their widths.
constexpr Substitute Substitutes[] = {
    {"MS Sans Serif", "Liberation Sans"}, {"Small Fonts", "Liberation Sans"},
    {"Arial", "Liberation Sans"},         {"Times New Roman", "Liberation Serif"},
    {"Courier New", "Liberation Mono"},
};

} // namespace

QFont MakeFont(const QString& family, int pixelHeight, unsigned style)
{
    // Asking for the installed twin at once spares a failed lookup per font.
    QString resolved = family;
    for (const Substitute& s : Substitutes)
        if (family.compare(QLatin1String(s.asked), Qt::CaseInsensitive) == 0)
            resolved = QLatin1String(s.installed);
    QFont f(resolved);
    f.setPixelSize(pixelHeight);
    f.setBold(style & fsBold);
    f.setItalic(style & fsItalic);
    f.setUnderline(style & fsUnderline);
    f.setStrikeOut(style & fsStrikeOut);
    // Every text of the program is in Latin-1, which these fonts cover: no fallback fonts needed.
    f.setStyleStrategy(QFont::StyleStrategy(QFont::NoSubpixelAntialias | QFont::NoFontMerging));
    return f;
}

QFont DefaultFont()
{
    return MakeFont(QStringLiteral("MS Sans Serif"), 11);
}

void InstallFontSubstitutions()
{
    for (const Substitute& s : Substitutes)
        QFont::insertSubstitution(QLatin1String(s.asked), QLatin1String(s.installed));
}

void LoadFontConfiguration()
{
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    FcConfig* config = FcConfigCreate();
    if (config == nullptr)
        return;
    // The configuration file the font library would read (FONTCONFIG_FILE or the system's), with
    // all it includes; its fonts from their caches.
    bool usable = FcConfigParseAndLoad(config, nullptr, FcTrue) != FcFalse;
    if (usable) {
        // Without a cache folder the library's own start would add one: leave it to that.
        FcStrList* cacheDirs = FcConfigGetCacheDirs(config);
        usable = cacheDirs != nullptr && FcStrListNext(cacheDirs) != nullptr;
        if (cacheDirs != nullptr)
            FcStrListDone(cacheDirs);
    }
    if (usable && FcConfigBuildFonts(config) != FcFalse)
        FcConfigSetCurrent(config);
    FcConfigDestroy(config);
}
