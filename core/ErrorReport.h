#pragma once
// The program's one error path.
//
// Every handler that Qt calls (clicks, timers, paints, device messages) runs inside Guard(): an
// exception that leaves the handler is handed to HandleException, which gives its text to the
// installed reporter, and the program goes on with the state the handler had reached. No
// exception crosses a Qt frame. The application installs the reporter that shows the standard
// error box when it starts; without one (a program on Qt Core alone) the text goes to the log.

#include "core/ScopedOverride.h"

#include <QObject>
#include <QString>

#include <exception>
#include <functional>

// Reports a failure through the current reporter. Never throws.
void HandleException(QObject* sender, const std::exception& error) noexcept;
void HandleException(QObject* sender, const QString& message) noexcept;

using TExceptionReporter = std::function<void(QObject* sender, const QString& message)>;

// The reporter for the rest of the program's life (the application's message box); an empty one
// sends reports to the log.
void InstallExceptionReporter(TExceptionReporter reporter);

// While it lives, failures go to `reporter` (tests record instead of showing a box); the reporter
// before it comes back when it ends.
class TScopedExceptionReporter : public TScopedOverride<TExceptionReporter>
{
public:
    explicit TScopedExceptionReporter(TExceptionReporter reporter);
};

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
