#include "Remote.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QTimeZone>

#include <pwd.h>
#include <unistd.h>

namespace {

// Who this timer is, as BASE/titular names it: "user@host, proceso N".
QByteArray Identity()
{
    const passwd* user = ::getpwuid(::getuid());
    return QStringLiteral("%1@%2, proceso %3")
        .arg(user != nullptr ? QString::fromLocal8Bit(user->pw_name) : QString::number(::getuid()),
             QSysInfo::machineHostName())
        .arg(QCoreApplication::applicationPid())
        .toUtf8();
}

} // namespace

TRemote::TRemote(TRemoteOptions options, TCommand command, QObject* parent)
    : QObject(parent), FOptions(std::move(options)), FCommand(std::move(command)),
      FClaim(Identity()), FShown(FOptions.Base)
{
    FLink = new TMqttLink(
        FOptions.Broker, FOptions.Name, FOptions.Base + QStringLiteral("/estado"), "offline",
        {[this] { Connected(); }, [this](const TMqttMessage& message) { Received(message); }},
        this);
}

TRemote::~TRemote()
{
    Stop();
}

void TRemote::Stop()
{
    // Only the holder speaks for BASE, at its end too: BASE is left free for another timer.
    if (!FClaim.Holding()) {
        FLink->End();
        return;
    }
    PublishOne(FOptions.Base + QStringLiteral("/titular"), {});
    FLink->End(FOptions.Base + QStringLiteral("/estado"), "offline");
}

void TRemote::PublishOne(const QString& topic, const QByteArray& payload, bool retain)
{
    FLink->Publish(topic, payload, retain);
}

void TRemote::Publish(const TState& state)
{
    FState = state;
    if (!FLink->IsConnected() || !FClaim.Holding()) // all of it once connected and holding
        return;
    for (const auto& [topic, payload] : FShown.Changes(state, QDateTime::currentDateTime()))
        PublishOne(topic, payload);
}

void TRemote::PublishAll()
{
    FShown.Forget();
    PublishOne(FOptions.Base + QStringLiteral("/estado"), "online");
    if (FState)
        Publish(*FState);
    PublishDiscovery();
}

void TRemote::PublishDiscovery()
{
    if (FOptions.Discovery.isEmpty())
        return;
    for (const auto& [topic, config] : DiscoveryConfigs(FOptions, QStringLiteral(PRVARDO_VERSION)))
        PublishOne(topic, config);
}

void TRemote::Connected()
{
    FClaim.Restart();
    // The retained holder and state come first; the probe, published after them, comes back
    // after them.
    for (const QString& topic : {FOptions.Base + QStringLiteral("/titular"),
                                 FOptions.Base + QStringLiteral("/estado"), ProbeTopic()})
        FLink->Subscribe(topic);
    FLink->Publish(ProbeTopic(), "?", false);
}

QStringList TRemote::SetTopics() const
{
    return {FOptions.Base + QStringLiteral("/+/set"), FOptions.Base + QStringLiteral("/set")};
}

QString TRemote::ProbeTopic() const
{
    return FOptions.Base +
           QStringLiteral("/titular/sonda/%1").arg(QCoreApplication::applicationPid());
}

void TRemote::Act(TBaseClaim::TStep step)
{
    using TStep = TBaseClaim::TStep;
    switch (step) {
    case TStep::Stay:
        return;
    case TStep::Take:
        Hold();
        return;
    case TStep::Insist:
        PublishOne(FOptions.Base + QStringLiteral("/titular"), FClaim.Identity());
        return;
    case TStep::Answer:
        PublishOne(FOptions.Base + QStringLiteral("/estado"), "online");
        return;
    case TStep::Leave:
        for (const QString& topic : SetTopics())
            FLink->Unsubscribe(topic);
        [[fallthrough]];
    case TStep::StandBy:
        if (!FSaidAside)
            LogLine(QStringLiteral("MQTT %1: %2 lo atiende ya, en marcha; este temporizador no "
                                   "publica en %3 ni atiende sus órdenes mientras tanto")
                        .arg(FOptions.Name, QString::fromUtf8(FClaim.Holder()), FOptions.Base));
        FSaidAside = true;
        return;
    }
}

void TRemote::Hold()
{
    if (FSaidAside)
        LogLine(QStringLiteral("MQTT %1: %2 quedó libre; este temporizador lo atiende ahora")
                    .arg(FOptions.Name, FOptions.Base));
    FSaidAside = false;
    PublishOne(FOptions.Base + QStringLiteral("/titular"), FClaim.Identity());
    for (const QString& topic : SetTopics())
        FLink->Subscribe(topic);
    if (!FOptions.Discovery.isEmpty())
        FLink->Subscribe(FOptions.Discovery + QStringLiteral("/status"));
    PublishAll();
}

void TRemote::Received(const TMqttMessage& message)
{
    if (message.Topic == ProbeTopic())
        Act(FClaim.ProbeBack());
    else if (message.Topic == FOptions.Base + QStringLiteral("/titular"))
        Act(FClaim.HolderSaid(message.Payload));
    else if (message.Topic == FOptions.Base + QStringLiteral("/estado"))
        Act(FClaim.StateSaid(message.Payload));
    else if (FClaim.Holding())
        Asked(message);
}
void TRemote::Asked(const TMqttMessage& message)
{
    if (!FOptions.Discovery.isEmpty() &&
        message.Topic == FOptions.Discovery + QStringLiteral("/status")) {
        if (message.Payload == "online" && !message.Retained)
            PublishDiscovery();
        return;
    }
    THoldRequest request;
    QString why;
    if (ParseRemoteCommand(FOptions.Base, message, QDateTime::currentDateTime(),
                           QTimeZone::systemTimeZone(), request, why)) {
        FCommand(request);
        return;
    }
    // What the message holds is the sender's: the log keeps a glimpse of it.
    const auto clip = [](const QString& text) {
        constexpr qsizetype Glimpse = 80;
        return text.size() <= Glimpse ? text : text.left(Glimpse) + QStringLiteral("…");
    };
    LogLine(QStringLiteral("MQTT %1: se ignora «%2» en %3: %4")
                .arg(FOptions.Name, clip(QString::fromUtf8(message.Payload.left(400))),
                     clip(message.Topic), clip(why)));
}
