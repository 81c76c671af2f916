#pragma once
// MQTT brokers and a subscriber for the output tests. A broker of the test's own
// (scripts/mqtt-broker, in a temporary directory) is for the tests that kill or stop one: ctest
// runs test programs in parallel, and the shared broker of the run (PRVARDO_MQTT_BROKER) must stay
// up for every test. Needs libmosquitto and PRVARDO_SOURCE_DIR.

#include "tests/support/CoreSupport.h"

#include <mosquitto.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

// The broker of the test run, "127.0.0.1:PORT"; empty when the test command did not start one.
inline std::string SharedBroker()
{
    const char* address = std::getenv("PRVARDO_MQTT_BROKER");
    return address != nullptr ? address : "";
}

class TPrivateBroker
{
public:
    // A broker for anonymous clients, or for the user "USER:PASSWORD" alone.
    explicit TPrivateBroker(const char* login = nullptr) : FLogin(login) { Start(); }
    ~TPrivateBroker() { Run({"stop", FDir.path()}); }
    TPrivateBroker(const TPrivateBroker&) = delete;
    TPrivateBroker& operator=(const TPrivateBroker&) = delete;

    // Starts it, again on the same port after a kill.
    void Start()
    {
        QStringList arguments{"start", FDir.path()};
        if (FLogin != nullptr)
            arguments << FLogin;
        Address = Run(arguments).toStdString();
    }
    // What the broker logged (its notices of clients that connect and that it refuses).
    QByteArray Log() const
    {
        QFile log(FDir.filePath("broker.log"));
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }
    // SIGKILL, SIGSTOP, SIGCONT ... to the broker; false when it is not running.
    bool Signal(int signal) const
    {
        QFile pid(FDir.filePath("broker.pid"));
        return pid.open(QIODevice::ReadOnly) &&
               ::kill(pid.readAll().trimmed().toInt(), signal) == 0;
    }

    std::string Address;

private:
    QByteArray Run(const QStringList& arguments) const
    {
        QProcess process;
        process.start(PRVARDO_SOURCE_DIR "/scripts/mqtt-broker", arguments);
        EXPECT_TRUE(process.waitForFinished(15000) && process.exitCode() == 0)
            << arguments.join(' ').toStdString() << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput().trimmed();
    }
    const char* FLogin;
    QTemporaryDir FDir;
};

// Subscribed to every command topic (cmnd/#) of a broker, or to the topics given; its network
// loop runs while it waits. It publishes too.
class TSubscriber
{
public:
    explicit TSubscriber(const std::string& address,
                         const std::vector<std::string>& topics = {"cmnd/#"})
    {
        mosquitto_lib_init();
        FClient = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(
            FClient, [](mosquitto*, void* self, const mosquitto_message* message) {
                static_cast<TSubscriber*>(self)->FReceived << QString("%1 %2").arg(
                    message->topic,
                    QByteArray(static_cast<const char*>(message->payload), message->payloadlen));
            });
        mosquitto_subscribe_callback_set(FClient, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<TSubscriber*>(self)->FSubscribed = true;
        });
        const auto colon = address.rfind(':');
        EXPECT_EQ(mosquitto_connect(FClient, address.substr(0, colon).c_str(),
                                    std::stoi(address.substr(colon + 1)), 60),
                  MOSQ_ERR_SUCCESS)
            << address;
        for (const std::string& topic : topics) {
            FSubscribed = false;
            EXPECT_EQ(mosquitto_subscribe(FClient, nullptr, topic.c_str(), 1), MOSQ_ERR_SUCCESS);
            EXPECT_TRUE(WaitFor([this] { return Loop() && FSubscribed; })) << "no SUBACK";
        }
    }
    ~TSubscriber()
    {
        mosquitto_disconnect(FClient);
        mosquitto_destroy(FClient);
    }
    TSubscriber(const TSubscriber&) = delete;
    TSubscriber& operator=(const TSubscriber&) = delete;

    void Publish(const std::string& topic, const QByteArray& payload, bool retain = false)
    {
        EXPECT_EQ(mosquitto_publish(FClient, nullptr, topic.c_str(),
                                    static_cast<int>(payload.size()), payload.constData(), 1,
                                    retain),
                  MOSQ_ERR_SUCCESS);
        Loop();
    }
    // Whether a message "topic payload" came, at most `ms` waited; every message stays.
    bool Saw(const QString& message, int ms = 30000)
    {
        return WaitFor([&] { return Loop() && FReceived.contains(message); }, ms);
    }
    // Every message so far, as "topic payload".
    const QStringList& All()
    {
        Loop();
        return FReceived;
    }

    // The next `count` messages as "topic payload", once they came (at most 30 s: fewer then).
    QStringList Take(qsizetype count)
    {
        WaitFor([&] { return Loop() && FReceived.size() >= count; });
        QStringList taken = FReceived.mid(0, count);
        FReceived.remove(0, taken.size());
        return taken;
    }

private:
    bool Loop() { return mosquitto_loop(FClient, 0, 1) == MOSQ_ERR_SUCCESS; }

    mosquitto* FClient = nullptr;
    bool FSubscribed = false;
    QStringList FReceived;
};
