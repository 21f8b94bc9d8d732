#pragma once

#include "threads/HandOver.h"

#include <QFuture>
#include <QPromise>
#include <QRunnable>
#include <QThreadPool>

#include <type_traits>
#include <utility>

namespace vardelle {

namespace detail {

template <class Task, class Result> class PoolTask final : public QRunnable {
public:
    explicit PoolTask(Task task)
        : m_task(std::move(task))
    {
        m_promise.start();
    }

    QFuture<Result> future() { return m_promise.future(); }

    void run() override
    {
        handOverAcquire(this);
        if (!m_promise.isCanceled()) {
            if constexpr (std::is_void_v<Result>)
                m_task();
            else
                m_promise.addResult(m_task());
        }
        m_promise.finish();
    }

private:
    Task m_task;
    QPromise<Result> m_promise;
};

} // namespace detail

// Runs `task` on `pool` and gives the future of what it returns, like QtConcurrent::run: a task
// whose future was cancelled before it started does not run. The task, its captures and the
// future's state are handed to the pool's thread visibly to ThreadSanitizer.
template <class Task> auto runOnPool(QThreadPool* pool, Task task)
{
    using Result = std::invoke_result_t<Task&>;
    auto* runnable = new detail::PoolTask<Task, Result>(std::move(task));
    QFuture<Result> future = runnable->future();
    handOverRelease(runnable);
    pool->start(runnable);
    return future;
}

} // namespace vardelle
