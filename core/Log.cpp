#include "Log.h"

#include "core/Schedule.h"

#include <QByteArray>
#include <QStringList>

#include <cstdio>
#include <ctime>

QString WordText(std::uint8_t word)
{
    QStringList on;
    for (int n = 0; n < OutputCount; ++n)
        if (word & (1u << n))
            on << QStringLiteral("D%1").arg(n);
    return on.isEmpty() ? QStringLiteral("todas apagadas") : on.join(u' ');
}

void LogLine(const QString& line)
{
    // The time from the C library: at the program's very end (an exit the toolkit makes when its
    // display goes away) Qt's own formatting may be gone already.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld ", local.tm_hour, local.tm_min,
                  local.tm_sec, now.tv_nsec / 1000000);
    const QByteArray text = stamp + (line + u'\n').toLocal8Bit();
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    std::fflush(stderr);
}
