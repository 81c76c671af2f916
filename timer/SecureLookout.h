#pragma once
// libmosquitto retries a TLS handshake that fails without a word. While a secure link is down,
// this looks every 5 s for why, with a handshake of its own on a thread of its own, and gives
// what it found on its owner's thread. Its end never waits for a handshake (its name lookup may
// wait for the resolver for ever): the handshake's thread keeps the client until it is done.

#include "outputs/MqttClient.h"
#include "timer/Detached.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class TSecureLookout : public QObject
{
public:
    // Looks while `down` says the link is down; `found` gets the cause as a user reads it (not
    // for a server that cannot be reached, which the link says itself).
    TSecureLookout(std::shared_ptr<const TMqttClient> client, std::function<bool()> down,
                   std::function<void(const QString& cause)> found, QObject* parent);
    ~TSecureLookout() override;
    Q_DISABLE_COPY_MOVE(TSecureLookout)

private:
    void Look();

    std::shared_ptr<const TMqttClient> FClient;
    std::function<bool()> FDown;
    std::function<void(const QString&)> FFound;
    QTimer FEvery;
    std::shared_ptr<TDetached> FProbe; // the handshake under way, if any
};
