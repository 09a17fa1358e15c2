// queue.xml: the format read back field for field, the atomic writer on its
// own thread, a file that cannot be read, the copy taken from a live queue,
// and the states the restorer puts each kind of saved file into.
#include "pipeline/queuemanager.h"
#include "pipeline/queuerestorer.h"
#include "pipeline/queuesaver.h"
#include "pipeline/queuestore.h"
#include "settings/settings.h"
#include "storedfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString touch(const QString& path, const QByteArray& content = "audio")
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return QDir::toNativeSeparators(path);
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestQueueStore : public QObject {
    Q_OBJECT

private slots:
    void everyFieldReadsBack();
    void unreadableFileBecomesBad();
    void saverWritesTheNewestCopy();
    void takeKeepsOrderAndLeavesDoneOut();
    void restoreResumesEachState();
    void restoredWatchedFileIsRecordedAsSeen();
    void restoreKeepsFinishedLocalSteps();
    void restoredFileSavedAgainResumesTheSameWay();

private:
    QTemporaryDir m_dir;
};

void TestQueueStore::everyFieldReadsBack()
{
    StoredFile full = storedFile(QStringLiteral("C:\\in\\ä b.wav"), QueueFileState::PostProcessing, 4711);
    full.srcFile = "C:\\in\\ä b-denoised.wav";
    full.jobCreated = "2026-12-10T04:00:00.123Z";
    full.watchFolder = "C:\\in";
    full.outputFiles = {"C:\\out\\a.wav", "C:\\out\\b <&>.wav"};
    full.errorMessage = "Error: \"quoted\" & <tagged>";
    full.retryable = true;
    full.convertedToStereo = true;
    full.preProcessingStatus = PreProcessingStatus::Failed;
    full.deleteAfterSubmission = true;
    full.preProcessingOperations = 5;
    full.preProcessed = true;
    full.postProcessed = true;
    // A carriage return alone, which XML would read back as a line feed.
    full.workFile = "C:\\in\\ä b\r.wav.temp (1)";
    full.originalSourceFile = "C:\\in\\take\x01\x1f 100%.wav";
    ProcessingOptions& o = full.options;
    o.fromWatchFolder = true;
    o.watchFolderPath = QStringLiteral("C:\\in");
    o.showDialog = true;
    o.preset = QStringLiteral("2: Music");
    o.outputPath = QStringLiteral("C:\\out");
    o.outputSuffix = QStringLiteral("-x");
    o.enabled = false;
    o.encodeToMP3 = true;
    o.deleteWAVafterMP3Encoding = true;
    o.cleanUpIntermediate = false;
    o.encodeToMP3_bitRate = QStringLiteral("320");
    o.encodeToMP3_suffix = QStringLiteral("-mp3");
    o.postProcessing_Arguments = QStringLiteral("normOp00:-16\nnormOp00:-23");
    o.preProcessing_Arguments = QStringLiteral("nredOp00:1\nmstOp00");
    o.monoProcessing_ConvertToDualStereo = true;
    o.monoProcessing_KeepConverted = true;
    o.preProcessing_Result = 6;
    const QList<StoredFile> files{storedFile("a.wav", QueueFileState::Paused), full,
                                  storedFile("c.wav", QueueFileState::Error)};

    QList<StoredFile> read;
    QString error;
    QVERIFY2(queuestore::parse(queuestore::serialise(files), read, error), qPrintable(error));
    QCOMPARE(read.size(), 3);
    QVERIFY(read == files);
    QVERIFY(queuestore::parse(queuestore::serialise({}), read, error));
    QVERIFY(read.isEmpty());
}

void TestQueueStore::unreadableFileBecomesBad()
{
    const QByteArray whole = queuestore::serialise({storedFile("a.wav", QueueFileState::Waiting)});
    const QList<QByteArray> broken{whole.left(whole.size() / 2), whole + whole, "not xml at all",
                                   QByteArray(whole).replace("state=\"1\"", "state=\"42\"")};
    const QString path = m_dir.filePath("queue.xml");
    for (const QByteArray& text : broken) {
        touch(path, text);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be read.*renamed to .*queue.xml.bad"));
        QVERIFY(queuestore::load(path).isEmpty());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(contentOf(path + ".bad"), text);
    }
    QVERIFY(queuestore::load(m_dir.filePath("missing.xml")).isEmpty());
}

void TestQueueStore::saverWritesTheNewestCopy()
{
    const QString path = m_dir.filePath("saved.xml");
    QList<StoredFile> files;
    {
        QueueSaver saver(path);
        for (int i = 0; i < 50; ++i) {
            files.append(storedFile(QStringLiteral("f%1.wav").arg(i), QueueFileState::Waiting));
            saver.save(files);
        }
        saver.flush();
        QVERIFY(saver.writes() >= 1);
        QVERIFY(queuestore::load(path) == files);
        files.removeFirst();
        saver.save(files);
    }
    // The destructor writes what was handed over last before it joins.
    QVERIFY(queuestore::load(path) == files);
    QVERIFY(!QFile::exists(path + ".bad"));
}

void TestQueueStore::takeKeepsOrderAndLeavesDoneOut()
{
    QueueManager manager;
    QList<QueueFile*> files;
    for (const char* name : {"t1.wav", "t2.wav", "t3.wav", "t4.wav"}) {
        const QString source = touch(m_dir.filePath(name));
        files.append(manager.addFileToQueue(source, 10, source + ".out.wav", "3: Voice", ProcessingOptions()));
        QVERIFY(files.last());
    }
    files[0]->setState(QueueFileState::Done);
    files[1]->setState(QueueFileState::Error);
    files[1]->setErrorMessage("Error processing file (err 9)");
    files[1]->setRetryable(true);
    files[2]->setState(QueueFileState::Canceled);
    files[3]->setState(QueueFileState::Paused);

    const QList<StoredFile> taken = queuestore::take(manager);
    QCOMPARE(taken.size(), 2);
    QCOMPARE(taken[0].srcFile, files[1]->srcFile);
    // A Done file whose MP3s are still being made is kept, and a restart takes it up as Done.
    const QString encoded = touch(m_dir.filePath("t5.wav"));
    QueueFile* encoding = manager.addFileToQueue(encoded, 10, encoded + ".out.wav", "3: Voice", ProcessingOptions());
    QVERIFY(encoding);
    encoding->setState(QueueFileState::Done);
    *encoding->pendingMp3s = 1;
    const QList<StoredFile> withEncoding = queuestore::take(manager);
    QCOMPARE(withEncoding.size(), 3);
    QueueManager restarted;
    Settings settings;
    QCOMPARE(queuerestorer::restore({withEncoding.last()}, restarted, settings), 1);
    QCOMPARE(restarted.snapshot().first()->getState(), QueueFileState::Done);
    QCOMPARE(restarted.snapshot().first()->destFile, encoding->destFile);
    *encoding->pendingMp3s = 0;
    QCOMPARE(queuestore::take(manager).size(), 2);
    QCOMPARE(taken[0].state, QueueFileState::Error);
    QCOMPARE(taken[0].errorMessage, QByteArray("Error processing file (err 9)"));
    QVERIFY(taken[0].retryable);
    QCOMPARE(taken[1].state, QueueFileState::Paused);
    QCOMPARE(taken[1].presetName, QByteArray("3: Voice"));
    QCOMPARE(taken[1].priority, 10);
}

void TestQueueStore::restoreResumesEachState()
{
    const QString original = touch(m_dir.filePath("orig.wav"));
    const QString processed = touch(m_dir.filePath("orig-denoised.wav"));
    const QString result = touch(m_dir.filePath("result.wav"));
    StoredFile preProcessing = storedFile(original, QueueFileState::PreProcessing);
    preProcessing.srcFile = processed.toUtf8();
    preProcessing.preProcessingStatus = PreProcessingStatus::Reset;
    StoredFile uploading = storedFile(original, QueueFileState::Running);
    StoredFile submitted = storedFile(original, QueueFileState::Running, 17);
    submitted.srcFile = processed.toUtf8();
    StoredFile downloaded = storedFile(original, QueueFileState::PostProcessing, 18);
    downloaded.destFile = result.toUtf8();
    StoredFile resultGone = storedFile(original, QueueFileState::PostProcessing, 19);
    StoredFile error = storedFile(original, QueueFileState::Error);
    error.errorMessage = "Invalid audio file format";
    const QList<StoredFile> saved{storedFile(original, QueueFileState::Waiting),
                                  storedFile(original, QueueFileState::Paused),
                                  preProcessing,
                                  uploading,
                                  submitted,
                                  downloaded,
                                  resultGone,
                                  error,
                                  storedFile(original, QueueFileState::Done),
                                  storedFile(m_dir.filePath("vanished.wav"), QueueFileState::Waiting),
                                  storedFile(m_dir.filePath("vanished2.wav"), QueueFileState::PreProcessing)};
    QueueManager manager;
    Settings settings;
    QCOMPARE(queuerestorer::restore(saved, manager, settings), 10);
    const QList<QueueFile*> files = manager.snapshot();
    QCOMPARE(files.size(), 10);

    QCOMPARE(files[0]->getState(), QueueFileState::Waiting);
    QCOMPARE(files[1]->getState(), QueueFileState::Paused);
    // Pre-processing starts again from the queued source.
    QCOMPARE(files[2]->getState(), QueueFileState::Waiting);
    QCOMPARE(files[2]->srcFile, original.toUtf8());
    QCOMPARE(files[2]->preProcessingStatus, PreProcessingStatus::NotRun);
    QCOMPARE(files[3]->getState(), QueueFileState::Waiting);
    QCOMPARE(files[3]->resumeJobId.load(), 0);
    // Submitted: the job is polled; the uploaded copy is kept for a new upload.
    QCOMPARE(files[4]->getState(), QueueFileState::Waiting);
    QCOMPARE(files[4]->resumeJobId.load(), 17);
    QCOMPARE(files[4]->srcFile, processed.toUtf8());
    QVERIFY(!files[4]->resumeFromResult);
    QCOMPARE(files[5]->resumeJobId.load(), 18);
    QVERIFY(files[5]->resumeFromResult);
    QCOMPARE(files[6]->resumeJobId.load(), 19);
    QVERIFY(!files[6]->resumeFromResult);
    QCOMPARE(files[7]->getState(), QueueFileState::Error);
    QCOMPARE(files[7]->errorMessage(), QByteArray("Invalid audio file format"));
    for (int i : {8, 9}) {
        QCOMPARE(files[i]->getState(), QueueFileState::Error);
        QCOMPARE(files[i]->errorMessage(), QByteArray("Source file no longer exists"));
    }
    QCOMPARE(files[0]->presetName, QByteArray("1: Speech -16 LUFS"));
    QCOMPARE(files[0]->priority, 100);
    QVERIFY(files[0]->fileId != files[1]->fileId);
}

void TestQueueStore::restoredWatchedFileIsRecordedAsSeen()
{
    QTemporaryDir watched;
    const QString known = touch(watched.filePath("known.wav"));
    const QString lost = touch(watched.filePath("lost.wav"), "lost record");
    Settings settings;
    ScanPath folder;
    folder.path = QDir::toNativeSeparators(watched.path());
    folder.preset = "1: Speech -16 LUFS";
    folder.scannedFiles.append({known, 5, ScanPath::fileDigest(known)});
    settings.addScanPath(folder);
    QList<StoredFile> saved;
    for (const QString& source : {known, lost}) {
        StoredFile f = storedFile(source, QueueFileState::Waiting);
        f.options.fromWatchFolder = true;
        f.options.watchFolderPath = folder.path;
        f.options.preset = QString::fromUtf8(folder.preset);
        saved.append(f);
    }
    QueueManager manager;
    QCOMPARE(queuerestorer::restore(saved, manager, settings), 2);
    const QList<ScannedFile> seen = settings.scanPaths().first().scannedFiles;
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[1].filePath, lost);
    QCOMPARE(seen[1].fileSize, qint64(11));
    QCOMPARE(seen[1].MD5, ScanPath::fileDigest(lost));

    QStringList newFiles;
    QStringList vanished;
    settings.scanPathRecords().first().scan(false, newFiles, vanished);
    QVERIFY2(newFiles.isEmpty(), qPrintable(newFiles.join(", ")));
}

QTEST_GUILESS_MAIN(TestQueueStore)
#include "tst_queuestore.moc"

// Local steps that had finished are not run again (a second pre-processing
// would process its own output and add the destination's suffix twice, a
// second post-processing would make a second set of outputs); the leftovers
// of steps cut off by the end of the client are removed.
void TestQueueStore::restoreKeepsFinishedLocalSteps()
{
    QTemporaryDir dir;
    const QString original = touch(dir.filePath("take.wav"));
    const QString processed = touch(dir.filePath("take-denoised.wav"));
    const QString suffixed = dir.filePath("take-done-denoised.wav");
    StoredFile preDone = storedFile(original, QueueFileState::PreProcessing);
    preDone.preProcessed = true;
    preDone.srcFile = processed.toUtf8();
    preDone.destFile = suffixed.toUtf8();
    StoredFile preCut = storedFile(original, QueueFileState::PreProcessing);
    preCut.workFile = touch(dir.filePath("take.wav.temp (1)")).toUtf8();
    StoredFile notOurs = storedFile(processed, QueueFileState::PreProcessing);
    notOurs.workFile = original.toUtf8();
    StoredFile uploading = storedFile(original, QueueFileState::Running);
    uploading.srcFile = processed.toUtf8();
    uploading.destFile = suffixed.toUtf8();
    StoredFile downloaded = storedFile(original, QueueFileState::Running, 20);
    downloaded.destFile = touch(dir.filePath("take-done.tmp")).toUtf8();
    const QString part = touch(dir.filePath(".take-done.tmp.5e1f.part"));
    const QString otherPart = touch(dir.filePath(".other.tmp.5e1f.part"));
    StoredFile postDone = storedFile(original, QueueFileState::PostProcessing, 21);
    postDone.postProcessed = true;
    postDone.destFile.clear();
    postDone.outputFiles = {touch(dir.filePath("take-done -20 dbrms.wav")).toUtf8()};

    QueueManager manager;
    Settings settings;
    QCOMPARE(queuerestorer::restore({preDone, preCut, notOurs, uploading, downloaded, postDone}, manager, settings), 6);
    const QList<QueueFile*> files = manager.snapshot();

    QCOMPARE(files[0]->getState(), QueueFileState::Waiting);
    QVERIFY(files[0]->resumePreProcessed);
    QCOMPARE(files[0]->srcFile, processed.toUtf8());
    QCOMPARE(files[0]->destFile, suffixed.toUtf8());
    QVERIFY(!files[1]->resumePreProcessed);
    QCOMPARE(files[1]->srcFile, original.toUtf8());
    QVERIFY(!QFile::exists(QString::fromUtf8(preCut.workFile)));
    // Only a work file named after the source is the client's own.
    QVERIFY(QFile::exists(original));
    QVERIFY(files[3]->resumePreProcessed);
    QCOMPARE(files[3]->srcFile, processed.toUtf8());
    QCOMPARE(files[3]->resumeJobId.load(), 0);
    // A result under its final name is complete: post-processed, not fetched again.
    QCOMPARE(files[4]->resumeJobId.load(), 20);
    QVERIFY(files[4]->resumeFromResult);
    QVERIFY(!QFile::exists(part));
    QVERIFY(QFile::exists(otherPart));
    QCOMPARE(files[5]->getState(), QueueFileState::Done);
    QCOMPARE(files[5]->outputFiles, postDone.outputFiles);
}

// A file taken up after a restart and saved again before a session or the
// queue driver took it (a second end of the client in between) keeps its
// job and its finished pre-processing: no second upload, no second run.
void TestQueueStore::restoredFileSavedAgainResumesTheSameWay()
{
    QTemporaryDir dir;
    const QString original = touch(dir.filePath("take.wav"));
    const QString processed = touch(dir.filePath("take-nr.wav"));
    StoredFile submitted = storedFile(original, QueueFileState::Running, 30);
    StoredFile preDone = storedFile(original, QueueFileState::PreProcessing);
    preDone.preProcessed = true;
    preDone.srcFile = processed.toUtf8();
    StoredFile pausedJob = storedFile(original, QueueFileState::Paused, 31);
    // An error that kept its job: submitting the file again polls that job.
    StoredFile failedPolls = storedFile(original, QueueFileState::Error, 32);
    failedPolls.retryable = true;
    failedPolls.jobCreated = "2026-12-10T04:00:00.123Z";

    QueueManager first;
    Settings settings;
    QCOMPARE(queuerestorer::restore({submitted, preDone, pausedJob, failedPolls}, first, settings), 4);
    const QList<StoredFile> savedAgain = queuestore::take(first);
    QCOMPARE(savedAgain.size(), 4);
    QCOMPARE(savedAgain[0].jobId, 30);
    QVERIFY(savedAgain[1].preProcessed);
    QCOMPARE(savedAgain[2].jobId, 31);
    QCOMPARE(savedAgain[3].jobId, 32);
    QCOMPARE(savedAgain[3].jobCreated, failedPolls.jobCreated);

    QueueManager second;
    QCOMPARE(queuerestorer::restore(savedAgain, second, settings), 4);
    const QList<QueueFile*> files = second.snapshot();
    QCOMPARE(files[0]->getState(), QueueFileState::Waiting);
    QCOMPARE(files[0]->resumeJobId.load(), 30);
    QVERIFY(files[1]->resumePreProcessed);
    QCOMPARE(files[1]->srcFile, processed.toUtf8());
    QCOMPARE(files[2]->getState(), QueueFileState::Paused);
    QCOMPARE(files[2]->resumeJobId.load(), 31);
    QCOMPARE(files[3]->getState(), QueueFileState::Error);
    QCOMPARE(files[3]->resumeJobId.load(), 32);
}
