// prvardo-timer on the broker of the test run, as a school's Home Assistant or a phone sees it:
// retained states, reasons and availability; commands on the set topics reaching a relay board on
// a pseudo-terminal; garbage and a stale retained command changing nothing; discovery, again when
// Home Assistant announces itself; the last will when the timer is killed.

#include "core/ScheduleFile.h"
#include "tests/support/CoreSupport.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/PtyBoard.h"
#include "tests/support/UserProgram.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>

namespace {

// D0 and D2 on all day.
void SaveSchedule(const QString& path)
{
    TSchedule schedule;
    for (int slot = 0; slot < TSchedule::Slots; ++slot)
        for (int hour = 0; hour < TSchedule::Hours; ++hour) {
            schedule.Set(0, slot, hour, true);
            schedule.Set(2, slot, hour, true);
        }
    WriteScheduleFile(path.toStdString(), schedule.Flags());
}

} // namespace

TEST(TimerRemote, StatesCommandsDiscoveryAndTheLastWill)
{
    const std::string broker = SharedBroker();
    ASSERT_FALSE(broker.empty()) << "PRVARDO_MQTT_BROKER is not set: this test needs the private "
                                    "broker that scripts/test starts";
    const QString base = QStringLiteral("aula%1").arg(::getpid());
    const std::string b = base.toStdString();
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    SaveSchedule(schedule);
    QDir(dir.path()).mkpath(QStringLiteral("PrVardo"));
    QDir(dir.path()).mkdir(QStringLiteral("run"));
    QFile settings(dir.filePath(QStringLiteral("PrVardo/PrVardo.conf")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(QStringLiteral("[timer]\nmqtt = mqtt://%1/%2\ndiscovery = ha%3\n"
                                  "names = Proyector, Luz, Estufa, D3, D4, D5\n")
                       .arg(QString::fromStdString(broker), base)
                       .arg(::getpid())
                       .toUtf8());
    settings.close();
    const std::string prefix = "ha" + std::to_string(::getpid());

    TSubscriber client(broker, {b + "/#", prefix + "/#"});
    client.Publish(b + "/D1/set", "ON", true); // left on the broker from before: never acted on
    TPtyBoard board;
    QProcess timer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
    timer.setProcessEnvironment(environment);
    timer.start(QStringLiteral(PRVARDO_TIMER),
                {schedule, QStringLiteral("--output"), board.Target()});
    QByteArray log;
    const auto logged = [&] {
        log += timer.readAllStandardError();
        return log;
    };

    // At start: online, each output's state and reason, retained.
    ASSERT_TRUE(client.Saw(base + "/estado online")) << logged().data();
    for (const char* state : {"/D0 ON", "/D1 OFF", "/D2 ON", "/D3 OFF", "/D4 OFF", "/D5 OFF"})
        EXPECT_TRUE(client.Saw(base + state)) << state;
    ASSERT_TRUE(WaitFor([&] { return board.Received() == "\x05"; }));
    const auto reasonOf = [&](int output) {
        QString reason;
        for (const QString& message : client.All())
            if (message.startsWith(base + QStringLiteral("/D%1/motivo ").arg(output)))
                reason = message.section(u' ', 1);
        return reason;
    };
    EXPECT_TRUE(WaitFor([&] { return !reasonOf(0).isEmpty(); }));
    const QString planned = reasonOf(0);

    // Discovery: one switch per output (what each says is tried in-process), again when Home
    // Assistant says it started.
    const auto configs = [&] {
        QStringList found;
        for (const QString& message : client.All())
            if (message.startsWith(QString::fromStdString(prefix) + "/switch/") &&
                message.section(u' ', 0, 0).endsWith(QLatin1String("/config")))
                found << message.section(u' ', 1);
        return found;
    };
    ASSERT_TRUE(WaitFor([&] { return configs().size() == 6; }));
    client.Publish(prefix + "/status", "online"); // Home Assistant started again
    EXPECT_TRUE(WaitFor([&] { return configs().size() == 12; })) << "published again";

    // Commands: each reaches the board and the state topic.
    const QString later =
        QDateTime::currentDateTime().addSecs(7200).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm"));
    const struct
    {
        std::string Topic;
        QByteArray Payload;
        std::uint8_t Word;
        const char* State;
    } commands[] = {
        {b + "/D0/set", "OFF", 0x04, "/D0 OFF"},
        {b + "/D0/set", "auto", 0x05, "/D0 ON"},
        {b + "/set", "{\"D2\": \"off\", \"until\": \"" + later.toUtf8() + "\"}", 0x01, "/D2 OFF"},
        {b + "/set", "{\"all\": \"auto\"}", 0x05, "/D2 ON"},
    };
    for (const auto& row : commands) {
        SCOPED_TRACE(row.Topic + " " + row.Payload.toStdString());
        client.Publish(row.Topic, row.Payload);
        EXPECT_TRUE(WaitFor([&] { return board.Shows(row.Word); }));
        EXPECT_TRUE(client.Saw(base + row.State));
        if (row.Word == 0x04) { // held: the reason says so, and differs from the plan's
            EXPECT_TRUE(WaitFor([&] { return reasonOf(0) != planned; }));
        }
    }

    // What is not a command changes nothing (which messages are, is tried in-process): the next
    // good command is the next byte.
    const struct
    {
        std::string Topic;
        QByteArray Payload;
    } garbage[] = {
        {b + "/D0/set", "encender"},
        {b + "/set", "{\"D2\": \"quizá\"}"},
    };
    const std::size_t before = board.Received().size();
    for (const auto& row : garbage)
        client.Publish(row.Topic, row.Payload);
    client.Publish(b + "/D5/set", "ON");
    ASSERT_TRUE(WaitFor([&] { return board.Received().size() > before; }));
    EXPECT_EQ(board.Received().substr(before), "\x25") << "only the good command switched";
    EXPECT_FALSE(board.Received().find('\x07') != std::string::npos)
        << "the stale retained D1=ON never acted on";
    EXPECT_EQ(logged().count("se ignora"), qsizetype(std::size(garbage)) + 1)
        << "one line each, and one for the stale command:\n"
        << log.data();

    // Killed: the broker says it with the last will.
    timer.kill();
    ASSERT_TRUE(timer.waitForFinished(30000));
    EXPECT_TRUE(client.Saw(base + "/estado offline"));
    client.Publish(b + "/D1/set", "", true); // no retained command left behind
}

// A broker that keeps refusing the timer (a wrong password here) is said once in the log, however
// often the timer tries again, and never stops the timer switching its board.
TEST(TimerRemote, ARefusingBrokerIsSaidOnce)
{
    TPrivateBroker broker("profe:secreto");
    TPtyBoard board; // outlives the timer: its end is all off at the board
    TUserProgram timer(
        QStringLiteral("[outputs]\npassword = otra\n[timer]\nmqtt = mqtt://profe@%1/aula\n")
            .arg(QString::fromStdString(broker.Address))
            .toUtf8());
    SaveSchedule(timer.File(QStringLiteral("aula.tem")));
    timer.Process.start(
        QStringLiteral(PRVARDO_TIMER),
        {timer.File(QStringLiteral("aula.tem")), QStringLiteral("--output"), board.Target()});
    EXPECT_TRUE(WaitFor([&] { return !board.Received().empty(); })) << "the board switched";
    // Three refusals at the broker: the timer tried again twice at least.
    EXPECT_TRUE(WaitFor([&] { return broker.Log().count("not authorised") >= 3; }, 20000));
    const QByteArray log = timer.Log();
    qsizetype said = 0;
    for (const QByteArray& line : log.split('\n'))
        said += line.contains("MQTT") ? 1 : 0;
    EXPECT_EQ(said, 1) << log.data();
    timer.End();
}

namespace {

// A timer of a user of its own on a relay board of its own, on `base` of the broker of the test
// run.
class TUserTimer : public TUserProgram
{
public:
    TUserTimer(const std::string& broker, const QString& base)
        : TUserProgram(QStringLiteral("[timer]\nmqtt = mqtt://%1/%2\ndiscovery =\n")
                           .arg(QString::fromStdString(broker), base)
                           .toUtf8())
    {
        SaveSchedule(File(QStringLiteral("aula.tem")));
        Process.start(QStringLiteral(PRVARDO_TIMER), {File(QStringLiteral("aula.tem")),
                                                      QStringLiteral("--output"), Board.Target()});
    }
    ~TUserTimer() { End(); } // while its board is there

    TPtyBoard Board;
};

} // namespace

// Two timers of two users on one BASE: the second publishes nothing on it and takes no command
// from it, and says so once; the first is not disturbed, before, during or after; once the first
// ends, the second holds BASE.
TEST(TimerRemote, OneTimerPerBase)
{
    const std::string broker = SharedBroker();
    ASSERT_FALSE(broker.empty()) << "PRVARDO_MQTT_BROKER is not set: this test needs the private "
                                    "broker that scripts/test starts";
    const QString base = QStringLiteral("base%1").arg(::getpid());
    const std::string b = base.toStdString();
    TSubscriber client(broker, {b + "/#"});
    // BASE/titular naming the timer of `pid`.
    const auto held = [&](const QString& pid) {
        return WaitFor(
            [&] {
                const QStringList all = client.All();
                return std::any_of(all.begin(), all.end(), [&](const QString& message) {
                    return message.startsWith(base + "/titular ") && message.endsWith(pid);
                });
            },
            10000);
    };
    auto first = std::make_unique<TUserTimer>(broker, base);
    ASSERT_TRUE(held(first->Pid())) << first->Log().data();
    ASSERT_TRUE(client.Saw(base + "/estado online"));
    {
        TUserTimer second(broker, base);
        ASSERT_TRUE(WaitFor([&] { return second.Log().contains(first->Pid().toUtf8()); }))
            << "the second does not say who holds BASE: " << second.Log().data();
        ASSERT_TRUE(WaitFor([&] { return !second.Board.Received().empty(); }))
            << "the second drives its own board all the same";
        const std::size_t secondBoard = second.Board.Received().size();
        client.Publish(b + "/D1/set", "ON");
        EXPECT_TRUE(WaitFor([&] { return first->Board.EndsWith("\x07"); })) << "D1 on the first";
        client.Publish(b + "/marca", "1");
        ASSERT_TRUE(client.Saw(base + "/marca 1"));
        EXPECT_EQ(second.Board.Received().size(), secondBoard) << "the second took the command";
        second.Process.terminate();
        ASSERT_TRUE(second.Process.waitForFinished(30000));
        const QByteArray log = second.Log();
        EXPECT_EQ(log.count(first->Pid().toUtf8()), 1) << log.data();
    }
    client.Publish(b + "/marca", "2");
    ASSERT_TRUE(client.Saw(base + "/marca 2"));
    EXPECT_FALSE(client.All().contains(base + "/estado offline")) << "the second's end spoke";
    const qsizetype stateTopics = client.All().filter(QRegularExpression("/D[0-5] ")).size();
    EXPECT_EQ(stateTopics, 6 + 1) << "the second published states: "
                                  << client.All().join(u'\n').toStdString();

    TUserTimer second(broker, base);
    ASSERT_TRUE(WaitFor([&] { return second.Log().contains(first->Pid().toUtf8()); }));
    first.reset(); // its clean end leaves BASE free
    EXPECT_TRUE(held(second.Pid())) << second.Log().data();
    client.Publish(b + "/D1/set", "ON");
    EXPECT_TRUE(WaitFor([&] { return second.Board.EndsWith("\x07"); })) << "D1 on the second";
}

// One rule for the end's status: 128 + the signal once every output is off, 1 when a target
// could not be told (its broker frozen), whatever the signal.
TEST(TimerRemote, AnOutputThatMayStayOnEndsWithStatusOne)
{
    const struct
    {
        bool Frozen;
        int Status;
    } rows[] = {{false, 128 + SIGTERM}, {true, 1}};
    for (const auto& row : rows) {
        TPrivateBroker broker;
        TSubscriber plug(broker.Address, {"cmnd/estufa/#"});
        TUserProgram timer("[outputs]\nwatchdog = 0\n");
        SaveSchedule(timer.File(QStringLiteral("aula.tem")));
        timer.Process.start(
            QStringLiteral(PRVARDO_TIMER),
            {timer.File(QStringLiteral("aula.tem")), QStringLiteral("--output"),
             QStringLiteral("mqtt://%1/estufa").arg(QString::fromStdString(broker.Address))});
        ASSERT_TRUE(plug.Saw(QStringLiteral("cmnd/estufa/POWER1 ON"))) << timer.Log().data();
        if (row.Frozen) {
            ASSERT_TRUE(broker.Signal(SIGSTOP));
        }
        timer.Process.terminate();
        ASSERT_TRUE(timer.Process.waitForFinished(30000));
        EXPECT_EQ(timer.Process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(timer.Process.exitCode(), row.Status) << timer.Log().data();
        broker.Signal(SIGCONT);
    }
}

// A clean end leaves BASE/estado "offline" at the broker, retained, before the connection goes:
// a client that comes later reads it (the broker's will would not be sent after a clean
// disconnect).
TEST(TimerRemote, ACleanEndLeavesOfflineAtTheBroker)
{
    TPrivateBroker broker;
    const QString base = QStringLiteral("fin%1").arg(::getpid());
    TUserTimer timer(broker.Address, base);
    {
        TSubscriber client(broker.Address, {base.toStdString() + "/estado"});
        ASSERT_TRUE(client.Saw(base + "/estado online")) << timer.Log().data();
    }
    timer.Process.terminate();
    ASSERT_TRUE(timer.Process.waitForFinished(30000));
    TSubscriber later(broker.Address, {base.toStdString() + "/estado"});
    EXPECT_TRUE(later.Saw(base + "/estado offline")) << timer.Log().data();
}

// A secure link that cannot be made says why, as the outputs' MQTT targets do: an mqtts://
// address on the test broker, which speaks no TLS; an authority file that cannot be read, with
// which the link is never tried.
TEST(TimerRemote, ASecureLinkThatCannotBeMadeSaysWhy)
{
    const std::string broker = SharedBroker();
    ASSERT_FALSE(broker.empty()) << "PRVARDO_MQTT_BROKER is not set: this test needs the private "
                                    "broker that scripts/test starts";
    const struct
    {
        const char* Name;
        QByteArray Outputs; // the [outputs] section
        QByteArray Said;
    } cases[] = {
        {"no TLS", "", "no habla TLS"},
        {"no authority", "[outputs]\ncafile = /nonexistent/ca.pem\n", "/nonexistent/ca.pem"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Name);
        TPtyBoard board; // outlives the timer: its end is all off at the board
        TUserProgram timer(QStringLiteral("[timer]\nmqtt = mqtts://%1/seguro%2\n")
                               .arg(QString::fromStdString(broker))
                               .arg(::getpid())
                               .toUtf8() +
                           row.Outputs);
        SaveSchedule(timer.File(QStringLiteral("aula.tem")));
        timer.Process.start(
            QStringLiteral(PRVARDO_TIMER),
            {timer.File(QStringLiteral("aula.tem")), QStringLiteral("--output"), board.Target()});
        EXPECT_TRUE(WaitFor([&] { return timer.Log().contains(row.Said); }, 15000))
            << timer.Log().data();
        EXPECT_TRUE(WaitFor([&] { return !board.Received().empty(); }))
            << "the board switched all the same";
    }
}

// The school's broker by a name that the resolver never answers for (the network down at boot,
// here a name server of the test's own that takes every question and answers none): the outputs
// get their word at once all the same, as the program's own log stamps show.
TEST(TimerRemote, ABrokerNameNoResolverAnswersHoldsUpNoWord)
{
    TPtyBoard board;
    TUserProgram timer(
        "[outputs]\nwatchdog = 0\n[timer]\nmqtt = mqtt://broker.aula.invalid/aula\n");
    SaveSchedule(timer.File(QStringLiteral("aula.tem")));
    timer.Process.start(QStringLiteral("unshare"),
                        {QStringLiteral("-Urmn"),
                         QStringLiteral(PRVARDO_SOURCE_DIR "/tests/support/silent-resolver"),
                         QStringLiteral(PRVARDO_TIMER), timer.File(QStringLiteral("aula.tem")),
                         QStringLiteral("--output"), board.Target()});
    ASSERT_TRUE(WaitFor([&] { return board.EndsWith("\x05"); })) << timer.Log().data();
    ASSERT_TRUE(WaitFor([&] { return timer.Log().contains(": 0x05 ("); })) << timer.Log().data();
    const QByteArray log = timer.Log();
    const int started = LogStamp(log, {"horario "});
    const int sent = LogStamp(log, {": 0x05 ("});
    ASSERT_TRUE(started >= 0 && sent >= 0) << log.data();
    EXPECT_LT(StampsApart(started, sent), 1000) << log.data();
    EXPECT_FALSE(log.contains("conectado")) << log.data();
}
