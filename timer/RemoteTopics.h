#pragma once
// What prvardo-timer's topics on the school's broker carry (timer/Remote.h says which they are):
// the settings that name the broker, the commands the set topics take, and Home Assistant's
// discovery of the six outputs.

#include "frontend/Settings.h"
#include "outputs/MqttClient.h"
#include "week/SchoolWeek.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <array>
#include <optional>
#include <utility>
#include <vector>

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

// What a message on BASE/D0/set .. BASE/D5/set (ON, OFF or AUTO, any case) or BASE/set (a JSON
// object: {"D2": "on", "until": "14:30"}, {"all": "off"}) asks for at `now`. False, with why it
// is ignored in Spanish, for anything else, and for a command the broker kept from before
// (retained).
bool ParseRemoteCommand(const QString& base, const TMqttMessage& message, const QDateTime& now,
                        const QTimeZone& zone, THoldRequest& request, QString& why);

// Home Assistant's discovery of each output as a switch: its topic under the discovery prefix,
// and its configuration.
std::vector<std::pair<QString, QByteArray>> DiscoveryConfigs(const TRemoteOptions& options,
                                                             const QString& version);

// The outputs' retained topics, BASE/D0 .. BASE/D5 (ON or OFF) and BASE/D0/motivo .. (why, as
// --status says it): those that differ from what was published last.
class TStateTopics
{
public:
    explicit TStateTopics(QString base) : FBase(std::move(base)) {}
    // The topics of `state` at `now` that changed, with what they now carry.
    std::vector<std::pair<QString, QByteArray>> Changes(const TState& state, const QDateTime& now);
    // A new connection: every topic is published again.
    void Forget() { FShown = {}; }

private:
    QString FBase;
    std::array<std::pair<QByteArray, QByteArray>, OutputCount> FShown; // state, reason
};
