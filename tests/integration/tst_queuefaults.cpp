#include "pipelinefixture.h"
#include "serviceprocess.h"

#include "pipeline/queuemanager.h"
#include "pipeline/webapi.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

using namespace pipelinefixture;

namespace {

bool sessionIs(SessionManager* session, int wanted)
{
    int state = -1;
    return session && session->getState(state) && state == wanted;
}

// Runs the cycle on a thread of its own, as the main window's runner does,
// with `pauseMs` between two cycles, until destroyed.
class CycleThread {
public:
    explicit CycleThread(QueueManager& manager, int pauseMs = 10)
        : m_thread([this, &manager, pauseMs] {
              while (!m_stop) {
                  manager.cycle(false, false);
                  ++m_cycles;
                  std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
              }
          })
    {
    }
    ~CycleThread()
    {
        m_stop = true;
        m_thread.join();
    }
    int cycles() const { return m_cycles; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_cycles{0};
    std::thread m_thread;
};

} // namespace

// The queue manager under log-outs, wrong passwords and a service that
// holds the log-in, with the queue driver's local steps done by hand.
class TestQueueFaults : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void logoutLetsAPreProcessedFileWaitForTheNextLogIn();
    void logoutTakesAResultAlreadyDownloaded();
    void logoutLetsPostProcessingEndInDone();
    void wrongPasswordIsRetriedWithBackOff();
    void busyLogInWaitsAsTheServiceAsks();
    void requestsDoNotWaitForAStalledLogIn();
    void failedPostProcessingIsNeverDone();
    void failingPollsKeepTheJobForSubmitAgain();
    void uploadNeverTakenIsServiceTrouble();
    void lostUploadAnswerIsSentOnceMore();
    void refusalsAreNotAnsweredInALoop_data();
    void refusalsAreNotAnsweredInALoop();

private:
    bool startManager(const QStringList& serviceOptions);
    QueueFile* add(const QString& name);
    // Cycles (no local steps) until `done` holds.
    bool cycleUntil(const std::function<bool()>& done, int timeoutMs = 20000);
    int jobsPosted() const { return countLogLines(m_service->log(), "POST /api/Jobs ->"); }

    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<QueueManager> m_manager;
    QTemporaryDir m_dir;
};

void TestQueueFaults::init()
{
    WebAPI::invalidateToken(QString(), true);
}

void TestQueueFaults::cleanup()
{
    if (m_manager)
        m_manager->stop();
    m_manager.reset();
    m_service.reset();
    SessionManager::setRetryLimit(SessionManager::kDefaultRetryLimitMs);
    QVERIFY(partialFiles(m_dir.path()).isEmpty());
}

bool TestQueueFaults::startManager(const QStringList& serviceOptions)
{
    m_service = std::make_unique<ServiceProcess>(QStringList{"--step-ms", "20"} + serviceOptions);
    if (!m_service->start())
        return false;
    m_manager = std::make_unique<QueueManager>();
    m_manager->setCredentials("demo@sonvira.local", "demo");
    return m_manager->createSessions(m_service->apiUrl().toUtf8(), 1);
}

QueueFile* TestQueueFaults::add(const QString& name)
{
    const QString source = writeWav(m_dir.path(), name);
    return m_manager->addFileToQueue(source, 10, m_dir.filePath("out-" + name), "1: Speech -16 LUFS",
                                     ProcessingOptions());
}

bool TestQueueFaults::cycleUntil(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        m_manager->cycle(false, false);
        if (done())
            return true;
        QTest::qWait(20);
    }
    return false;
}

void TestQueueFaults::logoutLetsAPreProcessedFileWaitForTheNextLogIn()
{
    QVERIFY(startManager({}));
    QVERIFY(cycleUntil([this] { return !m_manager->presets().isEmpty(); }));
    QueueFile* file = add("pre.wav");
    QVERIFY(cycleUntil([&] { return file->getState() == QueueFileState::PreProcessing; }));

    m_manager->logout();
    QVERIFY(cycleUntil([this] { return m_manager->state() == QueueManager::WaitingForLoginInfo; }));
    file->markPreProcessingDone();
    m_manager->cycle(false, false);
    m_manager->cycle(false, false);
    QCOMPARE(file->getState(), QueueFileState::PreProcessing);
    QCOMPARE(m_manager->session(0)->currentFileId(), file->fileId);
    QCOMPARE(jobsPosted(), 0);

    m_manager->enableLogin();
    QVERIFY(driveUntil(*m_manager, [&] { return file->getState() == QueueFileState::Done; }));
    QCOMPARE(jobsPosted(), 1);
}

void TestQueueFaults::logoutTakesAResultAlreadyDownloaded()
{
    QVERIFY(startManager({}));
    QVERIFY(driveUntil(*m_manager, [this] { return !m_manager->presets().isEmpty(); }));
    QueueFile* file = add("ready.wav");
    QVERIFY(driveUntil(*m_manager, [&] { return file->getState() == QueueFileState::Running; }));
    // The session downloads while nobody cycles: the result is on disk and
    // not taken yet when the user logs out.
    QVERIFY(waitForSessionState(*m_manager->session(0), SessionManager::JobReady, 20000));
    const QByteArray result = m_manager->session(0)->resultPath();
    QVERIFY(QFile::exists(QString::fromUtf8(result)));

    m_manager->logout();
    m_manager->cycle(false, false);
    QCOMPARE(file->getState(), QueueFileState::PostProcessing);
    file->adoptResultPath();
    QCOMPARE(file->destFile, result);
    file->markPostProcessingDone();
    m_manager->cycle(false, false);
    QCOMPARE(file->getState(), QueueFileState::Done);
    QCOMPARE(jobsPosted(), 1);
    QVERIFY(sessionIs(m_manager->session(0), SessionManager::WaitingForInput));
}

void TestQueueFaults::logoutLetsPostProcessingEndInDone()
{
    QVERIFY(startManager({}));
    QVERIFY(driveUntil(*m_manager, [this] { return !m_manager->presets().isEmpty(); }));
    QueueFile* file = add("post.wav");
    QVERIFY(driveUntil(*m_manager, [&] { return file->getState() == QueueFileState::Running; }));
    QVERIFY(cycleUntil([&] { return file->getState() == QueueFileState::PostProcessing; }));

    m_manager->logout();
    m_manager->cycle(false, false);
    QCOMPARE(file->getState(), QueueFileState::PostProcessing);
    file->adoptResultPath();
    file->markPostProcessingDone();
    m_manager->cycle(false, false);
    QCOMPARE(file->getState(), QueueFileState::Done);
    QVERIFY(QFile::exists(QString::fromUtf8(file->destFile)));
    QCOMPARE(jobsPosted(), 1);
}

// Unchanged wrong credentials are tried at 0 s, about 1 s and about 3 s;
// new credentials are tried at the very next cycle.
void TestQueueFaults::wrongPasswordIsRetriedWithBackOff()
{
    QVERIFY(startManager({}));
    m_manager->setCredentials("demo@sonvira.local", "wrong");
    QDeadlineTimer window(3500);
    int cycles = 0;
    while (!window.hasExpired()) {
        m_manager->cycle(false, false);
        ++cycles;
        QTest::qWait(10);
    }
    QVERIFY2(cycles > 100, qPrintable(QString::number(cycles)));
    const int tries = countLogLines(m_service->log(), "POST /api/Login ->");
    QVERIFY2(tries >= 2 && tries <= 3, qPrintable(QString::number(tries) + " log-ins"));
    QCOMPARE(m_manager->statusMessage(), QByteArray("Can't log in: Invalid username/password (401)"));

    m_manager->setCredentials("demo@sonvira.local", "demo");
    m_manager->cycle(false, false);
    QVERIFY(QueueManager::isWorking(m_manager->state()));
    QVERIFY(m_manager->hasToken());
}

// A log-in answered 503 with Retry-After: 3 is not tried again before those
// 3 s, although the back-off alone would try after about one.
void TestQueueFaults::busyLogInWaitsAsTheServiceAsks()
{
    QVERIFY(startManager({"--unavailable", "/Login:1:3"}));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(cycleUntil([this] { return m_manager->hasToken(); }));
    QVERIFY2(clock.elapsed() >= 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Login ->"), 2);
}

// setCredentials, setApiUrl and logout return while a log-in is held by the
// service; the new credentials interrupt it and are tried at once, and
// stop() ends the held request instead of waiting for it.
void TestQueueFaults::requestsDoNotWaitForAStalledLogIn()
{
    QVERIFY(startManager({"--stall", "/Login:600"}));
    WebAPI::setStallTimeout(600000);
    const auto stalledLogIns = [this] { return countLogLines(m_service->log(), "POST /api/Login -> stalled"); };
    {
        CycleThread cycling(*m_manager);
        QTRY_VERIFY2_WITH_TIMEOUT(stalledLogIns() == 1, m_service->log().constData(), 10000);
        m_manager->setCredentials("demo@sonvira.local", "other");
        QTRY_VERIFY2_WITH_TIMEOUT(stalledLogIns() == 2, m_service->log().constData(), 10000);
        m_manager->setApiUrl(m_service->apiUrl().toUtf8());
        m_manager->logout();
        QVERIFY(!m_manager->hasToken());
        const int cyclesBefore = cycling.cycles();
        QTRY_VERIFY_WITH_TIMEOUT(cycling.cycles() > cyclesBefore + 5, 10000);
        QCOMPARE(m_manager->state(), int(QueueManager::WaitingForLoginInfo));
        QVERIFY(m_manager->statusMessage().isEmpty());
        m_manager->enableLogin();
        QTRY_VERIFY2_WITH_TIMEOUT(stalledLogIns() == 3, m_service->log().constData(), 10000);
        m_manager->stop();
    }
    QCOMPARE(m_manager->state(), int(QueueManager::Finished));
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Login -> 200"), 0);
    WebAPI::setStallTimeout(WebAPI::kDefaultStallTimeoutMs);
}

// The queue driver's side on a thread of its own, as the GUI thread runs it
// next to the cycle's thread: it reads every file's paths all the time and
// fails the post-processing of every file as soon as it may. A failed
// post-processing must end in Error, however the two threads interleave,
// and no path is ever read while the other thread writes it (TSan).
void TestQueueFaults::failedPostProcessingIsNeverDone()
{
    m_service = std::make_unique<ServiceProcess>(QStringList{"--step-ms", "0", "--workers", "4"});
    QVERIFY2(m_service->start(), qPrintable(m_service->errorString()));
    m_manager = std::make_unique<QueueManager>();
    m_manager->setCredentials("demo@sonvira.local", "demo");
    QVERIFY(m_manager->createSessions(m_service->apiUrl().toUtf8(), QueueManager::kMaxSessions));
    constexpr int kFiles = 24;
    QList<QueueFile*> files;
    for (int i = 0; i < kFiles; ++i)
        files.append(add(QStringLiteral("race %1.wav").arg(i)));

    std::atomic<bool> stop{false};
    std::atomic<qint64> pathBytes{0};
    std::thread driver([&] {
        while (!stop) {
            for (QueueFile* file : m_manager->snapshot()) {
                const QueueFileState state = file->getState();
                // While the session works on a file, only this thread may
                // touch its paths: read them over and over, with no lock in
                // between, as the window's labels do.
                for (int i = 0; state == QueueFileState::Running && i < 2000; ++i)
                    pathBytes += file->destFile.size() + file->srcFile.size();
                if (state == QueueFileState::PreProcessing && !file->preProcessingDone())
                    file->markPreProcessingDone();
                if (state == QueueFileState::PostProcessing && !file->postProcessingDone()) {
                    file->adoptResultPath();
                    file->setErrorMessage("Error post processing: on purpose");
                    file->setState(QueueFileState::Error);
                    file->markPostProcessingDone();
                }
            }
        }
    });
    const bool ended = [&] {
        CycleThread cycling(*m_manager, 0);
        return QTest::qWaitFor([&] {
            return std::all_of(files.begin(), files.end(), [](const QueueFile* file) {
                return file->getState() == QueueFileState::Error || file->getState() == QueueFileState::Done;
            });
        }, 120000);
    }();
    stop = true;
    driver.join();
    QVERIFY2(ended, "not every file ended within 120 s");
    QVERIFY(pathBytes > 0);
    for (const QueueFile* file : files)
        QVERIFY2(file->getState() == QueueFileState::Error, file->toString().constData());
}

// Polls that keep failing end in Error with the job kept; submitting the
// file again polls that job and takes its result, without a second upload.
void TestQueueFaults::failingPollsKeepTheJobForSubmitAgain()
{
    SessionManager::setRetryLimit(1500);
    QVERIFY(startManager({"--unavailable", "/Jobs/1:3:0"}));
    QueueFile* file = add("kept.wav");
    QVERIFY(driveUntil(*m_manager, [&] { return file->getState() == QueueFileState::Error; }));
    QCOMPARE(file->resumeJobId.load(), 1);
    QVERIFY(file->retryable());
    QVERIFY2(file->errorMessage().startsWith("503"), file->errorMessage().constData());

    // What "Submit again" does.
    file->setErrorMessage(QByteArray());
    file->setState(QueueFileState::Waiting);
    QVERIFY(driveUntil(*m_manager, [&] { return file->getState() == QueueFileState::Done; }));
    QCOMPARE(jobsPosted(), 1);
    QVERIFY(QFile::exists(QString::fromUtf8(file->destFile)));
}

// An upload the service keeps refusing with 503 past the retry limit ends
// in Error as service trouble (so it is tried again once the service
// answers); no job exists, and the file sent again gets one.
void TestQueueFaults::uploadNeverTakenIsServiceTrouble()
{
    SessionManager::setRetryLimit(1500);
    QVERIFY(startManager({"--unavailable", "/Jobs:3:0"}));
    QueueFile* file = add("outage.wav");
    QVERIFY(driveUntil(*m_manager, [&] { return file->getState() == QueueFileState::Error; }));
    QVERIFY(file->retryable());
    QVERIFY2(file->errorMessage().startsWith(SessionManager::kUnreachable + " (503 - "), file->errorMessage().constData());
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Jobs -> 200"), 0);

    file->setErrorMessage(QByteArray());
    file->setState(QueueFileState::Waiting);
    QVERIFY(driveUntil(*m_manager, [&] { return file->getState() == QueueFileState::Done; }));
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Jobs -> 200"), 1);
}

// An upload whose answer is lost goes back to Waiting with the reason and is
// sent once more after a pause; a second loss ends in Error. Two uploads in
// all, never a burst.
void TestQueueFaults::lostUploadAnswerIsSentOnceMore()
{
    QVERIFY(startManager({"--drop-after-upload"}));
    QueueFile* file = add("lost.wav");
    const QByteArray lost = "Upload answer lost: the service may have created a job";
    bool waitedWithReason = false;
    QVERIFY(driveUntil(*m_manager, [&] {
        waitedWithReason = waitedWithReason
            || (file->getState() == QueueFileState::Waiting && file->errorMessage() == lost);
        return file->getState() == QueueFileState::Error;
    }));
    QVERIFY(waitedWithReason);
    QCOMPARE(file->errorMessage(), lost);
    QVERIFY(file->retryable());
    QCOMPARE(jobsPosted(), 2);
}

void TestQueueFaults::refusalsAreNotAnsweredInALoop_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::newRow("new token each time") << QStringList{"--refuse-polls"};
    QTest::newRow("same token each time") << QStringList{"--refuse-polls", "--same-token"};
}

// Polls refused with 401 although log-ins succeed, whether or not each
// log-in hands out a new token, and a preset list that cannot be read or
// is empty, are tried again with the back-off, not ten times a second; the
// status bar's notice says why, and the manager never stops for good.
void TestQueueFaults::refusalsAreNotAnsweredInALoop()
{
    QFETCH(QStringList, faults);
    QVERIFY(startManager(faults));
    QueueFile* file = add("refused.wav");
    QVERIFY(driveUntil(*m_manager, [&] { return file->getState() == QueueFileState::Running; }));
    QDeadlineTimer window(6000);
    QByteArray notice;
    while (!window.hasExpired()) {
        driveOnce(*m_manager);
        if (notice.isEmpty())
            notice = m_manager->serviceNotice();
        QTest::qWait(20);
    }
    const int logIns = countLogLines(m_service->log(), "POST /api/Login -> 200");
    QVERIFY2(logIns >= 2 && logIns <= 6, qPrintable(QString::number(logIns)));
    QVERIFY2(notice.startsWith("The service refuses the new log-in"), notice.constData());
    m_manager->stop();
    m_manager.reset();

    QVERIFY(startManager({"--malformed-json", "/AudioPresets"}));
    QVERIFY(cycleUntil([this] { return m_manager->state() == QueueManager::GettingPresets; }));
    QDeadlineTimer presetWindow(4000);
    while (!presetWindow.hasExpired()) {
        m_manager->cycle(false, false);
        QTest::qWait(20);
    }
    const int lists = countLogLines(m_service->log(), "GET /api/AudioPresets ->");
    QVERIFY2(lists >= 2 && lists <= 4, qPrintable(QString::number(lists)));
    QCOMPARE(m_manager->serviceNotice(), QByteArray("Presets could not be read: Error parsing response"));
    QCOMPARE(m_manager->state(), int(QueueManager::GettingPresets));
    m_manager->stop();
    m_manager.reset();

    QVERIFY(startManager({"--empty-presets"}));
    QVERIFY(cycleUntil([this] { return !m_manager->serviceNotice().isEmpty(); }));
    QCOMPARE(m_manager->serviceNotice(), QByteArray("Presets could not be read: the service offers no presets"));
    QCOMPARE(m_manager->state(), int(QueueManager::GettingPresets));
}

QTEST_GUILESS_MAIN(TestQueueFaults)
#include "tst_queuefaults.moc"
