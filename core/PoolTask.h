#pragma once
// Work handed to the application's thread pool, with a future for its result.

#include <QThreadPool>

#include <future>
#include <memory>
#include <type_traits>
#include <utility>

// Runs `work` on a thread of the application's pool and returns the future of its result. A
// picture painted there fills its shapes on that thread, where painting on another thread hands
// each large fill to the pool's threads and waits for them.
template <class Work> std::future<std::invoke_result_t<Work>> RunOnPool(Work work)
{
    using Result = std::invoke_result_t<Work>;
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
    std::future<Result> result = task->get_future();
    QThreadPool::globalInstance()->start([task] { (*task)(); });
    return result;
}
