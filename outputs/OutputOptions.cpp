#include "OutputOptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

QString OutputsUsage(const QString& program, const QString& files)
{
    return QStringLiteral(
               "Uso: %1 %2[--output SALIDA]...\n"
               "\n"
               "  --output SALIDA  también conmuta las seis salidas de SALIDA (puede repetirse):\n"
               "      parport:DISPOSITIVO                      la regleta en un puerto paralelo\n"
               "      gpio:CHIP:L0,L1,L2,L3,L4,L5[:active-low] seis líneas GPIO (bit n: línea Ln)\n"
               "      serial:DISPOSITIVO[:BAUDIOS]             una placa de relés por puerto "
               "serie\n"
               "      mqtt://[USUARIO@]SERVIDOR[:PUERTO]/TEMA  enchufes Tasmota: cmnd/TEMA/POWERn\n"
               "      mqtt://SERVIDOR/T0,T1,T2,T3,T4,T5        un enchufe por salida: "
               "cmnd/Tn/POWER\n"
               "      mqtts://...                              lo mismo con TLS\n"
               "%4"
               "  --help           muestra esta ayuda\n"
               "  --version        muestra la versión\n"
               "\n"
               "Sin --output, las salidas de la sección [outputs] del archivo\n"
               "  %3\n"
               "(output = SALIDA, una por línea; password = la contraseña MQTT, en un archivo\n"
               "que solo su dueño pueda leer; cafile = RUTA, la autoridad que firma el\n"
               "certificado del servidor mqtts://, si no es una del sistema).\n")
        .arg(program, files.isEmpty() ? QString() : files + u' ', OutputSettingsPath(),
             files.isEmpty() ? QString()
                             : QStringLiteral("  --dry-run        muestra cuándo conmutará en las "
                                              "próximas 24 horas, y termina\n"));
}

bool ParseCommandLine(const QStringList& arguments, bool takesFiles, TCommandLine& line,
                      QString& error)
{
    line = TCommandLine{};
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--help")) {
            line.Help = true;
        } else if (argument == QLatin1String("--version")) {
            line.Version = true;
        } else if (takesFiles && argument == QLatin1String("--dry-run")) {
            line.DryRun = true;
        } else if (argument == QLatin1String("--output")) {
            if (i + 1 == arguments.size()) {
                error = QStringLiteral("falta la salida tras --output");
                return false;
            }
            line.Outputs << arguments[++i];
        } else if (argument.startsWith(QLatin1String("--output="))) {
            line.Outputs << argument.mid(9);
        } else if (argument.startsWith(u'-') && argument != QLatin1String("-")) {
            error = QStringLiteral("opción desconocida: %1").arg(argument);
            return false;
        } else if (takesFiles) {
            line.Files << argument;
        } else {
            error = QStringLiteral("argumento de más: %1").arg(argument);
            return false;
        }
    }
    return true;
}

QString OutputSettingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/PrVardo/PrVardo.conf");
}

namespace {

struct TSettings
{
    QStringList Outputs;
    QString Password;
    QString CaFile;
    QString Schedule;
};

// A file that holds a password is used only when nobody else can read it or put another in its
// place, as ssh judges a key: the file the program opened (not the path looked up again) is the
// user's (or root's) and private, and so are the folders it stands in, which no other user may
// write to.
bool PrivateEnough(const QFile& file, const QString& path, QString& error)
{
    const auto ours = [](const struct stat& status) {
        return status.st_uid == ::getuid() || status.st_uid == 0;
    };
    struct stat status
    {
    };
    if (::fstat(file.handle(), &status) != 0 || !ours(status) ||
        (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = QStringLiteral("%1 guarda una contraseña y otros usuarios pueden leerlo o no es "
                               "suyo; no se usa. Protéjalo con: chmod 600 %1")
                    .arg(path);
        return false;
    }
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

// The [outputs] section: "key = value" lines; '#' and ';' start comments.
bool ReadSettings(const QString& path, TSettings& settings, QString& error)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QStringLiteral("no se puede leer %1: %2").arg(path, file.errorString());
        return false;
    }
    QString section;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine(4096)).trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            section = line;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString key = section + line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("[outputs]output"))
            settings.Outputs << value;
        else if (key == QLatin1String("[outputs]password"))
            settings.Password = value;
        else if (key == QLatin1String("[outputs]cafile"))
            settings.CaFile = value;
        else if (key == QLatin1String("[timer]schedule"))
            settings.Schedule = value;
    }
    if (!settings.Password.isEmpty())
        return PrivateEnough(file, path, error);
    return true;
}

} // namespace

QString TimerScheduleFromSettings(const QString& settingsPath)
{
    TSettings settings;
    QString error;
    return ReadSettings(settingsPath, settings, error) ? settings.Schedule : QString();
}

bool OutputTargets(const TCommandLine& line, const QString& settingsPath,
                   std::vector<TTargetSpec>& specs, QString& error)
{
    specs.clear();
    TSettings settings;
    if (!ReadSettings(settingsPath, settings, error))
        return false;
    const QStringList& targets = line.Outputs.isEmpty() ? settings.Outputs : line.Outputs;
    for (const QString& text : targets) {
        TTargetSpec spec;
        if (!ParseTarget(text, spec, error))
            return false;
        if (spec.Kind == TTargetKind::Mqtt && !spec.User.isEmpty())
            spec.Password = settings.Password;
        if (spec.Kind == TTargetKind::Mqtt && spec.Secure)
            spec.CaFile = settings.CaFile;
        specs.push_back(spec);
    }
    return true;
}

void PrintText(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

std::optional<int> ReadCommandLine(const QString& program, int argc, char** argv,
                                   const QString& files, TCommandLine& line,
                                   std::vector<TTargetSpec>& specs)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QString error;
    if (ParseCommandLine(arguments, !files.isEmpty(), line, error)) {
        if (line.Help) {
            PrintText(stdout, OutputsUsage(program, files));
            return 0;
        }
        if (line.Version) {
            PrintText(stdout,
                      QStringLiteral("%1 %2\n").arg(program, QStringLiteral(PRVARDO_VERSION)));
            return 0;
        }
        if (OutputTargets(line, OutputSettingsPath(), specs, error))
            return std::nullopt;
    }
    PrintText(stderr, QStringLiteral("%1: %2\n").arg(program, error));
    return 2;
}
