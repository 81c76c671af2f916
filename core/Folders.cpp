#include "Folders.h"

#include <QDir>
#include <QStandardPaths>

QString RuntimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() ? runtime
                              : QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString StateFolder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/PrVardo");
}
