#include "windowtest.h"

#include "audio/audioencoderparent.h"
#include "dialogs/dlgencoder.h"
#include "dialogs/dlgloudness.h"
#include "dialogs/encoderlistview.h"
#include "tests/dialogs/modalanswer.h"

#include <QComboBox>
#include <QFileInfo>
#include <QTabWidget>
#include <QTest>

// The main window's side of a finished file's MP3 jobs: the driver's jobs
// shown in the "Audio encoder" tab, "Clear done/error" clearing finished
// ones, and the Tools menu's two windows. What the jobs make is tested
// without a window (tests/driver).
class TestMp3Queue : public WindowTest {
    Q_OBJECT

public:
    TestMp3Queue() : WindowTest(Start::LoggedOut) {}

private slots:
    void encodersAreShownAndClearedWithTheirFile();
    void toolsMenuOpensBothWindows();
};

void TestMp3Queue::encodersAreShownAndClearedWithTheirFile()
{
    // The window opens on the Done tab.
    QCOMPARE(client->window->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->currentIndex(), 0);
    const QString first = wav(QStringLiteral("take -16 lufs.wav"));
    const QString second = wav(QStringLiteral("take -23 dbrms.wav"));
    ProcessingOptions options;
    options.fromWatchFolder = true;
    options.encodeToMP3 = true;
    options.encodeToMP3_bitRate = QStringLiteral("192");
    QueueFile* file = client->queue(wav(QStringLiteral("take.wav")), dir->filePath(QStringLiteral("take - x.wav")), options);
    QVERIFY(file);
    file->destFile.clear();
    file->outputFiles = {first.toUtf8(), second.toUtf8()};
    file->setState(QueueFileState::Done);
    client->tick();
    auto* list = client->window->findChild<EncoderListView*>(QStringLiteral("encoderList"));
    QCOMPARE(list->encoderCount(), 2);
    const QString mp3 = QFileInfo(list->encoderAt(1)->outputFile()).fileName();
    QVERIFY(mp3.startsWith(QStringLiteral("take -23 dbrms")));
    QTRY_COMPARE_WITH_TIMEOUT(list->model()->index(1, 0).data().toString(),
                              QStringLiteral("MP3: ") + mp3 + QStringLiteral(": Finished"), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(list->encoderAt(0)->isFinished(), 30000);

    // "Clear done/error" takes the file and the finished encoders away.
    answerQuestion(QMessageBox::Yes);
    client->action("actionClear_done_error")->trigger();
    QCOMPARE(list->encoderCount(), 0);
    QVERIFY(client->manager.snapshot().isEmpty());
}

void TestMp3Queue::toolsMenuOpensBothWindows()
{
    client->settings.defaultMp3BitRate = "256";
    client->action("actionMP3_Encoder")->trigger();
    auto* encoderWindow = client->window->findChild<dlgEncoder*>();
    QVERIFY(encoderWindow);
    QVERIFY(encoderWindow->isVisible());
    QVERIFY(!encoderWindow->isModal());
    QCOMPARE(encoderWindow->findChild<QComboBox*>(QStringLiteral("comboBox"))->currentText(), QStringLiteral("256"));
    client->action("actionLoudness_normalizer")->trigger();
    auto* loudnessWindow = client->window->findChild<dlgLoudness*>();
    QVERIFY(loudnessWindow);
    QVERIFY(loudnessWindow->isVisible());
    QCOMPARE(loudnessWindow->windowTitle(), QStringLiteral("Loudness normalization"));
}

QTEST_MAIN(TestMp3Queue)
#include "tst_mp3queue.moc"
