#pragma once
// The files the timer switches by, watched through their folders (inotify): a save that writes a
// file in place ends with its close, one that replaces it with its rename into place, and a
// removal is noticed too. The folders' events are read on the event loop; the files among them
// that are watched are told, in one call per look.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <set>

class TFileWatch : public QObject
{
public:
    using TChanged = std::function<void(const QStringList& paths)>;
    TFileWatch(TChanged changed, QObject* parent);
    ~TFileWatch() override;
    TFileWatch(const TFileWatch&) = delete;
    TFileWatch& operator=(const TFileWatch&) = delete;

    // Empty when watching works; otherwise why not (the system's words).
    QString Failure() const { return FFailure; }
    // Watches these files from now on, instead of those before. A folder that cannot be watched
    // is said in the log, with the remedy (SIGHUP).
    void Watch(const QStringList& paths);

private:
    void Changed();

    TChanged FChanged;
    int FFd = -1;
    QString FFailure;
    std::set<QByteArray> FNames;         // every file watched, as a whole path
    std::map<int, QByteArray> FFolderOf; // the folder of each watch
};
