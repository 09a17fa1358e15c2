// A queue taken up again after a restart against the real service: a
// submitted job is polled and downloaded without a second upload, a result
// already on disk needs no request at all, and a job the service no longer
// knows is uploaded anew instead of being lost; a job whose creation time
// is not the one saved is another upload's, and its result is not taken.
#include "pipelinefixture.h"
#include "serviceprocess.h"
#include "storedfile.h"
#include "pipeline/queuemanager.h"
#include "pipeline/queuerestorer.h"
#include "pipeline/queuestore.h"
#include "pipeline/webapi.h"
#include "settings/settings.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace pipelinefixture;

class TestQueueResume : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void submittedJobIsPolledNotUploadedAgain();
    void resultOnDiskGoesToPostProcessing();
    void forgottenJobIsUploadedAgain();
    void jobCreatedAtAnotherTimeIsRefused();

private:
    bool startService(const QStringList& options = {});
    std::unique_ptr<QueueManager> startManager();
    bool driveToDone(QueueManager& manager, QueueFile* file);
    void saveRunningJob(const QString& source, QList<StoredFile>& saved);

    std::unique_ptr<ServiceProcess> m_service;
    QTemporaryDir m_dir;
    QTemporaryDir m_data;
};

void TestQueueResume::init()
{
    WebAPI::invalidateToken(QString(), true);
}

void TestQueueResume::cleanup()
{
    m_service.reset();
}

bool TestQueueResume::startService(const QStringList& options)
{
    m_service = std::make_unique<ServiceProcess>(QStringList{"--data-dir", m_data.path()} + options);
    return m_service->start();
}

std::unique_ptr<QueueManager> TestQueueResume::startManager()
{
    auto manager = std::make_unique<QueueManager>();
    manager->setCredentials("demo@sonvira.local", "demo");
    if (!manager->createSessions(m_service->apiUrl().toUtf8(), 1))
        return nullptr;
    return manager;
}

bool TestQueueResume::driveToDone(QueueManager& manager, QueueFile* file)
{
    return driveUntil(manager, [file] { return file->getState() == QueueFileState::Done; }, 30000);
}

// A first run that ends while the service is still processing the job.
void TestQueueResume::saveRunningJob(const QString& source, QList<StoredFile>& saved)
{
    std::unique_ptr<QueueManager> first = startManager();
    QVERIFY(first->addFileToQueue(source, 10, source + ".out.wav", "1: Speech -16 LUFS", ProcessingOptions()));
    QVERIFY2(driveUntil(*first, [&] {
        return first->session(0)->submittedJobId() > 0 && !first->session(0)->jobCreated().isEmpty();
    }), "the first run never polled its job");
    saved = queuestore::take(*first);
}

void TestQueueResume::submittedJobIsPolledNotUploadedAgain()
{
    QVERIFY(startService({"--step-ms", "400"}));
    const QString source = writeWav(m_dir.path(), "polled.wav");
    QList<StoredFile> saved;
    saveRunningJob(source, saved);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved[0].state, QueueFileState::Running);
    QVERIFY(saved[0].jobId > 0);
    QVERIFY(!saved[0].jobCreated.isEmpty());

    std::unique_ptr<QueueManager> second = startManager();
    Settings settings;
    QCOMPARE(queuerestorer::restore(saved, *second, settings), 1);
    QueueFile* file = second->snapshot().first();
    QVERIFY(driveToDone(*second, file));
    second->stop();
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Jobs"), 1);
    QVERIFY(countLogLines(m_service->log(), "GET /api/Jobs/" + QByteArray::number(saved[0].jobId) + "/Result") >= 1);
    QVERIFY(QFileInfo(QString::fromUtf8(file->destFile)).size() > 1000);
}

void TestQueueResume::resultOnDiskGoesToPostProcessing()
{
    QVERIFY(startService());
    const QString result = writeWav(m_dir.path(), "downloaded.wav");
    StoredFile stored;
    stored.state = QueueFileState::PostProcessing;
    stored.jobId = 5;
    stored.srcFile = writeWav(m_dir.path(), "downloaded-source.wav").toUtf8();
    stored.originalSourceFile = stored.srcFile;
    stored.destFile = result.toUtf8();
    stored.presetName = "1: Speech -16 LUFS";

    std::unique_ptr<QueueManager> manager = startManager();
    Settings settings;
    queuerestorer::restore({stored}, *manager, settings);
    QueueFile* file = manager->snapshot().first();
    QList<QueueFileState> states;
    QVERIFY(driveUntil(*manager, [&] {
        if (states.isEmpty() || states.last() != file->getState())
            states.append(file->getState());
        return file->getState() == QueueFileState::Done;
    }));
    manager->stop();
    QVERIFY(states.contains(QueueFileState::PostProcessing));
    QCOMPARE(countLogLines(m_service->log(), "/api/Jobs"), 0);
    QCOMPARE(QString::fromUtf8(file->destFile), result);
}

void TestQueueResume::forgottenJobIsUploadedAgain()
{
    // A service started afresh, numbering its jobs far from the saved one.
    QVERIFY(startService({"--step-ms", "20", "--first-job-id", "9000"}));
    const QString source = writeWav(m_dir.path(), "forgotten.wav");
    StoredFile stored;
    stored.state = QueueFileState::Running;
    stored.jobId = 42;
    stored.srcFile = source.toUtf8();
    stored.originalSourceFile = stored.srcFile;
    stored.destFile = (source + ".out.wav").toUtf8();
    stored.presetName = "2: Music -14 LUFS";

    std::unique_ptr<QueueManager> manager = startManager();
    Settings settings;
    queuerestorer::restore({stored}, *manager, settings);
    QueueFile* file = manager->snapshot().first();
    QVERIFY(driveToDone(*manager, file));
    manager->stop();
    const QByteArray log = m_service->log();
    QVERIFY2(countLogLines(log, "GET /api/Jobs/42") >= 1, log.constData());
    QCOMPARE(countLogLines(log, "POST /api/Jobs"), 1);
    QVERIFY(countLogLines(log, "GET /api/Jobs/9000/Result") >= 1);
    QVERIFY(QFileInfo::exists(QString::fromUtf8(file->destFile)));
}

// Job 1 now belongs to another upload of the very same file, made after the
// saved job: only the creation time tells them apart.
void TestQueueResume::jobCreatedAtAnotherTimeIsRefused()
{
    QVERIFY(startService({"--step-ms", "20"}));
    const QString source = writeWav(m_dir.path(), "reused.wav");
    QVERIFY(logInDemo(m_service->apiUrl().toUtf8()));
    WebAPI other;
    other.setBaseUrl(m_service->apiUrl().toUtf8());
    QCOMPARE(other.submitJob(source, 1, true), 1);
    StoredFile stored = storedFile(source, QueueFileState::Running, 1);
    stored.jobCreated = "2020-01-01T00:00:00.000Z";

    std::unique_ptr<QueueManager> manager = startManager();
    Settings settings;
    queuerestorer::restore({stored}, *manager, settings);
    QueueFile* file = manager->snapshot().first();
    QVERIFY(driveUntil(*manager, [file] { return file->getState() == QueueFileState::Error; }));
    manager->stop();
    QCOMPARE(file->errorMessage(), QByteArray("The service returned a different job"));
    QCOMPARE(countLogLines(m_service->log(), "/Result"), 0);
}

QTEST_GUILESS_MAIN(TestQueueResume)
#include "tst_queueresume.moc"
