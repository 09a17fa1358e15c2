#include "windowtest.h"

#include "driver/resultencoding.h"
#include "audio/mp3encoder.h"
#include "dialogs/dlgencoder.h"
#include "dialogs/dlgloudness.h"
#include "dialogs/encoderlistview.h"
#include "pipeline/queuestore.h"

#include <QComboBox>
#include <QDir>
#include <QTabWidget>
#include <QTest>

// MP3 encoding of finished files in the main window: encoders per result of
// a watched folder's file in the "Audio encoder" tab, the WAVs deleted only
// once their MP3s are complete, "Clear done/error" clearing finished
// encoders, and the Tools menu's two windows.
class TestMp3Queue : public WindowTest {
    Q_OBJECT

public:
    TestMp3Queue() : WindowTest(Start::LoggedOut) {}

private slots:
    void mp3NamesCarryTheSuffixAndPreset();
    void everyResultIsEncodedAndDeletedAfterwards();
    void filesAddedByHandAreNotEncoded();
    void encodingCutOffByTheEndIsMadeAtTheNextStart();
    void toolsMenuOpensBothWindows();

private:
    QString sine(const QString& name) const { return wav(name, 2, 3.0); }
    EncoderListView* encoderList() const;
    ProcessingOptions mp3Options(bool deleteWav) const;
};

EncoderListView* TestMp3Queue::encoderList() const
{
    return client->window->findChild<EncoderListView*>(QStringLiteral("encoderList"));
}

ProcessingOptions TestMp3Queue::mp3Options(bool deleteWav) const
{
    ProcessingOptions options;
    options.fromWatchFolder = true;
    options.watchFolderPath = dir->path();
    options.preset = QStringLiteral("1: Speech");
    options.encodeToMP3 = true;
    options.encodeToMP3_bitRate = QStringLiteral("192");
    options.encodeToMP3_suffix = QStringLiteral("-{presetName}");
    options.deleteWAVafterMP3Encoding = deleteWav;
    return options;
}

void TestMp3Queue::mp3NamesCarryTheSuffixAndPreset()
{
    QCOMPARE(mp3NameFor(QStringLiteral("/out/take - Speech -16 lufs.wav"), QStringLiteral("-{presetName}"),
                        QStringLiteral("Speech")),
             QDir::toNativeSeparators(QStringLiteral("/out/take - Speech -16 lufs-Speech.mp3")));
    QCOMPARE(mp3NameFor(QStringLiteral("/out/a.b.wav"), QString(), QStringLiteral("x")),
             QDir::toNativeSeparators(QStringLiteral("/out/a.b.mp3")));
}

void TestMp3Queue::everyResultIsEncodedAndDeletedAfterwards()
{
    QCOMPARE(client->window->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->currentIndex(), 3);
    const QString first = sine(QStringLiteral("take -16 lufs.wav"));
    const QString second = sine(QStringLiteral("take -23 dbrms.wav"));
    QueueFile* file = client->queue(sine(QStringLiteral("take.wav")), dir->filePath(QStringLiteral("take - x.wav")),
                                    mp3Options(true));
    QVERIFY(file);
    file->destFile.clear();   // the intermediate result was cleaned up
    file->outputFiles = {first.toUtf8(), second.toUtf8()};
    file->setState(QueueFileState::Done);
    client->tick();
    client->tick();
    EncoderListView* list = encoderList();
    QCOMPARE(list->encoderCount(), 2);
    const QString firstMp3 = QDir::toNativeSeparators(dir->filePath(QStringLiteral("take -16 lufs-1_ Speech.mp3")));
    const QString secondMp3 = QDir::toNativeSeparators(dir->filePath(QStringLiteral("take -23 dbrms-1_ Speech.mp3")));
    QCOMPARE(list->encoderAt(0)->outputFile(), firstMp3);
    QCOMPARE(list->encoderAt(1)->outputFile(), secondMp3);
    QCOMPARE(list->encoderAt(0)->settings(), QStringLiteral("-b192"));

    // A WAV is never gone before its MP3 is complete under its final name.
    const auto checkOrder = [&](const QString& wav, const QString& mp3) {
        if (QFileInfo::exists(wav))
            return true;
        return QFileInfo(mp3).size() > 0 && !QFileInfo::exists(mp3Encoder::partialFileName(mp3));
    };
    bool inOrder = true;
    QVERIFY(QTest::qWaitFor(
        [&] {
            inOrder = checkOrder(first, firstMp3) && checkOrder(second, secondMp3);
            return !inOrder || (!QFileInfo::exists(first) && !QFileInfo::exists(second));
        },
        60000));
    QVERIFY(inOrder);
    QVERIFY(!QFileInfo::exists(first));
    QVERIFY(!QFileInfo::exists(second));
    QVERIFY(QFileInfo(firstMp3).size() > 0);
    QVERIFY(QFileInfo(secondMp3).size() > 0);
    QTRY_COMPARE_WITH_TIMEOUT(list->model()->index(1, 0).data().toString(),
                              QStringLiteral("MP3: take -23 dbrms-1_ Speech.mp3: Finished"), 5000);

    // "Clear done/error" takes the file and the finished encoders away.
    client->action("actionClear_done_error")->trigger();
    QCOMPARE(list->encoderCount(), 0);
}

void TestMp3Queue::encodingCutOffByTheEndIsMadeAtTheNextStart()
{
    const QString result = wav(QStringLiteral("long -16 lufs.wav"), 2, 120.0);
    QVERIFY(!result.isEmpty());
    QueueFile* file = client->queue(sine(QStringLiteral("long.wav")), dir->filePath(QStringLiteral("long - x.wav")),
                                    mp3Options(false));
    QVERIFY(file);
    file->destFile.clear();
    file->outputFiles = {result.toUtf8()};
    file->setState(QueueFileState::Done);
    client->tick();
    client->tick();
    QCOMPARE(encoderList()->encoderCount(), 1);
    QVERIFY(!encoderList()->encoderAt(0)->isFinished());
    // The end of the client cuts the encoding off; the finished file stays in queue.xml.
    client.reset();
    const QString mp3 = QDir::toNativeSeparators(dir->filePath(QStringLiteral("long -16 lufs-1_ Speech.mp3")));
    QVERIFY(!QFileInfo::exists(mp3));

    const QList<StoredFile> saved = queuestore::load(queuestore::defaultPath());
    QCOMPARE(saved.size(), 1);
    client = std::make_unique<ClientFixture>();   // which starts from an empty queue.xml
    QVERIFY(queuestore::write(queuestore::defaultPath(), queuestore::serialise(saved)));
    client->start();
    const QList<QueueFile*> restored = client->manager.snapshot();
    QCOMPARE(restored.size(), 1);
    QCOMPARE(restored.first()->outputFiles, QList<QByteArray>{result.toUtf8()});
    QTRY_VERIFY_WITH_TIMEOUT(encoderList()->encoderCount() == 1 && encoderList()->encoderAt(0)->isFinished(), 60000);
    QCOMPARE(encoderList()->encoderAt(0)->outputFile(), mp3);
    QVERIFY(QFileInfo(mp3).size() > 120 * 192000 / 8 * 9 / 10);
}

void TestMp3Queue::filesAddedByHandAreNotEncoded()
{
    ProcessingOptions byHand = mp3Options(false);
    byHand.fromWatchFolder = false;
    QueueFile* file = client->queue(sine(QStringLiteral("hand.wav")), dir->filePath(QStringLiteral("hand - x.wav")), byHand);
    file->destFile = sine(QStringLiteral("hand - x.wav")).toUtf8();
    file->setState(QueueFileState::Done);
    client->tick();
    QCOMPARE(encoderList()->encoderCount(), 0);

    // From a watched folder without post-processing: one encoder for destFile.
    QueueFile* watched = client->queue(sine(QStringLiteral("w.wav")), dir->filePath(QStringLiteral("w - x.wav")),
                                       mp3Options(false));
    watched->destFile = sine(QStringLiteral("w - x.wav")).toUtf8();
    watched->setState(QueueFileState::Done);
    client->tick();
    QCOMPARE(encoderList()->encoderCount(), 1);
    QVERIFY(QTest::qWaitFor([&] { return encoderList()->encoderAt(0)->isFinished(); }, 30000));
    QVERIFY(QFileInfo::exists(QString::fromUtf8(watched->destFile)));
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
