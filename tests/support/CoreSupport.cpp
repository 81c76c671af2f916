#include "CoreSupport.h"

#include <QTest>

ErrorRecorder::ErrorRecorder()
    // A reporter of exceptions, named so; the check takes it for an exception left unthrown.
    // NOLINTNEXTLINE(bugprone-throw-keyword-missing)
    : FReporter([this](QObject* sender, const QString& message) {
          Senders.append(sender);
          Messages.append(message);
      })
{
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}
