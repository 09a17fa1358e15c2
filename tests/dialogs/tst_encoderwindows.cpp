#include "audiofixtures.h"
#include "dropurls.h"
#include "modalanswer.h"

#include "audio/audiolibrary.h"
#include "audio/mp3encoder.h"
#include "dialogs/dlgencoder.h"
#include "dialogs/dlgloudness.h"
#include "dialogs/encoderlistview.h"
#include "dialogs/quitcheck.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <memory>
#include <thread>

namespace {

// Counts its own destructions, so ownership can be checked.
class CountedEncoder : public mp3Encoder {
public:
    explicit CountedEncoder(int& destroyed)
        : m_destroyed(destroyed)
    {
    }
    ~CountedEncoder() override { ++m_destroyed; }

private:
    int& m_destroyed;
};


} // namespace

// The main window's encoder list and the MP3 encoder window on real files:
// rows and their texts, ownership of the encoders, drops, bit rate and
// Encode, the version label, and closing while encodings run.
class TestEncoderWindows : public QObject {
    Q_OBJECT

private slots:
    void init();
    void listShowsAndClearsFinishedEncoders();
    void versionLabelShowsAllEightDigits();
    void dropRefusesDuplicatesAndKeepsOutputsApart();
    void encodeStartsEveryRowAtTheChosenRate();
    void setBitRateSelectsMatchingItem();
    void closedWindowFinishesInTheBackground();
    void quitAsksAndCancelsToolWork();
    void addFilesButtonsTakeSeveralFiles();

private:
    QString sine(const QString& name, double seconds = 1.0);

    std::unique_ptr<QTemporaryDir> dir;
};

void TestEncoderWindows::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

// Without a drop: "Add files..." takes several files in both tool windows
// (the loudness window only WAVs), and the hint shows while a list is empty.
void TestEncoderWindows::addFilesButtonsTakeSeveralFiles()
{
    sine(QStringLiteral("one.wav"));
    sine(QStringLiteral("two.wav"));
    QVERIFY(QFile::copy(dir->filePath(QStringLiteral("one.wav")), dir->filePath(QStringLiteral("three.flac"))));
    const auto chooseAll = [this] {
        answerModal<QFileDialog>([this](QFileDialog* browser) {
            browser->setDirectory(dir->path());
            chooseInFileDialog(browser, QStringLiteral("\"one.wav\" \"two.wav\" \"three.flac\""));
        });
    };

    dlgEncoder encoder;
    auto* hint = encoder.findChild<QLabel*>(QStringLiteral("lblDropHint"));
    QCOMPARE(hint->text(), QStringLiteral("Drop WAV files here or press Add files..."));
    QVERIFY(!hint->isHidden());
    chooseAll();
    encoder.findChild<QPushButton*>(QStringLiteral("btnAddFiles"))->click();
    QCOMPARE(encoder.encoderCount(), 3);
    QVERIFY(hint->isHidden());

    dlgLoudness loudness;
    auto* loudnessHint = loudness.findChild<QLabel*>(QStringLiteral("label"));
    QVERIFY(!loudnessHint->isHidden());
    chooseAll();
    loudness.findChild<QPushButton*>(QStringLiteral("btnAddFiles"))->click();
    QCOMPARE(loudness.rowCount(), 2);
    QVERIFY(loudnessHint->isHidden());
}

QString TestEncoderWindows::sine(const QString& name, double seconds)
{
    const QString path = dir->filePath(name);
    return fixtures::writeSine(path, seconds, 440.0, 0.3, fixtures::Signal()) ? path : QString();
}

void TestEncoderWindows::listShowsAndClearsFinishedEncoders()
{
    int destroyed = 0;
    auto view = std::make_unique<EncoderListView>();
    auto* unopenable = new CountedEncoder(destroyed);
    unopenable->setInputFile(dir->filePath(QStringLiteral("missing.wav")));
    unopenable->setOutputFile(dir->filePath(QStringLiteral("missing.mp3")));
    auto* running = new CountedEncoder(destroyed);
    running->setInputFile(sine(QStringLiteral("long.wav"), 60.0));
    running->setOutputFile(dir->filePath(QStringLiteral("long.mp3")));
    auto* quick = new CountedEncoder(destroyed);
    quick->setInputFile(sine(QStringLiteral("quick.wav")));
    quick->setOutputFile(dir->filePath(QStringLiteral("quick.mp3")));
    for (mp3Encoder* encoder : {static_cast<mp3Encoder*>(unopenable), static_cast<mp3Encoder*>(running),
                                static_cast<mp3Encoder*>(quick)})
        view->addEncoder(encoder);
    QCOMPARE(view->encoderCount(), 3);
    QCOMPARE(view->model()->index(0, 0).data().toString(), QStringLiteral("MP3: missing.mp3: Waiting"));
    QVERIFY(view->encoderAt(1) == running);
    QCOMPARE(view->model()->index(1, 0).data(Qt::UserRole).value<audioEncoderParent*>(), running);

    QVERIFY(unopenable->start());
    QVERIFY(running->start());
    QVERIFY(quick->start());
    QVERIFY(QTest::qWaitFor([&] { return quick->isFinished() && unopenable->isFinished(); }, 30000));
    view->updateListView();
    QVERIFY(view->model()->index(0, 0).data().toString().startsWith(QStringLiteral("MP3: missing.mp3: Failed: ")));
    QCOMPARE(view->model()->index(2, 0).data().toString(), QStringLiteral("MP3: quick.mp3: Finished"));
    QVERIFY(view->model()->index(1, 0).data().toString().startsWith(QStringLiteral("MP3: long.mp3: Encoding: ")));

    // The failed encoder counts as finished: it goes, with the finished one.
    view->clearFinished();
    QCOMPARE(destroyed, 2);
    QCOMPARE(view->encoderCount(), 1);
    QVERIFY(view->encoderAt(0) == running);
    // The view's destruction cancels the running encoder and destroys it.
    view.reset();
    QCOMPARE(destroyed, 3);
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("long.mp3"))));
    QVERIFY(!QFileInfo::exists(mp3Encoder::partialFileName(dir->filePath(QStringLiteral("long.mp3")))));
}

void TestEncoderWindows::versionLabelShowsAllEightDigits()
{
    dlgEncoder window;
    const QString text = window.findChild<QLabel*>(QStringLiteral("lblEncoderInfo"))->text();
    QCOMPARE(text, QStringLiteral("MP3 ENCODER VERSION: 0X") + QStringLiteral("%1").arg(audiolib::mp3EncoderVersion(), 8, 16, QLatin1Char('0')).toUpper());
    QVERIFY(text.contains(QRegularExpression(QStringLiteral("^MP3 ENCODER VERSION: 0X[0-9A-F]{8}$"))));
    QCOMPARE(window.windowTitle(), QStringLiteral("MP3 Encoder"));
    auto* combo = window.findChild<QComboBox*>(QStringLiteral("comboBox"));
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    QCOMPARE(items, (QStringList{"96", "128", "160", "192", "256", "320"}));
}

void TestEncoderWindows::dropRefusesDuplicatesAndKeepsOutputsApart()
{
    dlgEncoder window;
    const QString song = sine(QStringLiteral("song.wav"));
    const QString flac = dir->filePath(QStringLiteral("song.flac"));
    const QString mp3 = dir->filePath(QStringLiteral("old.mp3"));
    QVERIFY(QFile::copy(song, flac));
    QVERIFY(QFile::copy(song, mp3));
    const QString corrupt = dir->filePath(QStringLiteral("corrupt.wav"));
    QVERIFY(fixtures::writeCorruptFile(corrupt));
    QList<QUrl> urls{QUrl::fromLocalFile(song), QUrl::fromLocalFile(mp3), QUrl::fromLocalFile(song),
                     QUrl::fromLocalFile(flac), QUrl(QStringLiteral("https://example.invalid/a.wav")),
                     QUrl::fromLocalFile(corrupt)};
    // A pipe (a stalled share stands in for it) would hold any reader on the GUI thread.
    const QString pipe = dir->filePath(QStringLiteral("stalled.wav"));
    if (QProcess::execute(QStringLiteral("mkfifo"), {pipe}) == 0)
        urls << QUrl::fromLocalFile(pipe);
    dropUrlsOn(&window, urls);
    QCOMPARE(window.encoderCount(), 3);
    QCOMPARE(window.rowText(0), QStringLiteral("MP3: song.mp3: Waiting"));
    QCOMPARE(window.encoderAt(0)->inputFile(), QDir::toNativeSeparators(song));
    QCOMPARE(window.encoderAt(0)->settings(), QStringLiteral("-b128"));
    QCOMPARE(window.rowText(1), QStringLiteral("MP3: song (1).mp3: Waiting"));
    QVERIFY(window.encoderAt(0)->isFinished());
    QVERIFY(!QFileInfo::exists(window.encoderAt(0)->outputFile()));

    window.findChild<QPushButton*>(QStringLiteral("btnEncode"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(window.rowText(0), QStringLiteral("MP3: song.mp3: Finished"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(window.rowText(1), QStringLiteral("MP3: song (1).mp3: Finished"), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(window.rowText(2).startsWith(QStringLiteral("MP3: corrupt.mp3: Failed: ")), 30000);
    QVERIFY(QFileInfo(dir->filePath(QStringLiteral("song.mp3"))).size() > 0);
    QVERIFY(QFileInfo(dir->filePath(QStringLiteral("song (1).mp3"))).size() > 0);
    // A finished source is not listed again; a failed one may be.
    QVERIFY(!window.addFile(song));
    QVERIFY(window.addFile(corrupt));
}

void TestEncoderWindows::encodeStartsEveryRowAtTheChosenRate()
{
    dlgEncoder window;
    QVERIFY(window.addFile(sine(QStringLiteral("a.wav"))));
    window.setBitRate(QStringLiteral("192"));
    window.findChild<QPushButton*>(QStringLiteral("btnEncode"))->click();
    audioEncoderParent* first = window.encoderAt(0);
    QCOMPARE(first->settings(), QStringLiteral("-b192"));
    QVERIFY(QTest::qWaitFor([&] { return first->isFinished(); }, 30000));
    QTRY_COMPARE_WITH_TIMEOUT(window.rowText(0), QStringLiteral("MP3: a.mp3: Finished"), 5000);

    // A second press starts only the new row; the first keeps its state.
    QVERIFY(window.addFile(sine(QStringLiteral("b.wav"))));
    window.setBitRate(QStringLiteral("320"));
    window.findChild<QPushButton*>(QStringLiteral("btnEncode"))->click();
    audioEncoderParent* second = window.encoderAt(1);
    QVERIFY(QTest::qWaitFor([&] { return second->isFinished(); }, 30000));
    QTRY_COMPARE_WITH_TIMEOUT(window.rowText(1), QStringLiteral("MP3: b.mp3: Finished"), 5000);
    QCOMPARE(window.rowText(0), QStringLiteral("MP3: a.mp3: Finished"));
    QVERIFY(QFileInfo(dir->filePath(QStringLiteral("b.mp3"))).size() > QFileInfo(dir->filePath(QStringLiteral("a.mp3"))).size());
}

void TestEncoderWindows::setBitRateSelectsMatchingItem()
{
    dlgEncoder window;
    auto* combo = window.findChild<QComboBox*>(QStringLiteral("comboBox"));
    window.setBitRate(QStringLiteral("256"));
    QCOMPARE(combo->currentText(), QStringLiteral("256"));
    window.setBitRate(QStringLiteral("112"));
    QCOMPARE(combo->currentText(), QStringLiteral("256"));
}

void TestEncoderWindows::closedWindowFinishesInTheBackground()
{
    QWidget parent;
    QPointer<dlgEncoder> window = new dlgEncoder(&parent);
    window->show();
    QVERIFY(window->addFile(sine(QStringLiteral("bg.wav"), 20.0)));
    window->findChild<QPushButton*>(QStringLiteral("btnEncode"))->click();
    window->reject();
    QVERIFY(!window->isVisible());
    QVERIFY(window);
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 60000);
    QVERIFY(QFileInfo::exists(dir->filePath(QStringLiteral("bg.mp3"))));
}

void TestEncoderWindows::quitAsksAndCancelsToolWork()
{
    // Named pipes hold an encoding and a render in the middle of opening
    // their source, so both are surely running when Quit asks.
    const QString pendingSound = dir->filePath(QStringLiteral("pending.wav"));
    const QString speech = sine(QStringLiteral("speech.wav"), 2.0);
    auto parent = std::make_unique<QWidget>();
    auto* list = new EncoderListView(parent.get());
    auto* loudness = new dlgLoudness(parent.get());
    loudness->add_filePath(speech);
    QTRY_VERIFY_WITH_TIMEOUT(loudness->rowText(0).contains(QLatin1String(" | ")), 30000);
    QVERIFY(QFile::remove(speech));
    if (QProcess::execute(QStringLiteral("mkfifo"), {pendingSound}) != 0
        || QProcess::execute(QStringLiteral("mkfifo"), {speech}) != 0)
        QSKIP("no named pipes here");
    auto* encoder = new mp3Encoder;
    encoder->setInputFile(pendingSound);
    encoder->setOutputFile(dir->filePath(QStringLiteral("pending.mp3")));
    list->addEncoder(encoder);
    QVERIFY(encoder->start());
    loudness->findChild<QPushButton*>(QStringLiteral("btnNormalize"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(loudness->findChild<QTextEdit*>(QStringLiteral("txtEncoded"))->toPlainText().contains(
                                 QLatin1String("... ")), 5000);

    QString question;
    const auto answer = [&](QMessageBox::StandardButton button) {
        answerModal<QMessageBox>([&question, button](QMessageBox* box) {
            question = box->text();
            box->button(button)->click();
        });
    };
    answer(QMessageBox::No);
    QVERIFY(!quitcheck::confirmQuit(*parent, *list));
    QCOMPARE(question, QStringLiteral("1 MP3 encodings are still running. Audio files are being normalized. Quit anyway?"));
    QVERIFY(loudness->isNormalizing());
    QVERIFY(!encoder->isFinished());

    // Yes stops the render at once. The pipes are let go as the answer is
    // given, so that the stopped workers can end (as a stalled share would).
    std::thread release;
    answerModal<QMessageBox>([&](QMessageBox* box) {
        release = std::thread([&] {
            for (const QString& pipe : {pendingSound, speech}) {
                QFile writer(pipe);
                writer.open(QIODevice::WriteOnly);
            }
        });
        box->button(QMessageBox::Yes)->click();
    });
    QVERIFY(quitcheck::confirmQuit(*parent, *list));
    QVERIFY(!loudness->isNormalizing());
    release.join();
    QTRY_VERIFY_WITH_TIMEOUT(encoder->isFinished(), 10000);
    // Nothing left running: Quit asks nothing.
    QVERIFY(quitcheck::confirmQuit(*parent, *list));
    parent.reset();
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("speech -16 LUFS.wav.part"))));
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("speech -16 LUFS.wav"))));
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("pending.mp3"))));
}

QTEST_MAIN(TestEncoderWindows)
#include "tst_encoderwindows.moc"
