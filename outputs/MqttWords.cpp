#include "MqttWords.h"

#include <mosquitto.h>

#include <cerrno>

// What went wrong, in the library's or the system's words, for the log.
QString MqttWords(int rc, int error)
{
    if (rc == MOSQ_ERR_ERRNO)
        return qt_error_string(error);
    return QString::fromUtf8(mosquitto_strerror(rc));
}

// What went wrong, in a few Spanish words.
QString MqttCause(int rc, int error)
{
    if (rc == MOSQ_ERR_ERRNO) {
        switch (error) {
        case ECONNREFUSED:
            return QStringLiteral("nadie atiende en ese puerto");
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
            return QStringLiteral("la red no llega hasta él");
        case ETIMEDOUT:
            return QStringLiteral("no contesta");
        case ECONNRESET:
        case EPIPE:
            return QStringLiteral("cortó la conexión");
        default:
            return QStringLiteral("error del sistema número %1").arg(error);
        }
    }
    switch (rc) {
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        return QStringLiteral("la conexión se cortó");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("dejó de contestar");
    case MOSQ_ERR_PROTOCOL:
    case MOSQ_ERR_MALFORMED_PACKET:
        return QStringLiteral("no habla MQTT como se espera");
    case MOSQ_ERR_NOMEM:
        return QStringLiteral("falta memoria");
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return QStringLiteral("falló la conexión segura");
    default:
        return QStringLiteral("error de MQTT número %1").arg(rc);
    }
}

QString MqttRefusal(int connack)
{
    switch (connack) {
    case 1:
        return QStringLiteral("el servidor no habla esta versión de MQTT");
    case 2:
        return QStringLiteral("el servidor no acepta el nombre de este cliente");
    case 3:
        return QStringLiteral("el servidor no da servicio ahora");
    case 4:
    case 5:
        return QStringLiteral("el servidor no acepta el usuario o la contraseña");
    default:
        return QStringLiteral("el servidor rechaza la conexión (respuesta %1)").arg(connack);
    }
}

int InitMqttLibrary()
{
    static const int result = mosquitto_lib_init();
    return result;
}
