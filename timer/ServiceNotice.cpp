#include "ServiceNotice.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdint>

TServiceNotice::TServiceNotice(std::function<bool()> ready, QObject* parent)
    : QObject(parent), FReady(std::move(ready))
{
    FLooking.setInterval(20);
    connect(&FLooking, &QTimer::timeout, this, [this] {
        if (!FReady())
            return;
        FLooking.stop();
        ::sd_notify(0, "READY=1");
    });
    FLooking.start(); // its first look comes from the loop, after the timer's first word
    std::uint64_t watchdog = 0;
    if (::sd_watchdog_enabled(0, &watchdog) > 0 && watchdog > 0) {
        FAlive.setInterval(int(std::max<std::uint64_t>(watchdog / 2000, 1)));
        connect(&FAlive, &QTimer::timeout, this, [] { ::sd_notify(0, "WATCHDOG=1"); });
        FAlive.start();
    }
}

void TServiceNotice::Stopping()
{
    FLooking.stop();
    FAlive.stop();
    ::sd_notify(0, "STOPPING=1");
}
