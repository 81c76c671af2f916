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

#include "frontend/Settings.h"
#include "outputs/Targets.h"
#include "timer/MqttLink.h"
#include "week/SchoolWeek.h"

#include <QObject>
#include <QStringList>

#include <array>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

struct TRemoteOptions
{
    QString Name; // the address as written, without a password
    TMqttAddress Broker;
    QString Base;
    QString Discovery = QStringLiteral("homeassistant"); // empty: no discovery
    QStringList Names;                                   // the six outputs' names
};

// The [timer] keys mqtt, discovery and names, with the settings file's password and authority;
// none without mqtt. False with a one-line Spanish error naming the key.
bool ParseRemote(const TSettings& settings, std::optional<TRemoteOptions>& remote, QString& error);
// The [timer] keys ParseRemote reads.
QStringList RemoteKeys();

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
    // Whether this timer holds BASE, from what the broker keeps and what came back.
    void Decide();
    void Hold();
    QString ProbeTopic() const;
    // Where commands come: BASE/D0/set .. BASE/D5/set and BASE/set.
    QStringList SetTopics() const;
    // Says in the log what keeps the broker away, once for each new cause until connected again.
    void Trouble(const QString& cause);
    void Received(const TMqttLink::TMessage& message);
    void PublishOne(const QString& topic, const QByteArray& payload, bool retain = true);
    void PublishAll();
    void PublishDiscovery();
    QString Node() const;

    TRemoteOptions FOptions;
    TCommand FCommand;
    TMqttLink* FLink = nullptr;
    QString FSaid; // the cause last said since the last connection
    enum class TRole
    {
        Undecided, // connected, the broker's retained topics not all in yet
        Holder,
        Aside // another timer holds BASE
    };
    TRole FRole = TRole::Undecided;
    QString FIdentity;       // "user@host, proceso N"
    QByteArray FHolder;      // BASE/titular as the broker keeps it
    QByteArray FHolderState; // BASE/estado as the broker keeps it
    bool FSaidAside = false;
    std::optional<TState> FState; // the last state given
    std::array<QByteArray, OutputCount> FShownState;
    std::array<QByteArray, OutputCount> FShownReason;
};
