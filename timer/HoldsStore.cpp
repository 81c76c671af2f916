#include "HoldsStore.h"

#include "core/Log.h"
#include "core/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString HoldsPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/PrVardo/prvardo-timer.holds");
}

std::vector<THold> THoldsStore::Read() const
{
    const QString path = HoldsPath();
    const std::string name = QFile::encodeName(path).toStdString();
    const TFileText read = ReadTextFile(name, HoldsFileLimit);
    if (read.Result == TReadResult::Missing)
        return {};
    if (read.Result != TReadResult::Read) {
        LogLine(QStringLiteral("%1; se empieza sin salidas fijadas")
                    .arg(QString::fromStdString(ReadFailure(read, name, HoldsFileLimit))));
        return {};
    }
    int skipped = 0;
    std::vector<THold> holds = ParseHolds(QByteArray::fromStdString(read.Text), &skipped);
    if (skipped > 0)
        LogLine(QStringLiteral("%1: %2 línea(s) no se entienden como una salida fijada y no "
                               "cuentan")
                    .arg(path)
                    .arg(skipped));
    return holds;
}

void THoldsStore::Save(const std::vector<THold>& holds)
{
    const QString path = HoldsPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(HoldsText(holds)) >= 0 && file.commit()) {
        FUnsaved.clear();
        return;
    }
    if (file.errorString() == FUnsaved)
        return;
    FUnsaved = file.errorString();
    LogLine(QStringLiteral("no se pueden guardar las salidas fijadas en %1 (%2); un reinicio "
                           "las olvidaría")
                .arg(path, FUnsaved));
}
