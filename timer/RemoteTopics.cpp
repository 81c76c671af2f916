#include "RemoteTopics.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

bool Refuse(const QString& key, const QString& why, QString& error)
{
    error = QStringLiteral("[timer] %1: %2").arg(key, why);
    return false;
}

} // namespace

QStringList RemoteKeys()
{
    return {QStringLiteral("mqtt"), QStringLiteral("discovery"), QStringLiteral("names")};
}

bool ParseRemote(const TSettings& settings, std::optional<TRemoteOptions>& remote, QString& error)
{
    remote.reset();
    TRemoteOptions options;
    QString address;
    QString password = settings.Password;
    QString authority = settings.CaFile;
    for (const auto& [key, value] : settings.Section(QStringLiteral("[timer]"))) {
        if (key == QLatin1String("mqtt"))
            address = value;
        else if (key == QLatin1String("discovery"))
            options.Discovery = value == QLatin1String("off") ? QString() : value;
        else if (key == QLatin1String("names"))
            options.Names = value.split(u',');
    }
    if (address.isEmpty())
        return true;
    QString base;
    QString why;
    if (!ParseBroker(address, options.Broker, base, why) || base.isEmpty() || base.endsWith(u'/') ||
        base.contains(u'+') || base.contains(u'#'))
        return Refuse(QStringLiteral("mqtt"),
                      QStringLiteral("«%1» no es mqtt://[USUARIO@]SERVIDOR[:PUERTO]/BASE%2")
                          .arg(address, why.isEmpty() ? QString() : QStringLiteral(": ") + why),
                      error);
    if (!options.Discovery.isEmpty() &&
        (options.Discovery.contains(u'+') || options.Discovery.contains(u'#')))
        return Refuse(QStringLiteral("discovery"),
                      QStringLiteral("«%1» no es un prefijo de temas").arg(options.Discovery),
                      error);
    if (!options.Names.isEmpty() && options.Names.size() != OutputCount)
        return Refuse(QStringLiteral("names"), QStringLiteral("hacen falta seis nombres"), error);
    for (QString& name : options.Names)
        name = name.trimmed();
    if (options.Names.isEmpty())
        for (int n = 0; n < OutputCount; ++n)
            options.Names << QStringLiteral("D%1").arg(n);
    options.Name = address;
    options.Base = base;
    if (!options.Broker.User.isEmpty())
        options.Broker.Password = password;
    if (options.Broker.Secure)
        options.Broker.CaFile = authority;
    remote = options;
    return true;
}

namespace {

// The device's id: BASE as Home Assistant takes it.
QString Node(const QString& base)
{
    QString node = QStringLiteral("prvardo_") + base;
    for (QChar& c : node)
        if (!c.isLetterOrNumber() && c != u'_' && c != u'-')
            c = u'_';
    return node;
}

} // namespace

std::vector<std::pair<QString, QByteArray>> DiscoveryConfigs(const TRemoteOptions& options,
                                                             const QString& version)
{
    const QString node = Node(options.Base);
    const QJsonObject device{
        {"identifiers", QJsonArray{node}}, {"name", "PrVardo"},     {"model", "prvardo-timer"},
        {"manufacturer", "PrVardo"},       {"sw_version", version},
    };
    std::vector<std::pair<QString, QByteArray>> configs;
    for (int n = 0; n < OutputCount; ++n) {
        const QString topic = options.Base + QStringLiteral("/D%1").arg(n);
        const QJsonObject config{
            {"name", options.Names.value(n)},
            {"unique_id", node + QStringLiteral("_d%1").arg(n)},
            {"state_topic", topic},
            {"command_topic", topic + QStringLiteral("/set")},
            {"payload_on", "ON"},
            {"payload_off", "OFF"},
            {"state_on", "ON"},
            {"state_off", "OFF"},
            {"availability",
             QJsonArray{QJsonObject{{"topic", options.Base + QStringLiteral("/estado")},
                                    {"payload_available", "online"},
                                    {"payload_not_available", "offline"}}}},
            {"device", device},
        };
        configs.emplace_back(
            QStringLiteral("%1/switch/%2/d%3/config").arg(options.Discovery, node).arg(n),
            QJsonDocument(config).toJson(QJsonDocument::Compact));
    }
    return configs;
}

bool ParseRemoteCommand(const QString& base, const TMqttMessage& message, const QDateTime& now,
                        const QTimeZone& zone, THoldRequest& request, QString& why)
{
    const auto ignore = [&](const QString& text) {
        why = text;
        return false;
    };
    // A command left on the broker from before this run must not switch anything now.
    if (message.Retained)
        return ignore(QStringLiteral("es una orden retenida de antes"));
    request = {};
    QString error;
    if (message.Topic == base + QStringLiteral("/set")) {
        // {"D0": "ON", "D2": "ON", "until": "14:30"}: one request for every output it names.
        const QJsonDocument document = QJsonDocument::fromJson(message.Payload);
        if (!document.isObject())
            return ignore(QStringLiteral("no es un objeto JSON"));
        const QJsonObject object = document.object();
        const QJsonValue until = object.value(QLatin1String("until"));
        if (!until.isUndefined() && !until.isString())
            return ignore(QStringLiteral("until no es un texto"));
        int named = 0;
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (it.key() == QLatin1String("until"))
                continue;
            THoldRequest one;
            if (!it.value().isString())
                return ignore(QStringLiteral("%1 no es un texto").arg(it.key()));
            if (!ParseHoldRequest(it.key() + u'=' + it.value().toString(), until.toString(), now,
                                  zone, one, error))
                return ignore(error);
            if (named++ > 0 && one.Value != request.Value)
                return ignore(QStringLiteral("todas las salidas de una orden van igual"));
            one.Outputs |= request.Outputs;
            request = one;
        }
        if (request.Outputs == 0)
            return ignore(QStringLiteral("no nombra ninguna salida"));
        return true;
    }
    const QString prefix = base + QStringLiteral("/");
    const QString output = message.Topic.mid(prefix.size()).section(u'/', 0, 0);
    if (message.Topic != prefix + output + QStringLiteral("/set") ||
        output.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0 ||
        !ParseHoldRequest(output + u'=' + QString::fromUtf8(message.Payload), {}, now, zone,
                          request, error))
        return ignore(QStringLiteral("se espera ON, OFF o AUTO en BASE/D0/set .. BASE/D5/set"));
    return true;
}

std::vector<std::pair<QString, QByteArray>> TStateTopics::Changes(const TState& state,
                                                                  const QDateTime& now)
{
    std::vector<std::pair<QString, QByteArray>> changes;
    for (std::size_t n = 0; n < OutputCount; ++n) {
        const TOutputState& output = state.Outputs[n];
        const std::pair<QByteArray, QByteArray> shown{output.On ? "ON" : "OFF",
                                                      ReasonText(output, now).toUtf8()};
        const QString topic = FBase + QStringLiteral("/D%1").arg(n);
        if (shown.first != FShown[n].first)
            changes.emplace_back(topic, shown.first);
        if (shown.second != FShown[n].second)
            changes.emplace_back(topic + QStringLiteral("/motivo"), shown.second);
        FShown[n] = shown;
    }
    return changes;
}
