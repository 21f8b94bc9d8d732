#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace vardelle {

// Runs functions on the thread this object lives in, in the order they were posted, from any
// thread. The functions themselves pass through a lock of this object's own rather than through
// Qt's posted-event queue, whose locks sit inside QtCore where ThreadSanitizer cannot see them:
// only a bare wake-up, made and read by Qt alone, goes through Qt. Functions still queued when
// the object is destroyed are dropped unrun.
class TaskQueue : public QObject {
    Q_OBJECT

public:
    explicit TaskQueue(QObject* parent = nullptr);

    void post(std::function<void()> task);

private:
    Q_INVOKABLE void runPosted();

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks; // guarded by m_mutex
    bool m_wakeUpPending = false;              // guarded by m_mutex
};

} // namespace vardelle
