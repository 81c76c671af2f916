// The timer's rules on the school's broker, in-process: what a message on a set topic asks for
// (and what is ignored), Home Assistant's discovery of the outputs, and which of two timers holds
// BASE as the broker's topics come in.

#include "timer/BaseClaim.h"
#include "timer/RemoteTopics.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

const QTimeZone Zone("Europe/Madrid");
const QDateTime Now(QDate(2026, 12, 8), QTime(10, 0), Zone);

QDateTime Today(int hour)
{
    return {Now.date(), QTime(hour, 0), Zone};
}

} // namespace

TEST(TimerRemoteRules, WhatASetTopicAsksFor)
{
    const struct
    {
        const char* Topic; // under BASE "aula/2"
        QByteArray Payload;
        bool Retained;
        std::uint8_t Outputs; // 0: ignored
        std::optional<bool> Value;
        QDateTime Until;
    } rows[] = {
        {"D0/set", "OFF", false, 0x01, false, {}},
        {"set", R"({"D2": "off", "until": "2026-12-08T12:00"})", false, 0x04, false, Today(12)},
        {"set", R"({"D0": "on", "d2": "ON", "until": "14:00"})", false, 0x05, true, Today(14)},
        {"set", R"({"all": "auto"})", false, 0x3F, std::nullopt, {}},
        // Ignored: not a command, or one kept by the broker from before. (What a value or an end
        // may be is the hold request's own rule, tried with the week's.)
        {"D1/set", "ON", true, 0, {}, {}},
        {"all/set", "OFF", false, 0, {}, {}},
        {"D0/set/x", "ON", false, 0, {}, {}},
        {"set", "{", false, 0, {}, {}},
        {"set", R"(["D2", "on"])", false, 0, {}, {}},
        {"set", R"({"D2": true})", false, 0, {}, {}},
        {"set", R"({"D2": "on", "until": 14})", false, 0, {}, {}},
        {"set", R"({"until": "14:00"})", false, 0, {}, {}},
        {"set", R"({"D0": "on", "D1": "off"})", false, 0, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.Topic) + " " + row.Payload.toStdString() +
                     (row.Retained ? " (retained)" : ""));
        const TMqttMessage message{QStringLiteral("aula/2/") + QString::fromUtf8(row.Topic),
                                   row.Payload, row.Retained};
        THoldRequest request;
        QString why;
        const bool taken =
            ParseRemoteCommand(QStringLiteral("aula/2"), message, Now, Zone, request, why);
        EXPECT_EQ(taken, row.Outputs != 0) << why.toStdString();
        if (!taken) {
            EXPECT_FALSE(why.isEmpty());
            continue;
        }
        EXPECT_EQ(request.Outputs, row.Outputs);
        EXPECT_EQ(request.Value, row.Value);
        EXPECT_EQ(request.Until, row.Until);
    }
}

// One switch per output, with what Home Assistant requires of an MQTT switch: its state and
// command topics, a unique id, its name, the timer's availability.
TEST(TimerRemoteRules, DiscoveryGivesEachOutputAsASwitch)
{
    TRemoteOptions options;
    options.Base = QStringLiteral("centro/aula 2");
    options.Discovery = QStringLiteral("ha");
    options.Names = {QStringLiteral("Proyector"), QStringLiteral("Luz"), QStringLiteral("Estufa"),
                     QStringLiteral("D3"),        QStringLiteral("D4"),  QStringLiteral("D5")};
    const auto configs = DiscoveryConfigs(options, QStringLiteral("1.0"));
    ASSERT_EQ(configs.size(), std::size_t(OutputCount));
    std::set<QString> ids;
    for (int n = 0; n < OutputCount; ++n) {
        const auto& [topic, text] = configs[std::size_t(n)];
        SCOPED_TRACE(topic.toStdString());
        EXPECT_TRUE(topic.startsWith(QLatin1String("ha/switch/")));
        EXPECT_TRUE(topic.endsWith(QLatin1String("/config")));
        EXPECT_EQ(topic.count(u'/'), 4) << "the node id is one level";
        const QJsonObject config = QJsonDocument::fromJson(text).object();
        EXPECT_EQ(config.value("name").toString(), options.Names[n]);
        EXPECT_EQ(config.value("state_topic").toString(),
                  options.Base + QStringLiteral("/D%1").arg(n));
        EXPECT_EQ(config.value("command_topic").toString(),
                  config.value("state_topic").toString() + "/set");
        EXPECT_EQ(config.value("availability").toArray().at(0).toObject().value("topic").toString(),
                  options.Base + "/estado");
        EXPECT_FALSE(config.value("device").toObject().value("identifiers").toArray().isEmpty());
        ids.insert(config.value("unique_id").toString());
    }
    EXPECT_EQ(ids.size(), std::size_t(OutputCount)) << "a unique id each";
}

// Which timer holds BASE: the events as the broker gives them after a connection, and what this
// timer ("m@aula, proceso 5") does at each.
TEST(TimerRemoteRules, OneTimerHoldsBase)
{
    using S = TBaseClaim::TStep;
    struct TEvent
    {
        const char* Kind; // "probe", "holder" or "state"
        QByteArray Payload;
        S Step;
    };
    const struct
    {
        const char* Name;
        std::vector<TEvent> Events;
    } rows[] = {
        {"a free broker", {{"probe", {}, S::Take}}},
        {"held by another, online, until its clean stop",
         {{"holder", "b@aula, proceso 9", S::Stay},
          {"state", "online", S::Stay},
          {"probe", {}, S::StandBy},
          {"holder", "", S::Take}}},
        {"held by another, until its last will",
         {{"holder", "b@aula, proceso 9", S::Stay},
          {"state", "online", S::Stay},
          {"probe", {}, S::StandBy},
          {"state", "offline", S::Take}}},
        {"held by another that is offline",
         {{"holder", "b@aula, proceso 9", S::Stay},
          {"state", "offline", S::Stay},
          {"probe", {}, S::Take}}},
        {"held by this timer before its connection was lost",
         {{"holder", "m@aula, proceso 5", S::Stay},
          {"state", "online", S::Stay},
          {"probe", {}, S::Take}}},
        {"taken at once by one after it",
         {{"probe", {}, S::Take},
          {"holder", "z@aula, proceso 1", S::Insist},
          {"holder", "m@aula, proceso 5", S::Stay}}},
        {"taken at once by one before it",
         {{"probe", {}, S::Take},
          {"holder", "a@aula, proceso 1", S::Leave},
          {"state", "online", S::StandBy}}},
        {"the last will of a timer that stood by",
         {{"probe", {}, S::Take}, {"state", "offline", S::Answer}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TBaseClaim claim("m@aula, proceso 5");
        for (const TEvent& event : row.Events) {
            const std::string kind = event.Kind;
            const S step = kind == "probe"    ? claim.ProbeBack()
                           : kind == "holder" ? claim.HolderSaid(event.Payload)
                                              : claim.StateSaid(event.Payload);
            EXPECT_EQ(step, event.Step) << kind << " " << event.Payload.toStdString();
        }
    }
}
