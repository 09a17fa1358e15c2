#include "audiofixtures.h"

#include "driver/account.h"
#include "driver/fileactions.h"
#include "driver/errorretries.h"
#include "driver/fileactions.h"
#include "driver/queuecommands.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuemanager.h"
#include "pipeline/sessionmanager.h"
#include "settings/naming.h"
#include "settings/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The commands both clients give, on a queue manager without sessions:
// the test puts files into their states by hand and checks what each
// command does with them; and the account's log-out, credentials and
// status text.
class TestQueueCommands : public QObject {
    Q_OBJECT

private slots:
    void init();
    void queueFilesChecksEachDestination();
    void resubmitFollowsOneRule();
    void cancelStopsOnlyFilesBeingProcessed();
    void anotherPresetKeepsTheDoneFilesOptions();
    void clearFinishedTakesEveryFinishedFile();
    void pauseResumeAndMove();
    void videoSoundsAreProposedBesideTheirVideos();
    void actionsPerState_data();
    void actionsPerState();
    void accountLogsOutAndChangesCredentials();
    void errorsComeBackWhenTheirCauseClears();

private:
    QueueFile* queued(const QString& name, QueueFileState state);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<QueueManager> manager;
    std::unique_ptr<QueueCommands> commands;
    int cycles = 0;
    QList<int> abandoned;
};

void TestQueueCommands::init()
{
    commands.reset();
    manager = std::make_unique<QueueManager>();
    settings = std::make_unique<Settings>();
    dir = std::make_unique<QTemporaryDir>();
    cycles = 0;
    abandoned.clear();
    commands = std::make_unique<QueueCommands>(*manager, [this] { ++cycles; },
                                               [this](QueueFile& file) { abandoned << file.fileId; });
}

QueueFile* TestQueueCommands::queued(const QString& name, QueueFileState state)
{
    const QString source = dir->filePath(name);
    if (!fixtures::writeSilence(source, 0.1, fixtures::Signal()))
        return nullptr;
    QueueFile* file = manager->addFileToQueue(source, 10, dir->filePath(QStringLiteral("out ") + name), "1: Speech",
                                              ProcessingOptions());
    if (file)
        file->setState(state);
    return file;
}

void TestQueueCommands::queueFilesChecksEachDestination()
{
    // A folder nobody may write to, not even root: the kernel's settings tree.
    const QString readOnly = QStringLiteral("/proc/sys");
    if (QFileInfo(readOnly).isWritable())
        QSKIP("no read-only folder on this machine");
    const QString source = dir->filePath(QStringLiteral("take.wav"));
    QVERIFY(fixtures::writeSilence(source, 0.1, fixtures::Signal()));
    const QList<Refusal> refusals = commands->queueFiles({
        {source, dir->filePath(QStringLiteral("take {presetName}.wav")), QStringLiteral("1: Speech"), {}},
        {source, readOnly + QStringLiteral("/take.wav"), QStringLiteral("1: Speech"), {}},
        {dir->filePath(QStringLiteral("gone.wav")), dir->filePath(QStringLiteral("gone out.wav")),
         QStringLiteral("1: Speech"), {}},
    });
    QCOMPARE(refusals.size(), 2);
    QCOMPARE(refusals.at(0).reason, Refusal::Reason::Destination);
    QCOMPARE(refusals.at(0).destination, QDir::toNativeSeparators(readOnly + QStringLiteral("/take.wav")));
    QCOMPARE(refusals.at(0).text, QByteArray("The destination folder is not writable."));
    QCOMPARE(refusals.at(1).reason, Refusal::Reason::Queue);
    QCOMPARE(refusals.at(1).source, dir->filePath(QStringLiteral("gone.wav")));

    const QList<QueueFile*> files = manager->snapshot();
    QCOMPARE(files.size(), 1);
    QCOMPARE(files.first()->priority, QueueCommands::kAddedByHandPriority);
    // The preset's name template is expanded.
    QVERIFY(QString::fromUtf8(files.first()->destFile).endsWith(QStringLiteral("take 1_ Speech.wav")));
    QCOMPARE(cycles, 1);
}

void TestQueueCommands::resubmitFollowsOneRule()
{
    QueueFile* retryable = queued(QStringLiteral("a.wav"), QueueFileState::Error);
    retryable->setRetryable(true);
    retryable->setErrorMessage("Processing failed");
    retryable->preProcessingStatus = PreProcessingStatus::Failed;
    QueueFile* final = queued(QStringLiteral("b.wav"), QueueFileState::Error);
    final->setErrorMessage("Invalid preset");
    QueueFile* canceled = queued(QStringLiteral("c.wav"), QueueFileState::Canceled);
    QueueFile* done = queued(QStringLiteral("d.wav"), QueueFileState::Done);
    QueueFile* waiting = queued(QStringLiteral("e.wav"), QueueFileState::Waiting);

    QCOMPARE(commands->resubmitFailed(), 1);
    QCOMPARE(retryable->getState(), QueueFileState::Waiting);
    QVERIFY(retryable->errorMessage().isEmpty());
    QCOMPARE(retryable->preProcessingStatus, PreProcessingStatus::Reset);
    QCOMPARE(final->getState(), QueueFileState::Error);
    QCOMPARE(final->errorMessage(), QByteArray("Invalid preset"));

    QVERIFY(commands->resubmit(canceled->fileId));
    QCOMPARE(canceled->getState(), QueueFileState::Waiting);
    QVERIFY(!commands->resubmit(final->fileId));
    QVERIFY(!commands->resubmit(done->fileId));
    QCOMPARE(done->getState(), QueueFileState::Done);
    QVERIFY(!commands->resubmit(waiting->fileId));
    QVERIFY(!commands->resubmit(123456));
    QCOMPARE(cycles, 2);
}

void TestQueueCommands::cancelStopsOnlyFilesBeingProcessed()
{
    const QList<QueueFileState> processing{QueueFileState::PreProcessing, QueueFileState::Running,
                                           QueueFileState::PostProcessing};
    QList<int> cancelled;
    for (const QueueFileState state : processing) {
        QueueFile* file = queued(QStringLiteral("p%1.wav").arg(int(state)), state);
        QVERIFY(commands->cancel(file->fileId));
        QCOMPARE(file->getState(), QueueFileState::Error);
        QCOMPARE(file->errorMessage(), QByteArray("Cancelled by the user"));
        cancelled << file->fileId;
        // "Submit again" is offered and works.
        QVERIFY(commands->actionsFor(*file).resubmit);
        QVERIFY(commands->resubmit(file->fileId));
        QCOMPARE(file->getState(), QueueFileState::Waiting);
        QVERIFY(file->errorMessage().isEmpty());
    }
    QCOMPARE(abandoned, cancelled);
    // Waiting, paused and finished files are not cancelled (a waiting one is removed instead).
    for (const QueueFileState state : {QueueFileState::Waiting, QueueFileState::Paused, QueueFileState::Done,
                                       QueueFileState::Error, QueueFileState::Canceled}) {
        QueueFile* file = queued(QStringLiteral("s%1.wav").arg(int(state)), state);
        QVERIFY(!commands->cancel(file->fileId));
        QCOMPARE(file->getState(), state);
    }
    QVERIFY(!commands->cancel(123456));
    QCOMPARE(abandoned, cancelled);
}

void TestQueueCommands::anotherPresetKeepsTheDoneFilesOptions()
{
    QueueFile* done = queued(QStringLiteral("done.wav"), QueueFileState::Done);
    done->options.encodeToMP3 = true;
    done->options.postProcessing_Arguments = QStringLiteral("normOp00: -16 LUFS");
    const QString source = commands->originalSource(done->fileId);
    QCOMPARE(source, dir->filePath(QStringLiteral("done.wav")));
    QVERIFY(!commands->submitWithAnotherPreset(
        done->fileId, {source, dir->filePath(QStringLiteral("done {presetName}.wav")), QStringLiteral("2: Music"), {}}));
    QueueFile* again = manager->snapshot().last();
    QVERIFY(again != done);
    QCOMPARE(again->presetName, QByteArray("2: Music"));
    QVERIFY(again->options.encodeToMP3);
    QCOMPARE(again->options.postProcessing_Arguments, QStringLiteral("normOp00: -16 LUFS"));
    QVERIFY(QString::fromUtf8(again->destFile).endsWith(QStringLiteral("done 2_ Music.wav")));

    QueueFile* waiting = queued(QStringLiteral("waiting.wav"), QueueFileState::Waiting);
    const auto refusal = commands->submitWithAnotherPreset(waiting->fileId, {source, source, QStringLiteral("2: Music"), {}});
    QVERIFY(refusal);
    QCOMPARE(manager->snapshot().size(), 3);
}

void TestQueueCommands::clearFinishedTakesEveryFinishedFile()
{
    const QueueFileState states[] = {QueueFileState::Done,     QueueFileState::Done,  QueueFileState::Error,
                                     QueueFileState::Waiting,  QueueFileState::Canceled, QueueFileState::Error,
                                     QueueFileState::Paused};
    QList<int> ids;
    for (int i = 0; i < 7; ++i)
        ids << queued(QStringLiteral("f%1.wav").arg(i), states[i])->fileId;
    QCOMPARE(commands->clearFinished(), (QList<int>{ids[0], ids[1], ids[2], ids[4], ids[5]}));
    const QList<QueueFile*> left = commands->files();
    QCOMPARE(left.size(), 2);
    QCOMPARE(left.at(0)->fileId, ids[3]);
    QCOMPARE(left.at(1)->fileId, ids[6]);

    QVERIFY(commands->remove(ids[3]));
    QVERIFY(!commands->remove(ids[3]));
    QVERIFY(!commands->file(ids[3]));
}

void TestQueueCommands::pauseResumeAndMove()
{
    QueueFile* first = queued(QStringLiteral("a.wav"), QueueFileState::Waiting);
    QueueFile* done = queued(QStringLiteral("b.wav"), QueueFileState::Done);
    QueueFile* last = queued(QStringLiteral("c.wav"), QueueFileState::Waiting);

    QVERIFY(commands->togglePause(first->fileId));
    QCOMPARE(first->getState(), QueueFileState::Paused);
    QVERIFY(commands->togglePause(first->fileId));
    QCOMPARE(first->getState(), QueueFileState::Waiting);
    QVERIFY(!commands->togglePause(done->fileId));

    // A finished file keeps its place and is passed over.
    QVERIFY(commands->moveUp(last->fileId));
    QCOMPARE(commands->files(), (QList<QueueFile*>{last, done, first}));
    QVERIFY(!commands->moveUp(last->fileId));
    QVERIFY(!commands->moveDown(done->fileId));
    QVERIFY(commands->moveDown(last->fileId));
    QCOMPARE(commands->files(), (QList<QueueFile*>{first, done, last}));
}

void TestQueueCommands::videoSoundsAreProposedBesideTheirVideos()
{
    QVERIFY(queued(QStringLiteral("earlier.wav"), QueueFileState::Waiting));
    const QString sound = dir->filePath(QStringLiteral("audioFrom-clip.take.mp4.wav"));
    QVERIFY(fixtures::writeSilence(sound, 0.1, fixtures::Signal()));
    const QList<FileRequest> requests = commands->videoSoundRequests(
        {QUrl::fromLocalFile(sound), QUrl::fromLocalFile(dir->filePath(QStringLiteral("gone.wav")))},
        {QUrl::fromLocalFile(QStringLiteral("/videos/clip.take.mp4")), QUrl::fromLocalFile(QStringLiteral("/videos/b.mp4"))});
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().source, QDir::toNativeSeparators(sound));
    QCOMPARE(requests.first().destination, QDir::toNativeSeparators(QStringLiteral("/videos/clip - {presetName}.wav")));
    // The last preset used.
    QCOMPARE(requests.first().preset, QStringLiteral("1: Speech"));
    QVERIFY(!requests.first().options.fromWatchFolder);
}

void TestQueueCommands::actionsPerState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("retryable");
    // Offered, in the menu's order: p(ause) r(esume) o(utput) i(nput) s(ubmit) x (remove), c (removing
    // cancels), k (cancel while processed).
    QTest::addColumn<QString>("actions");
    QTest::newRow("Waiting") << int(QueueFileState::Waiting) << false << QStringLiteral("p i x c");
    QTest::newRow("Paused") << int(QueueFileState::Paused) << false << QStringLiteral("r i x c");
    QTest::newRow("Running") << int(QueueFileState::Running) << false << QStringLiteral("i k");
    QTest::newRow("Done") << int(QueueFileState::Done) << false << QStringLiteral("o i s x");
    QTest::newRow("Error retryable") << int(QueueFileState::Error) << true << QStringLiteral("i s x");
    QTest::newRow("Error final") << int(QueueFileState::Error) << false << QStringLiteral("i x");
    QTest::newRow("Canceled") << int(QueueFileState::Canceled) << false << QStringLiteral("i s x");
    QTest::newRow("Pre processing") << int(QueueFileState::PreProcessing) << false << QStringLiteral("i k");
    QTest::newRow("Post processing") << int(QueueFileState::PostProcessing) << false << QStringLiteral("i k");
}

void TestQueueCommands::actionsPerState()
{
    QFETCH(int, state);
    QFETCH(bool, retryable);
    QFETCH(QString, actions);
    QueueFile* file = queued(QStringLiteral("a.wav"), QueueFileState(state));
    QVERIFY(file);
    file->setRetryable(retryable);
    const FileActions offered = commands->actionsFor(*file);
    QStringList shown;
    const std::pair<bool, const char*> flags[] = {{offered.pause, "p"},  {offered.resume, "r"},   {offered.openOutput, "o"},
                                                  {offered.openInput, "i"}, {offered.resubmit, "s"}, {offered.remove, "x"},
                                                  {offered.steer, "c"}, {offered.cancel, "k"}};
    for (const auto& [on, letter] : flags) {
        if (on)
            shown << QString::fromLatin1(letter);
    }
    QCOMPARE(shown.join(QLatin1Char(' ')), actions);
    QVERIFY(offered.any());
}

void TestQueueCommands::accountLogsOutAndChangesCredentials()
{
    settings->wUsername = "demo@sonvira.local";
    settings->wPassword = "demo";
    manager->setApiUrl("http://127.0.0.1:9/api");
    Account account(*settings, *manager);
    QCOMPARE(account.statusLine(), QStringLiteral("Initializing"));

    account.logOut();
    QVERIFY(settings->wPassword.isEmpty());
    QCOMPARE(settings->wUsername, QByteArray("demo@sonvira.local"));
    QVERIFY(!manager->loginEnabled());

    QVERIFY(account.changeCredentials("other@sonvira.local", "secret"));
    QCOMPARE(settings->wPassword, QByteArray("secret"));
    QVERIFY(!account.changeCredentials("other@sonvira.local", "secret"));

    // Over https the credit follows, unknown until a job has finished.
    account.setApiUrl("https://127.0.0.1:9/api");
    QCOMPARE(account.statusLine(), QStringLiteral("Initializing - Credit: Waiting for file submission"));
}

// Where nobody presses "Submit again": each error whose cause can pass
// comes back once the cause is seen to clear, its tries spaced by the
// back-off; other errors stay.
void TestQueueCommands::errorsComeBackWhenTheirCauseClears()
{
    const auto failed = [&](const QString& name, const QByteArray& message, int keptJob) {
        QueueFile* file = queued(name, QueueFileState::Error);
        if (file) {
            file->setErrorMessage(message);
            file->setRetryable(true);
            file->resumeJobId = keptJob;
        }
        return file;
    };
    QueueFile* credit = failed(QStringLiteral("credit.wav"), SessionManager::kInsufficientCredit, 0);
    // Its output folder can be written by now.
    QueueFile* folder = failed(QStringLiteral("folder.wav"), naming::folderNotWritableText(), 0);
    QueueFile* service = failed(QStringLiteral("service.wav"), "503 Service Unavailable", 7);
    QueueFile* outage = failed(QStringLiteral("outage.wav"), SessionManager::kUnreachable + " ( - Couldn't connect)", 0);
    QueueFile* other = failed(QStringLiteral("other.wav"), "Error processing file (err 11)", 0);
    QVERIFY(credit && folder && service && outage && other);
    ErrorRetries retries(*commands);
    retries.tick(manager->snapshot(), 5.0f, false);
    QCOMPARE(folder->getState(), QueueFileState::Waiting);
    QCOMPARE(credit->getState(), QueueFileState::Error);
    QCOMPARE(service->getState(), QueueFileState::Error);
    QCOMPARE(outage->getState(), QueueFileState::Error);
    // The credit rose and the service answers again.
    retries.tick(manager->snapshot(), 12.0f, true);
    QCOMPARE(credit->getState(), QueueFileState::Waiting);
    QCOMPARE(service->getState(), QueueFileState::Waiting);
    QCOMPARE(outage->getState(), QueueFileState::Waiting);
    QCOMPARE(other->getState(), QueueFileState::Error);

    // Failing again at once, the file waits its back-off before the next try.
    folder->setState(QueueFileState::Error);
    folder->setErrorMessage(naming::folderNotWritableText());
    retries.tick(manager->snapshot(), 12.0f, true);
    QCOMPARE(folder->getState(), QueueFileState::Error);
    QVERIFY(QTest::qWaitFor(
        [&] {
            retries.tick(manager->snapshot(), 12.0f, true);
            return folder->getState() == QueueFileState::Waiting;
        },
        5000));
}

QTEST_GUILESS_MAIN(TestQueueCommands)
#include "tst_queuecommands.moc"
