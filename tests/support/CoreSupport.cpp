#include "CoreSupport.h"

#include <QTest>
#include <QTime>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

ErrorRecorder::ErrorRecorder()
    // A reporter of exceptions, named so; the check takes it for an exception left unthrown.
    // NOLINTNEXTLINE(bugprone-throw-keyword-missing)
    : FReporter([this](QObject* sender, const QString& message) {
          Senders.append(sender);
          Messages.append(message);
      })
{
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

int LogStamp(const QByteArray& log, std::initializer_list<const char*> texts)
{
    for (const QByteArray& line : log.split('\n'))
        if (std::all_of(texts.begin(), texts.end(),
                        [&](const char* text) { return line.contains(text); })) {
            const QTime time = QTime::fromString(QString::fromLatin1(line.left(12)),
                                                 QStringLiteral("HH:mm:ss.zzz"));
            return time.isValid() ? time.msecsSinceStartOfDay() : -1;
        }
    return -1;
}

int StampsApart(int from, int to)
{
    constexpr int day = 24 * 3600 * 1000;
    return ((to - from) % day + day + day / 2) % day - day / 2;
}
