#pragma once
// The time of day that starts every line of the log ("14:35:02.417 "), from the C library alone:
// for the log itself, and for the guard's waiting half, which has nothing else.

#include <cstdio>
#include <ctime>

struct TLogStamp
{
    char Text[32] = {};

    TLogStamp()
    {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        tm local{};
        ::localtime_r(&now.tv_sec, &local);
        std::snprintf(Text, sizeof Text, "%02d:%02d:%02d.%03ld ", local.tm_hour, local.tm_min,
                      local.tm_sec, now.tv_nsec / 1000000);
    }
};
