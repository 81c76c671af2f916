#pragma once
// One client of a broker, as both programs make it: the library set up once, the user and the
// password, TLS against the settings' authority or the system's, the last will, small packets
// sent at once, and every result of the library looked at. Where the network loop runs is the
// owner's choice: on the owner's thread (outputs/MqttLoop.h), or on a thread the library starts
// (StartThread). The handlers are called where the loop runs.

#include "outputs/MqttWords.h"
#include "outputs/Targets.h"
#include "outputs/TlsProbe.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

struct mosquitto;

struct TMqttMessage
{
    QString Topic;
    QByteArray Payload;
    bool Retained = false;
};

class TMqttClient
{
public:
    struct THandlers
    {
        std::function<void(int connack)> Connected; // the broker's answer: 0 accepts
        std::function<void(int rc)> Disconnected;   // 0: asked for
        std::function<void(int mid)> Acknowledged;  // a QoS 1 message the broker has
        std::function<void(const TMqttMessage& message)> Received;
    };
    struct TWill
    {
        QByteArray Topic;
        QByteArray Payload; // retained
    };

    // A client for `broker`, not connected. When it cannot be set up, Problem() says why.
    TMqttClient(const TMqttAddress& broker, THandlers handlers, const TWill& will = {});
    ~TMqttClient();
    TMqttClient(const TMqttClient&) = delete;
    TMqttClient& operator=(const TMqttClient&) = delete;

    // Why the client could not be set up, as a sentence with its remedy, and the library's words;
    // empty when it could. A client that could not be set up never connects.
    const QString& Problem() const { return FProblem; }
    const QString& ProblemWords() const { return FProblemWords; }
    // "host:port", with brackets around an IPv6 host.
    QString Address() const { return AddressOf(FBroker); }
    static QString AddressOf(const TMqttAddress& broker);

    // Starts connecting without waiting (the loop goes on with it); the library's result, with
    // errno kept for MOSQ_ERR_ERRNO.
    int Connect(int keepAliveSeconds);
    // QoS 1; `mid` is the message's number, as Acknowledged gives it back.
    int Publish(const QByteArray& topic, const QByteArray& payload, bool retain,
                int* mid = nullptr);
    int Subscribe(const QByteArray& topic);
    int Unsubscribe(const QByteArray& topic);
    int Disconnect();

    // The library's handle, for a loop on the owner's thread (outputs/MqttLoop.h); none when the
    // client could not be set up.
    mosquitto* Handle() const { return FClient.get(); }
    // The loop on a thread of the library's own, which connects again after 1 s, growing to 5 s,
    // for as long as it runs; stopped after a disconnect.
    int StartThread();
    void StopThread();

    // Why a secure connection fails, found by a handshake of our own within `bound`.
    TTlsProblem ProbeSecure(std::chrono::milliseconds bound) const;
    // What a user reads for it: the cause and the remedy.
    QString SecureProblemText(TTlsProblem problem) const;

private:
    TMqttAddress FBroker;
    THandlers FHandlers;
    struct TDeleter
    {
        void operator()(mosquitto* client) const;
    };
    std::unique_ptr<mosquitto, TDeleter> FClient;
    QString FProblem;
    QString FProblemWords;
};
