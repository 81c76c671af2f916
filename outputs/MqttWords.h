#pragma once
// What went wrong with an MQTT broker, for the log of both programs: a few Spanish words for the
// cause, and the library's or the system's own words to put after them.

#include <QString>

// The library's or the system's words for a libmosquitto result (`error` is errno, for
// MOSQ_ERR_ERRNO).
QString MqttWords(int rc, int error);

// A few Spanish words for a libmosquitto result: "nadie atiende en ese puerto".
QString MqttCause(int rc, int error);

// A few Spanish words for a broker's refusal of CONNECT (its CONNACK code, 1 to 5).
QString MqttRefusal(int connack);
