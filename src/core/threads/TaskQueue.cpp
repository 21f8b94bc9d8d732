#include "threads/TaskQueue.h"

#include <QPointer>

#include <cstddef>
#include <utility>

namespace vardelle {

TaskQueue::TaskQueue(QObject* parent)
    : QObject(parent)
{
}

void TaskQueue::post(std::function<void()> task)
{
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
        wake = !std::exchange(m_wakeUpPending, true);
    }
    // By name, so that the queued call carries nothing made here.
    if (wake)
        QMetaObject::invokeMethod(this, "runPosted", Qt::QueuedConnection);
}

void TaskQueue::runPosted()
{
    // The tasks queued by now, one at a time: a task may post more (they wait for the next
    // wake-up, so the event loop is never starved) or destroy this queue (the rest are dropped).
    const QPointer<TaskQueue> alive(this);
    std::size_t count = 0;
    {
        const std::lock_guard lock(m_mutex);
        m_wakeUpPending = false;
        count = m_tasks.size();
    }
    for (; count > 0 && alive; --count) {
        std::function<void()> task;
        {
            const std::lock_guard lock(m_mutex);
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

} // namespace vardelle
