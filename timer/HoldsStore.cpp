#include "HoldsStore.h"

#include "core/Folders.h"
#include "core/Log.h"
#include "core/ScheduleFile.h"
#include "core/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString HoldsPath()
{
    return StateFolder() + QStringLiteral("/prvardo-timer.holds");
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
    QString why;
    try {
        WriteWholeFile(QFile::encodeName(path).toStdString(), HoldsText(holds).toStdString());
        FUnsaved.clear();
        return;
    } catch (const EInOutError& error) {
        why = QString::fromStdString(error.what());
    }
    if (why == FUnsaved)
        return;
    FUnsaved = why;
    LogLine(QStringLiteral("no se pueden guardar las salidas fijadas en %1 (%2); un reinicio "
                           "las olvidaría")
                .arg(path, FUnsaved));
}
