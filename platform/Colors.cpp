#include "Colors.h"

#include <QGuiApplication>
#include <QPalette>

QColor ToQColor(TColor c)
{
    if (!IsSystemColor(c))
        return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));

    const QPalette pal = QGuiApplication::palette();
    switch (c) {
    case clWindow:
        return pal.color(QPalette::Base);
    case clWindowText:
        return pal.color(QPalette::Text);
    case clHighlight:
        return pal.color(QPalette::Highlight);
    case clHighlightText:
        return pal.color(QPalette::HighlightedText);
    case clBtnFace:
        return pal.color(QPalette::Button);
    case clBtnShadow:
        return pal.color(QPalette::Dark);
    case clBtnText:
        return pal.color(QPalette::ButtonText);
    case clBtnHighlight:
        return pal.color(QPalette::Light);
    default:
        return pal.color(QPalette::Window);
    }
}

TColor FromQColor(const QColor& c)
{
    return RGBColor(c.red(), c.green(), c.blue());
}
