#include "Log.h"

#include "core/LogStamp.h"
#include "core/Schedule.h"

#include <QByteArray>
#include <QStringList>

#include <cstdio>

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
    const QByteArray text = TLogStamp().Text + (line + u'\n').toLocal8Bit();
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    std::fflush(stderr);
}
