// prvardo-timer on the real clock: how late after a slot start the word leaves (at a
// pseudo-terminal), and the program's CPU while it waits, as its share of one core.
//
//   bench_timer [BOUNDARIES]   the slot starts to wait for (default 1; each takes up to 5 minutes)
//
// The schedule switches D0 at every slot start, so that each one sends a byte.

#include "core/ScheduleFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// User and system time of a process so far, in seconds.
double CpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // utime and stime are the 14th and 15th fields; 12th and 13th after the name.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
           double(::sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int boundaries = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("alterna.tem"));
    TSchedule schedule;
    for (int slot = 0; slot < TSchedule::Slots; ++slot)
        for (int hour = 0; hour < TSchedule::Hours; ++hour)
            schedule.Set(0, slot, hour, slot % 2 == 0);
    WriteScheduleFile(path.toStdString(), schedule.Flags());

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;
    QProcess timer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    timer.setProcessEnvironment(environment);
    timer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    timer.start(QStringLiteral(PRVARDO_TIMER), {path, QStringLiteral("--output"),
                                                QStringLiteral("serial:") + QLatin1String(name)});
    if (!timer.waitForStarted())
        return 1;
    char bytes[16];
    // All off, and the current slot's word when it is not all off.
    pollfd first{master, POLLIN, 0};
    if (::poll(&first, 1, 5000) <= 0)
        return 1;
    for (pollfd more{master, POLLIN, 0}; ::poll(&more, 1, 500) > 0;)
        (void)::read(master, bytes, sizeof bytes);
    const double cpuBefore = CpuSeconds(timer.processId());
    const auto waitStart = std::chrono::steady_clock::now();
    std::vector<double> lateMs;
    for (int i = 0; i < boundaries; ++i) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const qint64 boundary = (now / 300000 + 1) * 300000;
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(boundary - now + 10000)) <= 0)
            break;
        const qint64 arrived = QDateTime::currentMSecsSinceEpoch();
        (void)::read(master, bytes, sizeof bytes);
        lateMs.push_back(double(arrived - boundary));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - waitStart).count();
    const double cpu = CpuSeconds(timer.processId()) - cpuBefore;
    timer.terminate();
    timer.waitForFinished();
    std::sort(lateMs.begin(), lateMs.end());
    if (lateMs.empty()) {
        std::printf("no slot start was seen\n");
        return 1;
    }
    std::printf("the word left %.1f ms after the slot start (median of %zu), %.1f ms at worst; "
                "vs 1 s: %.4f\n",
                lateMs[lateMs.size() / 2], lateMs.size(), lateMs.back(), lateMs.back() / 1000.0);
    std::printf("CPU while waiting: %.5f %% of a core over %.0f s (goal under 0.01 %%)\n",
                100.0 * cpu / wall, wall);
    ::close(slave);
    ::close(master);
    return 0;
}
