#include "Remote.h"

#include "core/Log.h"
#include "outputs/MqttWords.h"

#include <mosquitto.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QSysInfo>
#include <QTimeZone>
#include <QUrl>

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

constexpr int KQos = 1;
constexpr int KKeepAlive = 30; // seconds
constexpr auto KStopWithin = std::chrono::milliseconds(1000);

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
    InitMqttLibrary();
    FClient = mosquitto_new(nullptr, true, this);
    if (FClient == nullptr) {
        LogLine(QStringLiteral("MQTT %1: no se puede crear el cliente").arg(FOptions.Name));
        return;
    }
    const TMqttAddress& broker = FOptions.Broker;
    // What the client refuses to be set up with is said; the connection then fails and says why
    // as every other trouble does.
    const auto refused = [this](int rc, const QString& what) {
        if (rc != MOSQ_ERR_SUCCESS)
            LogLine(QStringLiteral("MQTT %1: %2 [%3]")
                        .arg(FOptions.Name, what, QString::fromUtf8(mosquitto_strerror(rc))));
    };
    if (!broker.User.isEmpty())
        refused(mosquitto_username_pw_set(
                    FClient, Utf8(broker.User).constData(),
                    broker.Password.isEmpty() ? nullptr : Utf8(broker.Password).constData()),
                QStringLiteral("no se pueden usar el usuario y la contraseña"));
    if (broker.Secure)
        refused(
            mosquitto_tls_set(
                FClient,
                broker.CaFile.isEmpty() ? nullptr : QFile::encodeName(broker.CaFile).constData(),
                broker.CaFile.isEmpty() ? SystemAuthorities : nullptr, nullptr, nullptr, nullptr),
            broker.CaFile.isEmpty()
                ? QStringLiteral("no se pueden leer las autoridades de certificación del "
                                 "sistema en /etc/ssl/certs")
                : QStringLiteral("no se puede leer la autoridad de certificación %1 (cafile)")
                      .arg(broker.CaFile));
    const passwd* user = ::getpwuid(::getuid());
    FIdentity = QStringLiteral("%1@%2, proceso %3")
                    .arg(user != nullptr ? QString::fromLocal8Bit(user->pw_name)
                                         : QString::number(::getuid()),
                         QSysInfo::machineHostName())
                    .arg(QCoreApplication::applicationPid());
    const QByteArray will = Utf8(FOptions.Base + QStringLiteral("/estado"));
    refused(mosquitto_will_set(FClient, will.constData(), 7, "offline", KQos, true),
            QStringLiteral("sin última voluntad: si el temporizador muere, %1/estado no lo dirá")
                .arg(FOptions.Base));
    mosquitto_reconnect_delay_set(FClient, 1, 5, true);
    // Commands and states are small and rare: each goes at once, not held back to fill a packet.
    mosquitto_int_option(FClient, MOSQ_OPT_TCP_NODELAY, 1);
    // The client's own thread calls these; the work is done on this object's thread.
    mosquitto_publish_callback_set(FClient, [](mosquitto*, void* self, int mid) {
        auto* remote = static_cast<TRemote*>(self);
        {
            const std::lock_guard lock(remote->FAckLock);
            remote->FLastAcked = mid;
        }
        remote->FAcked.notify_all();
    });
    mosquitto_connect_callback_set(FClient, [](mosquitto*, void* self, int rc) {
        auto* remote = static_cast<TRemote*>(self);
        QMetaObject::invokeMethod(
            remote,
            [remote, rc] {
                if (rc == 0)
                    remote->Connected();
                else
                    remote->Trouble(QStringLiteral("%1 (%2)").arg(
                        MqttRefusal(rc), QString::fromUtf8(mosquitto_connack_string(rc))));
            },
            Qt::QueuedConnection);
    });
    // A refused CONNECT ends in a disconnection too: only a connection that was up is lost.
    mosquitto_disconnect_callback_set(FClient, [](mosquitto*, void* self, int rc) {
        auto* remote = static_cast<TRemote*>(self);
        QMetaObject::invokeMethod(
            remote,
            [remote, rc] {
                const bool was = remote->FConnected;
                remote->FConnected = false;
                if (rc != 0 && was)
                    remote->Trouble(
                        QStringLiteral("se perdió la conexión (%1)").arg(MqttWords(rc, 0)));
            },
            Qt::QueuedConnection);
    });
    mosquitto_message_callback_set(FClient, [](mosquitto*, void* self,
                                               const mosquitto_message* message) {
        TMessage copy{QString::fromUtf8(message->topic),
                      QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
                      message->retain};
        QMetaObject::invokeMethod(
            static_cast<TRemote*>(self),
            [self, copy] { static_cast<TRemote*>(self)->Received(copy); }, Qt::QueuedConnection);
    });
    const int rc = mosquitto_connect_async(FClient, Utf8(broker.Host).constData(),
                                           broker.ServerPort(), KKeepAlive);
    if (rc != MOSQ_ERR_SUCCESS) {
        const int error = errno;
        Trouble(QStringLiteral("%1 (%2)").arg(MqttCause(rc, error), MqttWords(rc, error)));
    }
    FRunning = mosquitto_loop_start(FClient) == MOSQ_ERR_SUCCESS;
}

TRemote::~TRemote()
{
    Stop();
    if (FClient != nullptr)
        mosquitto_destroy(FClient);
}

void TRemote::Stop()
{
    if (!FRunning)
        return;
    FRunning = false;
    int sent = -1;
    const QByteArray topic = Utf8(FOptions.Base + QStringLiteral("/estado"));
    // Only the holder speaks for BASE, at its end too: BASE is left free for another timer.
    if (FRole == TRole::Holder)
        PublishOne(FOptions.Base + QStringLiteral("/titular"), {});
    if (FRole == TRole::Holder && mosquitto_publish(FClient, &sent, topic.constData(), 7, "offline",
                                                    KQos, true) == MOSQ_ERR_SUCCESS) {
        // Until the broker has it (its acknowledgement); the broker's will says the same if it
        // never comes.
        std::unique_lock lock(FAckLock);
        if (!FAcked.wait_for(lock, KStopWithin, [&] { return FLastAcked == sent; }))
            LogLine(QStringLiteral("MQTT %1: el servidor no confirmó «offline»; lo dirá su "
                                   "última voluntad")
                        .arg(FOptions.Name));
    }
    // A clean disconnect: the broker keeps the offline published above, not the will.
    mosquitto_disconnect(FClient);
    mosquitto_loop_stop(FClient, false);
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
    if (FClient != nullptr)
        mosquitto_publish(FClient, nullptr, Utf8(topic).constData(),
                          static_cast<int>(payload.size()), payload.constData(), KQos, retain);
}

void TRemote::Publish(const TState& state)
{
    FState = state;
    if (!FConnected || FRole != TRole::Holder) // all of it goes once connected and holding
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
    LogLine(QStringLiteral("MQTT %1: %2; se vuelve a intentar").arg(FOptions.Name, cause));
}

void TRemote::Connected()
{
    LogLine(QStringLiteral("MQTT %1: conectado").arg(FOptions.Name));
    FConnected = true;
    FSaid.clear();
    FRole = TRole::Undecided;
    FHolder.clear();
    FHolderState.clear();
    // The retained holder and state come first; the probe, published after them, comes back
    // after them.
    for (const QString& topic : {FOptions.Base + QStringLiteral("/titular"),
                                 FOptions.Base + QStringLiteral("/estado"), ProbeTopic()})
        mosquitto_subscribe(FClient, nullptr, Utf8(topic).constData(), KQos);
    mosquitto_publish(FClient, nullptr, Utf8(ProbeTopic()).constData(), 1, "?", KQos, false);
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
            mosquitto_unsubscribe(FClient, nullptr, Utf8(topic).constData());
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
        mosquitto_subscribe(FClient, nullptr, Utf8(topic).constData(), KQos);
    if (!FOptions.Discovery.isEmpty())
        mosquitto_subscribe(FClient, nullptr,
                            Utf8(FOptions.Discovery + QStringLiteral("/status")).constData(), KQos);
    PublishAll();
}

void TRemote::Received(const TMessage& message)
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
