#pragma once
// What the timer tells systemd when it runs as a service (Type=notify, through libsystemd's
// sd_notify; nothing when it does not): ready once `ready` says so (the first word has reached
// every target, or a target is away), alive at half the watchdog's interval (WATCHDOG_USEC) from
// the event loop it runs on, and stopping at the end.

#include <QObject>
#include <QTimer>

#include <functional>

class TServiceNotice : public QObject
{
public:
    TServiceNotice(std::function<bool()> ready, QObject* parent);
    // The end has begun: no more signs of life.
    void Stopping();

private:
    std::function<bool()> FReady;
    QTimer FLooking; // until ready
    QTimer FAlive;   // systemd's watchdog, fed from this loop
};
