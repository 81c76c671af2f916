#pragma once
// Work on a thread of its own whose result comes to its owner's thread, unless the owner let it go
// first: the owner never waits for it. For what may take as long as something else wants: a name
// lookup waits for the resolver, which may never answer.

#include <QMetaObject>
#include <QObject>

#include <memory>
#include <mutex>
#include <thread>
#include <utility>

class TDetached
{
public:
    // Runs `work()` now on a thread of its own; `done(result)` then runs on `owner`'s thread,
    // unless Abandon was called before (or the owner is gone by then).
    template <class Work, class Done>
    static std::shared_ptr<TDetached> Start(QObject* owner, Work work, Done done)
    {
        auto job = std::shared_ptr<TDetached>(new TDetached(owner));
        std::thread([job, work = std::move(work), done = std::move(done)]() mutable {
            auto result = work();
            const std::lock_guard lock(job->FLock);
            if (job->FOwner != nullptr)
                QMetaObject::invokeMethod(
                    job->FOwner,
                    [job, done = std::move(done), result = std::move(result)]() mutable {
                        job->FFinished = true;
                        done(std::move(result));
                    },
                    Qt::QueuedConnection);
        }).detach();
        return job;
    }

    // From the owner's thread: the result is no longer wanted. Never waits.
    void Abandon()
    {
        const std::lock_guard lock(FLock);
        FOwner = nullptr;
    }
    // On the owner's thread: whether `done` has run.
    bool Finished() const { return FFinished; }

private:
    explicit TDetached(QObject* owner) : FOwner(owner) {}

    std::mutex FLock;
    QObject* FOwner;
    bool FFinished = false;
};
