#include "clientfixture.h"
#include "audiofixtures.h"

#include "audio/postprocessing.h"
#include "audio/preprocessing.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>

#include <algorithm>

// The main window's queue driver on a queue manager without sessions: the
// test moves files through their states by hand and checks what the window
// does with them: placement, colours and sizes, tab titles, the tray
// message, context menus, the menu actions, the local pre- and
// post-processing steps with their results on disk, and deletion requests.
class TestQueueDriver : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void finishedFilesMoveToTheirTabs();
    void manyNewFilesGetTheirPanelsInBatches();
    void trayMessageWaitsForRunningFiles();
    void contextMenuPerState_data();
    void contextMenuPerState();
    void contextMenuActions();
    void clearDoneErrorRemovesAdjacentFinishedFiles();
    void resubmitOnlyRetryableErrors();
    void resubmitRunsPreProcessingAgain();
    void preProcessing_data();
    void preProcessing();
    void failingPreProcessingKeepsTheSource();
    void postProcessingKeepsFinalOutputsOnly();
    void postProcessingFailureEndsInError();
    void deleteRequestsAreRetriedUntilDone();
    void closeHidesOnlyWhenAsked();
    void statusBarShowsCreditOnlyOverHttps();

private:
    QString wav(const QString& name, int channels, double seconds = 1.0);
    QString path(const QString& name) const { return dir->filePath(name); }
    QueueFile* queueFile(const QString& source, const ProcessingOptions& options = ProcessingOptions());
    // Runs the pre-processing step for a file until the driver marks it done.
    bool preProcess(QueueFile* file);
    bool postProcess(QueueFile* file);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ClientFixture> client;
};

void TestQueueDriver::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestQueueDriver::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    client = std::make_unique<ClientFixture>();
    client->start();
}

void TestQueueDriver::cleanup()
{
    client.reset();
    dir.reset();
}

QString TestQueueDriver::wav(const QString& name, int channels, double seconds)
{
    fixtures::Signal signal;
    signal.channels = channels;
    const QString file = path(name);
    if (!fixtures::writeSine(file, seconds, 440.0, 0.25, signal))
        return {};
    return QDir::toNativeSeparators(file);
}

QueueFile* TestQueueDriver::queueFile(const QString& source, const ProcessingOptions& options)
{
    const QString destination = QFileInfo(source).absolutePath() + QStringLiteral("/result.wav");
    return client->queue(source, destination, options);
}

bool TestQueueDriver::preProcess(QueueFile* file)
{
    file->setState(QueueFileState::PreProcessing);
    return QTest::qWaitFor(
        [&] {
            client->tick();
            return file->preProcessingDone();
        },
        60000);
}

bool TestQueueDriver::postProcess(QueueFile* file)
{
    file->setState(QueueFileState::PostProcessing);
    return QTest::qWaitFor(
        [&] {
            client->tick();
            return file->postProcessingDone();
        },
        60000);
}

void TestQueueDriver::finishedFilesMoveToTheirTabs()
{
    QueueFile* done = queueFile(wav("a.wav", 2));
    QueueFile* failed = queueFile(wav("b.wav", 2));
    client->tick();
    QueueFileWidget* doneWidget = client->widgetOf(done);
    QueueFileWidget* errorWidget = client->widgetOf(failed);
    QVERIFY(doneWidget && errorWidget);
    QCOMPARE(client->listOf(doneWidget), QStringLiteral("queue"));
    QTRY_COMPARE(doneWidget->height(), 170);
    const QColor defaultBackground = doneWidget->background();

    done->outputFiles = {"/out/a -16 lufs.wav", "/out/a -23 dbrms.wav"};
    done->setState(QueueFileState::Done);
    failed->setErrorMessage("Job failed");
    failed->setState(QueueFileState::Error);
    client->tick();

    QCOMPARE(client->listOf(doneWidget), QStringLiteral("done"));
    QCOMPARE(client->listOf(errorWidget), QStringLiteral("error"));
    QCOMPARE(client->tabTitle(0), QStringLiteral("Done (1)"));
    QCOMPARE(client->tabTitle(1), QStringLiteral("Error (1)"));
    QTRY_COMPARE(doneWidget->height(), 68);
    QTRY_COMPARE(errorWidget->height(), 100);
    QVERIFY(doneWidget->isShown(QueueFileWidget::Part::Outputs));
    QCOMPARE(errorWidget->text(QueueFileWidget::Part::Error), QStringLiteral("Job failed"));
    QVERIFY(errorWidget->isShown(QueueFileWidget::Part::Error));
    const QColor green = doneWidget->background();
    const QColor red = errorWidget->background();
    QVERIFY(green.green() > green.red() && red.red() > red.green());
    QVERIFY(green != defaultBackground && red != defaultBackground);

    // Back to Waiting: the full panel in the queue list again.
    failed->setState(QueueFileState::Waiting);
    client->tick();
    QCOMPARE(client->listOf(errorWidget), QStringLiteral("queue"));
    QTRY_COMPARE(errorWidget->height(), 170);
    QCOMPARE(errorWidget->background(), defaultBackground);
    QCOMPARE(errorWidget->statusColour(), QColor(QStringLiteral("blue")));
}

// A watched folder that queues hundreds of files at once: one tick creates
// only a batch of panels and leaves the rest to runs it posts, so the window
// never stops for all of them; every file has its panel soon after.
void TestQueueDriver::manyNewFilesGetTheirPanelsInBatches()
{
    constexpr int kFiles = 1000;
    for (int i = 0; i < kFiles; ++i) {
        const QString source = path(QStringLiteral("take %1.wav").arg(i));
        QFile(source).open(QIODevice::WriteOnly);
        QVERIFY(client->queue(source, path(QStringLiteral("out %1.wav").arg(i))));
    }
    const auto panels = [this] { return int(client->window->findChildren<QueueFileWidget*>().size()); };
    client->tick();
    QVERIFY2(panels() > 0 && panels() < kFiles, qPrintable(QString::number(panels())));
    QTRY_COMPARE_WITH_TIMEOUT(panels(), kFiles, 60000);
    const QList<QueueFileWidget*> all = client->window->findChildren<QueueFileWidget*>();
    QVERIFY(std::all_of(all.begin(), all.end(), [this](const QueueFileWidget* panel) {
        return client->listOf(panel) == QLatin1String("queue");
    }));
}

void TestQueueDriver::trayMessageWaitsForRunningFiles()
{
    QueueFile* first = queueFile(wav("a.wav", 2));
    QueueFile* second = queueFile(wav("b.wav", 2));
    QueueFile* third = queueFile(wav("c.wav", 2));
    second->setState(QueueFileState::Running);
    first->setState(QueueFileState::Done);
    client->tick();
    QCOMPARE(client->listOf(client->widgetOf(first)), QStringLiteral("done"));
    QVERIFY(client->trayMessages.isEmpty());

    third->setState(QueueFileState::Error);
    client->tick();
    QVERIFY(client->trayMessages.isEmpty());
    QCOMPARE(client->tabTitle(0), QStringLiteral("Done (1)"));

    second->setState(QueueFileState::Done);
    client->tick();
    QCOMPARE(client->trayMessages, QStringList{"Audio files ready\nFiles processed: 2\nErrors: 1"});
    client->tick();
    QCOMPARE(client->trayMessages.size(), 1);
}

void TestQueueDriver::contextMenuPerState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("retryable");
    QTest::addColumn<QStringList>("items");
    const QString input = QStringLiteral("Go to source audio");
    QTest::newRow("Waiting") << int(QueueFileState::Waiting) << false
                             << QStringList{"Pause", input, "|", "Cancel"};
    QTest::newRow("Paused") << int(QueueFileState::Paused) << false << QStringList{"Resume", input, "|", "Cancel"};
    QTest::newRow("Running") << int(QueueFileState::Running) << false << QStringList{input};
    QTest::newRow("Done") << int(QueueFileState::Done) << false
                          << QStringList{"Go to processed audio", input, "|", "Submit with another preset", "|",
                                         "Remove from list"};
    QTest::newRow("Error retryable") << int(QueueFileState::Error) << true
                                     << QStringList{input, "|", "Submit again", "|", "Remove from list"};
    QTest::newRow("Error final") << int(QueueFileState::Error) << false
                                 << QStringList{input, "|", "Remove from list"};
    QTest::newRow("Canceled") << int(QueueFileState::Canceled) << false
                              << QStringList{input, "|", "Submit again", "|", "Remove from list"};
    QTest::newRow("Pre processing") << int(QueueFileState::PreProcessing) << false << QStringList{"(none)"};
    QTest::newRow("Post processing") << int(QueueFileState::PostProcessing) << false << QStringList{"(none)"};
}

void TestQueueDriver::contextMenuPerState()
{
    QFETCH(int, state);
    QFETCH(bool, retryable);
    QFETCH(QStringList, items);
    QueueFile* file = queueFile(wav("a.wav", 2));
    client->tick();
    file->setRetryable(retryable);
    // Set after the tick so that the driver's steps do not act on it.
    file->setState(QueueFileState(state));
    QCOMPARE(client->contextMenu(client->widgetOf(file)), items);
}

void TestQueueDriver::contextMenuActions()
{
    QueueFile* failed = queueFile(wav("a.wav", 2));
    QueueFile* done = queueFile(wav("b.wav", 2));
    client->tick();
    failed->setErrorMessage("Error pre processing: tool crashed");
    failed->preProcessingStatus = 3;
    failed->setState(QueueFileState::Error);
    done->setState(QueueFileState::Done);
    client->tick();

    QueueFileWidget* failedWidget = client->widgetOf(failed);
    emit failedWidget->queueFileContextMenuClicked(failedWidget, failed->fileId, QStringLiteral("mnuReSubmit"));
    QCOMPARE(failed->getState(), QueueFileState::Waiting);
    QVERIFY(failed->errorMessage().isEmpty());
    QCOMPARE(failed->preProcessingStatus, 0);
    client->tick();
    QCOMPARE(client->listOf(failedWidget), QStringLiteral("queue"));

    // Pause and Resume change the state and nothing else.
    emit failedWidget->queueFileContextMenuClicked(failedWidget, failed->fileId, QStringLiteral("mnuPauseResume"));
    QCOMPARE(failed->getState(), QueueFileState::Paused);
    client->tick();
    QCOMPARE(client->listOf(failedWidget), QStringLiteral("queue"));
    QCOMPARE(client->contextMenu(failedWidget).first(), QStringLiteral("Resume"));
    emit failedWidget->queueFileContextMenuClicked(failedWidget, failed->fileId, QStringLiteral("mnuPauseResume"));
    QCOMPARE(failed->getState(), QueueFileState::Waiting);

    QueueFileWidget* doneWidget = client->widgetOf(done);
    emit doneWidget->queueFileContextMenuClicked(doneWidget, done->fileId, QStringLiteral("mnuPauseResume"));
    QCOMPARE(done->getState(), QueueFileState::Done);
    emit doneWidget->queueFileContextMenuClicked(doneWidget, done->fileId, QStringLiteral("mnuReSubmit"));
    QCOMPARE(done->getState(), QueueFileState::Done);

    const int doneId = done->fileId;
    emit doneWidget->queueFileContextMenuClicked(doneWidget, doneId, QStringLiteral("mnuRemove"));
    QVERIFY(!client->manager.findFile(doneId));
    QVERIFY(doneWidget->isHidden());
    QCOMPARE(client->listOf(doneWidget), QString());
    // A vanished file shows no menu and ignores choices.
    QCOMPARE(client->contextMenu(doneWidget), QStringList{"(none)"});
    emit doneWidget->queueFileContextMenuClicked(doneWidget, doneId, QStringLiteral("mnuRemove"));
}

void TestQueueDriver::clearDoneErrorRemovesAdjacentFinishedFiles()
{
    const QueueFileState states[] = {QueueFileState::Done,    QueueFileState::Done,
                                     QueueFileState::Error,   QueueFileState::Waiting,
                                     QueueFileState::Canceled, QueueFileState::Error};
    QList<QueueFile*> files;
    for (int i = 0; i < 6; ++i)
        files << queueFile(wav(QStringLiteral("f%1.wav").arg(i), 2));
    client->tick();
    for (int i = 0; i < 6; ++i)
        files[i]->setState(states[i]);
    client->tick();
    QCOMPARE(client->tabTitle(0), QStringLiteral("Done (2)"));

    client->action("actionClear_done_error")->trigger();
    const QList<QueueFile*> left = client->manager.snapshot();
    QCOMPARE(left.size(), 1);
    QCOMPARE(left.first(), files[3]);
    QCOMPARE(client->tabTitle(0), QStringLiteral("Done"));
    QCOMPARE(client->tabTitle(1), QStringLiteral("Error"));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(client->widgetOf(files[i])->isHidden(), i != 3);
}

void TestQueueDriver::resubmitOnlyRetryableErrors()
{
    QueueFile* retry = queueFile(wav("a.wav", 2));
    QueueFile* final = queueFile(wav("b.wav", 2));
    client->tick();
    retry->setErrorMessage("Processing failed");
    retry->setRetryable(true);
    retry->setState(QueueFileState::Error);
    final->setErrorMessage("Invalid preset");
    final->setState(QueueFileState::Error);
    client->action("actionResubmit_files_with_errors")->trigger();
    QCOMPARE(retry->getState(), QueueFileState::Waiting);
    QCOMPARE(retry->errorMessage(), QByteArray("Processing failed"));
    QCOMPARE(final->getState(), QueueFileState::Error);
}

// A file whose pre-processing failed is resubmitted with its local steps
// reset: a second run that succeeds takes it on to the upload.
void TestQueueDriver::resubmitRunsPreProcessingAgain()
{
    const QString source = wav("take.wav", 1);
    ProcessingOptions options;
    options.preProcessing_Arguments = QStringLiteral("nredOp00: --no-such-option");
    QueueFile* file = queueFile(source, options);
    QVERIFY(preProcess(file));
    QCOMPARE(file->preProcessingStatus, 3);
    file->setRetryable(true);
    file->setState(QueueFileState::Error);

    file->options.preProcessing_Arguments = QStringLiteral("nredOp00: SKIP");
    client->action("actionResubmit_files_with_errors")->trigger();
    QCOMPARE(file->getState(), QueueFileState::Waiting);
    QVERIFY(preProcess(file));
    QCOMPARE(file->preProcessingStatus, 0);
}

void TestQueueDriver::preProcessing_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<bool>("toDualMono");
    QTest::addColumn<int>("resultMode");
    QTest::addColumn<QString>("uploaded");     // expected srcFile name, "" = the source itself
    QTest::addColumn<int>("uploadedChannels");
    QTest::addColumn<QString>("destination");  // expected destFile name
    QTest::addColumn<bool>("uploadedKeptAtDone");

    QTest::newRow("nothing to do") << "nredOp00: SKIP" << false << 2 << "" << 1 << "result.wav" << true;
    QTest::newRow("dual mono copy") << "nredOp00: SKIP" << true << 2 << "take-dualmono.wav" << 2
                                    << "result-dualmono.wav" << false;
    QTest::newRow("replace original") << "" << true << 0 << "" << 2 << "result-dualmono.wav" << true;
    QTest::newRow("noise reduced, kept") << "nredOp00: --alwayson" << false << 2 << "take-nr.wav" << 1
                                         << "result-nr.wav" << true;
    QTest::newRow("noise reduced, deleted after upload")
        << "nredOp00: --alwayson" << true << 6 << "take-nr-dualmono.wav" << 2 << "result-nr-dualmono.wav" << false;
}

void TestQueueDriver::preProcessing()
{
    QFETCH(QString, arguments);
    QFETCH(bool, toDualMono);
    QFETCH(int, resultMode);
    QFETCH(QString, uploaded);
    QFETCH(int, uploadedChannels);
    QFETCH(QString, destination);
    QFETCH(bool, uploadedKeptAtDone);

    const QString source = wav("take.wav", 1, 2.0);
    ProcessingOptions options;
    options.fromWatchFolder = true;
    options.preProcessing_Arguments = arguments;
    options.monoProcessing_ConvertToDualStereo = toDualMono;
    options.preProcessing_Result = resultMode;
    QueueFile* file = queueFile(source, options);
    QVERIFY(preProcess(file));

    QCOMPARE(file->preProcessingStatus, 6);
    QVERIFY2(file->errorMessage().isEmpty(), file->errorMessage().constData());
    const QString expectedUpload = uploaded.isEmpty() ? source : QDir::toNativeSeparators(path(uploaded));
    QCOMPARE(QString::fromUtf8(file->srcFile), expectedUpload);
    QCOMPARE(QString::fromUtf8(file->destFile), QDir::toNativeSeparators(path(destination)));
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    QVERIFY(fixtures::readAudio(expectedUpload, samples, rate, channels));
    QCOMPARE(channels, uploadedChannels);
    QCOMPARE(file->convertedToStereo, toDualMono);
    // The user's own file is never lost, and no work file is left behind.
    QVERIFY(QFileInfo::exists(source));
    QCOMPARE(QDir(dir->path()).entryList({"*.temp*"}, QDir::Files), QStringList());

    file->setState(QueueFileState::Done);
    client->tick();
    QCOMPARE(QFileInfo::exists(expectedUpload), uploadedKeptAtDone);
    QVERIFY(QFileInfo::exists(source));
}

void TestQueueDriver::failingPreProcessingKeepsTheSource()
{
    const QString source = wav("take.wav", 1);
    ProcessingOptions options;
    options.preProcessing_Arguments = QStringLiteral("nredOp00: --no-such-option");
    options.preProcessing_Result = 0;
    QueueFile* file = queueFile(source, options);
    QVERIFY(preProcess(file));
    QCOMPARE(file->preProcessingStatus, 3);
    QVERIFY(file->errorMessage().startsWith("Error pre processing: "));
    QVERIFY(file->errorMessage().size() > int(strlen("Error pre processing: ")));
    QCOMPARE(QString::fromUtf8(file->srcFile), source);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{"take.wav"});
}

void TestQueueDriver::postProcessingKeepsFinalOutputsOnly()
{
    // The downloaded result of a file widened to dual mono, kept as an
    // intermediate for two loudness targets.
    const QString download = wav("take - Speech-dualmono.tmp", 2, 3.0);
    const QString source = wav("take.wav", 1, 3.0);
    ProcessingOptions options;
    options.fromWatchFolder = true;
    options.postProcessing_Arguments = QStringLiteral("normOp00: -16 LUFS\nnormOp00: -23 dBrms");
    QueueFile* file = queueFile(source, options);
    file->destFile = download.toUtf8();
    file->convertedToStereo = true;
    QVERIFY(postProcess(file));

    const QStringList expected{QDir::toNativeSeparators(path("take - Speech -16 lufs.wav")),
                               QDir::toNativeSeparators(path("take - Speech -23 dbrms.wav"))};
    QStringList outputs;
    for (const QByteArray& output : file->outputFiles)
        outputs << QString::fromUtf8(output);
    QCOMPARE(outputs, expected);
    QVERIFY(file->destFile.isEmpty());
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files, QDir::Name),
             (QStringList{"take - Speech -16 lufs.wav", "take - Speech -23 dbrms.wav", "take.wav"}));
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    QVERIFY(fixtures::readAudio(expected[1], samples, rate, channels));
    QCOMPARE(channels, 1);
    QVERIFY(std::abs(fixtures::rmsDb(samples) + 23.0) < 0.5);

    file->setState(QueueFileState::Done);
    client->tick();
    QueueFileWidget* widget = client->widgetOf(file);
    QVERIFY(widget->isShown(QueueFileWidget::Part::Outputs));
}

void TestQueueDriver::postProcessingFailureEndsInError()
{
    const QString download = path("result.tmp");
    QVERIFY(fixtures::writeCorruptFile(download));
    ProcessingOptions options;
    options.postProcessing_Arguments = QStringLiteral("normOp00: -16 LUFS");
    QueueFile* file = queueFile(wav("take.wav", 2), options);
    file->destFile = QDir::toNativeSeparators(download).toUtf8();
    QVERIFY(postProcess(file));
    QCOMPARE(file->getState(), QueueFileState::Error);
    QVERIFY2(file->errorMessage().startsWith("Error post processing: "), file->errorMessage().constData());
    QVERIFY(file->retryable());
    QVERIFY(QFileInfo::exists(download));
    client->tick();
    QCOMPARE(client->listOf(client->widgetOf(file)), QStringLiteral("error"));
}

void TestQueueDriver::deleteRequestsAreRetriedUntilDone()
{
    const QString first = wav("encoded-input-1.wav", 2);
    const QString second = wav("encoded-input-2.wav", 2);
    client->window->addDeleteRequest(path("already-gone.wav"));
    client->window->addDeleteRequest(first);
    client->window->addDeleteRequest(second);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(first) && !QFileInfo::exists(second), 10000);
}

void TestQueueDriver::closeHidesOnlyWhenAsked()
{
    client->settings.hideWhenClosed = true;
    QCloseEvent hideEvent;
    QApplication::sendEvent(client->window.get(), &hideEvent);
    QVERIFY(!hideEvent.isAccepted());
    // Without a tray (the offscreen platform has none) a hidden window could
    // not be reached again: it is minimised instead.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        QVERIFY(client->window->isHidden());
    } else {
        QVERIFY(!client->window->isHidden());
        QVERIFY(client->window->isMinimized());
    }

    client->window->show();
    client->action("actionQuit")->trigger();
    QVERIFY(client->window->isHidden());

    client->settings.hideWhenClosed = false;
    client->window->show();
    QCloseEvent closeEvent;
    QApplication::sendEvent(client->window.get(), &closeEvent);
    QVERIFY(closeEvent.isAccepted());
}

void TestQueueDriver::statusBarShowsCreditOnlyOverHttps()
{
    const QString state = QueueManager::stateName(client->manager.state());
    client->manager.setApiUrl("http://127.0.0.1:9/api");
    QMetaObject::invokeMethod(client->window.get(), "tmr_windowStatus_Tick");
    QCOMPARE(client->window->statusBar()->currentMessage(), state);

    // No job has finished yet, so the credit is not known.
    client->manager.setApiUrl("https://127.0.0.1:9/api");
    QMetaObject::invokeMethod(client->window.get(), "tmr_windowStatus_Tick");
    QCOMPARE(client->window->statusBar()->currentMessage(), state + " - Credit: Waiting for file submission");
}

QTEST_MAIN(TestQueueDriver)
#include "tst_queuedriver.moc"
