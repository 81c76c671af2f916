#include "CommandLine.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

// Each option: its name, the name of its value (none: it takes none), whether the timer alone
// takes it, its lines of --help, and what it sets.
struct TOptionForm
{
    const char* Name;
    const char* Value;
    bool TimerOnly;
    const char* Usage;
    bool (*Take)(TCommandLine& line, const QString& value, QString& error);
};

const std::vector<TOptionForm>& Options()
{
    static const std::vector<TOptionForm> options{
        {"--output", "SALIDA", false,
         "  --output SALIDA  también conmuta las seis salidas de SALIDA (puede repetirse):\n",
         [](TCommandLine& line, const QString& value, QString&) {
             line.Outputs << value;
             return true;
         }},
        {"--dry-run", nullptr, true,
         "  --dry-run        muestra cuándo conmutará en las próximas 24 horas, y\n"
         "                   termina; con --days N, en los próximos N días (1 a 31)\n",
         [](TCommandLine& line, const QString&, QString&) { return line.DryRun = true; }},
        {"--days", "N", true, "",
         [](TCommandLine& line, const QString& value, QString& error) {
             bool number = false;
             line.Days = value.toInt(&number);
             if (number && line.Days >= 1 && line.Days <= 31)
                 return true;
             error = QStringLiteral("--days va de 1 a 31, no «%1»").arg(value);
             return false;
         }},
        {"--set", "SALIDA=on|off|auto", true,
         "  --set SALIDA=on|off|auto\n"
         "                   fija una salida (D0 a D5, o all para las seis) en el\n"
         "                   temporizador en marcha hasta que el horario la cambie;\n"
         "                   con --until HORA, hasta esa hora (14:30, o\n"
         "                   2026-12-08T08:00); auto la devuelve al horario\n",
         [](TCommandLine& line, const QString& value, QString&) {
             line.Set << value;
             return true;
         }},
        {"--until", "HORA", true, "",
         [](TCommandLine& line, const QString& value, QString&) {
             line.Until = value;
             return true;
         }},
        {"--status", nullptr, true,
         "  --status         muestra qué hace el temporizador en marcha y por qué\n"
         "  En [timer]: schedule = ARCHIVO.tem, days = lun-vie, holidays = FECHAS,\n"
         "  INTERVALOS y archivos .ics, schedule.DÍA y schedule.festivo = ARCHIVO.tem\n",
         [](TCommandLine& line, const QString&, QString&) { return line.Status = true; }},
        {"--help", nullptr, false, "  --help           muestra esta ayuda\n",
         [](TCommandLine& line, const QString&, QString&) { return line.Help = true; }},
        {"--version", nullptr, false, "  --version        muestra la versión\n",
         [](TCommandLine& line, const QString&, QString&) { return line.Version = true; }},
    };
    return options;
}

} // namespace

QString Usage(const TProgramForm& program)
{
    QString options;
    for (const TOptionForm& option : Options()) {
        if (option.TimerOnly && !program.Timer)
            continue;
        options += QString::fromUtf8(option.Usage);
        // Every form of target comes after --output's line.
        if (option.Name == std::string_view("--output"))
            options += TargetForms();
    }
    return QStringLiteral(
               "Uso: %1 %2[--output SALIDA]...\n"
               "\n"
               "%4"
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
        .arg(program.Name, program.Files.isEmpty() ? QString() : program.Files + u' ',
             SettingsPath(), options);
}

bool ParseCommandLine(const QStringList& arguments, const TProgramForm& program, TCommandLine& line,
                      QString& error)
{
    line = TCommandLine{};
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        // --output=SALIDA is --output SALIDA.
        const QString name =
            argument.startsWith(QLatin1String("--output=")) ? QStringLiteral("--output") : argument;
        const auto option =
            std::find_if(Options().begin(), Options().end(), [&](const TOptionForm& form) {
                return name == QLatin1String(form.Name) && (program.Timer || !form.TimerOnly);
            });
        if (option != Options().end()) {
            QString value;
            if (name != argument) {
                value = argument.mid(name.size() + 1);
            } else if (option->Value != nullptr) {
                if (i + 1 == arguments.size()) {
                    error = name == QLatin1String("--output")
                                ? QStringLiteral("falta la salida tras --output")
                                : QStringLiteral("falta el valor tras %1").arg(argument);
                    return false;
                }
                value = arguments[++i];
            }
            if (!option->Take(line, value, error))
                return false;
        } else if (argument.startsWith(u'-') && argument != QLatin1String("-")) {
            error = QStringLiteral("opción desconocida: %1").arg(argument);
            return false;
        } else if (!program.Files.isEmpty()) {
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

std::optional<int> ReadCommandLine(const TProgramForm& program, int argc, char** argv,
                                   TCommandLine& line, TSettings& settings,
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
    if (ParseCommandLine(arguments, program, line, error)) {
        if (line.Help) {
            PrintText(stdout, Usage(program));
            return 0;
        }
        if (line.Version) {
            PrintText(stdout,
                      QStringLiteral("%1 %2\n").arg(program.Name, QStringLiteral(PRVARDO_VERSION)));
            return 0;
        }
        if (ReadSettings(SettingsPath(), settings, error) &&
            OutputTargets(line, settings, specs, error))
            return std::nullopt;
    }
    PrintText(stderr, QStringLiteral("%1: %2\n").arg(program.Name, error));
    if (refusal != nullptr)
        *refusal = error;
    return 2;
}
