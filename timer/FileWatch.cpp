#include "FileWatch.h"

#include "core/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

TFileWatch::TFileWatch(TChanged changed, QObject* parent)
    : QObject(parent), FChanged(std::move(changed))
{
    FFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FFd < 0) {
        FFailure = qt_error_string(errno);
        return;
    }
    auto* readable = new QSocketNotifier(FFd, QSocketNotifier::Read, this);
    connect(readable, &QSocketNotifier::activated, this, [this] { Changed(); });
}

TFileWatch::~TFileWatch()
{
    if (FFd >= 0)
        ::close(FFd);
}

void TFileWatch::Watch(const QStringList& paths)
{
    FNames.clear();
    for (const QString& path : paths) {
        const QFileInfo file(path);
        const QByteArray folder = QFile::encodeName(file.absolutePath());
        FNames.insert(QFile::encodeName(file.absoluteFilePath()));
        const int watch = ::inotify_add_watch(
            FFd, folder.constData(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM);
        if (watch >= 0)
            FFolderOf[watch] = folder;
        else
            LogLine(QStringLiteral("no se pueden vigilar los cambios de %1 (%2); envíe SIGHUP "
                                   "para leerlo de nuevo")
                        .arg(path, qt_error_string(errno)));
    }
}

void TFileWatch::Changed()
{
    alignas(inotify_event) char events[4096];
    std::set<QByteArray> changed;
    for (ssize_t n; (n = ::read(FFd, events, sizeof events)) > 0;)
        for (const char* at = events; at < events + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            const QByteArray name = event->len > 0
                                        ? FFolderOf[event->wd] + '/' + QByteArray(event->name)
                                        : QByteArray();
            if (FNames.count(name) != 0)
                changed.insert(name);
            at += sizeof(inotify_event) + event->len;
        }
    if (changed.empty())
        return;
    QStringList paths;
    for (const QByteArray& name : changed)
        paths << QFile::decodeName(name);
    FChanged(paths);
}
