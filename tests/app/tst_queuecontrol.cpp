#include "windowtest.h"

#include "dialogs/dlgaddfile.h"
#include "tests/dialogs/modalanswer.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

// Queue control in the main window against the real service: Pause keeps a
// file from being uploaded until Resume, the arrow buttons set the order in
// which files are uploaded and the panels follow it, and the close button
// takes a file out of the queue.
class TestQueueControl : public WindowTest {
    Q_OBJECT

public:
    // Started logged out: the files wait while the test arranges them.
    TestQueueControl() : WindowTest(Start::LoggedOut) {}

private slots:
    void pauseArrowsAndCloseSteerTheUploads();
    void arrowsFollowTheQueueOrderOnScreen();
    void runningFileIsCancelledThenSubmittedAgain();

private:
    QueueFile* queue(const QString& name, double seconds);
    static void click(QueueFileWidget* widget, QueueFileWidget::Part button);
    bool waitUntilDone(QueueFile* file);
};

// Files of different lengths, told apart in the service's log by the size
// of their uploads.
QueueFile* TestQueueControl::queue(const QString& name, double seconds)
{
    const QString source = wav(name + QStringLiteral(".wav"), 2, seconds);
    if (source.isEmpty())
        return nullptr;
    // Queued before the log-in, so with the service's preset by name.
    return client->queue(source, dir->filePath(name + QStringLiteral("-out.wav")),
                         ProcessingOptions(), "1: Speech -16 LUFS");
}

void TestQueueControl::click(QueueFileWidget* widget, QueueFileWidget::Part button)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rectOf(button).center());
}

// Until the file's panel leaves the queue list; true when it went to Done.
bool TestQueueControl::waitUntilDone(QueueFile* file)
{
    const bool left =
        QTest::qWaitFor([&] { return client->listOf(client->widgetOf(file)) != QLatin1String("queue"); }, 60000);
    if (left && file->getState() == QueueFileState::Done)
        return true;
    qWarning().noquote() << "not Done:" << file->toString();
    return false;
}

void TestQueueControl::pauseArrowsAndCloseSteerTheUploads()
{
    QueueFile* paused = queue(QStringLiteral("paused"), 1.0);
    QueueFile* second = queue(QStringLiteral("second"), 2.0);
    QueueFile* third = queue(QStringLiteral("third"), 3.0);
    QueueFile* closed = queue(QStringLiteral("closed"), 4.0);
    QVERIFY(paused && second && third && closed);
    client->tick();

    QVERIFY(client->choose(client->widgetOf(paused), QStringLiteral("Pause")));
    click(client->widgetOf(third), QueueFileWidget::Part::MoveUpButton);
    const int closedId = closed->fileId;
    answerQuestion(QMessageBox::Yes);
    click(client->widgetOf(closed), QueueFileWidget::Part::RemoveButton);
    QVERIFY(!client->manager.findFile(closedId));
    QVERIFY(client->widgetOf(closed)->isHidden());
    client->tick();
    QCOMPARE(client->queueListOrder(), (QList<int>{paused->fileId, third->fileId, second->fileId}));
    QCOMPARE(client->widgetOf(paused)->text(QueueFileWidget::Part::Status), QStringLiteral("Paused"));

    ServiceProcess service({"--step-ms", "20"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    QVERIFY(client->logIn(service.apiUrl()));
    QVERIFY(waitUntilDone(second));
    QVERIFY(waitUntilDone(third));
    QCOMPARE(paused->getState(), QueueFileState::Paused);
    QCOMPARE(client->listOf(client->widgetOf(paused)), QStringLiteral("queue"));
    // Two uploads, the moved (longer) third file first; nothing of the
    // paused or the closed file.
    const QList<qint64> sizes = service.uploadSizes();
    QCOMPARE(sizes.size(), 2);
    QVERIFY2(sizes[0] > sizes[1], service.log().constData());

    QVERIFY(client->choose(client->widgetOf(paused), QStringLiteral("Resume")));
    QVERIFY(waitUntilDone(paused));
    const QList<qint64> after = service.uploadSizes();
    QCOMPARE(after.size(), 3);
    QVERIFY(after[2] < after[1]);
    QCOMPARE(closed->getState(), QueueFileState::Waiting);
}

// The panels follow the queue order after each click; a Running file's
// arrows and close button do nothing.
void TestQueueControl::arrowsFollowTheQueueOrderOnScreen()
{
    QList<QueueFile*> files;
    for (int i = 0; i < 4; ++i)
        files << queue(QStringLiteral("f%1").arg(i), 1.0);
    client->tick();
    const auto ids = [&](std::initializer_list<int> order) {
        QList<int> result;
        for (int i : order)
            result << files[i]->fileId;
        return result;
    };
    click(client->widgetOf(files[0]), QueueFileWidget::Part::MoveDownButton);
    QCOMPARE(client->queueListOrder(), ids({1, 0, 2, 3}));
    click(client->widgetOf(files[3]), QueueFileWidget::Part::MoveUpButton);
    click(client->widgetOf(files[3]), QueueFileWidget::Part::MoveUpButton);
    QCOMPARE(client->queueListOrder(), ids({1, 3, 0, 2}));
    click(client->widgetOf(files[1]), QueueFileWidget::Part::MoveUpButton);
    QCOMPARE(client->queueListOrder(), ids({1, 3, 0, 2}));

    // A Running file does not move; its close button asks first, and "No"
    // leaves it where it was.
    files[1]->setState(QueueFileState::Running);
    client->tick();
    QVERIFY(!client->widgetOf(files[1])->queueControlsEnabled());
    click(client->widgetOf(files[1]), QueueFileWidget::Part::MoveDownButton);
    answerQuestion(QMessageBox::No);
    click(client->widgetOf(files[1]), QueueFileWidget::Part::RemoveButton);
    QCOMPARE(client->queueListOrder(), ids({1, 3, 0, 2}));
    QCOMPARE(files[1]->getState(), QueueFileState::Running);

    // A file back from Error takes its queue place again, not the end.
    files[0]->setState(QueueFileState::Error);
    client->tick();
    QCOMPARE(client->queueListOrder(), ids({1, 3, 2}));
    files[0]->setState(QueueFileState::Waiting);
    client->tick();
    QCOMPARE(client->queueListOrder(), ids({1, 3, 0, 2}));
    QVERIFY(client->widgetOf(files[0])->queueControlsEnabled());
    QCOMPARE(client->manager.snapshot(), (QList<QueueFile*>{files[1], files[3], files[0], files[2]}));
}

// A file at the service is cancelled from its close button (after a
// question), goes to Error and is no longer followed; "Submit again" runs it
// afresh to Done, and "Submit with another preset" queues its source once
// more with the preset chosen in the add-file dialog.
void TestQueueControl::runningFileIsCancelledThenSubmittedAgain()
{
    ServiceProcess service({"--step-ms", "400"});
    QVERIFY2(service.start(), qPrintable(service.errorString()));
    ProcessingOptions options;
    options.encodeToMP3_suffix = QStringLiteral("-kept");
    QueueFile* file = client->queue(wav(QStringLiteral("take.wav")), dir->filePath(QStringLiteral("take-out.wav")),
                                    options, "1: Speech -16 LUFS");
    QVERIFY(file);
    QVERIFY(client->logIn(service.apiUrl()));
    QTRY_VERIFY_WITH_TIMEOUT(file->getState() == QueueFileState::Running && service.uploadSizes().size() == 1, 20000);
    client->tick();
    QCOMPARE(client->widgetOf(file)->buttonToolTip(QueueFileWidget::Part::RemoveButton),
             QStringLiteral("Cancel the processing of this file"));

    QString question;
    answerQuestion(QMessageBox::Yes, &question);
    click(client->widgetOf(file), QueueFileWidget::Part::RemoveButton);
    QVERIFY2(question.contains(QStringLiteral("take.wav is being processed")), qPrintable(question));
    QCOMPARE(file->getState(), QueueFileState::Error);
    QCOMPARE(file->errorMessage(), QByteArray("Cancelled by the user"));
    // The session lets go of the job: it is free for the next file.
    QTRY_VERIFY_WITH_TIMEOUT(client->manager.session(0)->currentFileId() == 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(client->listOf(client->widgetOf(file)), QStringLiteral("error"), 5000);
    QCOMPARE(client->tabTitle(1), QStringLiteral("Error (1)"));
    const auto* batch = client->window->findChild<QLabel*>(QStringLiteral("lblBatch"));
    QCOMPARE(batch->text(), QStringLiteral("1 file failed"));
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("take-out.wav"))));

    QVERIFY(client->choose(client->widgetOf(file), QStringLiteral("Submit again")));
    QTRY_VERIFY_WITH_TIMEOUT(file->getState() == QueueFileState::Done, 60000);
    QCOMPARE(service.uploadSizes().size(), 2);
    // One file, counted by its latest outcome.
    client->tick();
    QCOMPARE(client->tabTitle(1), QStringLiteral("Error"));
    QCOMPARE(batch->text(), QStringLiteral("1 file done"));

    const QList<QByteArray> presets = client->manager.presets();
    QVERIFY(presets.size() > 1);
    const QByteArray other = presets.last() == file->presetName ? presets.first() : presets.last();
    QString focused;
    answerModal<dlgAddFile>([&](dlgAddFile* dialog) {
        // The focus is given when the dialog's window becomes active.
        (void)QTest::qWaitForWindowActive(dialog);
        focused = dialog->focusWidget() ? dialog->focusWidget()->objectName() : QString();
        dialog->findChild<QComboBox*>(QStringLiteral("comboPreset"))->setCurrentText(QString::fromUtf8(other));
        dialog->accept();
    });
    client->tick();
    QVERIFY(client->choose(client->widgetOf(file), QStringLiteral("Submit with another preset")));
    // The dialog's question is the preset: a keyboard user starts there.
    QCOMPARE(focused, QStringLiteral("comboPreset"));
    const QList<QueueFile*> files = client->manager.snapshot();
    QCOMPARE(files.size(), 2);
    QueueFile* again = files.last();
    QCOMPARE(again->presetName, other);
    QCOMPARE(again->srcFile, file->originalSourceFile.isEmpty() ? file->srcFile : file->originalSourceFile);
    QCOMPARE(again->options.encodeToMP3_suffix, QStringLiteral("-kept"));
    QTRY_VERIFY_WITH_TIMEOUT(again->getState() == QueueFileState::Done, 60000);
}

QTEST_MAIN(TestQueueControl)
#include "tst_queuecontrol.moc"
