#pragma once
// The application object: it installs the error report's reporter (core/ErrorReport.h) that shows
// the standard error box, a critical message box with the exception's text and an OK button.

#include "core/ErrorReport.h"

#include <QApplication>
#include <QDialog>
#include <QString>

#include <exception>
#include <functional>

class TApplication : public QApplication
{
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // Last line of defence: an exception that escaped a handler without a guard. Qt's own frames
    // between here and the handler do not clean up for exceptions (what they held, such as
    // the copy of a mouse event, is lost), which is why handlers run inside Guard().
    bool notify(QObject* receiver, QEvent* event) override;
};

// The standard error box: a critical message box over the active window.
void ShowErrorBox(const QString& message);

// A notice that needs no answer: an information box over the active window that leaves the
// program usable while it shows (not modal), and goes when closed.
void ShowNotice(const QString& message);

// Runs a modal box and returns its result; a mouse grab still held is ended first, so that the
// box gets the clicks.
int ExecModal(QDialog& box);

// Common set-up of a QApplication for this program: fonts, style, application name.
void SetUpApplication();
