#include "pipelinefixture.h"
#include "serviceprocess.h"

#include "pipeline/queuemanager.h"
#include "pipeline/webapi.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>

using namespace pipelinefixture;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool sessionIs(SessionManager* session, int wanted)
{
    int state = -1;
    return session && session->getState(state) && state == wanted;
}

} // namespace

// The queue manager against the real service, with the local steps of the
// queue driver taken as done at once.
class TestQueueService : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void wholeJobToDone();
    void logInFailureIsShownAndRetried();
    void unknownPresetFailsTheFile();
    void filesThatCouldNotEndWellUploadNothing();
    void sessionErrorsReachTheFile_data();
    void sessionErrorsReachTheFile();
    void expiredTokenLeadsToANewLogIn();
    void twoSessionsShareThreeFiles();
    void sessionsAreCappedAndCreatedOnce();
    void sessionsFollowTheNumberOfParallelJobs();
    void queueNamingAndRefusals();
    void logoutPutsRunningFilesBack();
    void pausedFileFreesItsSession();
    void pausedAndMovedFilesFollowTheQueueOrder();
    void removedFileDoesNotHoldItsSession();
    void newAddressIsUsedAfterANewLogIn();

private:
    bool startManager(const QStringList& serviceOptions, int sessions = 1);
    bool waitUntilServing();
    QueueFile* add(const QString& name, const QByteArray& preset = "1: Speech -16 LUFS");
    bool driveToState(QueueFile* file, QueueFileState state, int timeoutMs = 20000);

    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<QueueManager> m_manager;
    QTemporaryDir m_dir;
    QTemporaryDir m_data;
};

void TestQueueService::init()
{
    WebAPI::invalidateToken(QString(), true);
}

void TestQueueService::cleanup()
{
    if (m_manager)
        m_manager->stop();
    m_manager.reset();
    m_service.reset();
    QVERIFY(partialFiles(m_dir.path()).isEmpty());
}

bool TestQueueService::startManager(const QStringList& serviceOptions, int sessions)
{
    m_service = std::make_unique<ServiceProcess>(QStringList{"--step-ms", "20", "--data-dir", m_data.path()}
                                                 + serviceOptions);
    if (!m_service->start())
        return false;
    m_manager = std::make_unique<QueueManager>();
    m_manager->setCredentials("demo@sonvira.local", "demo");
    return m_manager->createSessions(m_service->apiUrl().toUtf8(), sessions);
}

// Logged in, presets loaded and every session waiting for a file.
bool TestQueueService::waitUntilServing()
{
    return driveUntil(*m_manager, [this] {
        if (m_manager->state() != QueueManager::Running)
            return false;
        for (int slot = 0; slot < m_manager->sessionCount(); ++slot) {
            if (!sessionIs(m_manager->session(slot), SessionManager::WaitingForInput))
                return false;
        }
        return true;
    });
}

QueueFile* TestQueueService::add(const QString& name, const QByteArray& preset)
{
    const QString source = writeWav(m_dir.path(), name);
    return m_manager->addFileToQueue(source, 10, m_dir.filePath("out-" + name), preset, ProcessingOptions());
}

bool TestQueueService::driveToState(QueueFile* file, QueueFileState state, int timeoutMs)
{
    return driveUntil(*m_manager, [&] { return file->getState() == state; }, timeoutMs);
}

void TestQueueService::wholeJobToDone()
{
    QVERIFY(startManager({"--step-ms", "60"}));
    QCOMPARE(m_manager->state(), int(QueueManager::WaitingForLoginInfo));
    QVERIFY(waitUntilServing());
    QVERIFY(m_manager->hasToken());
    QCOMPARE(m_manager->presets().size(), 4);
    QCOMPARE(m_manager->lastPreset(), QByteArray("1: Speech -16 LUFS"));

    QueueFile* file = add("whole.wav", "2: Music -14 LUFS");
    QVERIFY(file);
    QList<QueueFileState> states{file->getState()};
    QList<QByteArray> details;
    QVERIFY(driveUntil(*m_manager, [&] {
        if (states.last() != file->getState())
            states.append(file->getState());
        if (!file->details().isEmpty() && (details.isEmpty() || details.last() != file->details()))
            details.append(file->details());
        return file->getState() == QueueFileState::Done;
    }));
    QCOMPARE(states, (QList<QueueFileState>{QueueFileState::Waiting, QueueFileState::PreProcessing,
                                            QueueFileState::Running, QueueFileState::PostProcessing,
                                            QueueFileState::Done}));
    QVERIFY2(std::any_of(details.begin(), details.end(),
                         [](const QByteArray& text) { return text.startsWith("Processing File Processing"); }),
             details.join(" | ").constData());

    QCOMPARE(file->sessionId.load(), m_manager->session(0)->number());
    QCOMPARE(file->destFile, QDir::toNativeSeparators(m_dir.filePath("out-whole.wav")).toUtf8());
    const int jobId = m_manager->session(0)->lastJobDone();
    const QByteArray result = readAll(QString::fromUtf8(file->destFile));
    QVERIFY(!result.isEmpty());
    QCOMPARE(result, readAll(QDir(m_data.path()).filePath(QStringLiteral("results/%1.wav").arg(jobId))));
    QCOMPARE(m_manager->getCredit(), 99.0f);
    QVERIFY(file->errorMessage().isEmpty());
    QCOMPARE(file->toString(), "File ID: " + QByteArray::number(file->fileId) + " Session ID: "
                                   + QByteArray::number(file->sessionId.load()) + " details: " + file->details()
                                   + " state: 6 srcfile: /whole.wav destfile: -whole.wav errorMessage: ");
    QVERIFY(driveUntil(*m_manager, [&] { return sessionIs(m_manager->session(0), SessionManager::WaitingForInput); }));
}

void TestQueueService::logInFailureIsShownAndRetried()
{
    QVERIFY(startManager({}));
    m_manager->setCredentials("demo@sonvira.local", "wrong");
    m_manager->cycle(false, false);
    QCOMPARE(m_manager->state(), int(QueueManager::WaitingForLoginInfo));
    QCOMPARE(m_manager->statusMessage(), QByteArray("Can't log in: Invalid username/password (401)"));
    // An empty password is not tried: the earlier failure is no longer news.
    m_manager->setCredentials("demo@sonvira.local", "");
    m_manager->cycle(false, false);
    QCOMPARE(m_manager->state(), int(QueueManager::WaitingForLoginInfo));
    QCOMPARE(m_manager->statusMessage(), QByteArray());

    m_manager->setCredentials("demo@sonvira.local", "demo");
    m_manager->cycle(false, false);
    QVERIFY(QueueManager::isWorking(m_manager->state()));
    QVERIFY(waitUntilServing());
}

void TestQueueService::unknownPresetFailsTheFile()
{
    QVERIFY(startManager({}));
    QVERIFY(waitUntilServing());
    QueueFile* file = add("unknown.wav", "9: Not offered");
    QVERIFY(driveToState(file, QueueFileState::Error));
    QCOMPARE(file->errorMessage(), QByteArray("Invalid preset"));
    QVERIFY(!file->retryable());
}

void TestQueueService::filesThatCouldNotEndWellUploadNothing()
{
    // Nobody may write here, not even root: the kernel's settings tree.
    const QString readOnlyFolder = QStringLiteral("/proc/sys");
    const QString readOnlyFile = QStringLiteral("/proc/sys/kernel/osrelease");
    if (QFileInfo(readOnlyFolder).isWritable() || QFileInfo(readOnlyFile).isWritable()
        || !QFileInfo::exists(readOnlyFile))
        QSKIP("no read-only folder and file on this machine");
    QVERIFY(startManager({}));
    QVERIFY(waitUntilServing());
    const QByteArray preset = "1: Speech -16 LUFS";
    QueueFile* unsaveable = m_manager->addFileToQueue(writeWav(m_dir.path(), "unsaveable.wav"), 10,
                                                      readOnlyFolder + QStringLiteral("/out.wav"), preset,
                                                      ProcessingOptions());
    ProcessingOptions replacing;
    replacing.preProcessing_Result = 0;
    replacing.preProcessing_Arguments = QStringLiteral("nredOp00: --alwayson");
    QueueFile* readOnly = m_manager->addFileToQueue(readOnlyFile, 10, m_dir.filePath("osrelease.wav"), preset, replacing);
    QueueFile* fine = add("fine.wav");
    QVERIFY(unsaveable && readOnly && fine);
    QVERIFY(driveToState(fine, QueueFileState::Done));

    QCOMPARE(unsaveable->getState(), QueueFileState::Error);
    QCOMPARE(unsaveable->errorMessage(), QByteArray("The destination folder is not writable."));
    QVERIFY(unsaveable->retryable());
    QCOMPARE(readOnly->getState(), QueueFileState::Error);
    QCOMPARE(readOnly->errorMessage(), QByteArray("Source file is read-only"));
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Jobs"), 1);

    // Submitted again, it is asked again, and again nothing is uploaded.
    unsaveable->setState(QueueFileState::Waiting);
    QVERIFY(driveToState(unsaveable, QueueFileState::Error));
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Jobs"), 1);
}

void TestQueueService::sessionErrorsReachTheFile_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<bool>("retryable");
    QTest::newRow("415") << QStringList{"--reject-uploads"} << QByteArray("Invalid audio file format") << false;
    QTest::newRow("11") << QStringList{"--fail-jobs"} << QByteArray("Error processing file (err 11)") << true;
    QTest::newRow("12") << QStringList{"--credit", "0"} << QByteArray("Error: Insufficient credit to proceed") << true;
}

void TestQueueService::sessionErrorsReachTheFile()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, error);
    QFETCH(bool, retryable);
    QVERIFY(startManager(options));
    QVERIFY(waitUntilServing());
    QueueFile* file = add("error.wav");
    QVERIFY(driveToState(file, QueueFileState::Error));
    QCOMPARE(file->errorMessage(), error);
    QCOMPARE(file->retryable(), retryable);
    // The session is free for the next file.
    QVERIFY(driveUntil(*m_manager, [&] { return sessionIs(m_manager->session(0), SessionManager::WaitingForInput)
                                                && m_manager->session(0)->currentFileId() == 0; }));
}

void TestQueueService::expiredTokenLeadsToANewLogIn()
{
    QVERIFY(startManager({"--expire-token-after", "4"}));
    QVERIFY(waitUntilServing());
    QueueFile* file = add("expiring.wav");
    QVERIFY(driveToState(file, QueueFileState::Done, 30000));
    QVERIFY(countLogLines(m_service->log(), "POST /api/Login") >= 2);
    QVERIFY(file->errorMessage().isEmpty());
}

void TestQueueService::twoSessionsShareThreeFiles()
{
    QVERIFY(startManager({}, 2));
    QVERIFY(waitUntilServing());
    QueueFile* first = add("one.wav");
    QueueFile* second = add("two.wav");
    QueueFile* third = add("three.wav");
    m_manager->cycle(false, false);
    QCOMPARE(first->getState(), QueueFileState::PreProcessing);
    QCOMPARE(second->getState(), QueueFileState::PreProcessing);
    QCOMPARE(third->getState(), QueueFileState::Waiting);
    QCOMPARE(first->sessionId.load(), m_manager->session(0)->number());
    QCOMPARE(second->sessionId.load(), m_manager->session(1)->number());

    QVERIFY(driveUntil(*m_manager, [&] {
        return first->getState() == QueueFileState::Done && second->getState() == QueueFileState::Done
            && third->getState() == QueueFileState::Done;
    }, 30000));
    QVERIFY(QFileInfo::exists(QString::fromUtf8(third->destFile)));
}

// The number changed while files run: the missing sessions start at the
// next cycle and take files; after a smaller number, a session that holds a
// file finishes it and takes no new one. No file is lost or uploaded twice.
void TestQueueService::sessionsFollowTheNumberOfParallelJobs()
{
    QVERIFY(startManager({"--step-ms", "200"}, 1));
    QVERIFY(waitUntilServing());
    QList<QueueFile*> files;
    for (int i = 0; i < 6; ++i)
        files << add(QStringLiteral("f%1.wav").arg(i));
    const auto count = [&](const std::function<bool(const QueueFile*)>& holds) {
        return int(std::count_if(files.cbegin(), files.cend(), holds));
    };
    const auto inFlight = [](const QueueFile* file) {
        const QueueFileState state = file->getState();
        return state != QueueFileState::Waiting && state != QueueFileState::Done;
    };
    m_manager->setParallelJobs(3);
    QCOMPARE(m_manager->parallelJobs(), 3);
    QVERIFY(driveUntil(*m_manager, [&] { return count(inFlight) == 3; }, 30000));
    QCOMPARE(m_manager->sessionCount(), 3);

    m_manager->setParallelJobs(1);
    QVERIFY(driveUntil(*m_manager, [&] {
        return count([](const QueueFile* file) { return file->getState() == QueueFileState::Done; }) == 6;
    }, 60000));
    for (int slot : {1, 2}) {
        const int number = m_manager->session(slot)->number();
        QCOMPARE(count([number](const QueueFile* file) { return file->sessionId.load() == number; }), 1);
    }
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Jobs ->"), 6);
}

void TestQueueService::sessionsAreCappedAndCreatedOnce()
{
    QVERIFY(startManager({}, 9));
    QCOMPARE(m_manager->sessionCount(), QueueManager::kMaxSessions);
    QVERIFY(waitUntilServing());
    QSet<int> numbers;
    for (int slot = 0; slot < QueueManager::kMaxSessions; ++slot)
        numbers.insert(m_manager->session(slot)->number());
    QCOMPARE(numbers.size(), QueueManager::kMaxSessions);

    QVERIFY_THROWS_EXCEPTION(std::runtime_error, m_manager->createSessions(m_service->apiUrl().toUtf8(), 1));
    QCOMPARE(m_manager->state(), int(QueueManager::Error));
    QCOMPARE(m_manager->sessionCount(), QueueManager::kMaxSessions);
    // In Error the cycle serves nobody.
    QueueFile* file = add("after-second-call.wav");
    for (int i = 0; i < 5; ++i)
        driveOnce(*m_manager);
    QCOMPARE(file->getState(), QueueFileState::Waiting);
}

void TestQueueService::queueNamingAndRefusals()
{
    QVERIFY(startManager({}));
    QList<QByteArray> reported;
    m_manager->setOnDestFileAdded([&reported](const QByteArray& path) { reported.append(path); });
    QVERIFY(waitUntilServing());
    const QString source = writeWav(m_dir.path(), "same.wav");
    const auto native = [this](const char* name) { return QDir::toNativeSeparators(m_dir.filePath(name)).toUtf8(); };

    QueueFile* first = m_manager->addFileToQueue(source, 10, source, "2: Music -14 LUFS", ProcessingOptions());
    QVERIFY(first);
    QCOMPARE(first->destFile, native("same (1).wav"));
    QueueFile* second = m_manager->addFileToQueue(source, 10, source, "2: Music -14 LUFS", ProcessingOptions());
    QVERIFY(second);
    QCOMPARE(second->destFile, native("same (2).wav"));
    QFile taken(m_dir.filePath("same (3).wav"));
    QVERIFY(taken.open(QIODevice::WriteOnly));
    taken.close();
    QueueFile* third = m_manager->addFileToQueue(source, 100, source, "3: Broadcast -23 LUFS", ProcessingOptions());
    QVERIFY(third);
    QCOMPARE(third->destFile, native("same (4).wav"));
    QCOMPARE(third->priority, 100);
    QCOMPARE(third->originalSourceFile, source.toUtf8());
    QCOMPARE(reported, (QList<QByteArray>{first->destFile, second->destFile, third->destFile}));
    QCOMPARE(m_manager->lastPreset(), QByteArray("3: Broadcast -23 LUFS"));

    QVERIFY(!m_manager->addFileToQueue(m_dir.filePath("missing.wav"), 10, m_dir.filePath("missing-out.wav"),
                                       "1: Speech -16 LUFS", ProcessingOptions()));
    QCOMPARE(m_manager->lastError(), QByteArray("Source file does not exist."));
    QVERIFY(!m_manager->addFileToQueue(source, 10, m_dir.filePath("no-such-folder/out.wav"), "1: Speech -16 LUFS",
                                       ProcessingOptions()));
    QCOMPARE(m_manager->lastError(), QByteArray("Destination directory does not exist."));
    QCOMPARE(m_manager->snapshot().size(), 3);
    QCOMPARE(m_manager->lastPreset(), QByteArray("3: Broadcast -23 LUFS"));

    // The result lands under the name the queue chose; the source stays.
    QVERIFY(driveToState(first, QueueFileState::Done));
    QVERIFY(QFileInfo::exists(QString::fromUtf8(first->destFile)));
    QVERIFY(QFileInfo::exists(source));
    m_manager->setOnDestFileAdded(nullptr);
}

void TestQueueService::logoutPutsRunningFilesBack()
{
    QVERIFY(startManager({"--stall", "/Jobs:2"}));
    QVERIFY(waitUntilServing());
    QueueFile* file = add("logout.wav");
    QVERIFY(driveToState(file, QueueFileState::Running));
    QVERIFY(driveUntil(*m_manager, [&] { return !file->details().isEmpty(); }));

    m_manager->logout();
    QVERIFY(!m_manager->hasToken());
    m_manager->cycle(false, false);
    QCOMPARE(file->getState(), QueueFileState::Waiting);
    QVERIFY(file->details().isEmpty());
    QCOMPARE(m_manager->state(), int(QueueManager::WaitingForLoginInfo));
    m_manager->cycle(false, false);
    QCOMPARE(file->getState(), QueueFileState::Waiting);

    m_manager->enableLogin();
    QVERIFY(driveToState(file, QueueFileState::Done, 30000));
    QCOMPARE(m_manager->session(0)->lastJobDone(), m_manager->session(0)->jobId());
}

void TestQueueService::pausedFileFreesItsSession()
{
    QVERIFY(startManager({"--step-ms", "400"}));
    QVERIFY(waitUntilServing());
    QueueFile* file = add("paused.wav");
    QVERIFY(driveUntil(*m_manager, [&] { return sessionIs(m_manager->session(0), SessionManager::Processing); }));
    file->setState(QueueFileState::Paused);
    QVERIFY(driveUntil(*m_manager, [&] { return m_manager->session(0)->currentFileId() == 0; }));
    QCOMPARE(file->getState(), QueueFileState::Paused);

    QueueFile* next = add("after-pause.wav");
    QVERIFY(driveToState(next, QueueFileState::Done, 30000));
    QCOMPARE(file->getState(), QueueFileState::Paused);
}

// The cycle takes Waiting files in list order: a paused file is passed over
// until it is resumed, and a moved file is taken at its new place.
void TestQueueService::pausedAndMovedFilesFollowTheQueueOrder()
{
    QVERIFY(startManager({}));
    QueueFile* held = add("held.wav");
    QueueFile* second = add("second.wav");
    const QString longer = writeWav(m_dir.path(), "third.wav", 2.0);
    QueueFile* third = m_manager->addFileToQueue(longer, 10, m_dir.filePath("out-third.wav"), "1: Speech -16 LUFS",
                                                 ProcessingOptions());
    QVERIFY(m_manager->pauseFile(held->fileId));
    QVERIFY(m_manager->moveFile(third->fileId, -1));
    QVERIFY(driveUntil(*m_manager, [&] { return second->getState() == QueueFileState::Done; }, 30000));
    QCOMPARE(third->getState(), QueueFileState::Done);
    QCOMPARE(held->getState(), QueueFileState::Paused);
    const QList<qint64> sizes = m_service->uploadSizes();
    QCOMPARE(sizes.size(), 2);
    QVERIFY2(sizes[0] > sizes[1], m_service->log().constData()); // the longer third file went first

    QVERIFY(m_manager->resumeFile(held->fileId));
    QVERIFY(driveToState(held, QueueFileState::Done));
    QCOMPARE(m_service->uploadSizes().size(), 3);
}

void TestQueueService::removedFileDoesNotHoldItsSession()
{
    QVERIFY(startManager({}));
    QVERIFY(waitUntilServing());
    QueueFile* file = add("removed.wav");
    QVERIFY(driveToState(file, QueueFileState::Running));
    m_manager->removeFile(file->fileId);
    QVERIFY(driveUntil(*m_manager, [&] {
        return m_manager->session(0)->lastJobDone() > 0 && m_manager->session(0)->currentFileId() == 0;
    }));
    QCOMPARE(file->getState(), QueueFileState::Running);
    QueueFile* next = add("after-remove.wav");
    QVERIFY(driveToState(next, QueueFileState::Done));
}

void TestQueueService::newAddressIsUsedAfterANewLogIn()
{
    QVERIFY(startManager({}));
    QVERIFY(waitUntilServing());
    ServiceProcess other({"--step-ms", "20"});
    QVERIFY2(other.start(), qPrintable(other.errorString()));
    m_manager->setApiUrl(other.apiUrl().toUtf8());
    QCOMPARE(m_manager->apiUrl(), other.apiUrl().toUtf8());
    QVERIFY(!m_manager->hasToken());

    QueueFile* file = add("moved.wav");
    QVERIFY(driveToState(file, QueueFileState::Done));
    QVERIFY2(countLogLines(other.log(), "POST /api/Login") == 1, other.log().constData());
    QCOMPARE(countLogLines(other.log(), "POST /api/Jobs"), 1);
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Jobs"), 0);
    m_manager->stop();
}

QTEST_GUILESS_MAIN(TestQueueService)
#include "tst_queueservice.moc"
