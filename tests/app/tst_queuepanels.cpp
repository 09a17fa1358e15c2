#include "windowtest.h"

#include "tests/dialogs/modalanswer.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QFile>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>

#include <algorithm>

// The main window's queue panels on a queue manager without sessions: the
// test moves files through their states by hand and checks what the window
// shows: placement, colours and sizes, tab titles, context menus, the menu
// actions, closing and the status bar. What the driver does with the files
// is tested without a window (tests/driver).
class TestQueuePanels : public WindowTest {
    Q_OBJECT

public:
    TestQueuePanels() : WindowTest(Start::LoggedOut) {}

private slots:
    void finishedFilesMoveToTheirTabs();
    void panelBarFollowsItsFile();
    void manyNewFilesGetTheirPanelsInBatches();
    void contextMenuPerState_data();
    void contextMenuPerState();
    void contextMenuActions();
    void clearDoneErrorRemovesAdjacentFinishedFiles();
    void closeHidesOnlyWhenAsked();
    void statusBarShowsCreditOnlyOverHttps();

private:
    QString path(const QString& name) const { return dir->filePath(name); }
    QueueFile* queueFile(const QString& source, const ProcessingOptions& options = ProcessingOptions());
};

QueueFile* TestQueuePanels::queueFile(const QString& source, const ProcessingOptions& options)
{
    const QString destination = QFileInfo(source).absolutePath() + QStringLiteral("/result.wav");
    return client->queue(source, destination, options);
}

void TestQueuePanels::finishedFilesMoveToTheirTabs()
{
    QueueFile* done = queueFile(wav("a.wav", 2));
    QueueFile* failed = queueFile(wav("b.wav", 2));
    QueueFile* deleted = queueFile(wav("c.wav", 2));
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
    deleted->setState(QueueFileState::Error);
    client->tick();

    QCOMPARE(client->listOf(doneWidget), QStringLiteral("done"));
    QCOMPARE(client->listOf(errorWidget), QStringLiteral("error"));
    QCOMPARE(client->tabTitle(0), QStringLiteral("Done (1)"));
    QCOMPARE(client->tabTitle(1), QStringLiteral("Error (2)"));
    // The Error tab counts the files it shows: one deleted leaves it.
    answerQuestion(QMessageBox::Yes);
    QueueFileWidget* deletedWidget = client->widgetOf(deleted);
    emit deletedWidget->queueFileContextMenuClicked(deletedWidget, deleted->fileId, QStringLiteral("mnuRemove"));
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
    QCOMPARE(client->tabTitle(1), QStringLiteral("Error"));
    QTRY_COMPARE(errorWidget->height(), 170);
    QCOMPARE(errorWidget->background(), defaultBackground);
    QCOMPARE(errorWidget->statusColour(), QColor(QStringLiteral("blue")));
}

// A watched folder that queues hundreds of files at once: one tick creates
// only a batch of panels and leaves the rest to runs it posts, so the window
// never stops for all of them; every file has its panel soon after.
// The bar under a panel's progress line through a file's states, what a
// screen reader hears of it, and the batch in the status bar.
void TestQueuePanels::panelBarFollowsItsFile()
{
    QueueFile* file = queueFile(wav("a.wav", 2));
    const auto* batch = client->window->findChild<QLabel*>(QStringLiteral("lblBatch"));
    QVERIFY(batch);
    client->tick();
    QueueFileWidget* panel = client->widgetOf(file);
    QVERIFY(panel);
    const auto description = [panel] {
        return QAccessible::queryAccessibleInterface(panel)->text(QAccessible::Description);
    };
    QCOMPARE(panel->barValue(), 0);
    QVERIFY(description().contains(QStringLiteral("Progress: 0 %")));
    QCOMPARE(batch->text(), QStringLiteral("0 of 1 files, 0 %"));

    file->setState(QueueFileState::Running);
    file->setProgress({FileProgress::Step::Upload, 40});
    client->tick();
    QCOMPARE(panel->barValue(), 40);
    QVERIFY(description().contains(QStringLiteral("Progress: 40 %")));
    // 0.1 + 0.2 * 0.4 of the file's way.
    QCOMPARE(batch->text(), QStringLiteral("0 of 1 files, 18 %"));

    file->setProgress({FileProgress::Step::Processing, -1});
    client->tick();
    QCOMPARE(panel->barValue(), int(QueueFileWidget::kBarBusy));
    QVERIFY(description().contains(QStringLiteral("Progress: not known")));

    file->setState(QueueFileState::Error);
    client->tick();
    QCOMPARE(panel->barValue(), int(QueueFileWidget::kBarHidden));
    QVERIFY(!description().contains(QStringLiteral("Progress:")));
    QCOMPARE(batch->text(), QStringLiteral("1 file failed"));

    file->setState(QueueFileState::Waiting);
    client->tick();
    file->setState(QueueFileState::Done);
    client->tick();
    QCOMPARE(panel->barValue(), 100);
    QCOMPARE(batch->text(), QStringLiteral("1 file done"));
}

void TestQueuePanels::manyNewFilesGetTheirPanelsInBatches()
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

// What each state allows is tested in tst_queuecommands; here the texts
// each kind of menu shows.
void TestQueuePanels::contextMenuPerState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("retryable");
    QTest::addColumn<QStringList>("items");
    const QString input = QStringLiteral("Go to source audio");
    QTest::newRow("Waiting") << int(QueueFileState::Waiting) << false
                             << QStringList{"Pause", input, "|", "Cancel"};
    QTest::newRow("Paused") << int(QueueFileState::Paused) << false << QStringList{"Resume", input, "|", "Cancel"};
    // A file being processed may be cancelled (after a question).
    QTest::newRow("Running") << int(QueueFileState::Running) << false << QStringList{input, "|", "Cancel"};
    QTest::newRow("Done") << int(QueueFileState::Done) << false
                          << QStringList{"Go to processed audio", input, "|", "Submit with another preset", "|",
                                         "Remove from list"};
    QTest::newRow("Error retryable") << int(QueueFileState::Error) << true
                                     << QStringList{input, "|", "Submit again", "|", "Remove from list"};
    QTest::newRow("Pre processing") << int(QueueFileState::PreProcessing) << false
                                    << QStringList{input, "|", "Cancel"};
}

void TestQueuePanels::contextMenuPerState()
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

void TestQueuePanels::contextMenuActions()
{
    QueueFile* failed = queueFile(wav("a.wav", 2));
    QueueFile* done = queueFile(wav("b.wav", 2));
    client->tick();
    failed->setErrorMessage("Error pre processing: tool crashed");
    failed->preProcessingStatus = PreProcessingStatus::Failed;
    failed->setRetryable(true);
    failed->setState(QueueFileState::Error);
    done->setState(QueueFileState::Done);
    client->tick();

    // The choices reach the driver's commands (whose rules tst_queuecommands
    // tests); the panels follow.
    QueueFileWidget* failedWidget = client->widgetOf(failed);
    emit failedWidget->queueFileContextMenuClicked(failedWidget, failed->fileId, QStringLiteral("mnuReSubmit"));
    QCOMPARE(failed->getState(), QueueFileState::Waiting);
    client->tick();
    QCOMPARE(client->listOf(failedWidget), QStringLiteral("queue"));
    emit failedWidget->queueFileContextMenuClicked(failedWidget, failed->fileId, QStringLiteral("mnuPauseResume"));
    client->tick();
    QCOMPARE(client->listOf(failedWidget), QStringLiteral("queue"));
    QCOMPARE(client->contextMenu(failedWidget).first(), QStringLiteral("Resume"));

    QueueFileWidget* doneWidget = client->widgetOf(done);
    emit doneWidget->queueFileContextMenuClicked(doneWidget, done->fileId, QStringLiteral("mnuPauseResume"));
    QCOMPARE(done->getState(), QueueFileState::Done);
    // "Submit with another preset" needs the service's presets: logged out it says so.
    QString told;
    answerQuestion(QMessageBox::Ok, &told);
    emit doneWidget->queueFileContextMenuClicked(doneWidget, done->fileId, QStringLiteral("mnuReSubmit"));
    QCOMPARE(told, QStringLiteral("No presets are loaded yet: log in first."));
    QCOMPARE(done->getState(), QueueFileState::Done);
    QCOMPARE(client->manager.snapshot().size(), 2);

    const int doneId = done->fileId;
    answerQuestion(QMessageBox::Yes);
    emit doneWidget->queueFileContextMenuClicked(doneWidget, doneId, QStringLiteral("mnuRemove"));
    QVERIFY(!client->manager.findFile(doneId));
    QVERIFY(doneWidget->isHidden());
    QCOMPARE(client->listOf(doneWidget), QString());
    // A vanished file shows no menu and ignores choices.
    QCOMPARE(client->contextMenu(doneWidget), QStringList{"(none)"});
    emit doneWidget->queueFileContextMenuClicked(doneWidget, doneId, QStringLiteral("mnuRemove"));
}

void TestQueuePanels::clearDoneErrorRemovesAdjacentFinishedFiles()
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
    QCOMPARE(client->tabTitle(1), QStringLiteral("Error (2)"));

    // It asks first: "No" changes nothing.
    QString question;
    answerQuestion(QMessageBox::No, &question);
    client->action("actionClear_done_error")->trigger();
    QCOMPARE(question, QStringLiteral("Take every done and failed file out of the lists? Their files on disk stay."));
    QCOMPARE(client->manager.snapshot().size(), 6);
    answerQuestion(QMessageBox::Yes);
    client->action("actionClear_done_error")->trigger();
    const QList<QueueFile*> left = client->manager.snapshot();
    QCOMPARE(left.size(), 1);
    QCOMPARE(left.first(), files[3]);
    QCOMPARE(client->tabTitle(0), QStringLiteral("Done"));
    QCOMPARE(client->tabTitle(1), QStringLiteral("Error"));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(client->widgetOf(files[i])->isHidden(), i != 3);
}

void TestQueuePanels::closeHidesOnlyWhenAsked()
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

void TestQueuePanels::statusBarShowsCreditOnlyOverHttps()
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

QTEST_MAIN(TestQueuePanels)
#include "tst_queuepanels.moc"
