#pragma once
// prvardo-timer on the school's MQTT broker ([timer] mqtt = mqtt://[USER@]HOST[:PORT]/BASE):
//
//   BASE/D0 .. BASE/D5            ON or OFF, retained, at start and at every change
//   BASE/D0/motivo ..             why, as --status says it, retained
//   BASE/estado                   online while the timer runs; offline at a clean stop and as the
//                                 last will the broker publishes when the timer dies; retained
//   BASE/D0/set .. BASE/D5/set    taken: ON, OFF or AUTO (any case), as --set D0=on ...
//   BASE/set                      taken: a JSON object, {"D2": "on", "until": "14:30"},
//                                 {"all": "off", "until": "2026-12-08T08:00"}
//   PREFIX/switch/NODE/dN/config  Home Assistant's discovery of each output as a switch, retained,
//                                 published again when PREFIX/status says online
//   BASE/titular                  which timer holds BASE ("user@host, proceso N"), retained;
//                                 emptied at its clean stop
//
// One timer per BASE: a timer that finds BASE held by another that is online (two users, two
// machines) publishes nothing on it and takes no command from it, says so once, and takes BASE
// over when the holder goes (its clean stop, or its last will). Whether BASE is held is known
// once the broker has given the retained topics: a probe of the timer's own comes back after
// them. A will of offline from a timer that did not hold BASE is answered by the holder at once.
//
// A set message the broker kept from before (retained) is never acted on, and anything that is
// not a command is ignored with one log line. The timer never needs the broker to switch: the
// connection is made and made again (after 1 s, growing to 5 s) on libmosquitto's own thread,
// and on every return every retained topic is published again.

#include "timer/BaseClaim.h"
#include "timer/MqttLink.h"
#include "timer/RemoteTopics.h"

#include <QObject>

#include <functional>
#include <optional>

class TRemote : public QObject
{
public:
    // A command from the broker: a hold, or AUTO.
    using TCommand = std::function<void(const THoldRequest& request)>;
    TRemote(TRemoteOptions options, TCommand command, QObject* parent);
    ~TRemote() override;
    Q_DISABLE_COPY_MOVE(TRemote)

    // What the outputs do now: the topics that changed, retained.
    void Publish(const TState& state);
    // offline published and the connection closed, within about a second.
    void Stop();

private:
    void Connected();
    // Does what the claim on BASE asks.
    void Act(TBaseClaim::TStep step);
    void Hold();
    QString ProbeTopic() const;
    // Where commands come: BASE/D0/set .. BASE/D5/set and BASE/set.
    QStringList SetTopics() const;
    void Received(const TMqttMessage& message);
    // A message on a set topic, or on the discovery's status.
    void Asked(const TMqttMessage& message);
    void PublishOne(const QString& topic, const QByteArray& payload, bool retain = true);
    void PublishAll();
    void PublishDiscovery();

    TRemoteOptions FOptions;
    TCommand FCommand;
    TMqttLink* FLink = nullptr;
    TBaseClaim FClaim;
    bool FSaidAside = false;
    std::optional<TState> FState; // the last state given
    TStateTopics FShown;
};
