#include "CommandLine.h"

#include <algorithm>

QString Usage(const QString& program, const QString& files)
{
    return QStringLiteral(
               "Uso: %1 %2[--output SALIDA]...\n"
               "\n"
               "  --output SALIDA  también conmuta las seis salidas de SALIDA (puede repetirse):\n"
               "%5"
               "%4"
               "  --help           muestra esta ayuda\n"
               "  --version        muestra la versión\n"
               "\n"
               "Sin --output, las salidas de la sección [outputs] del archivo\n"
               "  %3\n"
               "(output = SALIDA, una por línea; password = la contraseña MQTT, en un archivo\n"
               "que solo su dueño pueda leer; cafile = RUTA, la autoridad que firma el\n"
               "certificado del servidor mqtts://, si no es una del sistema; watchdog =\n"
               "SEGUNDOS, tras los que un programa que no da señales de vida se termina y sus\n"
               "salidas se apagan: 10 en prvardo-timer, 30 en PrVardo, 0 ninguno; pulsetime =\n"
               "SEGUNDOS, tras los que cada enchufe MQTT se apaga solo si no recibe de nuevo su\n"
               "ON: se le repite a un tercio de ese tiempo; sin él, 0; heartbeat = D6 o D7\n"
               "en un puerto paralelo, o el número de una línea GPIO aparte de las seis: una\n"
               "línea que cambia 10 veces por segundo mientras el programa funciona, para un\n"
               "circuito que solo da corriente a los relés mientras llegan los pulsos).\n")
        .arg(program, files.isEmpty() ? QString() : files + u' ', SettingsPath(),
             files.isEmpty()
                 ? QString()
                 : QStringLiteral(
                       "  --dry-run        muestra cuándo conmutará en las próximas 24 horas, y\n"
                       "                   termina; con --days N, en los próximos N días (1 a 31)\n"
                       "  --set SALIDA=on|off|auto\n"
                       "                   fija una salida (D0 a D5, o all para las seis) en el\n"
                       "                   temporizador en marcha hasta que el horario la cambie;\n"
                       "                   con --until HORA, hasta esa hora (14:30, o\n"
                       "                   2026-12-08T08:00); auto la devuelve al horario\n"
                       "  --status         muestra qué hace el temporizador en marcha y por qué\n"
                       "  En [timer]: schedule = ARCHIVO.tem, days = lun-vie, holidays = FECHAS,\n"
                       "  INTERVALOS y archivos .ics, schedule.DÍA y schedule.festivo = "
                       "ARCHIVO.tem\n"),
             TargetForms());
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
        } else if (takesFiles && argument == QLatin1String("--status")) {
            line.Status = true;
        } else if (takesFiles &&
                   (argument == QLatin1String("--days") || argument == QLatin1String("--set") ||
                    argument == QLatin1String("--until"))) {
            if (i + 1 == arguments.size()) {
                error = QStringLiteral("falta el valor tras %1").arg(argument);
                return false;
            }
            const QString& value = arguments[++i];
            if (argument == QLatin1String("--set")) {
                line.Set << value;
            } else if (argument == QLatin1String("--until")) {
                line.Until = value;
            } else {
                bool number = false;
                line.Days = value.toInt(&number);
                if (!number || line.Days < 1 || line.Days > 31) {
                    error = QStringLiteral("--days va de 1 a 31, no «%1»").arg(value);
                    return false;
                }
            }
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

bool OutputTargets(const TCommandLine& line, const TSettings& settings,
                   std::vector<TTargetSpec>& specs, QString& error)
{
    specs.clear();
    const QStringList& targets = line.Outputs.isEmpty() ? settings.Outputs : line.Outputs;
    for (const QString& text : targets) {
        TTargetSpec spec;
        if (!ParseTarget(text, spec, error))
            return false;
        if (auto* mqtt = std::get_if<TMqttAddress>(&spec.Address)) {
            if (!mqtt->User.isEmpty())
                mqtt->Password = settings.Password;
            if (mqtt->Secure)
                mqtt->CaFile = settings.CaFile;
            mqtt->PulseTime = settings.PulseTime;
        } else if (auto* port = std::get_if<TParportAddress>(&spec.Address)) {
            port->HeartbeatBit = settings.HeartbeatBit;
        } else if (auto* gpio = std::get_if<TGpioAddress>(&spec.Address)) {
            const int line = settings.HeartbeatLine;
            if (std::find(gpio->Lines.begin(), gpio->Lines.end(), unsigned(line)) !=
                gpio->Lines.end()) {
                error = QStringLiteral("heartbeat: la línea %1 ya es una salida de %2")
                            .arg(line)
                            .arg(spec.Name);
                return false;
            }
            gpio->HeartbeatLine = line;
        }
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
                                   const QString& files, TCommandLine& line, TSettings& settings,
                                   std::vector<TTargetSpec>& specs, QString* refusal)
{
    // The toolkit's own messages (a display lost, a plugin missing) are stamped with the time
    // as the programs' own log lines are.
    qSetMessagePattern(
        QStringLiteral("%{time HH:mm:ss.zzz} %{if-category}%{category}: %{endif}%{message}"));
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QString error;
    if (ParseCommandLine(arguments, !files.isEmpty(), line, error)) {
        if (line.Help) {
            PrintText(stdout, Usage(program, files));
            return 0;
        }
        if (line.Version) {
            PrintText(stdout,
                      QStringLiteral("%1 %2\n").arg(program, QStringLiteral(PRVARDO_VERSION)));
            return 0;
        }
        if (ReadSettings(SettingsPath(), settings, error) &&
            OutputTargets(line, settings, specs, error))
            return std::nullopt;
    }
    PrintText(stderr, QStringLiteral("%1: %2\n").arg(program, error));
    if (refusal != nullptr)
        *refusal = error;
    return 2;
}
