#include "MqttLink.h"

#include "core/Log.h"
#include "outputs/MqttWords.h"
#include "outputs/TlsProbe.h"

#include <mosquitto.h>

#include <QFile>
#include <QMetaObject>

#include <cerrno>
#include <chrono>

namespace {

constexpr int KQos = 1;
constexpr int KKeepAlive = 30; // seconds
constexpr auto KEndWithin = std::chrono::milliseconds(1000);
// While a secure link is down, how often its handshake is looked at, and how long one may take.
constexpr auto KLookEvery = std::chrono::seconds(5);
constexpr auto KProbeWithin = std::chrono::milliseconds(2000);

} // namespace

TMqttLink::TMqttLink(const TMqttAddress& broker, const QString& name, const QString& willTopic,
                     const QByteArray& willPayload, THandlers handlers, QObject* parent)
    : QObject(parent), FBroker(broker), FName(name), FHandlers(std::move(handlers))
{
    InitMqttLibrary();
    FClient = mosquitto_new(nullptr, true, this);
    if (FClient == nullptr) {
        LogLine(QStringLiteral("MQTT %1: no se puede crear el cliente").arg(FName));
        return;
    }
    // What the client refuses to be set up with is said; the connection then fails and says why
    // as every other trouble does.
    if (!broker.User.isEmpty())
        Refused(mosquitto_username_pw_set(
                    FClient, broker.User.toUtf8().constData(),
                    broker.Password.isEmpty() ? nullptr : broker.Password.toUtf8().constData()),
                QStringLiteral("no se pueden usar el usuario y la contraseña"));
    if (broker.Secure)
        Refused(
            mosquitto_tls_set(
                FClient,
                broker.CaFile.isEmpty() ? nullptr : QFile::encodeName(broker.CaFile).constData(),
                broker.CaFile.isEmpty() ? SystemAuthorities : nullptr, nullptr, nullptr, nullptr),
            broker.CaFile.isEmpty()
                ? QStringLiteral("no se pueden leer las autoridades de certificación del "
                                 "sistema en %1")
                      .arg(SystemAuthorities)
                : QStringLiteral("no se puede leer la autoridad de certificación %1 (cafile)")
                      .arg(broker.CaFile));
    Refused(mosquitto_will_set(FClient, willTopic.toUtf8().constData(), int(willPayload.size()),
                               willPayload.constData(), KQos, true),
            QStringLiteral("sin última voluntad en %1").arg(willTopic));
    mosquitto_reconnect_delay_set(FClient, 1, 5, true);
    // Commands and states are small and rare: each goes at once, not held back to fill a packet.
    mosquitto_int_option(FClient, MOSQ_OPT_TCP_NODELAY, 1);
    // The library's thread calls these; the work is done on this object's thread.
    mosquitto_publish_callback_set(FClient, [](mosquitto*, void* self, int mid) {
        auto* link = static_cast<TMqttLink*>(self);
        {
            const std::lock_guard lock(link->FAckLock);
            link->FLastAcked = mid;
        }
        link->FAcked.notify_all();
    });
    mosquitto_connect_callback_set(FClient, [](mosquitto*, void* self, int rc) {
        auto* link = static_cast<TMqttLink*>(self);
        QMetaObject::invokeMethod(
            link,
            [link, rc] {
                if (rc != 0) {
                    link->FHandlers.Trouble(QStringLiteral("%1 (%2)").arg(
                        MqttRefusal(rc), QString::fromUtf8(mosquitto_connack_string(rc))));
                    return;
                }
                link->FConnected = true;
                link->FHandlers.Connected();
            },
            Qt::QueuedConnection);
    });
    // A refused CONNECT ends in a disconnection too: only a connection that was up is lost.
    mosquitto_disconnect_callback_set(FClient, [](mosquitto*, void* self, int rc) {
        auto* link = static_cast<TMqttLink*>(self);
        QMetaObject::invokeMethod(
            link,
            [link, rc] {
                const bool was = link->FConnected;
                link->FConnected = false;
                if (rc != 0 && was)
                    link->FHandlers.Trouble(
                        QStringLiteral("se perdió la conexión (%1)").arg(MqttWords(rc, 0)));
            },
            Qt::QueuedConnection);
    });
    mosquitto_message_callback_set(FClient, [](mosquitto*, void* self,
                                               const mosquitto_message* message) {
        TMessage copy{QString::fromUtf8(message->topic),
                      QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
                      message->retain};
        auto* link = static_cast<TMqttLink*>(self);
        QMetaObject::invokeMethod(
            link, [link, copy] { link->FHandlers.Received(copy); }, Qt::QueuedConnection);
    });
    const int rc = mosquitto_connect_async(FClient, broker.Host.toUtf8().constData(),
                                           broker.ServerPort(), KKeepAlive);
    if (rc != MOSQ_ERR_SUCCESS) {
        const int error = errno;
        FHandlers.Trouble(
            QStringLiteral("%1 (%2)").arg(MqttCause(rc, error), MqttWords(rc, error)));
    }
    FRunning = !Refused(mosquitto_loop_start(FClient),
                        QStringLiteral("no se puede poner en marcha la conexión"));
    if (broker.Secure) {
        FLooking.setInterval(KLookEvery);
        connect(&FLooking, &QTimer::timeout, this, [this] { LookAtTls(); });
        FLooking.start();
    }
}

void TMqttLink::LookAtTls()
{
    if (FConnected || !FRunning || FProbing)
        return;
    if (FProbe.joinable())
        FProbe.join();
    FProbing = true;
    const QByteArray host = FBroker.Host.toUtf8();
    const int port = FBroker.ServerPort();
    const QByteArray caFile = QFile::encodeName(FBroker.CaFile);
    FProbe = std::thread([this, host, port, caFile] {
        const TTlsProblem problem = ProbeTls(host, port, caFile, SystemAuthorities, KProbeWithin);
        QMetaObject::invokeMethod(
            this,
            [this, problem] {
                FProbing = false;
                // Unreachable: the connection's own trouble says so; none: it is being made.
                if (FConnected || problem == TTlsProblem::None ||
                    problem == TTlsProblem::Unreachable)
                    return;
                const QString host =
                    FBroker.Host.contains(u':') ? u'[' + FBroker.Host + u']' : FBroker.Host;
                FHandlers.Trouble(TlsProblemText(
                    problem, QStringLiteral("%1:%2").arg(host).arg(FBroker.ServerPort()),
                    FBroker.CaFile, QString::fromLatin1(SystemAuthorities)));
            },
            Qt::QueuedConnection);
    });
}

TMqttLink::~TMqttLink()
{
    FLooking.stop();
    End();
    if (FProbe.joinable())
        FProbe.join();
    if (FClient != nullptr)
        mosquitto_destroy(FClient);
}

bool TMqttLink::Refused(int rc, const QString& what) const
{
    if (rc == MOSQ_ERR_SUCCESS)
        return false;
    LogLine(QStringLiteral("MQTT %1: %2 [%3]")
                .arg(FName, what, QString::fromUtf8(mosquitto_strerror(rc))));
    return true;
}

void TMqttLink::Publish(const QString& topic, const QByteArray& payload, bool retain)
{
    // Not connected: the library keeps it for the connection to come.
    if (FClient != nullptr)
        Refused(mosquitto_publish(FClient, nullptr, topic.toUtf8().constData(), int(payload.size()),
                                  payload.constData(), KQos, retain),
                QStringLiteral("no se pudo publicar en %1").arg(topic));
}

void TMqttLink::Subscribe(const QString& topic)
{
    if (FClient != nullptr)
        Refused(mosquitto_subscribe(FClient, nullptr, topic.toUtf8().constData(), KQos),
                QStringLiteral("no se pudo suscribir a %1").arg(topic));
}

void TMqttLink::Unsubscribe(const QString& topic)
{
    if (FClient != nullptr)
        Refused(mosquitto_unsubscribe(FClient, nullptr, topic.toUtf8().constData()),
                QStringLiteral("no se pudo dejar %1").arg(topic));
}

void TMqttLink::End(const QString& lastTopic, const QByteArray& lastPayload)
{
    if (!FRunning)
        return;
    FRunning = false;
    int sent = -1;
    if (!lastTopic.isEmpty() &&
        mosquitto_publish(FClient, &sent, lastTopic.toUtf8().constData(), int(lastPayload.size()),
                          lastPayload.constData(), KQos, true) == MOSQ_ERR_SUCCESS) {
        // Until the broker has it (its acknowledgement); the broker's will says the same if it
        // never comes.
        std::unique_lock lock(FAckLock);
        if (!FAcked.wait_for(lock, KEndWithin, [&] { return FLastAcked == sent; }))
            LogLine(QStringLiteral("MQTT %1: el servidor no confirmó «%2»; lo dirá su última "
                                   "voluntad")
                        .arg(FName, QString::fromUtf8(lastPayload)));
    }
    // A clean disconnect: the broker keeps the word published above, not the will.
    mosquitto_disconnect(FClient);
    mosquitto_loop_stop(FClient, false);
    FConnected = false;
}
