// The queue through the real main window and a restart: a first window
// queues files, one is submitted to the service, one paused, and is then
// destroyed, which saves the queue; the saved queue also holds a file in
// each state that a window cannot be stopped in on purpose (a result on
// disk, post- and pre-processing finished, an error, a vanished source). A
// new window takes the queue up and every file ends as it should, with one
// upload per file at the service.
#include "clientfixture.h"
#include "audiofixtures.h"
#include "serviceprocess.h"
#include "storedfile.h"

#include "pipeline/queuestore.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

int countLines(const QByteArray& log, const QByteArray& start)
{
    const QList<QByteArray> lines = log.split('\n');
    return int(std::count_if(lines.begin(), lines.end(), [&](const QByteArray& line) { return line.startsWith(start); }));
}

} // namespace

class TestWindowRestart : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void everySavedStateEndsAsItShould();

private:
    QString wav(const QString& name, double seconds);
    QList<StoredFile> firstWindow();

    QTemporaryDir dir;
    std::unique_ptr<ServiceProcess> service;
};

void TestWindowRestart::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // Each job held for a second or two, so that the first window ends
    // while its job is processed.
    service = std::make_unique<ServiceProcess>(QStringList{"--step-ms", "200", "--workers", "1"});
    QVERIFY2(service->start(), qPrintable(service->errorString()));
}

QString TestWindowRestart::wav(const QString& name, double seconds)
{
    fixtures::Signal signal;
    const QString file = dir.filePath(name);
    if (!fixtures::writeSine(file, seconds, 440.0, 0.25, signal))
        qFatal("cannot write %s", qPrintable(file));
    return QDir::toNativeSeparators(file);
}

// Three files queued; the first is submitted, the third paused; the window
// is destroyed while the first job is processed. Returns the saved queue.
QList<StoredFile> TestWindowRestart::firstWindow()
{
    auto client = std::make_unique<ClientFixture>();
    if (!client->logIn(service->apiUrl()))
        qFatal("the first window did not log in");
    QList<QueueFile*> files;
    for (const char* name : {"submitted.wav", "waiting.wav", "paused.wav"}) {
        const QString source = QDir::toNativeSeparators(dir.filePath(QString::fromLatin1(name)));
        files << client->queue(source, source + ".out.wav");
    }
    if (!client->manager.pauseFile(files[2]->fileId))
        qFatal("the third file could not be paused");
    if (!QTest::qWaitFor([&] { return client->manager.session(0)->submittedJobId() > 0; }, 30000))
        qFatal("the first file was not submitted within 30 s");
    client.reset();
    return queuestore::load(queuestore::defaultPath());
}

void TestWindowRestart::everySavedStateEndsAsItShould()
{
    // Distinct lengths tell the uploads apart.
    const QString submitted = wav("submitted.wav", 1.0);
    const QString waiting = wav("waiting.wav", 1.5);
    const QString paused = wav("paused.wav", 2.0);
    QList<StoredFile> saved = firstWindow();
    QCOMPARE(saved.size(), 3);
    QCOMPARE(saved[0].state, QueueFileState::Running);
    QVERIFY(saved[0].jobId > 0);
    QCOMPARE(saved[1].state, QueueFileState::Waiting);
    QCOMPARE(saved[2].state, QueueFileState::Paused);
    QCOMPARE(service->uploadSizes().size(), 1);

    // Downloaded before the end, not yet post-processed.
    StoredFile downloaded = storedFile(wav("downloaded.wav", 1.0), QueueFileState::PostProcessing, 9001);
    downloaded.destFile = wav("downloaded.wav.out.wav", 1.0).toUtf8();
    // Post-processing finished, Done not yet set.
    StoredFile postProcessed = storedFile(wav("finished.wav", 1.0), QueueFileState::PostProcessing, 9002);
    postProcessed.postProcessed = true;
    postProcessed.outputFiles = {wav("finished.wav.out -20 dbrms.wav", 1.0).toUtf8()};
    postProcessed.destFile.clear();
    // Noise suppression finished: its copy and the destination with its
    // suffix are the ones to keep.
    StoredFile preProcessed = storedFile(wav("denoised.wav", 2.5), QueueFileState::PreProcessing);
    preProcessed.srcFile = wav("denoised-nr.wav", 2.5).toUtf8();
    preProcessed.destFile = (QString::fromUtf8(preProcessed.originalSourceFile) + ".out-nr.wav").toUtf8();
    preProcessed.preProcessed = true;
    preProcessed.options.preProcessing_Arguments = QStringLiteral("nredOp00: --alwayson");
    StoredFile error = storedFile(wav("failed.wav", 1.0), QueueFileState::Error);
    error.errorMessage = "Error processing file (err 11)";
    error.retryable = true;
    const StoredFile vanished = storedFile(dir.filePath("vanished.wav"), QueueFileState::Waiting);
    saved << downloaded << postProcessed << preProcessed << error << vanished;

    ClientFixture client;
    QVERIFY(queuestore::write(queuestore::defaultPath(), queuestore::serialise(saved)));
    QVERIFY(client.logIn(service->apiUrl()));
    const QList<QueueFile*> files = client.manager.snapshot();
    QCOMPARE(files.size(), saved.size());
    const auto endsIn = [&](int i, const char* list) {
        return QTest::qWaitFor([&] { return client.listOf(client.widgetOf(files[i])) == QLatin1String(list); }, 60000);
    };
    for (int i : {0, 1, 3, 4, 5})
        QVERIFY2(endsIn(i, "done"), files[i]->toString().constData());
    QCOMPARE(files[2]->getState(), QueueFileState::Paused);
    QCOMPARE(client.listOf(client.widgetOf(files[2])), QStringLiteral("queue"));
    QVERIFY(client.manager.resumeFile(files[2]->fileId));
    QVERIFY2(endsIn(2, "done"), files[2]->toString().constData());
    QVERIFY(endsIn(6, "error"));
    QCOMPARE(files[6]->errorMessage(), QByteArray("Error processing file (err 11)"));
    QVERIFY(endsIn(7, "error"));
    QCOMPARE(files[7]->errorMessage(), QByteArray("Source file no longer exists"));

    // One upload per file: the three of the first window (the submitted
    // one only before the restart) and the pre-processed copy.
    QList<qint64> uploads = service->uploadSizes();
    std::sort(uploads.begin(), uploads.end());
    QList<qint64> expected;
    for (const QString& source : {submitted, waiting, paused, QString::fromUtf8(preProcessed.srcFile)})
        expected << QFileInfo(source).size();
    std::sort(expected.begin(), expected.end());
    QCOMPARE(uploads.size(), expected.size());
    // The body is the file plus the form around it.
    for (int i = 0; i < expected.size(); ++i)
        QVERIFY2(uploads[i] > expected[i] && uploads[i] < expected[i] + 2048, qPrintable(service->log()));
    // No result fetched for the file whose result was on disk or whose
    // post-processing had finished.
    QCOMPARE(countLines(service->log(), "GET /api/Jobs/9001"), 0);
    QCOMPARE(countLines(service->log(), "GET /api/Jobs/9002"), 0);
    // Pre-processing was not run again: no second copy, no doubled suffix.
    QCOMPARE(files[5]->lockedDestFile(), preProcessed.destFile);
    QVERIFY(QFileInfo::exists(QString::fromUtf8(preProcessed.destFile)));
    QVERIFY(!QFileInfo::exists(dir.filePath("denoised-nr (1).wav")));
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.temp*")}, QDir::Files | QDir::Hidden), QStringList());
}

QTEST_MAIN(TestWindowRestart)
#include "tst_windowrestart.moc"
