#pragma once
// Helpers of the benchmarks: the private broker (scripts/mqtt-broker), a watch on a topic that
// notes when each message came, and a process's resident memory. Needs libmosquitto and
// PRVARDO_SOURCE_DIR.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

#include <mosquitto.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

using Clock = std::chrono::steady_clock;

// Starts ("start": its address, "HOST:PORT") or stops ("stop") the private broker in `dir`.
inline QString Broker(const QString& dir, const char* command)
{
    QProcess script;
    script.start(QStringLiteral(PRVARDO_SOURCE_DIR "/scripts/mqtt-broker"),
                 {QString::fromLatin1(command), dir});
    script.waitForFinished(15000);
    return QString::fromUtf8(script.readAllStandardOutput()).trimmed();
}

// When each message on a topic came, from libmosquitto's own thread.
class TTopicWatch
{
public:
    TTopicWatch(const QString& address, const QByteArray& topic)
    {
        mosquitto_lib_init();
        FClient = mosquitto_new(nullptr, true, this);
        mosquitto_int_option(FClient, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_message_callback_set(
            FClient, [](mosquitto*, void* self, const mosquitto_message* message) {
                auto& watch = *static_cast<TTopicWatch*>(self);
                const std::lock_guard lock(watch.FLock);
                watch.FSeen.emplace_back(
                    Clock::now(),
                    QByteArray(static_cast<const char*>(message->payload), message->payloadlen));
            });
        const auto colon = address.lastIndexOf(u':');
        mosquitto_connect(FClient, address.left(colon).toUtf8().constData(),
                          address.mid(colon + 1).toInt(), 60);
        mosquitto_subscribe(FClient, nullptr, topic.constData(), 1);
        mosquitto_loop_start(FClient);
    }
    ~TTopicWatch()
    {
        mosquitto_disconnect(FClient);
        mosquitto_loop_stop(FClient, false);
        mosquitto_destroy(FClient);
    }
    TTopicWatch(const TTopicWatch&) = delete;
    TTopicWatch& operator=(const TTopicWatch&) = delete;

    // When `payload` first came after `from`; none within `seconds`.
    std::optional<Clock::time_point> After(Clock::time_point from, const QByteArray& payload,
                                           int seconds = 5)
    {
        for (const auto until = Clock::now() + std::chrono::seconds(seconds);
             Clock::now() < until;) {
            {
                const std::lock_guard lock(FLock);
                for (const auto& [at, seen] : FSeen)
                    if (at >= from && seen == payload)
                        return at;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return std::nullopt;
    }

private:
    std::mutex FLock;
    std::vector<std::pair<Clock::time_point, QByteArray>> FSeen;
    mosquitto* FClient = nullptr;
};

// The resident memory of a process ("self" for this one), in kB; 0 when it cannot be read.
inline long ResidentKb(const QString& pid = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}
