#include "threads/PoolRun.h"
#include "threads/TaskQueue.h"

#include "support/PostedEvents.h"

#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace vardelle;

class ThreadsTest : public QObject {
    Q_OBJECT

private slots:
    // What the task returns comes back through the future, made on a thread of the pool; a
    // task without a result finishes its future too.
    void poolRunGivesTheResult()
    {
        QThreadPool pool;
        const QThread* caller = QThread::currentThread();
        QFuture<bool> elsewhere =
            runOnPool(&pool, [caller] { return QThread::currentThread() != caller; });
        QVERIFY(elsewhere.result());

        std::atomic<int> ran{0};
        QFuture<void> done = runOnPool(&pool, [&ran] { ++ran; });
        done.waitForFinished();
        QCOMPARE(ran.load(), 1);
        QVERIFY(done.isFinished() && !done.isCanceled());
    }

    // A task whose future is cancelled while it waits for a free thread never runs, and its
    // future still finishes, so that whoever waits on it is released.
    void poolRunSkipsACancelledTask()
    {
        QThreadPool pool;
        pool.setMaxThreadCount(1);
        QSemaphore started, release;
        QFuture<void> busy = runOnPool(&pool, [&] {
            started.release();
            release.acquire();
        });
        QVERIFY(started.tryAcquire(1, 5000));
        std::atomic<bool> ran{false};
        QFuture<int> waiting = runOnPool(&pool, [&ran] {
            ran = true;
            return 1;
        });
        waiting.cancel();
        release.release();
        busy.waitForFinished();
        waiting.waitForFinished();
        QVERIFY(pool.waitForDone(5000));
        QVERIFY(!ran);
        QVERIFY(waiting.isCanceled() && waiting.isFinished());
    }

    // Tasks posted from several threads at once all run, on the queue's thread, each thread's in
    // the order it posted them.
    void queueRunsEveryTaskOnItsThreadInOrder()
    {
        TaskQueue queue;
        constexpr int posters = 4, perPoster = 500;
        QList<int> last(posters, -1);
        int ran = 0;
        bool inOrder = true, onItsThread = true;
        std::vector<std::thread> threads;
        for (int p = 0; p < posters; ++p) {
            threads.emplace_back([&, p] {
                for (int i = 0; i < perPoster; ++i)
                    queue.post([&, p, i] {
                        inOrder = inOrder && last[p] == i - 1;
                        onItsThread = onItsThread && QThread::currentThread() == queue.thread();
                        last[p] = i;
                        ++ran;
                    });
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        QTRY_COMPARE(ran, posters * perPoster);
        QVERIFY(inOrder);
        QVERIFY(onItsThread);
    }

    // A queue that goes away drops what it still holds; a task that destroys its own queue is
    // the last one to run.
    void queueDropsWhatItHoldsWhenDestroyed()
    {
        int ran = 0;
        auto queue = std::make_unique<TaskQueue>();
        queue->post([&] { ++ran; });
        queue.reset();
        QVERIFY(test::deliverPostedEvents());
        QCOMPARE(ran, 0);

        queue = std::make_unique<TaskQueue>();
        queue->post([&] {
            ++ran;
            queue.reset();
        });
        queue->post([&] { ++ran; });
        QTRY_VERIFY(!queue);
        QVERIFY(test::deliverPostedEvents());
        QCOMPARE(ran, 1);
    }

    // A task that posts another leaves it for a later turn of the event loop rather than
    // running it in the same turn, so a task that keeps posting never starves the loop.
    void queueLeavesNewTasksForTheNextTurn()
    {
        TaskQueue queue;
        int ran = 0;
        std::function<void()> again = [&] {
            ++ran;
            queue.post(again);
        };
        queue.post(again);
        QTRY_VERIFY(ran >= 3); // a timer still fires between the turns
        QVERIFY(ran < 100000);
    }
};

QTEST_GUILESS_MAIN(ThreadsTest)
#include "tst_threads.moc"
