#pragma once
// Another program that drives a target: a child process that holds the target's lock until it is
// killed (the lock goes with the process, however it ends).

#include "outputs/TargetLock.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class TLockHolder
{
public:
    explicit TLockHolder(const QString& key)
    {
        int ready[2];
        EXPECT_EQ(::pipe(ready), 0);
        FPid = ::fork();
        if (FPid == 0) {
            TTargetLock lock(key);
            QString other;
            const char taken = lock.Take(other) ? 1 : 0;
            (void)!::write(ready[1], &taken, 1);
            for (;;)
                ::pause();
        }
        char taken = 0;
        EXPECT_EQ(::read(ready[0], &taken, 1), 1);
        EXPECT_EQ(taken, 1) << "the holder did not get the lock";
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~TLockHolder() { Kill(); }
    TLockHolder(const TLockHolder&) = delete;
    TLockHolder& operator=(const TLockHolder&) = delete;

    pid_t Pid() const { return FPid; }
    void Kill()
    {
        if (FPid <= 0)
            return;
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
        FPid = 0;
    }

private:
    pid_t FPid = 0;
};
