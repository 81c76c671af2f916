#pragma once
// Bitmap resources compiled into the program, looked up by integer identifier or by name.
// A resource with identifier 7 lives at ":/bitmaps/7.*", one named "CHARK" at
// ":/bitmaps/CHARK.*" (XPM, PNG, BMP or SVG); names are looked up in upper case.

#include <QImage>
#include <QString>

// A null image when there is no such resource.
QImage LoadBitmapResource(int id);
QImage LoadBitmapResource(const QString& name);
