#pragma once
// Shared helpers of the test programs: the offscreen application, an error recorder, pixels.

#include "platform/Application.h"
#include "platform/Colors.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

// Records what the error path reports while it lives, instead of showing a message box.
class ErrorRecorder
{
public:
    ErrorRecorder();
    ErrorRecorder(const ErrorRecorder&) = delete;
    ErrorRecorder& operator=(const ErrorRecorder&) = delete;

    QStringList Messages;
    QList<QObject*> Senders;

private:
    TScopedExceptionReporter FReporter;
};

// The widget as it is on screen (its paint events run first).
QImage Grab(QWidget* widget);

// The RGB colour of a pixel of an image, as a stored colour value.
TColor PixelOf(const QImage& image, int x, int y);

// Processes events until `condition` holds or `timeoutMs` passes; returns the condition.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

// Shows a top-level widget and waits until it is exposed.
void ShowAndWait(QWidget* widget);
