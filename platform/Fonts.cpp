#include "Fonts.h"

QFont MakeFont(const QString& family, int pixelHeight, unsigned style)
{
    QFont f(family);
    f.setPixelSize(pixelHeight);
    f.setBold(style & fsBold);
    f.setItalic(style & fsItalic);
    f.setUnderline(style & fsUnderline);
    f.setStrikeOut(style & fsStrikeOut);
    f.setStyleStrategy(QFont::NoSubpixelAntialias);
    return f;
}

QFont DefaultFont()
{
    return MakeFont(QStringLiteral("MS Sans Serif"), 11);
}

void InstallFontSubstitutions()
{
    // DejaVu Sans, fontconfig's fallback, is wider than the bitmap fonts these texts were
    // laid out with and clips them in their boxes; Liberation Sans keeps their widths.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Small Fonts"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Times New Roman"),
                              QStringLiteral("Liberation Serif"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
}
