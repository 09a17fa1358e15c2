#include "audiofixtures.h"
#include "pipelinefixture.h"
#include "serviceprocess.h"

#include "pipeline/sessionmanager.h"
#include "pipeline/webapi.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace pipelinefixture;

// Each test starts the service with its own options, logs in, and runs one
// session until it waits for input.
class TestSessionService : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void statusTextsFollowTheJob();
    void jobEndsInError_data();
    void jobEndsInError();
    void refusedUploadIsNotRetried();
    void cancelDuringUpload();
    void cancelDuringDownload();
    void submitDuringDownloadStartsTheNewFile();
    void stalledRequestTimesOut();
    void droppedConnections_data();
    void droppedConnections();
    void passingTroubleKeepsTheJob();
    void unusualAnswersCarryTheJobThrough();
    void anotherFilesJobIsRefused();
    void restartBeforeTheDownloadIsCaught();
    void pollsSlowDownForALongJob();
    void releaseWhileGettingPresetsDoesNothing();
    void expiredTokenWaitsForANewLogIn();

private:
    bool startSession(const QStringList& serviceOptions, bool waitForInput = true);
    QString wav(const QString& name, double seconds = 1.0);
    QString target(const QString& name) const { return m_dir.filePath(name); }

    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<SessionManager> m_session;
    QTemporaryDir m_dir;
};

void TestSessionService::init()
{
    WebAPI::invalidateToken(QString(), true);
    WebAPI::setStallTimeout(WebAPI::kDefaultStallTimeoutMs);
}

void TestSessionService::cleanup()
{
    m_session.reset();
    m_service.reset();
    WebAPI::setStallTimeout(WebAPI::kDefaultStallTimeoutMs);
    SessionManager::setRetryLimit(SessionManager::kDefaultRetryLimitMs);
    QVERIFY(partialFiles(m_dir.path()).isEmpty());
}

bool TestSessionService::startSession(const QStringList& serviceOptions, bool waitForInput)
{
    m_service = std::make_unique<ServiceProcess>(QStringList{"--step-ms", "20"} + serviceOptions);
    if (!m_service->start() || !logInDemo(m_service->apiUrl().toUtf8()))
        return false;
    m_session = std::make_unique<SessionManager>();
    if (!m_session->start())
        return false;
    return !waitForInput || waitForSessionState(*m_session, SessionManager::WaitingForInput);
}

QString TestSessionService::wav(const QString& name, double seconds)
{
    return writeWav(m_dir.path(), name, seconds);
}

void TestSessionService::statusTextsFollowTheJob()
{
    // The result is held a second: the download starts as soon as the job
    // is done, and its status text would otherwise pass too quickly to see.
    QVERIFY(startSession({"--step-ms", "250", "--progress-points", "40.4,99.6", "--stall", "/Jobs/*/Result:1"}));
    QList<QByteArray> presets;
    QVERIFY(m_session->copyPresets(presets));
    QVERIFY(m_session->selectPreset("4: Passthrough"));
    QCOMPARE(m_session->presetId(), 4);
    QVERIFY(!m_session->selectPreset("4: Passthrough "));

    m_session->submitFile(wav("status.wav").toUtf8(), target("status-out.wav").toUtf8());
    QList<QByteArray> texts;
    QDeadlineTimer deadline(20000);
    int state = 0;
    while (!deadline.hasExpired() && m_session->getState(state) && state != SessionManager::JobReady) {
        QByteArray text;
        if (m_session->statusText(text) && (texts.isEmpty() || texts.last() != text))
            texts.append(text);
        QTest::qWait(5);
    }
    QCOMPARE(state, int(SessionManager::JobReady));
    const QList<QByteArray> wanted{"Processing File Offered", "Processing File Processing 40%",
                                   "Processing File Processing 100%", "Downloading Processed File:  "};
    qsizetype at = 0;
    for (const QByteArray& text : texts) {
        if (at < wanted.size() && text.startsWith(wanted[at]))
            ++at;
    }
    QVERIFY2(at == wanted.size(), texts.join(" | ").constData());

    QByteArray text;
    QVERIFY(m_session->statusText(text));
    QCOMPARE(text, QByteArray("Previous Job Ready - Waiting For Request"));
    QCOMPARE(m_session->resultPath(), QDir::toNativeSeparators(target("status-out.wav")).toUtf8());
    QVERIFY(QFileInfo::exists(target("status-out.wav")));
    QCOMPARE(m_session->lastJobDone(), m_session->jobId());
    QVERIFY(m_session->srcFile().isEmpty());
    qint64 creditTime = 0;
    float credit = -1;
    m_session->getCredit(creditTime, credit);
    QVERIFY(creditTime > 1000);
    QCOMPARE(credit, 99.0f);

    QVERIFY(m_session->release(true));
    QVERIFY(waitForSessionState(*m_session, SessionManager::WaitingForInput));
    QVERIFY(m_session->dstFile().isEmpty());
}

void TestSessionService::jobEndsInError_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("insufficient credit") << QStringList{"--credit", "0"}
                                         << QByteArray("Error: Insufficient credit to proceed");
    QTest::newRow("failed") << QStringList{"--fail-jobs"} << QByteArray("Error processing file (err 11)");
}

void TestSessionService::jobEndsInError()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, error);
    QVERIFY(startSession(options));
    m_session->submitFile(wav("fails.wav").toUtf8(), target("fails-out.wav").toUtf8());
    QVERIFY(waitForSessionState(*m_session, SessionManager::Error));
    QCOMPARE(m_session->prevError(), error);
    QVERIFY(m_session->lastFlag());
    QVERIFY(!QFileInfo::exists(target("fails-out.wav")));
    QByteArray text;
    QVERIFY(m_session->statusText(text));
    QCOMPARE(text, QByteArray("Error at last request - Waiting For Input File"));
}

void TestSessionService::refusedUploadIsNotRetried()
{
    QVERIFY(startSession({"--reject-uploads"}));
    m_session->submitFile(wav("refused.wav").toUtf8(), target("refused-out.wav").toUtf8());
    QVERIFY(waitForSessionState(*m_session, SessionManager::Error));
    QCOMPARE(m_session->prevError(), QByteArray("Invalid audio file format"));
    QVERIFY(!m_session->lastFlag());
    QVERIFY(m_session->srcFile().isEmpty());
}

void TestSessionService::cancelDuringUpload()
{
    QVERIFY(startSession({"--stall", "/Jobs:20"}));
    m_session->submitFile(wav("cancel-up.wav").toUtf8(), target("cancel-up-out.wav").toUtf8());
    QDeadlineTimer deadline(10000);
    QByteArray text;
    while (!deadline.hasExpired() && (!m_session->statusText(text) || !text.startsWith("Uploading File: ")
                                      || text == "Uploading File: 0 KB"))
        QTest::qWait(5);
    QVERIFY2(text.startsWith("Uploading File: ") && text != "Uploading File: 0 KB", text.constData());

    m_session->cancel();
    QVERIFY(waitForSessionState(*m_session, SessionManager::WaitingForInput, 5000));
    QCOMPARE(m_session->prevError(), QByteArray("Cancelled by user"));
    QVERIFY(m_session->srcFile().isEmpty());
}

void TestSessionService::cancelDuringDownload()
{
    QVERIFY(startSession({"--stall", "/Jobs/*/Result:20"}));
    m_session->submitFile(wav("cancel-down.wav").toUtf8(), target("cancel-down-out.wav").toUtf8());
    QVERIFY(waitForSessionState(*m_session, SessionManager::Downloading));
    m_session->cancel();
    QVERIFY(waitForSessionState(*m_session, SessionManager::WaitingForInput, 5000));
    QCOMPARE(m_session->prevError(), QByteArray("Cancelled by user"));
    QVERIFY(!QFileInfo::exists(target("cancel-down-out.wav")));
}

void TestSessionService::submitDuringDownloadStartsTheNewFile()
{
    QVERIFY(startSession({"--stall", "/Jobs/1/Result:20"}));
    m_session->submitFile(wav("first.wav").toUtf8(), target("first-out.wav").toUtf8());
    QVERIFY(waitForSessionState(*m_session, SessionManager::Downloading));
    QCOMPARE(m_session->jobId(), 1);

    m_session->submitFile(wav("second.wav").toUtf8(), target("second-out.wav").toUtf8());
    QVERIFY(waitForSessionState(*m_session, SessionManager::JobReady));
    QCOMPARE(m_session->jobId(), 2);
    QCOMPARE(m_session->resultPath(), QDir::toNativeSeparators(target("second-out.wav")).toUtf8());
    QVERIFY(!QFileInfo::exists(target("first-out.wav")));
    QVERIFY(m_session->prevError().isEmpty());
}

// Polls that time out and results cut off are tried again until the retry
// limit has passed; the file's job is kept with the error. An upload whose
// answer is lost is sent once and reported as such.
void TestSessionService::stalledRequestTimesOut()
{
    WebAPI::setStallTimeout(500);
    SessionManager::setRetryLimit(1500);
    QVERIFY(startSession({"--stall", "/Jobs/*:5"}));
    m_session->submitFile(wav("stalled.wav").toUtf8(), target("stalled-out.wav").toUtf8());
    QVERIFY(waitForSessionState(*m_session, SessionManager::Error));
    QVERIFY2(m_session->prevError().startsWith(" - Request timed out"), m_session->prevError().constData());
    QVERIFY(m_session->lastFlag());
    QCOMPARE(m_session->errorJobId(), m_session->jobId());
    QVERIFY(countLogLines(m_service->log(), "GET /api/Jobs/1 -> stalled") >= 2);
}

void TestSessionService::droppedConnections_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<bool>("jobKept");
    QTest::newRow("during the result") << QStringList{"--drop-result-after", "5000"} << QByteArray("200 - ") << true;
    QTest::newRow("after the upload") << QStringList{"--drop-after-upload"}
                                      << QByteArray("Upload answer lost: the service may have created a job") << false;
}

void TestSessionService::droppedConnections()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, error);
    QFETCH(bool, jobKept);
    SessionManager::setRetryLimit(2000);
    QVERIFY(startSession(options));
    m_session->submitFile(wav("dropped.wav").toUtf8(), target("dropped-out.wav").toUtf8());
    QVERIFY(waitForSessionState(*m_session, SessionManager::Error));
    QVERIFY2(m_session->prevError().startsWith(error), m_session->prevError().constData());
    QVERIFY(m_session->lastFlag());
    QCOMPARE(m_session->errorJobId() > 0, jobKept);
    QCOMPARE(m_session->uploadAnswerLost(), !jobKept);
    QVERIFY(!QFileInfo::exists(target("dropped-out.wav")));
    // The network layer never sends an upload twice; a cut result is fetched again.
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Jobs ->"), 1);
    if (jobKept)
        QVERIFY(countLogLines(m_service->log(), "/Result ->") >= 2);
}

// An upload and polls refused with 503 are tried again, never before the
// Retry-After, and the job goes on to its result with one job created.
void TestSessionService::passingTroubleKeepsTheJob()
{
    QVERIFY(startSession({"--unavailable", "/Jobs:1:1", "--unavailable", "/Jobs/1:2:1"}));
    QElapsedTimer clock;
    clock.start();
    m_session->submitFile(wav("busy.wav").toUtf8(), target("busy-out.wav").toUtf8());
    QByteArray waiting;
    QDeadlineTimer deadline(20000);
    int state = 0;
    while (!deadline.hasExpired() && m_session->getState(state) && state != SessionManager::JobReady) {
        QByteArray text;
        if (m_session->statusText(text) && text.startsWith("Service unreachable"))
            waiting = text;
        QTest::qWait(20);
    }
    QCOMPARE(state, int(SessionManager::JobReady));
    QVERIFY2(waiting.startsWith("Service unreachable, retrying in ") && waiting.endsWith(" s"), waiting.constData());
    QVERIFY(clock.elapsed() >= 3000);
    QCOMPARE(countLogLines(m_service->log(), "GET /api/Jobs/1 -> 503"), 2);
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Jobs -> 503"), 1);
    QCOMPARE(countLogLines(m_service->log(), "POST /api/Jobs -> 200"), 1);
    QVERIFY(QFileInfo::exists(target("busy-out.wav")));
}

// A service whose answers are compressed, begin with a byte-order mark,
// carry unknown fields, nulls and ids as texts, create the job with 201,
// send the result as octet-stream and ask for a wait with an HTTP date: the
// job goes through as with the plain forms, after that wait.
void TestSessionService::unusualAnswersCarryTheJobThrough()
{
    QVERIFY(startSession({"--unusual-answers", "--unavailable", "/Jobs/1:1:2"}));
    QList<QByteArray> presets;
    QVERIFY(m_session->copyPresets(presets));
    QCOMPARE(presets.value(0), QByteArray("1: Speech -16 LUFS"));
    QElapsedTimer clock;
    clock.start();
    m_session->submitFile(wav("unusual.wav").toUtf8(), target("unusual-out.wav").toUtf8());
    QVERIFY(waitForSessionState(*m_session, SessionManager::JobReady, 20000));
    QVERIFY2(clock.elapsed() >= 1000, QByteArray::number(clock.elapsed()).constData());
    const QByteArray log = m_service->log();
    QCOMPARE(countLogLines(log, "POST /api/Jobs -> 201"), 1);
    QCOMPARE(countLogLines(log, "GET /api/Jobs/1 -> 503"), 1);
    QCOMPARE(countLogLines(log, "GET /api/Jobs/1/Result -> 200"), 1);
    QCOMPARE(m_session->resultPath(), QDir::toNativeSeparators(target("unusual-out.wav")).toUtf8());
    QVERIFY(QFileInfo(target("unusual-out.wav")).size() > 44);
}

// A service started again gives the polled job's id to another upload: the
// job names another file and length, and nothing is downloaded.
void TestSessionService::anotherFilesJobIsRefused()
{
    QVERIFY(startSession({"--step-ms", "3000"}));
    const quint16 port = m_service->port();
    m_session->submitFile(wav("five.wav", 5.0).toUtf8(), target("five-out.wav").toUtf8());
    QVERIFY(waitForSessionState(*m_session, SessionManager::Processing));
    m_service->kill();
    // Its status answers come 2 s late, so that the other upload below has
    // taken job 1 by then.
    m_service = std::make_unique<ServiceProcess>(
        QStringList{"--step-ms", "0", "--port", QString::number(port), "--stall", "/Jobs/1:2"});
    QVERIFY2(m_service->start(), qPrintable(m_service->errorString()));
    QVERIFY(logInDemo(m_service->apiUrl().toUtf8()));
    WebAPI other;
    other.setBaseUrl(m_service->apiUrl().toUtf8());
    QCOMPARE(other.submitJob(wav("nine.wav", 9.0), 1, true), 1);

    QVERIFY(waitForSessionState(*m_session, SessionManager::Error, 20000));
    QCOMPARE(m_session->prevError(), QByteArray("The service returned a different job"));
    QCOMPARE(m_session->errorJobId(), 0);
    QCOMPARE(countLogLines(m_service->log(), "/Result ->"), 0);
    QVERIFY(!QFileInfo::exists(target("five-out.wav")));
}

// The service forgets its jobs as the result is asked for (its answer
// breaks off), and another
// upload of the same name, length and preset takes the id: the failed
// download is followed by a poll, whose creation time differs, and the other
// job's result is not taken.
void TestSessionService::restartBeforeTheDownloadIsCaught()
{
    // Polls answer 1 s late, so that the other upload below is in first.
    QVERIFY(startSession({"--step-ms", "0", "--restart-at-result", "--stall", "/Jobs/1:1"}));
    m_session->submitFile(wav("same.wav").toUtf8(), target("same-out.wav").toUtf8());
    QTRY_VERIFY_WITH_TIMEOUT(countLogLines(m_service->log(), "/Result ->") == 1, 20000);
    QTemporaryDir otherDir;
    WebAPI other;
    other.setBaseUrl(m_service->apiUrl().toUtf8());
    QCOMPARE(other.submitJob(writeWav(otherDir.path(), "same.wav"), 1, true), 1);

    QVERIFY(waitForSessionState(*m_session, SessionManager::Error, 20000));
    QCOMPARE(m_session->prevError(), QByteArray("The service returned a different job"));
    QCOMPARE(countLogLines(m_service->log(), "/Result ->"), 1);
    QVERIFY(!QFileInfo::exists(target("same-out.wav")));
}

// Every cycle for the first seconds of a job, then once a second: a job of
// about 9 s is polled about 50 + 4 times, not 90.
void TestSessionService::pollsSlowDownForALongJob()
{
    QVERIFY(startSession({"--step-ms", "1500", "--progress-points", "50,100"}));
    m_session->submitFile(wav("long.wav").toUtf8(), target("long-out.wav").toUtf8());
    QByteArray text;
    QTRY_VERIFY_WITH_TIMEOUT(m_session->statusText(text) && text == "Processing File Processing 50%", 10000);
    QVERIFY(waitForSessionState(*m_session, SessionManager::JobReady, 20000));
    const int polls = countLogLines(m_service->log(), "GET /api/Jobs/1 ->");
    QVERIFY2(polls >= 20 && polls <= 62, qPrintable(QString::number(polls)));
}

void TestSessionService::releaseWhileGettingPresetsDoesNothing()
{
    QVERIFY(startSession({"--stall", "/AudioPresets:3"}, false));
    QVERIFY(waitForSessionState(*m_session, SessionManager::GettingPresets));
    QVERIFY(!m_session->release(true));
    QList<QByteArray> presets;
    QVERIFY(!m_session->copyPresets(presets));
    QVERIFY(!m_session->selectPreset("1: Speech -16 LUFS"));
    QVERIFY(waitForSessionState(*m_session, SessionManager::WaitingForInput));
    QVERIFY(m_session->copyPresets(presets));
    QCOMPARE(presets.size(), 4);
    QCOMPARE(m_session->presetId(), 1);
}

void TestSessionService::expiredTokenWaitsForANewLogIn()
{
    QVERIFY(startSession({"--expire-token-after", "3"}));
    m_session->submitFile(wav("expired.wav").toUtf8(), target("expired-out.wav").toUtf8());
    // Presets, upload and the first poll use the token up; the next poll
    // gets 401, the stale token is cleared and the session keeps polling
    // silently until someone logs in again.
    QTRY_VERIFY_WITH_TIMEOUT(WebAPI::token().isEmpty(), 10000);
    int state = 0;
    QVERIFY(m_session->getState(state));
    QCOMPARE(state, int(SessionManager::Processing));
    QVERIFY(m_session->prevError().isEmpty());

    // Each new token lasts three requests; log in whenever it has gone, as
    // the queue manager's cycle does.
    QDeadlineTimer deadline(20000);
    int logins = 0;
    while (!deadline.hasExpired() && m_session->getState(state) && state != SessionManager::JobReady) {
        if (WebAPI::token().isEmpty()) {
            QVERIFY(logInDemo(m_service->apiUrl().toUtf8()));
            ++logins;
        }
        QTest::qWait(10);
    }
    QCOMPARE(state, int(SessionManager::JobReady));
    QVERIFY(logins >= 1);
    QVERIFY(QFileInfo::exists(target("expired-out.wav")));
}

QTEST_GUILESS_MAIN(TestSessionService)
#include "tst_sessionservice.moc"
