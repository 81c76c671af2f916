#pragma once
// A broker's client whose network loop runs on the owner's thread, which runs an event loop: the
// library starts no thread, so nothing needs a lock.
//   Connect  a TCP connect that does not block, and CONNECT, then turns of the loop until the
//            broker's CONNACK, within a deadline and until the owner says to stop
//   (socket) watched: what the broker sends (PUBACKs, pings) is read as it comes, and what the
//            socket could not take goes as soon as it can
//   Publish  QoS 1, counted until its PUBACK
//   Turn     one turn that does not wait: sends what is queued, reads, pings the broker; one that
//            stops answering is lost within two keep-alives
//   Flush    turns until every message has its PUBACK, or the deadline passes
//   (end)    DISCONNECT, and whatever was not acknowledged dropped

#include "outputs/MqttClient.h"

#include <chrono>
#include <functional>
#include <memory>

class TSocketWatch;

class TMqttLoop
{
public:
    using Clock = std::chrono::steady_clock;

    struct TConnect
    {
        int Connack = -1; // the broker's answer (0 accepts); -1 for none
        int Failure = 0;  // without an answer: the library's result, and errno with it
        int Error = 0;
        bool TimedOut = false;
        bool Stopped = false;
    };

    // A client for `broker`, not connected; Client().Problem() says why when it cannot be set up.
    explicit TMqttLoop(const TMqttAddress& broker);
    ~TMqttLoop();
    TMqttLoop(const TMqttLoop&) = delete;
    TMqttLoop& operator=(const TMqttLoop&) = delete;

    const TMqttClient& Client() const { return *FClient; }
    TConnect Connect(int keepAliveSeconds, Clock::time_point deadline,
                     const std::function<bool()>& stop);
    // The library's result, errno kept.
    int Publish(const QByteArray& topic, const QByteArray& payload);
    // What is queued goes once the socket takes it.
    void WantWrite();
    int Turn();
    void Flush(Clock::time_point deadline);
    // Why the connection went down (a library result), or -1 while it is up.
    int Down() const { return FDown; }
    // A PUBACK came on this connection, and every message has its own.
    bool Delivered() const { return FAcknowledged && FPending == 0; }

private:
    // A turn that waits at most `wait` for the socket.
    int Turn(std::chrono::milliseconds wait);
    void Lost(int rc);

    std::unique_ptr<TMqttClient> FClient;
    std::unique_ptr<TSocketWatch> FWatch;
    int FConnack = -1;
    int FDown = -1;
    int FPending = 0; // messages still waiting for their PUBACK
    bool FAcknowledged = false;
};
