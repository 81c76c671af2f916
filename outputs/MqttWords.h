#pragma once
// What both programs' MQTT clients share: the library set up once, where the system keeps the
// authorities a broker's certificate is checked against, and what went wrong with a broker, for
// the log: a few Spanish words for the cause, and the library's or the system's own words.

#include <QString>

// The library's or the system's words for a libmosquitto result (`error` is errno, for
// MOSQ_ERR_ERRNO).
QString MqttWords(int rc, int error);

// A few Spanish words for a libmosquitto result: "nadie atiende en ese puerto".
QString MqttCause(int rc, int error);

// A few Spanish words for a broker's refusal of CONNECT (its CONNACK code, 1 to 5).
QString MqttRefusal(int connack);

// The folder of the system's certificate authorities, for mqtts:// without a cafile.
inline constexpr const char* SystemAuthorities = "/etc/ssl/certs";

// Sets libmosquitto up, once for the whole program, whichever client comes first: the library's
// result (MOSQ_ERR_SUCCESS when it is ready).
int InitMqttLibrary();
