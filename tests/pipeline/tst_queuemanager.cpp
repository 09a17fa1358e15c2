#include "pipeline/queuemanager.h"
#include "pipeline/webapi.h"
#include "settings/settings.h"
#include "settings/startupconfig.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

namespace {

QString touch(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    return path;
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

class TestQueueManager : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void destinationIsMadeUnique();
    void refusedFilesLeaveTheQueueAlone();
    void everyAddReportsItsDestination();
    void removedRecordsStayUsable();
    void pauseAndResumeOnlyFromTheirStates();
    void movesSwapWithTheNearestUnfinishedFile();
    void lookupsFollowThePathRules();
    void createSessionsCapsAndRefusesASecondCall();
    void sessionsWaitForTheToken();
    void initLoadsSettingsAndStartsOneSession();
    void stateNames();
    void stopFinishesAndIsRepeatable();

private:
    QTemporaryDir m_dir;
    ProcessingOptions m_options;
};

void TestQueueManager::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
}

void TestQueueManager::destinationIsMadeUnique()
{
    QueueManager manager;
    const QString src = touch(m_dir.filePath("same.wav"));
    QueueFile* first = manager.addFileToQueue(src, 10, src, "1: Speech", m_options);
    QVERIFY(first);
    QCOMPARE(first->destFile, native(m_dir.filePath("same (1).wav")).toUtf8());
    QCOMPARE(first->srcFile, src.toUtf8());
    QCOMPARE(first->originalSourceFile, src.toUtf8());
    QCOMPARE(first->priority, 10);
    QCOMPARE(first->getState(), QueueFileState::Waiting);

    // The first destination is queued, not yet on disk: still taken.
    QueueFile* second = manager.addFileToQueue(src, 10, src, "1: Speech", m_options);
    QCOMPARE(second->destFile, native(m_dir.filePath("same (2).wav")).toUtf8());
    QVERIFY(second->fileId > first->fileId);

    // Numbers are counted from the wanted name, not from the last candidate.
    touch(m_dir.filePath("out.wav"));
    touch(m_dir.filePath("out (1).wav"));
    QueueFile* third = manager.addFileToQueue(src, 100, m_dir.filePath("out.wav"), "2: Music", m_options);
    QCOMPARE(third->destFile, native(m_dir.filePath("out (2).wav")).toUtf8());

    // A name without an extension gets no trailing dot.
    touch(m_dir.filePath("plain"));
    QueueFile* fourth = manager.addFileToQueue(src, 10, m_dir.filePath("plain"), "2: Music", m_options);
    QCOMPARE(fourth->destFile, native(m_dir.filePath("plain (1)")).toUtf8());
    QCOMPARE(manager.lastPreset(), QByteArray("2: Music"));
    QCOMPARE(manager.snapshot(), (QList<QueueFile*>{first, second, third, fourth}));
}

void TestQueueManager::refusedFilesLeaveTheQueueAlone()
{
    QueueManager manager;
    const QString src = touch(m_dir.filePath("refused.wav"));
    QVERIFY(manager.addFileToQueue(src, 10, m_dir.filePath("ok.wav"), "1: Speech", m_options));

    QVERIFY(!manager.addFileToQueue(src, 10, m_dir.filePath("no/such/dir/x.wav"), "9: Other", m_options));
    QCOMPARE(manager.lastError(), QByteArray("Destination directory does not exist."));
    QVERIFY(!manager.addFileToQueue(m_dir.filePath("gone.wav"), 10, m_dir.filePath("y.wav"), "9: Other", m_options));
    QCOMPARE(manager.lastError(), QByteArray("Source file does not exist."));
    QCOMPARE(manager.snapshot().size(), 1);
    QCOMPARE(manager.lastPreset(), QByteArray("1: Speech"));

    // lastError is not cleared by a success.
    QVERIFY(manager.addFileToQueue(src.toUtf8(), 10, m_dir.filePath("ok2.wav").toUtf8(), "1: Speech", m_options));
    QCOMPARE(manager.lastError(), QByteArray("Source file does not exist."));
}

void TestQueueManager::everyAddReportsItsDestination()
{
    QueueManager manager;
    QList<QByteArray> reported;
    manager.setOnDestFileAdded([&](const QByteArray& dest) {
        // The handler runs under the queue lock; it must not call back into
        // the queue, but it sees the record's final destination.
        reported.append(dest);
    });
    const QString src = touch(m_dir.filePath("cb.wav"));
    ProcessingOptions options;
    options.fromWatchFolder = true;
    options.outputSuffix = "-x";
    QueueFile* file = manager.addFileToQueue(src, 100, m_dir.filePath("cb-out.wav"), "1: Speech", options);
    QVERIFY(!manager.addFileToQueue(src, 100, m_dir.filePath("none/cb-out.wav"), "1: Speech", options));
    QCOMPARE(reported, QList<QByteArray>{file->destFile});
    QVERIFY(file->options.fromWatchFolder);
    QCOMPARE(file->options.outputSuffix, QStringLiteral("-x"));
}

void TestQueueManager::removedRecordsStayUsable()
{
    QueueManager manager;
    const QString src = touch(m_dir.filePath("removed.wav"));
    QueueFile* a = manager.addFileToQueue(src, 10, m_dir.filePath("ra.wav"), "1: Speech", m_options);
    QueueFile* b = manager.addFileToQueue(src, 10, m_dir.filePath("rb.wav"), "1: Speech", m_options);
    QueueFile* c = manager.addFileToQueue(src, 10, m_dir.filePath("rc.wav"), "1: Speech", m_options);
    manager.removeFile(b->fileId);
    manager.removeFile(123456);
    QCOMPARE(manager.snapshot(), (QList<QueueFile*>{a, c}));
    QVERIFY(!manager.findFile(b->fileId));
    QueueFile* out = nullptr;
    QVERIFY(!manager.findFile(b->fileId, out));
    QVERIFY(manager.findFile(c->fileId, out));
    QCOMPARE(out, c);
    // A widget may still show the removed record (sanitizers check this).
    b->setState(QueueFileState::Done);
    QCOMPARE(b->stateName(), QByteArray("Done"));
    // A removed destination is free again.
    QueueFile* again = manager.addFileToQueue(src, 10, m_dir.filePath("rb.wav"), "1: Speech", m_options);
    QCOMPARE(again->destFile, native(m_dir.filePath("rb.wav")).toUtf8());
}

void TestQueueManager::pauseAndResumeOnlyFromTheirStates()
{
    QueueManager manager;
    const QString src = touch(m_dir.filePath("pause.wav"));
    QueueFile* file = manager.addFileToQueue(src, 10, m_dir.filePath("pa.wav"), "1: Speech", m_options);
    QVERIFY(!manager.resumeFile(file->fileId));
    QVERIFY(manager.pauseFile(file->fileId));
    QCOMPARE(file->getState(), QueueFileState::Paused);
    QCOMPARE(file->stateName(), QByteArray("Paused"));
    QVERIFY(!manager.pauseFile(file->fileId));
    QVERIFY(manager.resumeFile(file->fileId));
    QCOMPARE(file->getState(), QueueFileState::Waiting);

    // A file that a session has taken meanwhile is not paused under its feet.
    file->setState(QueueFileState::PreProcessing);
    QVERIFY(!manager.pauseFile(file->fileId));
    QCOMPARE(file->getState(), QueueFileState::PreProcessing);
    file->setState(QueueFileState::Waiting);
    manager.removeFile(file->fileId);
    QVERIFY(!manager.pauseFile(file->fileId));
    QCOMPARE(file->getState(), QueueFileState::Waiting);
}

void TestQueueManager::movesSwapWithTheNearestUnfinishedFile()
{
    QueueManager manager;
    const QString src = touch(m_dir.filePath("move.wav"));
    QList<QueueFile*> files;
    for (int i = 0; i < 5; ++i)
        files << manager.addFileToQueue(src, 10, m_dir.filePath(QStringLiteral("m%1.wav").arg(i)), "1: Speech",
                                        m_options);
    const auto order = [&] {
        QString names;
        for (QueueFile* file : manager.snapshot())
            names += QChar(char16_t(u'a' + files.indexOf(file)));
        return names;
    };
    files[1]->setState(QueueFileState::Done);
    files[3]->setState(QueueFileState::Running);
    files[4]->setState(QueueFileState::Paused);

    // c passes the Done b and lands where a was; b keeps its place.
    QVERIFY(manager.moveFile(files[2]->fileId, -1));
    QCOMPARE(order(), QStringLiteral("cbade"));
    QVERIFY(!manager.moveFile(files[2]->fileId, -1));
    // A paused file moves; a Running or finished one does not.
    QVERIFY(manager.moveFile(files[4]->fileId, -1));
    QCOMPARE(order(), QStringLiteral("cbaed"));
    QVERIFY(!manager.moveFile(files[3]->fileId, -1));
    QVERIFY(!manager.moveFile(files[1]->fileId, 1));
    QVERIFY(manager.moveFile(files[0]->fileId, 1));
    QCOMPARE(order(), QStringLiteral("cbead"));
    QVERIFY(manager.moveFile(files[0]->fileId, 1));
    QVERIFY(!manager.moveFile(files[0]->fileId, 1));
    QCOMPARE(order(), QStringLiteral("cbeda"));
    QVERIFY(!manager.moveFile(files[0]->fileId, 0));
    QVERIFY(!manager.moveFile(123456, -1));
}

void TestQueueManager::lookupsFollowThePathRules()
{
    QueueManager manager;
    const QString src = touch(m_dir.filePath("look.wav"));
    QueueFile* file = manager.addFileToQueue(src, 10, m_dir.filePath("look-out.wav"), "1: Speech", m_options);
    QCOMPARE(manager.findByDestFile(native(m_dir.filePath("look-out.wav")).toUtf8()), file);
    QCOMPARE(manager.findByDestFile(m_dir.filePath("look-out.wav").toUtf8()), file);
    QVERIFY(!manager.findByDestFile(m_dir.filePath("other.wav").toUtf8()));
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    QCOMPARE(manager.findByDestFile(m_dir.filePath("LOOK-OUT.WAV").toUtf8()), file);
#else
    QVERIFY(!manager.findByDestFile(m_dir.filePath("LOOK-OUT.WAV").toUtf8()));
#endif
}

void TestQueueManager::createSessionsCapsAndRefusesASecondCall()
{
    QueueManager manager;
    QCOMPARE(manager.state(), QueueManager::Initializing);
    QVERIFY(manager.createSessions("http://127.0.0.1:9/api", 9));
    QCOMPARE(manager.sessionCount(), 4);
    QCOMPARE(manager.state(), QueueManager::WaitingForLoginInfo);
    QCOMPARE(manager.apiUrl(), QByteArray("http://127.0.0.1:9/api"));
    QSet<int> numbers;
    for (int slot = 0; slot < 4; ++slot) {
        QVERIFY(manager.session(slot));
        QVERIFY(manager.session(slot)->isRunning());
        numbers.insert(manager.session(slot)->number());
    }
    QCOMPARE(numbers.size(), 4);
    QVERIFY(*std::min_element(numbers.begin(), numbers.end()) >= 1000);

    QVERIFY_THROWS_EXCEPTION(std::runtime_error, manager.createSessions("http://127.0.0.1:9/api", 1));
    QCOMPARE(manager.state(), QueueManager::Error);
    QCOMPARE(manager.sessionCount(), 4);
    QCOMPARE(manager.getCredit(), -1.0f);
    // In state 100 the cycle does nothing.
    QVERIFY(!manager.cycle(false, false));
}

void TestQueueManager::sessionsWaitForTheToken()
{
    WebAPI::invalidateToken(QString(), true);
    QueueManager manager;
    QVERIFY(manager.createSessions("http://127.0.0.1:9/api", 1));
    SessionManager* session = manager.session(0);
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        int state = -1;
        return session->getState(state) && state == SessionManager::LoggingIn;
    }(), 5000);
    QByteArray text;
    QVERIFY(session->statusText(text));
    QCOMPARE(text, QByteArray("Logging In"));
    // Nothing to release before a session is waiting for input.
    QVERIFY(!session->release(true));
    int state = -1;
    QVERIFY(session->getState(state));
    QCOMPARE(state, int(SessionManager::LoggingIn));
}

void TestQueueManager::initLoadsSettingsAndStartsOneSession()
{
    const QByteArray previous = startup::apiBaseUrl();
    Settings settings;
    settings.apiURL = "not a url";
    startup::setApiBaseUrl("http://127.0.0.1:9/api");
    QueueManager manager;
    QVERIFY(manager.init(&settings));
    QCOMPARE(manager.sessionCount(), 1);
    QCOMPARE(manager.state(), QueueManager::WaitingForLoginInfo);
    QCOMPARE(settings.apiURL, QByteArray("http://127.0.0.1:9/api"));
    QCOMPARE(manager.apiUrl(), QByteArray("http://127.0.0.1:9/api"));
    QCOMPARE(WebAPI::sessionHostUrl(), QByteArray("http://127.0.0.1:9/api"));
    startup::setApiBaseUrl(previous);
}

void TestQueueManager::stateNames()
{
    QCOMPARE(QueueManager::stateName(QueueManager::State(0)), QStringLiteral("Initializing"));
    QCOMPARE(QueueManager::stateName(QueueManager::State(1)), QStringLiteral("Running"));
    QCOMPARE(QueueManager::stateName(QueueManager::State(8)), QStringLiteral("(Unknown state)"));
    QCOMPARE(QueueManager::stateName(QueueManager::State(16)), QStringLiteral("Finished"));
    QCOMPARE(QueueManager::stateName(QueueManager::State(100)), QStringLiteral("Error"));
    QCOMPARE(QueueManager::stateName(QueueManager::State(1027)), QStringLiteral("Waiting For Login Info"));
    QCOMPARE(QueueManager::stateName(QueueManager::State(1029)), QStringLiteral("Getting presets"));
    QCOMPARE(QueueManager::stateName(QueueManager::State(3)), QStringLiteral("(Unknown state)"));
}

void TestQueueManager::stopFinishesAndIsRepeatable()
{
    QueueManager manager;
    QVERIFY(manager.createSessions("http://127.0.0.1:9/api", 2));
    SessionManager* session = manager.session(1);
    QVERIFY(session->isRunning());
    manager.stop();
    QCOMPARE(manager.state(), QueueManager::Finished);
    QVERIFY(!manager.session(0));
    QVERIFY(!manager.session(1));
    QVERIFY(!manager.cycle(false, false));
    manager.stop();
    QCOMPARE(manager.state(), QueueManager::Finished);
}

QTEST_MAIN(TestQueueManager)
#include "tst_queuemanager.moc"
