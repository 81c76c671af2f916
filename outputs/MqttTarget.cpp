// Smart plugs and relay modules over MQTT, on Tasmota's command topics: each output that changes
// gets "ON" or "OFF" (QoS 1, not retained) on cmnd/TOPIC/POWERn, or on cmnd/Tn/POWER with six
// topics.
//
// The client's network loop runs on the target's thread (outputs/MqttLoop.h): Open connects
// within KConnectBound and never past the program's end; Write publishes one message per changed
// output, and nothing waits for the broker; Service turns the loop once without waiting; Flush
// waits for every PUBACK until its deadline; Close ends the connection.
//
// With a pulse time (pulsetime = SECONDS in the settings), each output's plug is told at connect
// to switch off by itself that long after its last ON (Tasmota's PulseTime, on cmnd/TOPIC/
// PulseTimeN or cmnd/Tn/PulseTime), every output that is on is told ON again at a third of that
// time, and the plug's pulse time is set back to none at a clean end: a plug whose program, PC,
// network or broker is gone switches off within the time.

#include "outputs/MqttLoop.h"

#include <mosquitto.h>

#include <QByteArray>

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
    // Fails with the cause of `rc` (errno's `error`) and the remedy for a connection that could
    // not be made.
    bool CannotConnect(int rc, int error);
    // Fails with the cause of `rc` for a connection that was working.
    bool Lost(int rc);
    // One message, counted until its PUBACK; false with Error() set when the client refuses it.
    bool Publish(const QByteArray& topic, const QByteArray& payload);
    // What Publish and the plugs' pulse times send: gone once the socket takes it.
    bool Sent();
    QString Address() const { return TMqttClient::AddressOf(FBroker); }

    TMqttAddress FBroker;
    TPlugs FPlugs;
    TPlugs::TPublish FPublish;
    int FWord = -1; // the word written last on this connection

    std::unique_ptr<TMqttLoop> FLoop; // while open
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
    FLoop = std::make_unique<TMqttLoop>(FBroker);
    if (const QString problem = FLoop->Client().Problem(); !problem.isEmpty()) {
        const QString words = FLoop->Client().ProblemWords();
        Close();
        return Fail(problem, words);
    }
    return Connect();
}

bool TMqttTarget::Connect()
{
    const TMqttLoop::TConnect result = FLoop->Connect(
        KKeepAlive, Clock::now() + AnswerWait(KConnectBound), [this] { return StopRequested(); });
    if (result.Connack == 0)
        // Before the first word: the plug times the ON that comes with it.
        return FPlugs.Arm(FPublish) && Sent();
    if (result.Connack < 0 && !result.Stopped && !result.TimedOut)
        return CannotConnect(result.Failure, result.Error);
    Close();
    if (result.Stopped)
        return Fail(QString("No se llegó a conectar con el servidor MQTT %1 antes del final del "
                            "programa.")
                        .arg(Address()));
    if (result.TimedOut)
        return Fail(QString("El servidor MQTT %1 no responde. Compruebe que está en marcha y que "
                            "la dirección es la correcta.")
                        .arg(Address()));
    return Fail(RefusalText(result.Connack, Address()),
                result.Connack == 4 || result.Connack == 5
                    ? QString()
                    : QString::fromUtf8(mosquitto_connack_string(result.Connack)));
}

bool TMqttTarget::CannotConnect(int rc, int error)
{
    const QString words = MqttWords(rc, error);
    const QString problem =
        FBroker.Secure && (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE ||
                           rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_PROTOCOL)
            ? FLoop->Client().SecureProblemText(FLoop->Client().ProbeSecure(KConnectBound))
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
    const int rc = FLoop->Publish(topic, payload);
    return rc == MOSQ_ERR_SUCCESS || Lost(rc);
}

bool TMqttTarget::Write(std::uint8_t word, int previous)
{
    if (!FLoop)
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
    FLoop->WantWrite();
    return FLoop->Down() < 0 || Lost(FLoop->Down());
}

bool TMqttTarget::Service()
{
    if (!FLoop)
        return Lost(MOSQ_ERR_NO_CONN);
    if (!FPlugs.ReArm(FWord, FPublish))
        return false;
    const int rc = FLoop->Turn();
    if (const int down = FLoop->Down(); down >= 0)
        return Lost(down != MOSQ_ERR_SUCCESS ? down : MOSQ_ERR_CONN_LOST);
    return rc == MOSQ_ERR_SUCCESS || Lost(rc);
}

void TMqttTarget::Leave()
{
    if (FLoop && FLoop->Down() < 0 && FPlugs.Disarm(FPublish))
        FLoop->WantWrite();
}

void TMqttTarget::Flush(Clock::time_point deadline)
{
    if (FLoop)
        FLoop->Flush(deadline);
}

bool TMqttTarget::Delivered() const
{
    return FLoop && FLoop->Delivered();
}

void TMqttTarget::Close()
{
    FLoop.reset();
    FWord = -1;
}

} // namespace

std::unique_ptr<TOutputTarget> MakeTarget(const QString& name, const TMqttAddress& address)
{
    return std::make_unique<TMqttTarget>(name, address);
}
