#include "MqttClient.h"

#include <mosquitto.h>

#include <QFile>

#include <cerrno>

namespace {

constexpr int KQos = 1;
constexpr int KVerifyPeer = 1; // OpenSSL's SSL_VERIFY_PEER

// Sets `client` up for `broker` and `will`: empty when it could be; otherwise why not, as a
// sentence with its remedy, and the library's `words`.
QString SetUp(mosquitto* client, const TMqttAddress& broker, const TMqttClient::TWill& will,
              const QString& address, QString& words)
{
    const auto refused = [&](int rc) {
        words = MqttWords(rc, errno);
        return rc != MOSQ_ERR_SUCCESS;
    };
    const QByteArray user = broker.User.toUtf8();
    const QByteArray password = broker.Password.toUtf8();
    if (!user.isEmpty() &&
        refused(mosquitto_username_pw_set(client, user.constData(),
                                          password.isEmpty() ? nullptr : password.constData())))
        return QStringLiteral("El usuario o la contraseña del servidor MQTT %1 no se pueden usar. "
                              "Compruébelos.")
            .arg(address);
    if (broker.Secure) {
        const QByteArray caFile = QFile::encodeName(broker.CaFile);
        const bool own = !caFile.isEmpty();
        errno = 0;
        int rc = mosquitto_tls_set(client, own ? caFile.constData() : nullptr,
                                   own ? nullptr : SystemAuthorities, nullptr, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_opts_set(client, KVerifyPeer, nullptr, nullptr);
        if (refused(rc))
            return own ? QStringLiteral("No se puede leer la autoridad de certificación %1 (cafile "
                                        "del archivo de configuración). Compruebe la ruta.")
                             .arg(broker.CaFile)
                       : QStringLiteral("No se pueden leer las autoridades de certificación del "
                                        "sistema en %1. Instale el paquete ca-certificates.")
                             .arg(SystemAuthorities);
    }
    if (!will.Topic.isEmpty() &&
        refused(mosquitto_will_set(client, will.Topic.constData(), int(will.Payload.size()),
                                   will.Payload.constData(), KQos, true)))
        return QStringLiteral("El servidor MQTT %1 no tendría última voluntad en %2.")
            .arg(address, QString::fromUtf8(will.Topic));
    words.clear();
    return {};
}

} // namespace

void TMqttClient::TDeleter::operator()(mosquitto* client) const
{
    mosquitto_destroy(client);
}

TMqttClient::TMqttClient(const TMqttAddress& broker, THandlers handlers, const TWill& will)
    : FBroker(broker), FHandlers(std::move(handlers))
{
    if (const int rc = InitMqttLibrary(); rc != MOSQ_ERR_SUCCESS) {
        FProblem = QStringLiteral("No se puede preparar la biblioteca MQTT para el servidor %1.")
                       .arg(Address());
        FProblemWords = MqttWords(rc, errno);
        return;
    }
    errno = 0;
    FClient.reset(mosquitto_new(nullptr, true, this));
    if (!FClient) {
        FProblem = QStringLiteral("No se puede preparar la conexión con el servidor MQTT %1 "
                                  "(falta memoria).")
                       .arg(Address());
        FProblemWords = qt_error_string(errno);
        return;
    }
    mosquitto* client = FClient.get();
    FProblem = SetUp(client, broker, will, Address(), FProblemWords);
    if (!FProblem.isEmpty()) {
        FClient.reset();
        return;
    }
    // Commands and states are small and rare: each goes at once, not held back to fill a packet.
    // Only a speed-up: a client without it works all the same.
    (void)mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(client, [](mosquitto*, void* self, int connack) {
        static_cast<TMqttClient*>(self)->FHandlers.Connected(connack);
    });
    mosquitto_disconnect_callback_set(client, [](mosquitto*, void* self, int rc) {
        static_cast<TMqttClient*>(self)->FHandlers.Disconnected(rc);
    });
    mosquitto_publish_callback_set(client, [](mosquitto*, void* self, int mid) {
        static_cast<TMqttClient*>(self)->FHandlers.Acknowledged(mid);
    });
    mosquitto_message_callback_set(
        client, [](mosquitto*, void* self, const mosquitto_message* message) {
            auto* owner = static_cast<TMqttClient*>(self);
            if (owner->FHandlers.Received)
                owner->FHandlers.Received(
                    {QString::fromUtf8(message->topic),
                     QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
                     message->retain});
        });
}

TMqttClient::~TMqttClient() = default;

QString TMqttClient::AddressOf(const TMqttAddress& broker)
{
    const QString& host = broker.Host;
    return QStringLiteral("%1:%2")
        .arg(host.contains(u':') ? u'[' + host + u']' : host)
        .arg(broker.ServerPort());
}

int TMqttClient::Connect(int keepAliveSeconds)
{
    if (!FClient)
        return MOSQ_ERR_INVAL;
    errno = 0;
    return mosquitto_connect_async(FClient.get(), FBroker.Host.toUtf8().constData(),
                                   FBroker.ServerPort(), keepAliveSeconds);
}

int TMqttClient::Publish(const QByteArray& topic, const QByteArray& payload, bool retain, int* mid)
{
    if (!FClient)
        return MOSQ_ERR_NO_CONN;
    errno = 0;
    return mosquitto_publish(FClient.get(), mid, topic.constData(), int(payload.size()),
                             payload.constData(), KQos, retain);
}

int TMqttClient::Subscribe(const QByteArray& topic)
{
    return FClient ? mosquitto_subscribe(FClient.get(), nullptr, topic.constData(), KQos)
                   : MOSQ_ERR_NO_CONN;
}

int TMqttClient::Unsubscribe(const QByteArray& topic)
{
    return FClient ? mosquitto_unsubscribe(FClient.get(), nullptr, topic.constData())
                   : MOSQ_ERR_NO_CONN;
}

int TMqttClient::Disconnect()
{
    return FClient ? mosquitto_disconnect(FClient.get()) : MOSQ_ERR_NO_CONN;
}

int TMqttClient::StartThread()
{
    if (!FClient)
        return MOSQ_ERR_INVAL;
    // Refused only for delays that are none, which these are not.
    (void)mosquitto_reconnect_delay_set(FClient.get(), 1, 5, true);
    return mosquitto_loop_start(FClient.get());
}

void TMqttClient::StopThread()
{
    if (FClient)
        (void)mosquitto_loop_stop(FClient.get(), false); // refused only without a thread
}

TTlsProblem TMqttClient::ProbeSecure(std::chrono::milliseconds bound) const
{
    return ProbeTls(FBroker.Host.toUtf8(), FBroker.ServerPort(), QFile::encodeName(FBroker.CaFile),
                    SystemAuthorities, bound);
}

QString TMqttClient::SecureProblemText(TTlsProblem problem) const
{
    return TlsProblemText(problem, Address(), FBroker.CaFile,
                          QString::fromLatin1(SystemAuthorities));
}
