#include "TargetLock.h"

#include "core/Folders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

TTargetLock::TTargetLock(const QString& key)
{
    const QString folder = RuntimeFolder() + QStringLiteral("/PrVardo");
    FPath = folder + u'/' +
            QString::fromLatin1(
                QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex()) +
            QStringLiteral(".lock");
}

TTargetLock::~TTargetLock()
{
    Release();
}

bool TTargetLock::Take(QString& holder)
{
    if (FFd >= 0)
        return true;
    QDir().mkpath(QFileInfo(FPath).path());
    const int fd = ::open(QFile::encodeName(FPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true; // no lock to be had: the device's own exclusion still holds
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool taken = errno == EWOULDBLOCK;
        char text[256] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        ::close(fd);
        if (!taken)
            return true;
        holder = n > 0 ? QString::fromUtf8(text, n).trimmed() : QStringLiteral("otro programa");
        return false;
    }
    const QByteArray who = QByteArray(program_invocation_short_name) + ", proceso " +
                           QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(fd, 0) == 0)
        (void)!::pwrite(fd, who.constData(), static_cast<std::size_t>(who.size()), 0);
    FFd = fd;
    return true;
}

void TTargetLock::Release()
{
    if (FFd < 0)
        return;
    ::close(FFd); // the lock goes with the descriptor
    FFd = -1;
}
