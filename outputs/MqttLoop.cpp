#include "MqttLoop.h"

#include <mosquitto.h>

#include <QSocketNotifier>

#include <cerrno>

namespace {

// The longest single turn of the loop while Connect or Flush wait.
constexpr std::chrono::milliseconds KLoopSlice{50};

} // namespace

// The client's socket watched by the thread's event loop. A read or write that fails ends the
// watch and is given to `lost`.
class TSocketWatch
{
public:
    TSocketWatch(mosquitto* client, std::function<void(int rc)> lost)
        : FClient(client), FLost(std::move(lost)),
          FRead(mosquitto_socket(client), QSocketNotifier::Read),
          FWrite(mosquitto_socket(client), QSocketNotifier::Write)
    {
        FWrite.setEnabled(false);
        QObject::connect(&FRead, &QSocketNotifier::activated, &FRead, [this] { Read(); });
        QObject::connect(&FWrite, &QSocketNotifier::activated, &FWrite, [this] { Write(); });
    }
    // Writes once the socket takes more, while the client has something to send.
    void Want() { FWrite.setEnabled(mosquitto_want_write(FClient)); }
    void Stop()
    {
        FRead.setEnabled(false);
        FWrite.setEnabled(false);
    }

private:
    void Read()
    {
        errno = 0;
        Done(mosquitto_loop_read(FClient, 1));
    }
    void Write()
    {
        errno = 0;
        Done(mosquitto_loop_write(FClient, 1));
    }
    void Done(int rc)
    {
        if (rc == MOSQ_ERR_SUCCESS) {
            Want();
            return;
        }
        Stop();
        FLost(rc);
    }

    mosquitto* FClient;
    std::function<void(int rc)> FLost;
    QSocketNotifier FRead;
    QSocketNotifier FWrite;
};

TMqttLoop::TMqttLoop(const TMqttAddress& broker)
{
    // The library calls these inside this loop's own calls to it, on the owner's thread.
    FClient = std::make_unique<TMqttClient>(
        broker, TMqttClient::THandlers{[this](int connack) { FConnack = connack; },
                                       [this](int rc) { Lost(rc); },
                                       [this](int) {
                                           --FPending;
                                           FAcknowledged = true;
                                       },
                                       {}});
}

TMqttLoop::~TMqttLoop()
{
    // The watch goes before the socket it watches.
    FWatch.reset();
    if (FConnack == 0 && FDown < 0)
        (void)FClient->Disconnect(); // refused only when the connection is gone already
}

TMqttLoop::TConnect TMqttLoop::Connect(int keepAliveSeconds, Clock::time_point deadline,
                                       const std::function<bool()>& stop)
{
    const auto failed = [](int rc) { return TConnect{-1, rc, errno, false, false}; };
    int rc = FClient->Connect(keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        return failed(rc);
    while (FConnack < 0) {
        if (stop())
            return {-1, 0, 0, false, true};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds(0))
            return {-1, 0, 0, true, false};
        rc = Turn(std::min(left, KLoopSlice));
        if (rc != MOSQ_ERR_SUCCESS && FConnack < 0)
            return failed(rc);
    }
    if (FConnack == 0 && mosquitto_socket(FClient->Handle()) >= 0)
        FWatch = std::make_unique<TSocketWatch>(FClient->Handle(), [this](int rc) { Lost(rc); });
    return {FConnack, 0, 0, false, false};
}

int TMqttLoop::Publish(const QByteArray& topic, const QByteArray& payload)
{
    const int rc = FClient->Publish(topic, payload, false);
    if (rc == MOSQ_ERR_SUCCESS)
        ++FPending;
    return rc;
}

void TMqttLoop::WantWrite()
{
    if (FWatch && FDown < 0)
        FWatch->Want();
}

int TMqttLoop::Turn()
{
    const int rc = Turn(std::chrono::milliseconds(0));
    WantWrite();
    return rc;
}

int TMqttLoop::Turn(std::chrono::milliseconds wait)
{
    errno = 0;
    return FClient->Handle() != nullptr ? mosquitto_loop(FClient->Handle(), int(wait.count()), 1)
                                        : MOSQ_ERR_NO_CONN;
}

void TMqttLoop::Flush(Clock::time_point deadline)
{
    while (FDown < 0 && FPending > 0) {
        const auto left = std::chrono::floor<std::chrono::milliseconds>(deadline - Clock::now());
        if (left < std::chrono::milliseconds(0) ||
            Turn(std::min(left, KLoopSlice)) != MOSQ_ERR_SUCCESS)
            return;
    }
}

void TMqttLoop::Lost(int rc)
{
    // A clean end (0) hides no failure said before it.
    if (FDown < 0 || rc != MOSQ_ERR_SUCCESS)
        FDown = rc;
    if (FWatch)
        FWatch->Stop();
}
