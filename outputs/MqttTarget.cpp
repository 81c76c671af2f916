// Smart plugs and relay modules over MQTT, on Tasmota's command topics: each output that changes
// gets "ON" or "OFF" (QoS 1, not retained) on cmnd/TOPIC/POWERn, or on cmnd/Tn/POWER with six
// topics.
//
// libmosquitto's network loop runs inside this target's own calls and its socket's notifiers, on
// the target's thread (which runs an event loop); the library starts no thread, so nothing here
// needs a lock:
//   Open     a TCP connect that does not block, and CONNECT, then turns of the loop until the
//            broker's CONNACK, at most KConnectBound from the start (a host that never answers, a
//            broker that is stopped) and never past the program's end
//   Write    one PUBLISH per changed output; what the socket cannot take now stays queued in the
//            library and leaves as soon as the socket takes it; nothing waits for the broker
//   (socket) PUBACKs read as they come, so the library's window of unacknowledged messages never
//            holds a new one back
//   Service  one turn of the loop that does not wait: sends what is queued, reads PUBACKs, pings
//            the broker; one that stops answering is lost within two keep-alives
//   Flush    turns of the loop until every PUBLISH has its PUBACK or the deadline passes
//   Close    DISCONNECT, and the client freed with whatever was not acknowledged
//
// With a pulse time (pulsetime = SECONDS in the settings), each output's plug is told at connect
// to switch off by itself that long after its last ON (Tasmota's PulseTime, on cmnd/TOPIC/
// PulseTimeN or cmnd/Tn/PulseTime), every output that is on is told ON again at a third of that
// time, and the plug's pulse time is set back to none at a clean end: a plug whose program, PC,
// network or broker is gone switches off within the time.

#include "outputs/MqttClient.h"

#include <mosquitto.h>

#include <QByteArray>
#include <QSocketNotifier>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Seconds between pings on a quiet connection: the least libmosquitto takes, so that a broker
// that freezes is noticed within about ten seconds.
constexpr int KKeepAlive = 5;
// From the TCP connection to the broker's CONNACK.
constexpr milliseconds KConnectBound{3000};
// The longest single turn of the loop while Open or Flush wait.
constexpr milliseconds KLoopSlice{50};
// What a user reads when the broker at `address` refuses the connection (its CONNACK).
QString RefusalText(int connack, const QString& address)
{
    if (connack == 4 || connack == 5) // bad user name or password; not authorised
        return QString("El servidor MQTT %1 no acepta el usuario o la contraseña. Compruebe el "
                       "usuario de la salida y la contraseña del archivo de configuración.")
            .arg(address);
    return QString("El servidor MQTT %1 rechaza la conexión (respuesta %2). Compruebe su "
                   "configuración.")
        .arg(address)
        .arg(connack);
}

// What a user reads when the connection cannot be made (the library's `rc`, errno's `error`).
QString UnreachableText(int rc, int error, const QString& address)
{
    if (rc == MOSQ_ERR_EAI || rc == MOSQ_ERR_LOOKUP)
        return QString("No se encuentra el servidor MQTT %1. Compruebe su nombre y la conexión "
                       "a la red.")
            .arg(address);
    return QString("No se puede conectar con el servidor MQTT %1 (%2). Compruebe que está en "
                   "marcha y que la dirección es la correcta.")
        .arg(address, MqttCause(rc, error));
}

// The plugs' command topics, cmnd/TOPIC/POWERn or cmnd/Tn/POWER, and their pulse time
// (pulsetime = SECONDS): Tasmota's PulseTime on each output's plug, set at connect and cleared at a
// clean end, the outputs that are on told ON again at a third of it.
class TPlugs
{
public:
    using TPublish = std::function<bool(const QByteArray& topic, const QByteArray& payload)>;

    explicit TPlugs(const TMqttAddress& address);
    const QByteArray& Power(int output) const { return FPower[std::size_t(output)]; }
    QString Topics() const;
    milliseconds ServiceWithin() const { return FSeconds > 0 ? Every() / 4 : milliseconds(0); }
    // At connect, before the first word: each plug's pulse time.
    bool Arm(const TPublish& publish) const
    {
        return FSeconds == 0 || Set(Value(FSeconds), publish);
    }
    // At a clean end: none again, so that the plug's own button switches for good.
    bool Disarm(const TPublish& publish) const { return FSeconds == 0 || Set("0", publish); }
    // The first word is out: the pulse time runs from now.
    void Started() { FArmed = Clock::now(); }
    // The outputs on in `word` told ON again, once a third of the time has passed.
    bool ReArm(int word, const TPublish& publish);

private:
    // The value Tasmota takes: tenths of a second up to 11.1 s, then whole seconds plus 100 (30 s
    // is 130), up to 64900.
    static QByteArray Value(int seconds)
    {
        return QByteArray::number(seconds <= 11 ? seconds * 10 : seconds + 100);
    }
    bool Set(const QByteArray& value, const TPublish& publish) const;
    milliseconds Every() const { return milliseconds(FSeconds * 1000 / 3); }

    static constexpr int KLongest = 64800;
    std::array<QByteArray, OutputCount> FPower;
    std::array<QByteArray, OutputCount> FPulse;
    int FSeconds;
    Clock::time_point FArmed; // when the outputs that are on were last told ON
};

TPlugs::TPlugs(const TMqttAddress& address) : FSeconds(std::clamp(address.PulseTime, 0, KLongest))
{
    for (std::size_t n = 0; n < OutputCount; ++n) {
        const bool six = address.Topics.size() == OutputCount;
        const QByteArray prefix = "cmnd/" + address.Topics.value(six ? int(n) : 0).toUtf8();
        const QByteArray number = six ? QByteArray() : QByteArray::number(int(n) + 1);
        FPower[n] = prefix + "/POWER" + number;
        FPulse[n] = prefix + "/PulseTime" + number;
    }
}

QString TPlugs::Topics() const
{
    QStringList topics;
    for (const QByteArray& topic : FPower)
        topics << QString::fromUtf8(topic);
    return topics.join(u',');
}

bool TPlugs::Set(const QByteArray& value, const TPublish& publish) const
{
    return std::all_of(FPulse.begin(), FPulse.end(),
                       [&](const QByteArray& topic) { return publish(topic, value); });
}

bool TPlugs::ReArm(int word, const TPublish& publish)
{
    if (FSeconds == 0 || word <= 0 || Clock::now() - FArmed < Every())
        return true;
    FArmed = Clock::now();
    for (int n = 0; n < OutputCount; ++n)
        if ((word & (1 << n)) != 0 && !publish(Power(n), "ON"))
            return false;
    return true;
}

// The client's socket watched by the thread's event loop: what the broker sends is read at once,
// and what the socket could not take is sent once it can. A read or write that fails ends the
// watch and is given to `lost`.
class TSocketWatch
{
public:
    TSocketWatch(TMqttClient& client, std::function<void(int rc)> lost);
    // Writes once the socket takes more, while the client has something to send.
    void Want() { FWrite.setEnabled(FClient.WantsWrite()); }
    void Stop()
    {
        FRead.setEnabled(false);
        FWrite.setEnabled(false);
    }

private:
    void Done(int rc);

    TMqttClient& FClient;
    std::function<void(int rc)> FLost;
    QSocketNotifier FRead;
    QSocketNotifier FWrite;
};

TSocketWatch::TSocketWatch(TMqttClient& client, std::function<void(int rc)> lost)
    : FClient(client), FLost(std::move(lost)), FRead(client.Socket(), QSocketNotifier::Read),
      FWrite(client.Socket(), QSocketNotifier::Write)
{
    FWrite.setEnabled(false);
    QObject::connect(&FRead, &QSocketNotifier::activated, &FRead,
                     [this] { Done(FClient.ReadSocket()); });
    QObject::connect(&FWrite, &QSocketNotifier::activated, &FWrite,
                     [this] { Done(FClient.WriteSocket()); });
}

void TSocketWatch::Done(int rc)
{
    if (rc == MOSQ_ERR_SUCCESS) {
        Want();
        return;
    }
    Stop();
    FLost(rc);
}

class TMqttTarget final : public TOutputTarget
{
public:
    TMqttTarget(const QString& name, const TMqttAddress& address);
    ~TMqttTarget() override { Close(); }
    TMqttTarget(const TMqttTarget&) = delete;
    TMqttTarget& operator=(const TMqttTarget&) = delete;

    bool Open() override;
    bool Write(std::uint8_t word, int previous) override;
    bool Service() override;
    void Flush(Clock::time_point deadline) override;
    void Close() override;
    bool Delivered() const override;
    void Leave() override;
    milliseconds ServiceWithin() const override { return FPlugs.ServiceWithin(); }
    QString LockKey() const override
    {
        return QStringLiteral("mqtt:%1/%2").arg(Address().toLower(), FPlugs.Topics());
    }

private:
    // Connects the client made by Open and waits for the broker's answer.
    bool Connect();
    // Fails with the cause of `rc` and the remedy for a connection that could not be made.
    bool CannotConnect(int rc);
    // Fails with the cause of `rc` for a connection that was working.
    bool Lost(int rc);
    // One message, counted until its PUBACK; false with Error() set when the client refuses it.
    bool Publish(const QByteArray& topic, const QByteArray& payload);
    // What Publish and the plugs' pulse times send: gone once the socket takes it.
    bool Sent();
    QString Address() const { return TMqttClient::AddressOf(FBroker); }
    // What is queued goes as soon as the socket takes it.
    void WantWrite();
    // The connection went down, for `rc`.
    void Down(int rc);

    TMqttAddress FBroker;
    TPlugs FPlugs;
    TPlugs::TPublish FPublish;
    int FWord = -1; // the word written last on this connection

    std::unique_ptr<TMqttClient> FClient;
    std::unique_ptr<TSocketWatch> FWatch;
    int FConnack = -1;          // the broker's answer to CONNECT; -1 until it came
    int FDisconnect = -1;       // why the connection went down; -1 while it is up
    int FUnacknowledged = 0;    // PUBLISHes still waiting for their PUBACK
    bool FAcknowledged = false; // a PUBACK came on this connection
};

TMqttTarget::TMqttTarget(const QString& name, const TMqttAddress& address)
    : TOutputTarget(name), FBroker(address), FPlugs(address),
      FPublish([this](const QByteArray& topic, const QByteArray& payload) {
          return Publish(topic, payload);
      })
{
}

bool TMqttTarget::Open()
{
    Close();
    // The library calls these inside this target's own calls to it, on the target's thread.
    FClient = std::make_unique<TMqttClient>(
        FBroker, TMqttClient::THandlers{[this](int connack) { FConnack = connack; },
                                        [this](int rc) { Down(rc); },
                                        [this](int) {
                                            --FUnacknowledged;
                                            FAcknowledged = true;
                                        },
                                        {}});
    if (!FClient->Problem().isEmpty()) {
        const QString problem = FClient->Problem();
        const QString words = FClient->ProblemWords();
        Close();
        return Fail(problem, words);
    }
    return Connect();
}

bool TMqttTarget::Connect()
{
    const auto deadline = Clock::now() + KConnectBound;
    int rc = FClient->Connect(KKeepAlive);
    if (rc != MOSQ_ERR_SUCCESS)
        return CannotConnect(rc);
    while (FConnack < 0) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (StopRequested()) {
            Close();
            return Fail(QString("No se llegó a conectar con el servidor MQTT %1 antes del final "
                                "del programa.")
                            .arg(Address()));
        }
        if (left <= milliseconds(0)) {
            Close();
            return Fail(QString("El servidor MQTT %1 no responde. Compruebe que está en marcha y "
                                "que la dirección es la correcta.")
                            .arg(Address()));
        }
        rc = FClient->Turn(std::min(left, KLoopSlice));
        if (rc != MOSQ_ERR_SUCCESS && FConnack < 0)
            return CannotConnect(rc);
    }
    if (FConnack == 0) {
        if (FClient->Socket() >= 0)
            FWatch = std::make_unique<TSocketWatch>(*FClient, [this](int rc) { Down(rc); });
        // Before the first word: the plug times the ON that comes with it.
        return FPlugs.Arm(FPublish) && Sent();
    }
    const int refusal = FConnack;
    Close();
    return Fail(RefusalText(refusal, Address()),
                refusal == 4 || refusal == 5
                    ? QString()
                    : QString::fromUtf8(mosquitto_connack_string(refusal)));
}

void TMqttTarget::WantWrite()
{
    if (FWatch && FDisconnect < 0)
        FWatch->Want();
}

void TMqttTarget::Down(int rc)
{
    // Lost: the next Service says so; the socket is not watched any more.
    if (FDisconnect < 0 || rc != MOSQ_ERR_SUCCESS)
        FDisconnect = rc;
    if (FWatch)
        FWatch->Stop();
}

bool TMqttTarget::CannotConnect(int rc)
{
    const int error = errno;
    const QString words = MqttWords(rc, error);
    const QString problem = FBroker.Secure && (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE ||
                                               rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_PROTOCOL)
                                ? FClient->SecureProblemText(FClient->ProbeSecure(KConnectBound))
                                : UnreachableText(rc, error, Address());
    Close();
    return Fail(problem, words);
}

bool TMqttTarget::Lost(int rc)
{
    const int error = errno;
    return Fail(QString("Se ha perdido la conexión con el servidor MQTT %1 (%2). Compruebe que "
                        "sigue en marcha y que la red funciona.")
                    .arg(Address(), MqttCause(rc, error)),
                MqttWords(rc, error));
}

bool TMqttTarget::Publish(const QByteArray& topic, const QByteArray& payload)
{
    const int rc = FClient->Publish(topic, payload, false);
    if (rc != MOSQ_ERR_SUCCESS)
        return Lost(rc);
    ++FUnacknowledged;
    return true;
}

bool TMqttTarget::Write(std::uint8_t word, int previous)
{
    if (!FClient)
        return Lost(MOSQ_ERR_NO_CONN);
    for (int n = 0; n < OutputCount; ++n) {
        const int bit = 1 << n;
        if (previous >= 0 && ((word ^ previous) & bit) == 0)
            continue;
        if (!Publish(FPlugs.Power(n), (word & bit) != 0 ? "ON" : "OFF"))
            return false;
    }
    if (FWord < 0)
        FPlugs.Started();
    FWord = word;
    return Sent();
}

bool TMqttTarget::Sent()
{
    WantWrite();
    return FDisconnect < 0 || Lost(FDisconnect);
}

bool TMqttTarget::Service()
{
    if (!FClient)
        return Lost(MOSQ_ERR_NO_CONN);
    if (!FPlugs.ReArm(FWord, FPublish))
        return false;
    const int rc = FClient->Turn(milliseconds(0));
    WantWrite();
    if (FDisconnect >= 0)
        return Lost(FDisconnect != MOSQ_ERR_SUCCESS ? FDisconnect : MOSQ_ERR_CONN_LOST);
    return rc == MOSQ_ERR_SUCCESS || Lost(rc);
}

void TMqttTarget::Leave()
{
    if (FClient && FDisconnect < 0 && FPlugs.Disarm(FPublish))
        WantWrite();
}

void TMqttTarget::Flush(Clock::time_point deadline)
{
    while (FClient && FDisconnect < 0 && FUnacknowledged > 0) {
        const auto left = std::chrono::floor<milliseconds>(deadline - Clock::now());
        if (left < milliseconds(0))
            return;
        if (FClient->Turn(std::min(left, KLoopSlice)) != MOSQ_ERR_SUCCESS)
            return;
    }
}

bool TMqttTarget::Delivered() const
{
    return FAcknowledged && FUnacknowledged == 0;
}

void TMqttTarget::Close()
{
    // The watch goes before the socket it watches.
    FWatch.reset();
    if (FClient && FConnack == 0 && FDisconnect < 0)
        (void)FClient->Disconnect(); // refused only when the connection is gone already
    FClient.reset();
    FConnack = -1;
    FDisconnect = -1;
    FUnacknowledged = 0;
    FAcknowledged = false;
    FWord = -1;
}

} // namespace

std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TMqttAddress& address)
{
    return std::make_unique<TMqttTarget>(name, address);
}
