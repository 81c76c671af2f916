#include "Targets.h"

#include <QUrl>

#include <algorithm>
#include <array>
#include <optional>

namespace {

bool Refuse(const QString& text, const QString& why, QString& error)
{
    error = QStringLiteral("salida no válida \"%1\": %2").arg(text, why);
    return false;
}

// A topic level as Tasmota names devices: no separators, wildcards or spaces.
bool IsTopic(const QString& topic)
{
    return !topic.isEmpty() && std::none_of(topic.begin(), topic.end(), [](QChar c) {
        return c == u'/' || c == u'+' || c == u'#' || c.isSpace() || c.unicode() < 32;
    });
}

// The port as written after the host ("mqtt://user@host:PORT/..."), or none; a bracketed IPv6
// host keeps its colons.
std::optional<QString> WrittenPort(const QString& text)
{
    const qsizetype start = text.indexOf(QLatin1String("://")) + 3;
    qsizetype end = text.indexOf(u'/', start);
    if (end < 0)
        end = text.size();
    const QString authority = text.mid(start, end - start);
    const QString host = authority.mid(authority.lastIndexOf(u'@') + 1);
    const qsizetype colon = host.indexOf(u':', std::max<qsizetype>(host.lastIndexOf(u']'), 0));
    if (colon < 0)
        return std::nullopt;
    return host.mid(colon + 1);
}

// Whether a port written in the address, if any, is one (QUrl takes "+1" and "0").
bool GoodPort(const QString& text)
{
    const auto port = WrittenPort(text);
    bool number = false;
    const uint value = port ? port->toUInt(&number) : 1;
    return !port || (number && !port->startsWith(u'+') && value != 0 && value <= 65535);
}

bool ParseMqtt(const QString& text, TTargetAddress& address, QString& error)
{
    TMqttAddress mqtt;
    QString path;
    QString why;
    if (!ParseBroker(text, mqtt, path, why))
        return Refuse(text, why, error);
    const QStringList topics = path.split(u',');
    if ((topics.size() != 1 && topics.size() != 6) ||
        !std::all_of(topics.begin(), topics.end(), IsTopic))
        return Refuse(text,
                      QStringLiteral("hace falta un tema, o seis separados por comas, sin «/», "
                                     "«+», «#» ni espacios"),
                      error);
    mqtt.Topics = topics;
    address = mqtt;
    return true;
}

bool ParseGpio(const QString& text, TTargetAddress& address, QString& error)
{
    const QStringList parts = text.split(u':');
    if (parts.size() < 3 || parts.size() > 4 || parts[1].isEmpty())
        return Refuse(text, QStringLiteral("se escribe gpio:CHIP:L0,L1,L2,L3,L4,L5[:active-low]"),
                      error);
    if (parts.size() == 4 && parts[3] != QLatin1String("active-low"))
        return Refuse(text, QStringLiteral("lo único que puede seguir a las líneas es active-low"),
                      error);
    const QStringList lines = parts[2].split(u',');
    if (lines.size() != OutputCount)
        return Refuse(text, QStringLiteral("hacen falta seis líneas, una por salida"), error);
    TGpioAddress gpio;
    for (int n = 0; n < OutputCount; ++n) {
        bool ok = false;
        const uint line = lines[n].toUInt(&ok);
        if (!ok || lines[n].startsWith(u'+') || line > 65535)
            return Refuse(text, QStringLiteral("«%1» no es un número de línea").arg(lines[n]),
                          error);
        gpio.Lines[static_cast<std::size_t>(n)] = line;
    }
    auto sorted = gpio.Lines;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        return Refuse(text, QStringLiteral("una línea no puede llevar dos salidas"), error);
    gpio.Chip = parts[1];
    gpio.ActiveLow = parts.size() == 4;
    address = gpio;
    return true;
}

bool ParseParport(const QString& text, TTargetAddress& address, QString& error)
{
    const QStringList parts = text.split(u':');
    if (parts.size() != 2 || parts[1].isEmpty())
        return Refuse(text, QStringLiteral("se escribe parport:DISPOSITIVO"), error);
    address = TParportAddress{parts[1]};
    return true;
}

// The speeds a serial port can be set to (those of termios).
constexpr std::array<int, 30> SerialBauds{
    50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
    2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
    576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

// A serial port's speed as written.
bool ParseBaud(const QString& text, const QString& written, std::int32_t& baud, QString& error)
{
    bool ok = false;
    baud = written.toInt(&ok);
    if (!ok || written.startsWith(u'+') ||
        std::find(SerialBauds.begin(), SerialBauds.end(), baud) == SerialBauds.end())
        return Refuse(text,
                      QStringLiteral("«%1» no es una velocidad de puerto serie (9600, 115200...)")
                          .arg(written),
                      error);
    return true;
}

bool ParseSerial(const QString& text, TTargetAddress& address, QString& error)
{
    const QStringList parts = text.split(u':');
    if (parts.size() < 2 || parts.size() > 3 || parts[1].isEmpty())
        return Refuse(text, QStringLiteral("se escribe serial:DISPOSITIVO[:BAUDIOS]"), error);
    TSerialAddress serial{parts[1]};
    if (parts.size() == 3 && !ParseBaud(text, parts[2], serial.Baud, error))
        return false;
    address = serial;
    return true;
}

bool ParseLcus(const QString& text, TTargetAddress& address, QString& error)
{
    const QStringList parts = text.split(u':');
    if (parts.size() < 2 || parts.size() > 3 || parts[1].isEmpty())
        return Refuse(text, QStringLiteral("se escribe lcus:DISPOSITIVO[:RELÉS]"), error);
    TLcusAddress lcus{parts[1]};
    if (parts.size() == 3) {
        const QStringList known{"1", "2", "4", "8"};
        if (!known.contains(parts[2]))
            return Refuse(text,
                          QStringLiteral("«%1» no es un número de relés de una placa LCUS (1, 2, "
                                         "4 u 8)")
                              .arg(parts[2]),
                          error);
        lcus.Channels = parts[2].toInt();
    }
    address = lcus;
    return true;
}

// A Modbus unit number as written: 1 to 247.
bool ParseUnit(const QString& text, const QString& written, int& unit, QString& error)
{
    bool ok = false;
    unit = written.toInt(&ok);
    if (!ok || written.startsWith(u'+') || unit < 1 || unit > 247)
        return Refuse(
            text, QStringLiteral("«%1» no es un número de unidad Modbus (1 a 247)").arg(written),
            error);
    return true;
}

bool ParseModbusRtu(const QString& text, TTargetAddress& address, QString& error)
{
    const QStringList parts = text.split(u':');
    if (parts.size() < 2 || parts.size() > 4 || parts[1].isEmpty())
        return Refuse(text, QStringLiteral("se escribe modbus:DISPOSITIVO[:BAUDIOS[:UNIDAD]]"),
                      error);
    TModbusAddress modbus;
    modbus.Device = parts[1];
    if (parts.size() >= 3 && !ParseBaud(text, parts[2], modbus.Baud, error))
        return false;
    if (parts.size() == 4 && !ParseUnit(text, parts[3], modbus.Unit, error))
        return false;
    address = modbus;
    return true;
}

bool ParseModbusTcp(const QString& text, TTargetAddress& address, QString& error)
{
    if (!GoodPort(text))
        return Refuse(text, QStringLiteral("el puerto no es válido"), error);
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() ||
        url.hasFragment())
        return Refuse(text, QStringLiteral("se escribe modbus-tcp://SERVIDOR[:PUERTO]/UNIDAD"),
                      error);
    TModbusAddress modbus;
    modbus.Tcp = true;
    modbus.Host = url.host();
    modbus.Port = static_cast<std::uint16_t>(url.port(502));
    QString unit = url.path();
    if (unit.startsWith(u'/'))
        unit.remove(0, 1);
    if (unit.isEmpty())
        return Refuse(text, QStringLiteral("falta el número de unidad: modbus-tcp://SERVIDOR/1"),
                      error);
    if (!ParseUnit(text, unit, modbus.Unit, error))
        return false;
    address = modbus;
    return true;
}

// Each kind of target: the beginnings that name it, the forms --help shows, and its parser.
struct TTargetForm
{
    std::vector<const char*> Prefixes;
    std::vector<std::pair<const char*, const char*>> Usage; // form, what it drives
    bool (*Parse)(const QString& text, TTargetAddress& address, QString& error);
};

const std::vector<TTargetForm>& Forms()
{
    static const std::vector<TTargetForm> forms{
        {{"parport:"}, {{"parport:DISPOSITIVO", "la regleta en un puerto paralelo"}}, ParseParport},
        {{"gpio:"},
         {{"gpio:CHIP:L0,L1,L2,L3,L4,L5[:active-low]", "seis líneas GPIO (bit n: línea Ln)"}},
         ParseGpio},
        {{"serial:"},
         {{"serial:DISPOSITIVO[:BAUDIOS]", "una placa de relés por puerto serie"}},
         ParseSerial},
        {{"lcus:"},
         {{"lcus:DISPOSITIVO[:RELÉS]", "un módulo de relés USB LCUS de 1, 2, 4 u 8 relés"}},
         ParseLcus},
        {{"modbus:"},
         {{"modbus:DISPOSITIVO[:BAUDIOS[:UNIDAD]]", "una placa de relés Modbus RTU (bobinas 0-5)"}},
         ParseModbusRtu},
        {{"modbus-tcp://"},
         {{"modbus-tcp://SERVIDOR[:PUERTO]/UNIDAD", "lo mismo por Modbus TCP"}},
         ParseModbusTcp},
        {{"mqtt://", "mqtts://"},
         {{"mqtt://[USUARIO@]SERVIDOR[:PUERTO]/TEMA", "enchufes Tasmota: cmnd/TEMA/POWERn"},
          {"mqtt://SERVIDOR/T0,T1,T2,T3,T4,T5", "un enchufe por salida: cmnd/Tn/POWER"},
          {"mqtts://...", "lo mismo con TLS"}},
         ParseMqtt},
    };
    return forms;
}

} // namespace

bool ParseBroker(const QString& text, TMqttAddress& broker, QString& path, QString& why)
{
    if (!GoodPort(text)) {
        why = QStringLiteral("el puerto no es válido");
        return false;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("mqtt") && url.scheme() != QLatin1String("mqtts"))) {
        why = QStringLiteral("falta el servidor MQTT");
        return false;
    }
    if (!url.password().isEmpty()) {
        why = QStringLiteral("la contraseña va en el archivo de configuración, no en la "
                             "dirección");
        return false;
    }
    if (url.hasQuery() || url.hasFragment()) {
        why = QStringLiteral("sobra lo que sigue a los temas");
        return false;
    }
    broker = TMqttAddress{};
    broker.Secure = url.scheme() == QLatin1String("mqtts");
    broker.User = url.userName();
    broker.Host = url.host();
    broker.Port = static_cast<std::uint16_t>(url.port(0));
    path = url.path();
    if (path.startsWith(u'/'))
        path.remove(0, 1);
    return true;
}

bool ParseTarget(const QString& text, TTargetSpec& spec, QString& error)
{
    spec = TTargetSpec{text, {}};
    // "gpio" alone is a gpio target written short, as "gpio:" is.
    const QString written = text + u':';
    QStringList prefixes;
    for (const TTargetForm& form : Forms())
        for (const char* prefix : form.Prefixes) {
            if (written.startsWith(QLatin1String(prefix)))
                return form.Parse(text, spec.Address, error);
            prefixes << QString::fromLatin1(prefix);
        }
    const QString last = prefixes.takeLast();
    return Refuse(
        text,
        QStringLiteral("las salidas son %1 y %2").arg(prefixes.join(QStringLiteral(", ")), last),
        error);
}

QString TargetForms()
{
    QString text;
    for (const TTargetForm& form : Forms())
        for (const auto& [written, drives] : form.Usage)
            text +=
                QStringLiteral("      %1 %2\n")
                    .arg(QString::fromUtf8(written).leftJustified(40), QString::fromUtf8(drives));
    return text;
}

namespace {

std::chrono::milliseconds& AnswerWaitPlace()
{
    static std::chrono::milliseconds wait{0}; // none set: each target's own
    return wait;
}

} // namespace

std::chrono::milliseconds AnswerWait(std::chrono::milliseconds own)
{
    return AnswerWaitPlace() > std::chrono::milliseconds(0) ? AnswerWaitPlace() : own;
}

TScopedAnswerWait::TScopedAnswerWait(std::chrono::milliseconds wait)
    : TScopedOverride(AnswerWaitPlace(), wait)
{
}
