#include "windowtest.h"
#include "audiofixtures.h"
#include "tests/dialogs/modalanswer.h"

#include "dialogs/dlgaddfile.h"
#include "dialogs/dlglogin.h"

#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

// The main window against the real service: a file added by hand or by
// drop goes through to Done with its result on disk, final and retryable
// errors, log out and log in again. The local steps through the service
// are tested without a window (tests/driver).
class TestMainWindowService : public WindowTest {
    Q_OBJECT

public:
    TestMainWindowService() : WindowTest(Start::AtLogIn) {}

private slots:
    void fileAddedByHandReachesDone();
    void droppedFileOpensTheDialog();
    void droppedFolderOrMissingFileIsRefused();
    void readOnlyDestinationIsRefused();
    void invalidPresetIsAFinalError();
    void failedJobCanBeResubmitted();
    void logoutPutsRunningFilesBackToWaiting();

private:
    void openAccountMenu();
};

void TestMainWindowService::openAccountMenu()
{
    emit client->window->findChild<QMenu*>(QStringLiteral("menuAccount"))->aboutToShow();
}

void TestMainWindowService::fileAddedByHandReachesDone()
{
    QVERIFY(startService());
    const QString source = wav("take.wav", 2, 2.0);
    answerModal<QFileDialog>([&](QFileDialog* browser) { chooseInFileDialog(browser, source); });
    QString proposed;
    answerModal<dlgAddFile>([&](dlgAddFile* dialog) {
        proposed = dialog->findChild<QLabel*>(QStringLiteral("lblDestFile"))->text();
        dialog->accept();
    });
    client->window->findChild<QToolButton*>(QStringLiteral("btnAddSingleFile"))->click();
    // The dialog shows the name the result will have, with the preset's name.
    QCOMPARE(proposed, QDir::toNativeSeparators(dir->filePath("take - 1_ Speech -16 LUFS.wav")));

    const QList<QueueFile*> files = client->manager.snapshot();
    QCOMPARE(files.size(), 1);
    QueueFile* file = files.first();
    QVERIFY(!QString::fromUtf8(file->destFile).contains(QStringLiteral("{presetName}")));
    QVERIFY(waitForState(file, QueueFileState::Done));

    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    QVERIFY(fixtures::readAudio(QString::fromUtf8(file->destFile), samples, rate, channels));
    QCOMPARE(channels, 2);
    QVERIFY(QFileInfo::exists(source));
    QTRY_COMPARE(client->listOf(client->widgetOf(file)), QStringLiteral("done"));
    QTRY_COMPARE(client->trayMessages, QStringList{"Audio files ready\nFiles processed: 1"});
    QCOMPARE(client->tabTitle(0), QStringLiteral("Done (1)"));
    // A plain http address shows no credit.
    QTRY_COMPARE(client->window->statusBar()->currentMessage(), QStringLiteral("Running"));
}

void TestMainWindowService::droppedFileOpensTheDialog()
{
    QVERIFY(startService());
    const QString source = wav("voice.take.wav", 1);
    QString proposed;
    answerModal<dlgAddFile>([&](dlgAddFile* dialog) {
        proposed = dialog->findChild<QLabel*>(QStringLiteral("lblDestFile"))->text();
        dialog->accept();
    });
    QVERIFY(client->dropUrls({QUrl::fromLocalFile(source)}));
    QTRY_COMPARE(client->manager.snapshot().size(), 1);
    QCOMPARE(proposed, QDir::toNativeSeparators(dir->filePath("voice - 1_ Speech -16 LUFS.take.wav")));

    // Data without URLs is refused at the door.
    QMimeData text;
    text.setText(QStringLiteral("not a file"));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(client->window.get(), &enter);
    QVERIFY(!enter.isAccepted());
}

void TestMainWindowService::droppedFolderOrMissingFileIsRefused()
{
    QVERIFY(startService());
    QStringList messages;
    auto answer = [&messages](QMessageBox* box) {
        messages << box->text();
        box->accept();
    };
    answerModal<QMessageBox>(answer);
    QVERIFY(client->dropUrls({QUrl::fromLocalFile(dir->path())}));
    QTRY_COMPARE(messages.size(), 1);
    QVERIFY2(messages.last().contains(QStringLiteral("is a folder")), qPrintable(messages.last()));

    // A file that vanishes while the dialog is open is reported, not queued.
    const QString source = wav("vanishing.wav", 2);
    answerModal<dlgAddFile>([&](dlgAddFile* dialog) {
        QFile::remove(source);
        answerModal<QMessageBox>(answer);
        dialog->accept();
        dialog->reject();
    });
    QVERIFY(client->dropUrls({QUrl::fromLocalFile(source)}));
    QTRY_COMPARE(messages.size(), 2);
    QCOMPARE(messages.last(), QStringLiteral("The source file does not exist."));
    QVERIFY(client->manager.snapshot().isEmpty());
}

void TestMainWindowService::readOnlyDestinationIsRefused()
{
    // A folder nobody may write to, not even root: the kernel's settings tree.
    const QString readOnly = QStringLiteral("/proc/sys");
    if (QFileInfo(readOnly).isWritable())
        QSKIP("no read-only folder on this machine");
    QVERIFY(startService());
    const QString source = wav("take.wav", 2);
    QString message;
    answerModal<dlgAddFile>([&message](dlgAddFile* dialog) {
        answerModal<QMessageBox>([&message](QMessageBox* box) {
            message = box->text();
            box->accept();
        });
        dialog->accept();
    });
    QVERIFY(!client->window->addFileWithDialog(source, readOnly + QStringLiteral("/take.wav")));
    QCOMPARE(message, readOnly + QStringLiteral("/take.wav\nThe destination folder is not writable."));
    QVERIFY(client->manager.snapshot().isEmpty());
    QVERIFY(QFileInfo::exists(source));
}

void TestMainWindowService::invalidPresetIsAFinalError()
{
    QVERIFY(startService());
    QueueFile* file = client->queue(wav("take.wav", 2), dir->filePath("out.wav"), {}, "99: No such preset");
    QVERIFY(waitForState(file, QueueFileState::Error));
    QCOMPARE(file->errorMessage(), QByteArray("Invalid preset"));
    QTRY_COMPARE(client->listOf(client->widgetOf(file)), QStringLiteral("error"));
    QVERIFY(!client->contextMenu(client->widgetOf(file)).contains(QStringLiteral("Submit again")));
    QCOMPARE(client->tabTitle(1), QStringLiteral("Error (1)"));
}

void TestMainWindowService::failedJobCanBeResubmitted()
{
    QVERIFY(startService({"--fail-jobs"}));
    QueueFile* file = client->queue(wav("take.wav", 2), dir->filePath("out.wav"));
    QVERIFY(waitForState(file, QueueFileState::Error));
    QVERIFY(file->retryable());
    QVERIFY(client->contextMenu(client->widgetOf(file)).contains(QStringLiteral("Submit again")));
    client->action("actionResubmit_files_with_errors")->trigger();
    QVERIFY(file->getState() != QueueFileState::Error);
    QVERIFY(waitForState(file, QueueFileState::Error));
}

void TestMainWindowService::logoutPutsRunningFilesBackToWaiting()
{
    QVERIFY(startService({"--step-ms", "1500"}));
    QueueFile* file = client->queue(wav("take.wav", 2), dir->filePath("out.wav"));
    QVERIFY(waitForState(file, QueueFileState::Running));
    openAccountMenu();
    QVERIFY(!client->action("actionLog_in")->isEnabled());
    QVERIFY(client->action("actionLog_out")->isEnabled());

    client->action("actionLog_out")->trigger();
    QVERIFY2(waitForState(file, QueueFileState::Waiting, 10000), file->stateName().constData());
    QVERIFY(client->settings.wPassword.isEmpty());
    QTRY_COMPARE(client->manager.state(), int(QueueManager::WaitingForLoginInfo));
    QTRY_COMPARE(client->window->statusBar()->currentMessage(), QStringLiteral("Logged out"));
    client->tick();
    QCOMPARE(client->listOf(client->widgetOf(file)), QStringLiteral("queue"));
    openAccountMenu();
    QVERIFY(client->action("actionLog_in")->isEnabled());
    QVERIFY(!client->action("actionLog_out")->isEnabled());

    answerModal<dlgLogin>([](dlgLogin* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(ServiceProcess::demoPassword());
        dialog->findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
    });
    client->action("actionLog_in")->trigger();
    QVERIFY(QueueManager::isWorking(client->manager.state()));
    QVERIFY(client->settings.wPassword.isEmpty()); // "Remember login details" was not checked
    QVERIFY(waitForState(file, QueueFileState::Running));
}

QTEST_MAIN(TestMainWindowService)
#include "tst_mainwindowservice.moc"
