#include "driver/batchprogress.h"
#include "pipeline/queuefile.h"

#include <QTest>

#include <memory>
#include <vector>

// The batch figures as the queue tick keeps them, on queue records moved
// through their states by hand and a clock given in seconds: counts, the
// percentage worked out from where each file stands, the time left from the
// files finished so far, and which files belong to the batch.
class TestBatchProgress : public QObject {
    Q_OBJECT

private slots:
    void init();
    void figuresFollowABatchToItsEnd();
    void filesJoinAndLeaveTheBatch();
    void durationsReadAsEstimates();

private:
    QueueFile* add(QueueFileState state = QueueFileState::Waiting);
    void remove(QueueFile* file) { queue.removeOne(file); }
    // Let go of by the driver, finished.
    void release(QueueFile* file)
    {
        batch->released(file->fileId);
        remove(file);
    }
    BatchFigures look(int seconds) { return batch->update(queue, qint64(seconds) * 1000); }

    std::vector<std::unique_ptr<QueueFile>> records;
    QList<QueueFile*> queue;
    std::unique_ptr<BatchProgress> batch;
};

QueueFile* TestBatchProgress::add(QueueFileState state)
{
    records.push_back(std::make_unique<QueueFile>("1: Speech"));
    records.back()->setState(state);
    queue.append(records.back().get());
    return records.back().get();
}

void TestBatchProgress::init()
{
    queue.clear();
    records.clear();
    batch = std::make_unique<BatchProgress>();
}

void TestBatchProgress::figuresFollowABatchToItsEnd()
{
    QCOMPARE(look(0).text(), QStringLiteral("Idle"));
    QueueFile* a = add();
    QueueFile* b = add();
    QueueFile* c = add();
    QueueFile* d = add();
    BatchFigures figures = look(0);
    QCOMPARE(figures.text(), QStringLiteral("0 of 4 files, 0 %"));
    QCOMPARE(figures.waiting, 4);

    // Half of a's processing at the service is 0.3 + 0.5 / 2 of its way,
    // b's pre-processing 0.05: 0.6 of 4 files is 15 %.
    a->setState(QueueFileState::Running);
    a->setProgress({FileProgress::Step::Processing, 50});
    b->setState(QueueFileState::PreProcessing);
    figures = look(10);
    QCOMPARE(figures.percent, 15);
    QCOMPARE(figures.waiting, 2);

    a->setState(QueueFileState::Done);
    QCOMPARE(look(60).text(), QStringLiteral("1 of 4 files, 26 %"));

    // Two files in 100 s: 50 s each, 2 to go.
    b->setState(QueueFileState::Error);
    figures = look(100);
    QCOMPARE(figures.secondsLeft, 100);
    QCOMPARE(figures.text(), QStringLiteral("2 of 4 files, 50 %, about 2 min left"));
    QCOMPARE(look(130).secondsLeft, 70);
    QCOMPARE(look(300).secondsLeft, 0);

    c->setState(QueueFileState::Done);
    d->setState(QueueFileState::Done);
    figures = look(310);
    QVERIFY(!figures.running);
    QCOMPARE(figures.percent, 100);
    QCOMPARE(figures.text(), QStringLiteral("All 4 files done, 1 error"));

    // Told until its files have all left the queue; those let go of by the
    // driver stay counted, one the user removed leaves the batch.
    release(a);
    release(b);
    remove(c);
    QCOMPARE(look(320).text(), QStringLiteral("All 3 files done, 1 error"));
    remove(d);
    QVERIFY(look(330).idle());
}

void TestBatchProgress::filesJoinAndLeaveTheBatch()
{
    // A finished file of the last run is not one of the batch.
    add(QueueFileState::Done);
    QueueFile* waiting = add();
    QueueFile* paused = add();
    QueueFile* removed = add();
    QCOMPARE(look(0).total, 3);
    paused->setState(QueueFileState::Paused);
    remove(removed);
    QCOMPARE(look(1).total, 1);

    waiting->setState(QueueFileState::Error);
    QCOMPARE(look(2).text(), QStringLiteral("1 file failed"));

    // Submitted again, it begins a new batch; a file refused between two
    // looks joins it finished; one done and let go of stays counted.
    waiting->setState(QueueFileState::Waiting);
    BatchFigures figures = look(3);
    QVERIFY(figures.running);
    QCOMPARE(figures.total, 1);
    QueueFile* refused = add(QueueFileState::Error);
    QueueFile* released = add();
    QCOMPARE(look(4).text(), QStringLiteral("1 of 3 files, 33 %"));
    // Failed and submitted again within the batch, a file counts once, by
    // its latest outcome.
    waiting->setState(QueueFileState::Error);
    QCOMPARE(look(5).errors, 2);
    waiting->setState(QueueFileState::Waiting);
    QCOMPARE(look(6).text(), QStringLiteral("1 of 3 files, 33 %"));
    released->setState(QueueFileState::Done);
    look(7);
    release(released);
    waiting->setState(QueueFileState::Done);
    QCOMPARE(look(8).text(), QStringLiteral("All 3 files done, 1 error"));
    remove(refused);
    QCOMPARE(look(9).text(), QStringLiteral("All 2 files done"));
}

void TestBatchProgress::durationsReadAsEstimates()
{
    QCOMPARE(durationText(0), QStringLiteral("5 s"));
    QCOMPARE(durationText(41), QStringLiteral("45 s"));
    QCOMPARE(durationText(57), QStringLiteral("1 min"));
    QCOMPARE(durationText(150), QStringLiteral("3 min"));
    QCOMPARE(durationText(7500), QStringLiteral("2 h 5 min"));
}

QTEST_GUILESS_MAIN(TestBatchProgress)
#include "tst_batchprogress.moc"
