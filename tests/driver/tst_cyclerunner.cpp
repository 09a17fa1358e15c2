#include "driver/cyclerunner.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <mutex>

// The background runner: one run at a time, requests never wait, and the
// destructor lets a run finish before it returns.
class TestCycleRunner : public QObject {
    Q_OBJECT

private slots:
    void oneRunAtATimeAndNoWaiting();
    void destructorWaitsForTheRunningWork();
    void requestDuringARunIsFollowedByOneMore();
};

namespace {

// Work that blocks until the test opens the gate.
struct Gate {
    std::mutex lock;
    std::condition_variable opened;
    bool open = false;
    std::atomic<int> runs{0};
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};

    void work()
    {
        ++runs;
        const int now = ++inside;
        if (now > mostInside)
            mostInside = now;
        std::unique_lock<std::mutex> guard(lock);
        opened.wait(guard, [this] { return open; });
        --inside;
    }
    void release()
    {
        {
            const std::lock_guard<std::mutex> guard(lock);
            open = true;
        }
        opened.notify_all();
    }
};

} // namespace

void TestCycleRunner::oneRunAtATimeAndNoWaiting()
{
    Gate gate;
    CycleRunner runner([&gate] { gate.work(); });
    QVERIFY(runner.startIfIdle());
    QTRY_COMPARE(gate.inside.load(), 1);

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 100; ++i)
        QVERIFY(!runner.startIfIdle());
    QVERIFY(clock.elapsed() < 1000); // refused at once while the work is blocked
    QVERIFY(runner.isBusy());

    gate.release();
    QTRY_VERIFY(!runner.isBusy());
    QVERIFY(runner.startIfIdle());
    QTRY_COMPARE(gate.runs.load(), 2);
    QTRY_VERIFY(!runner.isBusy());
    QCOMPARE(gate.mostInside.load(), 1);
}

void TestCycleRunner::destructorWaitsForTheRunningWork()
{
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    {
        CycleRunner runner([&started, &finished] {
            started = true;
            QThread::msleep(200);
            finished = true;
        });
        QVERIFY(runner.startIfIdle());
        QTRY_VERIFY(started);
    }
    QVERIFY(finished);
}

// A change made while the cycle runs must not wait for the next timer: the
// run in progress is followed by exactly one more, however many requests
// came meanwhile, and each run reports its end.
void TestCycleRunner::requestDuringARunIsFollowedByOneMore()
{
    Gate gate;
    std::atomic<int> ends{0};
    CycleRunner runner([&gate] { gate.work(); }, [&ends] { ++ends; });
    runner.requestRun();
    QTRY_COMPARE(gate.inside.load(), 1);
    for (int i = 0; i < 5; ++i)
        runner.requestRun();
    QVERIFY(!runner.startIfIdle());
    gate.release();
    QTRY_COMPARE(ends.load(), 2);
    QTRY_VERIFY(!runner.isBusy());
    QCOMPARE(gate.runs.load(), 2);
    QCOMPARE(gate.mostInside.load(), 1);
}

QTEST_GUILESS_MAIN(TestCycleRunner)
#include "tst_cyclerunner.moc"
