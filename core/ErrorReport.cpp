#include "ErrorReport.h"

#include <QtGlobal>

namespace {

TExceptionReporter& Reporter()
{
    static TExceptionReporter reporter;
    return reporter;
}

} // namespace

void InstallExceptionReporter(TExceptionReporter reporter)
{
    Reporter() = std::move(reporter);
}

void HandleException(QObject* sender, const QString& message) noexcept
{
    try {
        if (Reporter())
            Reporter()(sender, message);
        else
            qWarning("%s", qUtf8Printable(message));
    } catch (...) {
        // The reporter itself failed: nothing sensible is left to tell the user.
    }
}

void HandleException(QObject* sender, const std::exception& error) noexcept
{
    QString text;
    try {
        text = QString::fromUtf8(error.what());
    } catch (...) {
    }
    HandleException(sender, text);
}

TScopedExceptionReporter::TScopedExceptionReporter(TExceptionReporter reporter)
    : TScopedOverride(Reporter(), std::move(reporter))
{
}
