#pragma once
// Shared helpers of the test programs with widgets: those of every test program (CoreSupport.h),
// pixels, windows shown.

#include "platform/Colors.h"
#include "tests/support/CoreSupport.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QWidget>

// The widget as it is on screen (its paint events run first).
QImage Grab(QWidget* widget);

// The RGB colour of a pixel of an image, as a stored colour value.
TColor PixelOf(const QImage& image, int x, int y);

// Shows a top-level widget and waits until it is exposed.
void ShowAndWait(QWidget* widget);
