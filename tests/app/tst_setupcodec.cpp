#include "tests/dialogs/modalanswer.h"

#include "driver/videotasks.h"
#include "dialogs/dlgsetupwindow.h"
#include "driver/account.h"
#include "pipeline/queuemanager.h"
#include "settings/settings.h"
#include "video/ffmpegtool.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The setup window's ffmpeg folder: the codec check with the real ffmpeg,
// "Browse..." filling in the chosen program's folder, and the main window
// switching video support after the window closes.
class TestSetupCodec : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void codecCheckShowsWhetherTheFolderHoldsFfmpeg();
    void browseFillsInTheProgramsFolder();

private:
    QString statusOf(dlgSetupWindow& window) const;
    QTemporaryDir dir;
};

void TestSetupCodec::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(dir.isValid());
    QVERIFY2(!ffmpegtool::resolveFolder(QString()).isEmpty(), "the test needs ffmpeg on the PATH");
}

QString TestSetupCodec::statusOf(dlgSetupWindow& window) const
{
    return window.findChild<QLabel*>(QStringLiteral("lblPathCodecStatus"))->text();
}

void TestSetupCodec::codecCheckShowsWhetherTheFolderHoldsFfmpeg()
{
    Settings settings;
    QueueManager manager;
    Account account(settings, manager);
    settings.FFMPEGPath = QFile::encodeName(ffmpegtool::resolveFolder(QString()));
    {
        dlgSetupWindow window;
        window.setCodecCheck(VideoTasks::isFfmpegFolder);
        window.setContext(&settings, {}, &account);
        QCOMPARE(statusOf(window), QStringLiteral("Codec Found"));
        QCOMPARE(window.findChild<QLabel*>(QStringLiteral("lblPathCodecStatus"))->property("codecFound"), QVariant(true));
    }
    settings.FFMPEGPath = QFile::encodeName(dir.path());
    dlgSetupWindow window;
    window.setCodecCheck(VideoTasks::isFfmpegFolder);
    window.setContext(&settings, {}, &account);
    QCOMPARE(statusOf(window), QStringLiteral("Codec Not found - Video processing will be disabled"));
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("lblPathCodecStatus"))->property("codecFound"), QVariant(false));

    // A folder typed into the field is checked as well, not only one browsed to.
    auto* field = window.findChild<QLineEdit*>(QStringLiteral("lineEdit"));
    field->clear();
    QTest::keyClicks(field, ffmpegtool::resolveFolder(QString()));
    QTRY_COMPARE(statusOf(window), QStringLiteral("Codec Found"));
}

void TestSetupCodec::browseFillsInTheProgramsFolder()
{
    Settings settings;
    QueueManager manager;
    Account account(settings, manager);
    settings.FFMPEGPath = QFile::encodeName(dir.path());
    dlgSetupWindow window;
    window.setCodecCheck(VideoTasks::isFfmpegFolder);
    window.setContext(&settings, {}, &account);
    const QString program = ffmpegtool::programIn(ffmpegtool::resolveFolder(QString()));
    QString title;
    answerModal<QFileDialog>([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        chooseInFileDialog(dialog, program);
    });
    window.findChild<QPushButton*>(QStringLiteral("btnBrowseCodec"))->click();
    QVERIFY2(!title.isEmpty(), "no file dialog came");
    QCOMPARE(title, QStringLiteral("Open ffmpeg"));
    QCOMPARE(window.findChild<QLineEdit*>(QStringLiteral("lineEdit"))->text(), QFileInfo(program).absolutePath());
    QCOMPARE(statusOf(window), QStringLiteral("Codec Found"));
}

QTEST_MAIN(TestSetupCodec)
#include "tst_setupcodec.moc"
