#pragma once
// Fonts by the names the windows use. Sizes are character heights in pixels at 96 dpi.

#include <QFont>
#include <QString>

enum TFontStyle : unsigned
{
    fsNone = 0,
    fsBold = 1,
    fsItalic = 2,
    fsUnderline = 4,
    fsStrikeOut = 8
};

QFont MakeFont(const QString& family, int pixelHeight, unsigned style = fsNone);

// The default text font of the windows: "MS Sans Serif" at 11 px.
QFont DefaultFont();

// Maps the Windows font names the windows ask for onto installed fonts with close metrics.
// Called once by the application object; safe to call again.
void InstallFontSubstitutions();

// Reads the fonts' configuration, as the system and the user set it, and the installed fonts;
// without the parse of every configuration file the system merely offers, which the font
// library's own start does for its listing tools (about half of that start). Called by the
// application object before the toolkit starts, when nothing has asked for a font yet; a second
// call does nothing. When the configuration cannot be read, the font library starts as usual.
void LoadFontConfiguration();
