#pragma once
// The running timer's connection to a broker: libmosquitto on its own thread, which makes the
// connection and makes it again (after 1 s, growing to 5 s) for as long as the link lives; the
// first connection (its name lookup) on a thread of its own, which the link never waits for. What
// the broker sends and how the connection fares come to the owner on the link's thread (the
// event loop), never on the library's. Every result of the library is looked at: what it refuses
// to be set up with, a publish or a subscription it does not take, is said in the log. The library
// retries a TLS handshake that fails without a word: while an mqtts:// link is down, a handshake
// of its own (on a thread of its own) finds why, and says it as the outputs' MQTT targets do.

#include "outputs/MqttClient.h"
#include "timer/Detached.h"
#include "timer/SecureLookout.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class TMqttLink : public QObject
{
public:
    struct THandlers
    {
        std::function<void()> Connected;
        std::function<void(const TMqttMessage& message)> Received;
    };

    // Connects to `broker` as `name` says it in the log; the broker publishes `willPayload`,
    // retained, on `willTopic` when the connection dies without a clean end.
    TMqttLink(const TMqttAddress& broker, const QString& name, const QString& willTopic,
              const QByteArray& willPayload, THandlers handlers, QObject* parent);
    ~TMqttLink() override;
    TMqttLink(const TMqttLink&) = delete;
    TMqttLink& operator=(const TMqttLink&) = delete;

    bool IsConnected() const { return FConnected; }
    void Publish(const QString& topic, const QByteArray& payload, bool retain);
    void Subscribe(const QString& topic);
    void Unsubscribe(const QString& topic);
    // The clean end: `lastPayload` published retained on `lastTopic` (none when empty), waited
    // for until the broker acknowledges it (at most a second, then said), and the connection
    // closed; the broker keeps that word, not the will. Safe to call more than once.
    void End(const QString& lastTopic = {}, const QByteArray& lastPayload = {});

private:
    // Says in the log what the library refused (`rc`), and what it means.
    bool Refused(int rc, const QString& what) const;
    // On the library's thread: the broker's answer, the end of a connection, what it sent.
    void Connected(int connack);
    void Disconnected(int rc);
    // Says in the log what keeps the broker away, once for each new cause until connected again.
    void Trouble(const QString& cause);

    QString FName;
    THandlers FHandlers;
    std::shared_ptr<TMqttClient> FClient;
    std::shared_ptr<TDetached> FConnecting; // the first connection, until it is made
    bool FRunning = false;
    bool FConnected = false;
    QString FSaid; // the cause last said since the last connection
    // The messages the broker acknowledged last, from the library's thread.
    std::mutex FAckLock;
    std::condition_variable FAcked;
    std::deque<int> FAckedIds;
    TSecureLookout* FLookout = nullptr; // for an mqtts:// broker
};
