// prvardo-timer as a user runs it, with a serial target on a pseudo-terminal: the current slot at
// once, a schedule saved again (by rename) picked up, a file that cannot be read leaving the last
// schedule, SIGHUP reading the file again, a setting taken only at start said to need a restart,
// SIGTERM ending with every output off; the dry run and bad usage.

#include "core/ScheduleFile.h"
#include "tests/support/CoreSupport.h"
#include "tests/support/PtyBoard.h"
#include "tests/support/UserProgram.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTime>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The environment of a user of their own: no settings file, and a runtime folder of the test's
// (a user has one timer at most).
QProcessEnvironment WithoutSettings(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    return environment;
}

// Runs prvardo-timer to its end (a client, or a timer that refuses to start): its exit status.
int RunTimer(const QProcessEnvironment& environment, const QStringList& arguments, QByteArray* out,
             QByteArray* err)
{
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(PRVARDO_TIMER), arguments);
    EXPECT_TRUE(program.waitForFinished(30000)) << arguments.join(u' ').toStdString();
    if (out != nullptr)
        *out = program.readAllStandardOutput();
    if (err != nullptr)
        *err = program.readAllStandardError();
    return program.exitCode();
}

} // namespace

TEST(TimerProgram, SwitchesAtOnceFollowsTheFileAndEndsAllOff)
{
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    SaveAllDay(schedule, 0x05);
    TPtyBoard board;
    QProcess timer;
    timer.setProcessEnvironment(WithoutSettings(dir.path()));
    timer.start(QStringLiteral(PRVARDO_TIMER),
                {schedule, QStringLiteral("--output"), board.Target()});
    EXPECT_TRUE(WaitFor([&] { return board.Received() == "\x05"; }))
        << "straight to the slot's word, not all off first";

    SaveAllDay(schedule, 0x02); // a save replaces the file
    EXPECT_TRUE(WaitFor([&] { return board.EndsWith("\x02"); }));

    // A file that cannot be read leaves the last schedule in force, and says why; SIGHUP reads
    // the file again.
    QByteArray log;
    const auto logged = [&](const char* text) {
        log += timer.readAllStandardError();
        return log.contains(text);
    };
    ASSERT_TRUE(QFile::remove(schedule));
    ASSERT_EQ(::mkfifo(QFile::encodeName(schedule).constData(), 0600), 0);
    EXPECT_TRUE(WaitFor([&] { return logged("sigue el horario anterior"); }));
    ASSERT_TRUE(QFile::remove(schedule));
    SaveAllDay(schedule, 0x02);
    log.clear();
    ::kill(static_cast<pid_t>(timer.processId()), SIGHUP);
    EXPECT_TRUE(WaitFor([&] { return logged("horario leído de nuevo"); }));

    timer.terminate(); // SIGTERM
    ASSERT_TRUE(timer.waitForFinished(30000));
    EXPECT_EQ(timer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(timer.exitCode(), 128 + SIGTERM);
    EXPECT_TRUE(board.EndsWith(std::string("\x02\x00", 2))) << "every output off at the end";
}

// A schedule written in place (cp over it, an editor that truncates and writes) is applied when
// it is whole and closed, never half: no output changes before, not even for a moment; a read
// that races the writer (SIGHUP halfway) changes nothing, nor does a file that is no schedule.
TEST(TimerProgram, NeverSwitchesAHalfWrittenOrBrokenSchedule)
{
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    SaveAllDay(schedule, 0x05);
    const QString next = dir.filePath(QStringLiteral("siguiente.tem"));
    SaveAllDay(next, 0x02);
    QFile source(next);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray text = source.readAll();

    TPtyBoard board;
    QProcess timer;
    timer.setProcessEnvironment(WithoutSettings(dir.path()));
    timer.start(QStringLiteral(PRVARDO_TIMER),
                {schedule, QStringLiteral("--output"), board.Target()});
    ASSERT_TRUE(WaitFor([&] { return board.Received() == "\x05"; }));
    QByteArray log;
    const auto logged = [&](const char* text) {
        log += timer.readAllStandardError();
        return log.contains(text);
    };
    const auto writeInPlace = [&](const QByteArray& bytes) {
        const int fd = ::open(QFile::encodeName(schedule).constData(), O_WRONLY | O_TRUNC);
        EXPECT_EQ(::write(fd, bytes.constData(), static_cast<std::size_t>(bytes.size())),
                  bytes.size());
        return fd;
    };

    // An empty file closed (what the rule refuses besides is the reader's own test).
    ::close(writeInPlace({}));
    EXPECT_TRUE(WaitFor([&] { return logged("sigue el horario anterior"); })) << log.data();
    EXPECT_EQ(board.Received(), "\x05") << "nothing switched";

    // Halfway through a write, a read: nothing changes; the close applies the whole schedule.
    log.clear();
    const int fd = writeInPlace(text.left(1000));
    ::kill(static_cast<pid_t>(timer.processId()), SIGHUP);
    EXPECT_TRUE(WaitFor([&] { return logged("incompleto"); })) << log.data();
    EXPECT_EQ(board.Received(), "\x05") << "the read that raced the writer";
    const QByteArray rest = text.mid(1000);
    ASSERT_EQ(::write(fd, rest.constData(), static_cast<std::size_t>(rest.size())), rest.size());
    ::close(fd);
    EXPECT_TRUE(WaitFor([&] { return board.Received().size() > 1; }));
    EXPECT_EQ(board.Received(), "\x05\x02") << "straight to the new word";

    // A removed file: one line says so, and the schedule stays.
    log.clear();
    ASSERT_TRUE(QFile::remove(schedule));
    EXPECT_TRUE(WaitFor([&] { return logged("sigue el horario anterior"); }));
    timer.terminate();
    ASSERT_TRUE(timer.waitForFinished(30000));
    log += timer.readAllStandardError();
    EXPECT_EQ(log.count("sigue el horario anterior"), 1) << log.data();
    EXPECT_EQ(log.count("fin"), 1) << log.data();
}

// --set and --status reach the running timer through its socket: a hold switches the board at
// once, outlives a restart, and AUTO gives the output back to the plan; without a running timer
// they end with status 1.
TEST(TimerProgram, HoldsFromTheCommandLineReachTheBoardAndOutliveARestart)
{
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    SaveAllDay(schedule, 0x05);
    const QProcessEnvironment environment = WithoutSettings(dir.path());
    const auto ask = [&](const QStringList& arguments, QByteArray* out = nullptr) {
        return RunTimer(environment, arguments, out, nullptr);
    };
    EXPECT_EQ(ask({"--status"}), 1) << "no timer runs";

    TPtyBoard board;
    const auto start = [&](QProcess& timer) {
        timer.setProcessEnvironment(environment);
        timer.start(QStringLiteral(PRVARDO_TIMER),
                    {schedule, QStringLiteral("--output"), board.Target()});
    };
    {
        QProcess timer;
        start(timer);
        ASSERT_TRUE(WaitFor([&] { return board.Received() == "\x05"; }));
        ASSERT_TRUE(WaitFor([&] { return ask({"--status"}) == 0; })) << "the timer listens";
        EXPECT_EQ(ask({"--set", "D9=on"}), 2);
        EXPECT_EQ(ask({"--set", "D0=off"}), 0);
        EXPECT_TRUE(WaitFor([&] { return board.EndsWith("\x04"); }));
        QByteArray status;
        EXPECT_EQ(ask({"--status"}, &status), 0);
        EXPECT_TRUE(status.contains("D0  apagada")) << status.data();
        EXPECT_TRUE(status.contains("D2  encendida")) << status.data();
        timer.terminate();
        ASSERT_TRUE(timer.waitForFinished(30000));
    }
    const std::size_t before = board.Received().size();
    QProcess timer;
    start(timer);
    EXPECT_TRUE(WaitFor([&] { return board.Received().size() >= before + 1; }));
    EXPECT_EQ(board.Received().substr(before), "\x04") << "straight to the hold";
    ASSERT_TRUE(WaitFor([&] { return ask({"--status"}) == 0; }));
    EXPECT_EQ(ask({"--set", "D0=auto"}), 0);
    EXPECT_TRUE(WaitFor([&] { return board.EndsWith("\x05"); })) << "the plan again";
    const QString later = QTime::currentTime().addSecs(3600).toString(QStringLiteral("HH:mm"));
    EXPECT_EQ(ask({"--set", "all=off", "--until", later}), 0);
    EXPECT_TRUE(WaitFor([&] { return board.EndsWith(std::string("\x05\x00", 2)); }));
    timer.terminate();
    ASSERT_TRUE(timer.waitForFinished(30000));
}

// A timer that answers or is said not to: clients that connect and say nothing do not lock
// others out; a calendar replaced by a FIFO is refused on a reload while the timer answers on; a
// timer that cannot answer (stopped here) is said to, and the client fails, and a second timer
// beside it still ends at once without touching the board.
TEST(TimerProgram, OneTimerPerUserThatAnswersOrIsSaidNotTo)
{
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    SaveAllDay(schedule, 0x05);
    const QString calendar = dir.filePath(QStringLiteral("festivos.ics"));
    {
        QFile file(calendar);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Colegio//ES\nBEGIN:VEVENT\n"
                   "UID:1@colegio\nDTSTART;VALUE=DATE:20991225\nEND:VEVENT\nEND:VCALENDAR\n");
    }
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("PrVardo")));
    {
        QFile settings(dir.filePath(QStringLiteral("PrVardo/PrVardo.conf")));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[timer]\nholidays = " + QFile::encodeName(calendar) + '\n');
    }
    const QProcessEnvironment environment = WithoutSettings(dir.path());
    const auto run = [&](const QStringList& arguments, QByteArray* err = nullptr) {
        return RunTimer(environment, arguments, nullptr, err);
    };
    TPtyBoard board;
    const QStringList arguments{schedule, QStringLiteral("--output"), board.Target()};
    QProcess timer;
    timer.setProcessEnvironment(environment);
    timer.start(QStringLiteral(PRVARDO_TIMER), arguments);
    ASSERT_TRUE(WaitFor([&] { return board.Received() == "\x05"; }));
    ASSERT_TRUE(WaitFor([&] { return run({"--status"}) == 0; })) << "the timer listens";
    const QByteArray pid = QByteArray::number(timer.processId());

    QByteArray err;

    // More clients than the timer serves at once, none of them saying anything.
    std::vector<int> idle;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(dir.filePath(QStringLiteral("prvardo-timer")));
    std::copy_n(socketPath.constData(), socketPath.size(), address.sun_path);
    for (int i = 0; i < 40; ++i) {
        idle.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        EXPECT_EQ(::connect(idle.back(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    EXPECT_TRUE(WaitFor([&] { return run({"--status"}) == 0; }, 10000)) << "locked out";

    QByteArray log;
    const auto logged = [&](const QByteArray& text) {
        log += timer.readAllStandardError();
        return log.contains(text);
    };
    // A changed calendar is read again, and named as what changed.
    {
        QSaveFile file(calendar);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const QByteArray day = QDate::currentDate().addDays(300).toString("yyyyMMdd").toLatin1();
        file.write("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Colegio//ES\nBEGIN:VEVENT\n"
                   "UID:2@colegio\nDTSTART;VALUE=DATE:" +
                   day + "\nEND:VEVENT\nEND:VCALENDAR\n");
        ASSERT_TRUE(file.commit());
    }
    EXPECT_TRUE(WaitFor([&] {
        return logged("leído de nuevo: cambió " + QFile::encodeName(calendar));
    })) << log.data();
    ASSERT_TRUE(QFile::remove(calendar));
    ASSERT_EQ(::mkfifo(QFile::encodeName(calendar).constData(), 0600), 0);
    ::kill(static_cast<pid_t>(timer.processId()), SIGHUP);
    EXPECT_TRUE(WaitFor([&] { return logged("sigue el horario anterior"); }));
    EXPECT_TRUE(logged(QFile::encodeName(calendar))) << log.data();
    EXPECT_EQ(run({"--status"}), 0) << "the timer stopped answering";

    ::kill(static_cast<pid_t>(timer.processId()), SIGSTOP);
    EXPECT_EQ(run({"--status"}, &err), 1) << "a timer that does not answer";
    EXPECT_TRUE(err.contains(pid)) << err.data();
    // A hold its client gave up on is never applied when the timer wakes.
    EXPECT_EQ(run({"--set", "D1=on"}), 1) << "a stopped timer took a hold";
    const std::size_t switched = board.Received().size();
    EXPECT_EQ(run(arguments), 1) << "a second timer beside a stopped one";
    EXPECT_EQ(board.Received().size(), switched) << "the second timer touched the board";
    ::kill(static_cast<pid_t>(timer.processId()), SIGCONT);
    QByteArray status;
    EXPECT_EQ(RunTimer(environment, {"--status"}, &status, nullptr), 0);
    EXPECT_TRUE(status.contains("D1  apagada")) << status.data();
    EXPECT_EQ(board.Received(), std::string("\x05")) << "the hold given up on was applied";

    for (const int fd : idle)
        ::close(fd);
    timer.terminate();
    ASSERT_TRUE(timer.waitForFinished(30000));
    EXPECT_TRUE(board.EndsWith(std::string("\x00", 1))) << "all off at the end";
}

// A timer that cannot start on a broken schedule (after a crash, say) still sets its targets all
// off before it ends, so that no output stays on until someone comes.
TEST(TimerProgram, ABrokenScheduleAtStartSwitchesOff)
{
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    QFile broken(schedule);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("1\n0\nbasura\n");
    broken.close();
    TPtyBoard board;
    QProcess timer;
    timer.setProcessEnvironment(WithoutSettings(dir.path()));
    timer.start(QStringLiteral(PRVARDO_TIMER),
                {schedule, QStringLiteral("--output"), board.Target()});
    ASSERT_TRUE(timer.waitForFinished(30000));
    EXPECT_EQ(timer.exitCode(), 2);
    EXPECT_EQ(board.Received(), std::string(1, '\0'));
}

// Every signal that would end the timer ends it through its all off: the stops asked for with
// status 0, any other with 128 + the signal.
TEST(TimerProgram, EverySignalEndsThroughTheAllOff)
{
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    SaveAllDay(schedule, 0x05);
    const struct
    {
        int Signal;
        int Status;
    } rows[] = {{SIGTERM, 128 + SIGTERM}, {SIGINT, 128 + SIGINT},   {SIGUSR1, 128 + SIGUSR1},
                {SIGUSR2, 128 + SIGUSR2}, {SIGALRM, 128 + SIGALRM}, {SIGVTALRM, 128 + SIGVTALRM},
                {SIGXCPU, 128 + SIGXCPU}, {SIGTRAP, 128 + SIGTRAP}};
    for (const auto& row : rows) {
        const std::string what = strsignal(row.Signal);
        TPtyBoard board;
        QProcess timer;
        timer.setProcessEnvironment(WithoutSettings(dir.path()));
        timer.start(QStringLiteral(PRVARDO_TIMER),
                    {schedule, QStringLiteral("--output"), board.Target()});
        ASSERT_TRUE(WaitFor([&] { return board.EndsWith("\x05"); })) << what;
        ::kill(static_cast<pid_t>(timer.processId()), row.Signal);
        ASSERT_TRUE(timer.waitForFinished(30000)) << what;
        EXPECT_EQ(timer.exitStatus(), QProcess::NormalExit) << what << ": ended by the signal";
        EXPECT_EQ(timer.exitCode(), row.Status) << what;
        EXPECT_TRUE(board.EndsWith(std::string(1, '\0'))) << what;
    }
}

// As a service: READY once the first word is at the board, WATCHDOG at half the interval systemd
// gives, none while the timer is stopped, STOPPING at its end; on a notify socket of the test's.
TEST(TimerProgram, TellsSystemdItIsReadyAndAlive)
{
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    SaveAllDay(schedule, 0x05);
    const QByteArray socketPath = QFile::encodeName(dir.filePath(QStringLiteral("notify")));
    const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::copy_n(socketPath.constData(), socketPath.size(), address.sun_path);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // Each message carries the instant the timer sent it, from the kernel.
    const int stamped = 1;
    ASSERT_EQ(::setsockopt(listener, SOL_SOCKET, SO_TIMESTAMPNS, &stamped, sizeof stamped), 0);
    std::vector<qint64> pings; // when each WATCHDOG=1 was sent, in nanoseconds
    // What came on the socket within `ms`, a message a line.
    const auto heard = [&](int ms) {
        QByteArray all;
        pollfd wait{listener, POLLIN, 0};
        while (::poll(&wait, 1, ms) > 0) {
            char message[256];
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
            iovec part{message, sizeof message};
            msghdr header{};
            header.msg_iov = &part;
            header.msg_iovlen = 1;
            header.msg_control = control;
            header.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(listener, &header, 0);
            if (n > 0) {
                const QByteArray text(message, int(n));
                all += text + '\n';
                const cmsghdr* stamp = CMSG_FIRSTHDR(&header);
                if (text.contains("WATCHDOG=1") && stamp != nullptr &&
                    stamp->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec sent{};
                    std::memcpy(&sent, CMSG_DATA(stamp), sizeof sent);
                    pings.push_back(qint64(sent.tv_sec) * 1000000000 + sent.tv_nsec);
                }
            }
            ms = 0;
        }
        return all;
    };
    QProcessEnvironment environment = WithoutSettings(dir.path());
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromUtf8(socketPath));
    environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
    TPtyBoard board;
    QProcess timer;
    timer.setProcessEnvironment(environment);
    timer.start(QStringLiteral(PRVARDO_TIMER),
                {schedule, QStringLiteral("--output"), board.Target()});
    QByteArray said;
    ASSERT_TRUE(WaitFor([&] { return (said += heard(0)).contains("READY=1"); }, 30000));
    EXPECT_TRUE(board.EndsWith("\x05")) << "ready before the word was at the board";
    // At half of 400 ms, at most one a turn of 200 ms: six span five turns (four, should one be
    // late and the next on time), a little less for a timer that may come early by a twentieth.
    pings.clear();
    ASSERT_TRUE(WaitFor(
        [&] {
            heard(50);
            return pings.size() >= 6;
        },
        30000));
    EXPECT_GE(pings[5] - pings[0], 4 * 190'000'000LL) << "alive more often than asked";
    ::kill(static_cast<pid_t>(timer.processId()), SIGSTOP);
    ASSERT_TRUE(WaitFor([&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(timer.processId()));
        return stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") T ");
    })) << "never stopped";
    heard(0); // what was on its way before it stopped
    // Three of its intervals of 200 ms without a word.
    EXPECT_FALSE(heard(600).contains("WATCHDOG=1")) << "alive while stopped";
    ::kill(static_cast<pid_t>(timer.processId()), SIGCONT);
    timer.terminate();
    ASSERT_TRUE(timer.waitForFinished(30000));
    EXPECT_TRUE(heard(0).contains("STOPPING=1"));
    ::close(listener);
}

// --dry-run prints the plan of as many days ahead as --days says (its text is the library's own
// test).
TEST(TimerProgram, DryRunDays)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("proyector.tem"));
    TSchedule schedule; // D0 from 08:00 to 08:05
    schedule.Set(0, 0, 8, true);
    WriteScheduleFile(path.toStdString(), schedule.Flags());
    QProcess week;
    week.setProcessEnvironment(WithoutSettings(dir.path()));
    week.start(QStringLiteral(PRVARDO_TIMER), {path, "--dry-run", "--days", "3"});
    ASSERT_TRUE(week.waitForFinished(30000));
    EXPECT_EQ(week.readAllStandardOutput().count(" 08:00  0x01  D0  "), 3);
}

TEST(TimerProgram, DryRunAndBadUsage)
{
    QTemporaryDir dir;
    const QString schedule = dir.filePath(QStringLiteral("aula.tem"));
    SaveAllDay(schedule, 0x21);
    const QString empty = dir.filePath(QStringLiteral("vacio.tem"));
    QFile(empty).open(QIODevice::WriteOnly);
    const struct
    {
        QStringList Arguments;
        int Status;
        const char* Out;
        const char* Err;
    } rows[] = {
        {{schedule, "--dry-run"}, 0, "0x21  D0 D5  ", ""},
        {{schedule, "--dry-run", "--days", "32"}, 2, "", "--days"},
        {{schedule, "--days", "2"}, 2, "", "--days"},
        {{schedule}, 2, "", "prvardo-timer: ninguna salida"},
        {{}, 2, "", "prvardo-timer: hace falta un archivo de horario"},
        {{schedule, schedule}, 2, "", "prvardo-timer: hace falta un archivo de horario"},
        {{dir.filePath("no-existe.tem"), "--dry-run"}, 2, "", "no-existe.tem"},
        {{empty, "--dry-run"}, 2, "", "vacío"},
        {{empty, "--output", "serial:/dev/ttyNinguno"}, 2, "", "vacío"},
        {{"--help"}, 0, "--dry-run", ""},
        // --set and --status speak to a running timer, and never switch anything themselves.
        {{"--set", "D1=on", "--dry-run"}, 2, "", "--dry-run"},
        {{"--status", "--days", "2"}, 2, "", "--dry-run"},
        {{schedule, "--set", "D1=on"}, 2, "", "--dry-run"},
        {{"--set", "D1=on", "--output", "serial:/dev/ttyNinguno"}, 2, "", "--dry-run"},
    };
    for (const auto& row : rows) {
        const std::string what = row.Arguments.join(u' ').toStdString();
        QProcess timer;
        timer.setProcessEnvironment(WithoutSettings(dir.path()));
        timer.start(QStringLiteral(PRVARDO_TIMER), row.Arguments);
        ASSERT_TRUE(timer.waitForFinished(30000)) << what;
        EXPECT_EQ(timer.exitCode(), row.Status) << what;
        EXPECT_TRUE(timer.readAllStandardOutput().contains(row.Out)) << what;
        EXPECT_TRUE(timer.readAllStandardError().contains(row.Err)) << what;
    }
}

// The settings file is watched: a key the timer takes only at its start (its targets, the
// school's broker) changed while it runs is said, once, to need a restart; a key of the week is
// applied and says nothing of the kind.
TEST(TimerProgram, ASettingTakenOnlyAtStartIsSaidToNeedARestart)
{
    TPtyBoard board;
    TUserProgram timer("");
    SaveAllDay(timer.File(QStringLiteral("aula.tem")), 0x05);
    timer.Process.start(
        QStringLiteral(PRVARDO_TIMER),
        {timer.File(QStringLiteral("aula.tem")), QStringLiteral("--output"), board.Target()});
    ASSERT_TRUE(WaitFor([&] { return timer.Log().contains(": 0x05"); })) << timer.Log().data();
    const struct
    {
        const char* Line;    // added to the file's [timer] or [outputs]
        const char* Restart; // the key said to need a restart; nullptr: none
    } rows[] = {
        {"[timer]\nnames = Luz, Riego, Radio, Bomba, Patio, Aula\n", "names"},
        {"[timer]\nmqtt = mqtt://127.0.0.1:1/aula\n", "mqtt"},
        {"[outputs]\npulsetime = 30\n", "pulsetime"},
        {"[timer]\ndays = lun-sab\n", nullptr},
    };
    QByteArray text;
    for (const auto& row : rows) {
        text += row.Line;
        const QByteArray before = timer.Log();
        QSaveFile file(timer.File(QStringLiteral("PrVardo/PrVardo.conf")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        ASSERT_TRUE(file.commit());
        // Each line of the log is written whole.
        ASSERT_TRUE(WaitFor([&] { return timer.Log().size() > before.size(); })) << row.Line;
        const QByteArray said = timer.Log().mid(before.size());
        if (row.Restart != nullptr) {
            EXPECT_TRUE(said.contains(QByteArray("cambió ") + row.Restart + " en el archivo"))
                << said.data();
        } else {
            EXPECT_FALSE(said.contains("reiniciar")) << said.data();
        }
    }
    EXPECT_EQ(timer.Log().count("names"), 1) << "said once: " << timer.Log().data();
}
