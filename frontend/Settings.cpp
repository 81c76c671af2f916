#include "Settings.h"

#include "core/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

QString SettingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/PrVardo/PrVardo.conf");
}

namespace {

// A file that holds a password is used only when nobody else can read it or put another in its
// place, as ssh judges a key: the file the program opened (not the path looked up again) is the
// user's (or root's) and private, and so are the folders it stands in, which no other user may
// write to.
bool PrivateEnough(const struct stat& file, const QString& path, QString& error)
{
    const auto ours = [](const struct stat& status) {
        return status.st_uid == ::getuid() || status.st_uid == 0;
    };
    if (!ours(file) || (file.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = QStringLiteral("%1 guarda una contraseña y otros usuarios pueden leerlo o no es "
                               "suyo; no se usa. Protéjalo con: chmod 600 %1")
                    .arg(path);
        return false;
    }
    struct stat status
    {
    };
    for (QString folder = QFileInfo(path).absolutePath(); !folder.isEmpty();) {
        // A sticky folder of root's (/tmp) lets nobody replace what is ours in it.
        if (::stat(QFile::encodeName(folder).constData(), &status) != 0 || !ours(status) ||
            ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
             !((status.st_mode & S_ISVTX) != 0 && status.st_uid == 0))) {
            error = QStringLiteral("%1 guarda una contraseña, y otros usuarios pueden cambiar la "
                                   "carpeta %2; no se usa. Protéjala con: chmod go-w %2")
                        .arg(path, folder);
            return false;
        }
        // Up to the user's home, or to the root.
        const QString parent = QFileInfo(folder).path();
        if (parent == folder || folder == QDir::homePath())
            break;
        folder = parent;
    }
    return true;
}

// A whole number of seconds from 0 to `most`.
bool Seconds(const QString& value, int most, int& seconds)
{
    bool number = false;
    seconds = value.toInt(&number);
    return number && seconds >= 0 && seconds <= most;
}

// The keys the programs read into the settings, each with what takes its value; the refusal says
// what a value must be, for a key that can refuse one.
// A key whose value is kept as written.
template <QString TSettings::*Field> bool Text(const QString& value, TSettings& settings)
{
    settings.*Field = value;
    return true;
}

struct TKey
{
    const char* Section;
    const char* Name;
    bool (*Read)(const QString& value, TSettings& settings);
    const char* Refusal;
};

const TKey Keys[] = {
    {"[outputs]", "output",
     [](const QString& value, TSettings& settings) {
         settings.Outputs << value;
         return true;
     },
     nullptr},
    {"[outputs]", "password", Text<&TSettings::Password>, nullptr},
    {"[outputs]", "cafile", Text<&TSettings::CaFile>, nullptr},
    {"[outputs]", "watchdog",
     [](const QString& value, TSettings& settings) {
         return Seconds(value, 3600, settings.Watchdog);
     },
     "watchdog va de 0 (ninguno) a 3600 segundos"},
    {"[outputs]", "heartbeat",
     [](const QString& value, TSettings& settings) {
         bool number = false;
         const int line = value.toInt(&number);
         if (value == QLatin1String("D6") || value == QLatin1String("D7"))
             settings.HeartbeatBit = value.back().digitValue();
         else if (number && line >= 0 && line < 1024)
             settings.HeartbeatLine = line;
         else
             return false;
         return true;
     },
     "heartbeat es D6 o D7 (una línea de datos del puerto paralelo) o el número de una línea "
     "GPIO"},
    {"[outputs]", "pulsetime",
     [](const QString& value, TSettings& settings) {
         return Seconds(value, 64800, settings.PulseTime);
     },
     "pulsetime va de 0 (ninguno) a 64800 segundos"},
    {"[timer]", "schedule", Text<&TSettings::TimerSchedule>, nullptr},
};

} // namespace

QStringList OutputsKeys()
{
    QStringList names;
    for (const TKey& key : Keys)
        if (QLatin1String(key.Section) == QLatin1String("[outputs]"))
            names << QString::fromLatin1(key.Name);
    return names;
}

std::vector<std::pair<QString, QString>> TSettings::Section(const QString& section) const
{
    std::vector<std::pair<QString, QString>> keys;
    for (const auto& [name, value] : Written)
        if (name.startsWith(section))
            keys.emplace_back(name.mid(section.size()), value);
    return keys;
}

QStringList TSettings::Values(const QString& key) const
{
    QStringList values;
    for (const auto& [name, value] : Written)
        if (name == key)
            values << value;
    return values;
}

bool ReadSettings(const QString& path, TSettings& settings, QString& error)
{
    settings = TSettings{};
    const std::string name = QFile::encodeName(path).toStdString();
    const TFileText read = ReadTextFile(name, SettingsFileLimit);
    if (read.Result == TReadResult::Missing)
        return true;
    if (read.Result != TReadResult::Read) {
        error = QString::fromStdString(ReadFailure(read, name, SettingsFileLimit));
        return false;
    }
    if (!ParseSettings(QByteArray::fromStdString(read.Text), path, settings, error))
        return false;
    if (!settings.Password.isEmpty())
        return PrivateEnough(read.Status, path, error);
    return true;
}

bool ParseSettings(const QByteArray& text, const QString& path, TSettings& settings, QString& error)
{
    settings = TSettings{};
    settings.Text = text;
    QString section;
    for (const QString& raw : QString::fromUtf8(text).split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            section = line;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString name = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        settings.Written.emplace_back(section + name, value);
        for (const TKey& key : Keys)
            if (section == QLatin1String(key.Section) && name == QLatin1String(key.Name) &&
                !key.Read(value, settings)) {
                error = QStringLiteral("%1: %2, no «%3»").arg(path, key.Refusal, value);
                return false;
            }
    }
    return true;
}
