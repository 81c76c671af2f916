#pragma once
// libmosquitto retries a TLS handshake that fails without a word. While a secure link is down,
// this looks every 5 s for why, with a handshake of its own on a thread of its own, and gives
// what it found on its owner's thread.

#include "outputs/MqttClient.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>
#include <thread>

class TSecureLookout : public QObject
{
public:
    // Looks while `down` says the link is down; `found` gets the cause as a user reads it (not
    // for a server that cannot be reached, which the link says itself).
    TSecureLookout(const TMqttClient& client, std::function<bool()> down,
                   std::function<void(const QString& cause)> found, QObject* parent);
    ~TSecureLookout() override;
    Q_DISABLE_COPY_MOVE(TSecureLookout)

private:
    void Look();

    const TMqttClient& FClient;
    std::function<bool()> FDown;
    std::function<void(const QString&)> FFound;
    QTimer FEvery;
    std::thread FProbe;
    std::atomic<bool> FProbing{false};
};
