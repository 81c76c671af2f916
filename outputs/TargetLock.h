#pragma once
// One program at a time drives a target: a lock file per target in the user's runtime folder
// ($XDG_RUNTIME_DIR/PrVardo), held with flock while the program drives it, so that the timer
// running as a service and a window opened from the menu (or two windows) never both switch the
// same relays. The lock goes with the process, however it ends. The file says who holds it, for
// the message of the program that finds it taken.

#include <QString>

class TTargetLock
{
public:
    // `key` names the target whatever way the user wrote it (the device's real path, the broker
    // and its topics).
    explicit TTargetLock(const QString& key);
    ~TTargetLock();
    TTargetLock(const TTargetLock&) = delete;
    TTargetLock& operator=(const TTargetLock&) = delete;

    // Takes the lock, or keeps it. False when another process holds it, with `holder` saying
    // which ("prvardo-timer, proceso 1234"); a lock that cannot be made at all (no runtime
    // folder) does not stop the target.
    bool Take(QString& holder);
    void Release();

private:
    QString FPath;
    int FFd = -1;
};
