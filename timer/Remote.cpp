#include "Remote.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTimeZone>

#include <pwd.h>
#include <unistd.h>

namespace {

bool Refuse(const QString& key, const QString& why, QString& error)
{
    error = QStringLiteral("[timer] %1: %2").arg(key, why);
    return false;
}

QByteArray Utf8(const QString& text)
{
    return text.toUtf8();
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
    for (const auto& [key, value] : settings.Timer) {
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

TRemote::TRemote(TRemoteOptions options, TCommand command, QObject* parent)
    : QObject(parent), FOptions(std::move(options)), FCommand(std::move(command))
{
    const passwd* user = ::getpwuid(::getuid());
    FIdentity = QStringLiteral("%1@%2, proceso %3")
                    .arg(user != nullptr ? QString::fromLocal8Bit(user->pw_name)
                                         : QString::number(::getuid()),
                         QSysInfo::machineHostName())
                    .arg(QCoreApplication::applicationPid());
    FLink = new TMqttLink(
        FOptions.Broker, FOptions.Name, FOptions.Base + QStringLiteral("/estado"), "offline",
        {[this] { Connected(); }, [this](const QString& cause) { Trouble(cause); },
         [this](const TMqttLink::TMessage& message) { Received(message); }},
        this);
}

TRemote::~TRemote()
{
    Stop();
}

void TRemote::Stop()
{
    // Only the holder speaks for BASE, at its end too: BASE is left free for another timer.
    if (FRole != TRole::Holder) {
        FLink->End();
        return;
    }
    PublishOne(FOptions.Base + QStringLiteral("/titular"), {});
    FLink->End(FOptions.Base + QStringLiteral("/estado"), "offline");
}

QString TRemote::Node() const
{
    QString node = QStringLiteral("prvardo_") + FOptions.Base;
    for (QChar& c : node)
        if (!c.isLetterOrNumber() && c != u'_' && c != u'-')
            c = u'_';
    return node;
}

void TRemote::PublishOne(const QString& topic, const QByteArray& payload, bool retain)
{
    FLink->Publish(topic, payload, retain);
}

void TRemote::Publish(const TState& state)
{
    FState = state;
    if (!FLink->IsConnected() || FRole != TRole::Holder) // all of it once connected and holding
        return;
    const QDateTime now = QDateTime::currentDateTime();
    for (int n = 0; n < OutputCount; ++n) {
        const TOutputState& output = state.Outputs[static_cast<std::size_t>(n)];
        const QByteArray shown = output.On ? "ON" : "OFF";
        const QByteArray reason = Utf8(ReasonText(output, now));
        const QString topic = FOptions.Base + QStringLiteral("/D%1").arg(n);
        if (shown != FShownState[static_cast<std::size_t>(n)])
            PublishOne(topic, shown);
        if (reason != FShownReason[static_cast<std::size_t>(n)])
            PublishOne(topic + QStringLiteral("/motivo"), reason);
        FShownState[static_cast<std::size_t>(n)] = shown;
        FShownReason[static_cast<std::size_t>(n)] = reason;
    }
}

void TRemote::PublishAll()
{
    FShownState = {};
    FShownReason = {};
    PublishOne(FOptions.Base + QStringLiteral("/estado"), "online");
    if (FState)
        Publish(*FState);
    PublishDiscovery();
}

void TRemote::PublishDiscovery()
{
    if (FOptions.Discovery.isEmpty())
        return;
    const QJsonObject device{
        {"identifiers", QJsonArray{Node()}},
        {"name", "PrVardo"},
        {"model", "prvardo-timer"},
        {"manufacturer", "PrVardo"},
        {"sw_version", QStringLiteral(PRVARDO_VERSION)},
    };
    for (int n = 0; n < OutputCount; ++n) {
        const QString topic = FOptions.Base + QStringLiteral("/D%1").arg(n);
        const QJsonObject config{
            {"name", FOptions.Names.value(n)},
            {"unique_id", Node() + QStringLiteral("_d%1").arg(n)},
            {"state_topic", topic},
            {"command_topic", topic + QStringLiteral("/set")},
            {"payload_on", "ON"},
            {"payload_off", "OFF"},
            {"state_on", "ON"},
            {"state_off", "OFF"},
            {"availability",
             QJsonArray{QJsonObject{{"topic", FOptions.Base + QStringLiteral("/estado")},
                                    {"payload_available", "online"},
                                    {"payload_not_available", "offline"}}}},
            {"device", device},
        };
        PublishOne(QStringLiteral("%1/switch/%2/d%3/config").arg(FOptions.Discovery, Node()).arg(n),
                   QJsonDocument(config).toJson(QJsonDocument::Compact));
    }
}

void TRemote::Trouble(const QString& cause)
{
    if (cause == FSaid)
        return;
    FSaid = cause;
    LogLine((cause.endsWith(u'.') ? QStringLiteral("MQTT %1: %2 Se vuelve a intentar.")
                                  : QStringLiteral("MQTT %1: %2; se vuelve a intentar"))
                .arg(FOptions.Name, cause));
}

void TRemote::Connected()
{
    LogLine(QStringLiteral("MQTT %1: conectado").arg(FOptions.Name));
    FSaid.clear();
    FRole = TRole::Undecided;
    FHolder.clear();
    FHolderState.clear();
    // The retained holder and state come first; the probe, published after them, comes back
    // after them.
    for (const QString& topic : {FOptions.Base + QStringLiteral("/titular"),
                                 FOptions.Base + QStringLiteral("/estado"), ProbeTopic()})
        FLink->Subscribe(topic);
    FLink->Publish(ProbeTopic(), "?", false);
}

QStringList TRemote::SetTopics() const
{
    return {FOptions.Base + QStringLiteral("/+/set"), FOptions.Base + QStringLiteral("/set")};
}

QString TRemote::ProbeTopic() const
{
    return FOptions.Base +
           QStringLiteral("/titular/sonda/%1").arg(QCoreApplication::applicationPid());
}

void TRemote::Decide()
{
    const bool free = FHolder.isEmpty() || FHolder == Utf8(FIdentity) || FHolderState == "offline";
    if (free) {
        if (FRole != TRole::Holder)
            Hold();
        return;
    }
    if (FRole == TRole::Holder) {
        // Two timers took BASE at once: the first identity in order keeps it.
        if (Utf8(FIdentity) < FHolder) {
            PublishOne(FOptions.Base + QStringLiteral("/titular"), Utf8(FIdentity));
            return;
        }
        for (const QString& topic : SetTopics())
            FLink->Unsubscribe(topic);
    }
    FRole = TRole::Aside;
    if (!FSaidAside)
        LogLine(QStringLiteral("MQTT %1: %2 lo atiende ya, en marcha; este temporizador no "
                               "publica en %3 ni atiende sus órdenes mientras tanto")
                    .arg(FOptions.Name, QString::fromUtf8(FHolder), FOptions.Base));
    FSaidAside = true;
}

void TRemote::Hold()
{
    if (FSaidAside)
        LogLine(QStringLiteral("MQTT %1: %2 quedó libre; este temporizador lo atiende ahora")
                    .arg(FOptions.Name, FOptions.Base));
    FSaidAside = false;
    FRole = TRole::Holder;
    PublishOne(FOptions.Base + QStringLiteral("/titular"), Utf8(FIdentity));
    for (const QString& topic : SetTopics())
        FLink->Subscribe(topic);
    if (!FOptions.Discovery.isEmpty())
        FLink->Subscribe(FOptions.Discovery + QStringLiteral("/status"));
    PublishAll();
}

void TRemote::Received(const TMqttLink::TMessage& message)
{
    if (message.Topic == ProbeTopic()) {
        if (FRole == TRole::Undecided)
            Decide();
        return;
    }
    if (message.Topic == FOptions.Base + QStringLiteral("/titular")) {
        FHolder = message.Payload;
        if (FRole != TRole::Undecided)
            Decide();
        return;
    }
    if (message.Topic == FOptions.Base + QStringLiteral("/estado")) {
        FHolderState = message.Payload;
        // The last will of a timer that did not hold BASE: the holder is still here.
        if (FRole == TRole::Holder && message.Payload == "offline")
            PublishOne(FOptions.Base + QStringLiteral("/estado"), "online");
        else if (FRole == TRole::Aside)
            Decide();
        return;
    }
    if (FRole != TRole::Holder)
        return;
    if (!FOptions.Discovery.isEmpty() &&
        message.Topic == FOptions.Discovery + QStringLiteral("/status")) {
        if (message.Payload == "online" && !message.Retained)
            PublishDiscovery();
        return;
    }
    // What the message holds is the sender's: the log keeps a glimpse of it.
    const auto clip = [](const QString& text) {
        constexpr qsizetype Glimpse = 80;
        return text.size() <= Glimpse ? text : text.left(Glimpse) + QStringLiteral("…");
    };
    const auto ignore = [&](const QString& why) {
        LogLine(QStringLiteral("MQTT %1: se ignora «%2» en %3: %4")
                    .arg(FOptions.Name, clip(QString::fromUtf8(message.Payload.left(400))),
                         clip(message.Topic), clip(why)));
    };
    // A command left on the broker from before this run must not switch anything now.
    if (message.Retained)
        return ignore(QStringLiteral("es una orden retenida de antes"));
    const QDateTime now = QDateTime::currentDateTime();
    const QTimeZone zone = QTimeZone::systemTimeZone();
    THoldRequest request;
    QString error;
    if (message.Topic == FOptions.Base + QStringLiteral("/set")) {
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
    } else {
        const QString prefix = FOptions.Base + QStringLiteral("/");
        const QString output = message.Topic.mid(prefix.size()).section(u'/', 0, 0);
        if (!message.Topic.startsWith(prefix) ||
            output.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0 ||
            !ParseHoldRequest(output + u'=' + QString::fromUtf8(message.Payload), {}, now, zone,
                              request, error))
            return ignore(QStringLiteral("se espera ON, OFF o AUTO en BASE/D0/set .. BASE/D5/set"));
    }
    FCommand(request);
}
