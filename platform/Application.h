#pragma once
// The application object and the program's one error path.
//
// Every handler that Qt calls (clicks, timers, paints, device messages) runs inside Guard():
// an exception that leaves the handler is handed to HandleException, which shows the standard
// error box (a critical message box with the exception's text and an OK button), and the
// program goes on with the state the handler had reached. No exception crosses a Qt frame.

#include "core/ScopedOverride.h"

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

    // Last line of defence: an exception that escaped a handler without a guard. Qt's own frames
    // between here and the handler do not clean up for exceptions (what they held, such as
    // the copy of a mouse event, is lost), which is why handlers run inside Guard().
    bool notify(QObject* receiver, QEvent* event) override;
};

// Reports a failure through the current reporter. Never throws.
void HandleException(QObject* sender, const std::exception& error) noexcept;
void HandleException(QObject* sender, const QString& message) noexcept;

using TExceptionReporter = std::function<void(QObject* sender, const QString& message)>;

// While it lives, failures go to `reporter` (tests record instead of showing a box; an empty
// reporter: the message box); the reporter before it comes back when it ends.
class TScopedExceptionReporter : public TScopedOverride<TExceptionReporter>
{
public:
    explicit TScopedExceptionReporter(TExceptionReporter reporter);
};

// The standard error box: a critical message box over the active window.
void ShowErrorBox(const QString& message);

// Runs a modal box and returns its result; a mouse grab still held is ended first, so that the
// box gets the clicks.
int ExecModal(QDialog& box);

// Runs f; an exception leaving it goes to HandleException with the given sender.
template <class F> void Guard(QObject* sender, F&& f) noexcept
{
    try {
        std::forward<F>(f)();
    } catch (const std::exception& e) {
        HandleException(sender, e);
    } catch (...) {
        HandleException(sender, QStringLiteral("Error desconocido"));
    }
}

// Common set-up of a QApplication for this program: fonts, style, application name.
void SetUpApplication();
