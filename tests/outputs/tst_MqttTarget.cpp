// The MQTT target against real mosquitto brokers: what it publishes, seen by a subscriber on the
// shared broker of the test run; a broker killed and started again, a broker frozen (SIGSTOP),
// on brokers of the test's own.

#include "outputs/Outputs.h"
#include "outputs/Targets.h"
#include "tests/support/CoreSupport.h"
#include "tests/support/MqttBroker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using ::testing::HasSubstr;

TTargetSpec Spec(const std::string& address, const QStringList& topics, bool secure = false)
{
    const auto colon = address.rfind(':');
    TMqttAddress mqtt;
    mqtt.Secure = secure;
    mqtt.Host = QString::fromStdString(address.substr(0, colon));
    mqtt.Port = std::uint16_t(std::stoi(address.substr(colon + 1)));
    mqtt.Topics = topics;
    return {QString("mqtt://%1/%2").arg(QString::fromStdString(address), topics.join(',')), mqtt};
}

// The messages a change sends: one column per output, "-" where nothing is sent.
QStringList Expected(const QString& columns, const QStringList& topics)
{
    QStringList messages;
    const QStringList payloads = columns.split(' ');
    for (int n = 0; n < 6; ++n) {
        if (payloads[n] == "-")
            continue;
        const QString topic = topics.size() == 6
                                  ? QString("cmnd/%1/POWER").arg(topics[n])
                                  : QString("cmnd/%1/POWER%2").arg(topics[0]).arg(n + 1);
        messages << topic + ' ' + payloads[n];
    }
    return messages;
}

// A target on one topic, open, with `word` written.
std::unique_ptr<TOutputTarget> Opened(const std::string& address, std::uint8_t word)
{
    auto target = MakeTarget(Spec(address, {"tira"}));
    EXPECT_TRUE(target->Open() && target->Write(word, -1)) << target->Error().toStdString();
    return target;
}

class MqttTarget : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(SharedBroker().empty())
            << "PRVARDO_MQTT_BROKER is not set: the MQTT tests need the private broker that "
               "scripts/test starts (scripts/mqtt-broker start <dir>)";
    }
};

TEST_F(MqttTarget, EachChangedOutputGetsItsCommandTopic)
{
    const struct
    {
        int Previous;
        std::uint8_t Word;
        const char* Sent; // per output, from the first
    } rows[] = {
        {-1, 0b000000, "OFF OFF OFF OFF OFF OFF"}, // just opened: every output
        {0b000000, 0b000001, "ON - - - - -"},
        {0b000001, 0b000001, "- - - - - -"}, // a tick that repeats the word
        {0b000001, 0b100000, "OFF - - - - ON"},
        {0b100000, 0b010101, "ON - ON - ON OFF"},
        {0b010101, 0b111111, "- ON - ON - ON"},
        {-1, 0b101010, "OFF ON OFF ON OFF ON"}, // opened again
        {0b101010, 0b000000, "- OFF - OFF - OFF"},
    };
    const QStringList layouts[] = {{"tira"}, {"luz", "riego", "radio", "bomba", "aula/2", "patio"}};
    // Only this test's topics: other tests drive targets on the same broker at the same time.
    std::vector<std::string> watched;
    for (const QStringList& topics : layouts)
        for (const QString& topic : topics)
            watched.push_back("cmnd/" + topic.toStdString() + "/#");
    TSubscriber subscriber(SharedBroker(), watched);
    for (const QStringList& topics : layouts) {
        auto target = MakeTarget(Spec(SharedBroker(), topics));
        ASSERT_TRUE(target->Open()) << target->Error().toStdString();
        int index = 0;
        for (const auto& row : rows) {
            const QStringList expected = Expected(row.Sent, topics);
            EXPECT_TRUE(target->Write(row.Word, row.Previous));
            target->Flush(Clock::now() + milliseconds(2000));
            // A message too many shows in the next row, as its first.
            EXPECT_EQ(subscriber.Take(expected.size()), expected)
                << topics.join(',').toStdString() << ", row " << index;
            ++index;
        }
        target->Close();
    }
}

TEST_F(MqttTarget, ALostBrokerIsReportedAndAnOpenAfterItsReturnSendsEveryOutput)
{
    TPrivateBroker broker;
    const auto target = Opened(broker.Address, 0b000011);

    ASSERT_TRUE(broker.Signal(SIGKILL));
    EXPECT_TRUE(WaitFor([&] { return !target->Service(); }));
    EXPECT_THAT(target->Error().toStdString(),
                HasSubstr("Se ha perdido la conexión con el servidor MQTT " + broker.Address));
    target->Close();
    EXPECT_FALSE(target->Open());
    EXPECT_THAT(target->Error().toStdString(),
                HasSubstr("No se puede conectar con el servidor MQTT " + broker.Address));

    broker.Start();
    TSubscriber subscriber(broker.Address);
    ASSERT_TRUE(target->Open()) << target->Error().toStdString();
    EXPECT_TRUE(target->Write(0b000101, -1));
    EXPECT_EQ(subscriber.Take(6), Expected("ON OFF ON OFF OFF OFF", {"tira"}));
}

TEST_F(MqttTarget, AFrozenBrokerNeverHoldsTheCallerAndIsLostWithinTwoKeepAlives)
{
    TPrivateBroker broker;
    const auto target = Opened(broker.Address, 0);
    ASSERT_TRUE(broker.Signal(SIGSTOP));

    // Each call only hands bytes to the socket or reads what is there: it never waits. A call
    // that waited would give up the processor of its own accord (a voluntary context switch of
    // this thread); being held up by a busy machine is no such switch.
    long waits = 0;
    const auto unwaited = [&](auto call) {
        rusage before{};
        ::getrusage(RUSAGE_THREAD, &before);
        const bool result = call();
        rusage after{};
        ::getrusage(RUSAGE_THREAD, &after);
        waits += after.ru_nvcsw - before.ru_nvcsw;
        return result;
    };
    int previous = 0;
    for (int word = 1; word < 64; ++word) {
        EXPECT_TRUE(unwaited([&] { return target->Write(std::uint8_t(word), previous); }));
        EXPECT_TRUE(unwaited([&] { return target->Service(); }));
        previous = word;
    }
    EXPECT_EQ(waits, 0) << "a call waited on the frozen broker";
    // Flush waits for acknowledgements that never come, until its deadline and no longer.
    const auto deadline = Clock::now() + milliseconds(300);
    target->Flush(deadline);
    EXPECT_LT(Clock::now() - deadline, milliseconds(10000)) << "Flush went past its deadline";

    // libmosquitto pings after a keep-alive (5 s) without traffic and gives up one later.
    EXPECT_TRUE(WaitFor([&] { return !unwaited([&] { return target->Service(); }); }, 30000));
    EXPECT_EQ(waits, 0) << "a call waited on the frozen broker";
    EXPECT_THAT(target->Error().toStdString(), HasSubstr(broker.Address));
    target->Close();

    // The TCP connection is made (the system accepts it), the broker's answer never comes: the
    // open gives up at its bound (3 s; a test held up by a busy machine may see it later).
    const auto start = Clock::now();
    EXPECT_FALSE(target->Open());
    EXPECT_LT(Clock::now() - start, milliseconds(30000));
    EXPECT_THAT(target->Error().toStdString(),
                HasSubstr("El servidor MQTT " + broker.Address + " no responde"));
    broker.Signal(SIGCONT);
}

TEST_F(MqttTarget, AFailedOpenNamesTheBrokerAndTheCause)
{
    const struct
    {
        std::string Address;
        bool Secure;
        std::string Message;
    } rows[] = {
        // Nobody listens on port 1. (The failures of mqtts://: tst_MqttTls.)
        {"127.0.0.1:1", false, "No se puede conectar con el servidor MQTT 127.0.0.1:1"},
    };
    for (const auto& row : rows) {
        const auto target = MakeTarget(Spec(row.Address, {"tira"}, row.Secure));
        EXPECT_FALSE(target->Open()) << row.Address << (row.Secure ? ", TLS" : "");
        EXPECT_THAT(target->Error().toStdString(), HasSubstr(row.Message)) << row.Address;
    }
}

// With a pulse time each plug switches off by itself unless told ON again: set at connect, before
// the first word; the outputs that are on told ON again at a third of it; set back to none at a
// clean end. Three targets driven together, as the program drives them (a timer that services its
// targets every 2 s): one topic with 1 s, six topics with 30 s, one topic without.
TEST_F(MqttTarget, APulseTimeIsSetKeptAliveAndSetBack)
{
    const QString tag = QString::number(::getpid());
    const struct
    {
        QStringList Topics;
        int PulseTime;
        const char* Value; // Tasmota's value for it
    } rows[] = {
        {{"corto" + tag}, 1, "10"},
        {{"a" + tag, "b" + tag, "c" + tag, "d" + tag, "e" + tag, "f" + tag}, 30, "130"},
        {{"sin" + tag}, 0, nullptr},
    };
    std::vector<std::string> watched;
    std::vector<std::unique_ptr<TOutputTarget>> targets;
    for (const auto& row : rows) {
        for (const QString& topic : row.Topics)
            watched.push_back("cmnd/" + topic.toStdString() + "/#");
        TTargetSpec spec = Spec(SharedBroker(), row.Topics);
        std::get<TMqttAddress>(spec.Address).PulseTime = row.PulseTime;
        targets.push_back(MakeTarget(spec));
    }
    TSubscriber subscriber(SharedBroker(), watched);
    const auto of = [&](const auto& row) {
        QStringList messages;
        for (const QString& message : subscriber.All())
            for (const QString& topic : row.Topics)
                if (message.startsWith("cmnd/" + topic + "/"))
                    messages << message;
        return messages;
    };
    const auto pulses = [&](const auto& row, const QString& value) {
        QStringList expected;
        for (int n = 0; n < 6; ++n)
            expected << (row.Topics.size() == 6
                             ? QString("cmnd/%1/PulseTime %2").arg(row.Topics[n], value)
                             : QString("cmnd/%1/PulseTime%2 %3")
                                   .arg(row.Topics[0])
                                   .arg(n + 1)
                                   .arg(value));
        return expected;
    };

    TOutputs outputs(std::move(targets), nullptr, std::chrono::seconds(2));
    outputs.Write(0b000101);
    const auto started = Clock::now();
    outputs.Start();
    // The short one's D0 and D2 told ON again, at a third of its second: five ONs of its D0 came
    // no sooner than four thirds after the start (a test held up by a busy machine only sees them
    // later).
    const QString on = QString("cmnd/%1/POWER1 ON").arg(rows[0].Topics[0]);
    ASSERT_TRUE(WaitFor([&] { return of(rows[0]).count(on) >= 5; }));
    EXPECT_GE(Clock::now() - started, milliseconds(4 * 300)) << "told ON again too often";
    outputs.Stop();
    for (const auto& row : rows) {
        const QString name = row.Topics.join(',');
        QStringList first = Expected("ON OFF ON OFF OFF OFF", row.Topics);
        QStringList last = Expected("OFF - OFF - - -", row.Topics);
        if (row.Value != nullptr) {
            first = pulses(row, row.Value) + first;
            last += pulses(row, "0");
        }
        // The end's messages, once the last of them is in.
        EXPECT_TRUE(WaitFor([&] { return of(row).endsWith(last.last()); })) << name.toStdString();
        const QStringList messages = of(row);
        EXPECT_EQ(messages.mid(0, first.size()), first) << name.toStdString();
        EXPECT_EQ(messages.mid(messages.size() - last.size()), last) << name.toStdString();
        if (row.PulseTime != 1) {
            EXPECT_EQ(messages.size(), first.size() + last.size())
                << name.toStdString() << ": told ON again with no need";
        }
    }
}

} // namespace
