#include "MqttLink.h"

#include "core/Log.h"

#include <mosquitto.h>

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

constexpr int KKeepAlive = 30; // seconds
constexpr auto KEndWithin = std::chrono::milliseconds(1000);
// The acknowledgements kept, to find the one of the last word among them.
constexpr std::size_t KAcksKept = 64;

} // namespace

TMqttLink::TMqttLink(const TMqttAddress& broker, const QString& name, const QString& willTopic,
                     const QByteArray& willPayload, THandlers handlers, QObject* parent)
    : QObject(parent), FName(name), FHandlers(std::move(handlers))
{
    // The library's thread calls these; the work is done on this object's thread.
    FClient = std::make_shared<TMqttClient>(
        broker,
        TMqttClient::THandlers{
            [this](int connack) { Connected(connack); }, [this](int rc) { Disconnected(rc); },
            [this](int mid) {
                {
                    const std::lock_guard lock(FAckLock);
                    FAckedIds.push_back(mid);
                    if (FAckedIds.size() > KAcksKept)
                        FAckedIds.pop_front();
                }
                FAcked.notify_all();
            },
            [this](const TMqttMessage& message) {
                QMetaObject::invokeMethod(
                    this, [this, message] { FHandlers.Received(message); }, Qt::QueuedConnection);
            }},
        TMqttClient::TWill{willTopic.toUtf8(), willPayload});
    // A client that cannot be set up as asked never connects: not without its TLS, nor its will.
    if (!FClient->Problem().isEmpty()) {
        LogLine(QStringLiteral("MQTT %1: %2 [%3]")
                    .arg(FName, FClient->Problem(), FClient->ProblemWords()));
        return;
    }
    // The first connection's name lookup waits for the resolver, which may never answer (the
    // network down at boot): on a thread of its own, never the timer's. The library's thread, which
    // makes the connection again when it is lost, starts once it is done.
    FConnecting = TDetached::Start(
        this,
        [client = FClient] {
            const int rc = client->Connect(KKeepAlive);
            return std::pair<int, int>(rc, errno);
        },
        [this, secure = broker.Secure](std::pair<int, int> result) {
            const auto [rc, error] = result;
            if (rc != MOSQ_ERR_SUCCESS)
                Trouble(QStringLiteral("%1 (%2)").arg(MqttCause(rc, error), MqttWords(rc, error)));
            FRunning = !Refused(FClient->StartThread(),
                                QStringLiteral("no se puede poner en marcha la conexión"));
            if (FRunning && secure)
                FLookout = new TSecureLookout(
                    FClient, [this] { return FRunning && !FConnected; },
                    [this](const QString& cause) { Trouble(cause); }, this);
        });
}

void TMqttLink::Connected(int connack)
{
    QMetaObject::invokeMethod(
        this,
        [this, connack] {
            if (connack != 0) {
                Trouble(QStringLiteral("%1 (%2)").arg(
                    MqttRefusal(connack), QString::fromUtf8(mosquitto_connack_string(connack))));
                return;
            }
            FConnected = true;
            FSaid.clear();
            LogLine(QStringLiteral("MQTT %1: conectado").arg(FName));
            FHandlers.Connected();
        },
        Qt::QueuedConnection);
}

void TMqttLink::Disconnected(int rc)
{
    // A refused CONNECT ends in a disconnection too: only a connection that was up is lost.
    QMetaObject::invokeMethod(
        this,
        [this, rc] {
            const bool was = FConnected;
            FConnected = false;
            if (rc != 0 && was)
                Trouble(QStringLiteral("se perdió la conexión (%1)").arg(MqttWords(rc, 0)));
        },
        Qt::QueuedConnection);
}

TMqttLink::~TMqttLink()
{
    delete FLookout; // before the client it probes
    End();
}

void TMqttLink::Trouble(const QString& cause)
{
    if (cause == FSaid)
        return;
    FSaid = cause;
    LogLine((cause.endsWith(u'.') ? QStringLiteral("MQTT %1: %2 Se vuelve a intentar.")
                                  : QStringLiteral("MQTT %1: %2; se vuelve a intentar"))
                .arg(FName, cause));
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
    if (FRunning)
        Refused(FClient->Publish(topic.toUtf8(), payload, retain),
                QStringLiteral("no se pudo publicar en %1").arg(topic));
}

void TMqttLink::Subscribe(const QString& topic)
{
    if (FRunning)
        Refused(FClient->Subscribe(topic.toUtf8()),
                QStringLiteral("no se pudo suscribir a %1").arg(topic));
}

void TMqttLink::Unsubscribe(const QString& topic)
{
    if (FRunning)
        Refused(FClient->Unsubscribe(topic.toUtf8()),
                QStringLiteral("no se pudo dejar %1").arg(topic));
}

void TMqttLink::End(const QString& lastTopic, const QByteArray& lastPayload)
{
    // A first connection still being made is let go: the client goes when it is done.
    if (FConnecting && !FConnecting->Finished())
        FConnecting->Abandon();
    if (!FRunning)
        return;
    FRunning = false;
    int sent = -1;
    if (!lastTopic.isEmpty() &&
        FClient->Publish(lastTopic.toUtf8(), lastPayload, true, &sent) == MOSQ_ERR_SUCCESS) {
        // Until the broker has it (its acknowledgement); the broker's will says the same if it
        // never comes.
        std::unique_lock lock(FAckLock);
        if (!FAcked.wait_for(lock, KEndWithin, [&] {
                return std::find(FAckedIds.begin(), FAckedIds.end(), sent) != FAckedIds.end();
            }))
            LogLine(QStringLiteral("MQTT %1: el servidor no confirmó «%2»; lo dirá su última "
                                   "voluntad")
                        .arg(FName, QString::fromUtf8(lastPayload)));
    }
    // A clean disconnect: the broker keeps the word published above, not the will. Refused only
    // when the connection is gone already, and then the will speaks.
    (void)FClient->Disconnect();
    FClient->StopThread();
    FConnected = false;
}
