#include "tests/dialogs/modalanswer.h"
#include "videofixtures.h"
#include "windowtest.h"

#include "dialogs/dlgaddfile.h"
#include "dialogs/dlgaddmultplefiles.h"
#include "video/ffmpegtool.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <functional>

using videofixtures::Kind;

// Videos end to end through the real main window, the real ffmpeg and the
// real service: the new video has the source's picture packets and the
// service's processed sound, and nothing made only for it is left behind.
class TestVideoService : public WindowTest {
    Q_OBJECT

public:
    TestVideoService() : WindowTest(Start::AtLogIn) {}

private slots:
    void droppedVideoComesBackWithTheProcessedSound();
    void videosDroppedTogetherComeBackBesideThem();
    void videoSavedIntoAWatchedFolderComesBackBesideIt();
    void droppedVideoIsIgnoredWithVideoSupportOff();

private:
    // Starts a logged-in client whose video support uses the PATH's ffmpeg.
    bool startClient();
    bool waitForVideosReady(int timeoutMs = 90000);
    QStringList newVideos(const QString& folder, const QString& source) const;
    // The picture packet by packet as in the source, and a sound at the
    // expected RMS level (dBFS), far from the quiet source's.
    void verifyNewVideo(const QString& source, const QString& output, double expectedLevel) const;
    QString statusColumn() const;
};

bool TestVideoService::startClient()
{
    // The client's working folder lives under the test's folder, so runs in
    // parallel do not share work files.
    const QString work = dir->filePath(QStringLiteral("tmp"));
    if (!QDir().mkpath(work))
        return false;
    qputenv("TMPDIR", QFile::encodeName(work));
    ffmpegtool::setFfmpegFolder(QString());
    // A window takes up both as it is made.
    client = std::make_unique<ClientFixture>();
    return startService();
}

bool TestVideoService::waitForVideosReady(int timeoutMs)
{
    return QTest::qWaitFor([this] {
        return std::any_of(client->trayMessages.cbegin(), client->trayMessages.cend(),
                           [](const QString& message) { return message.startsWith(QLatin1String("Video files ready")); });
    }, timeoutMs);
}

QStringList TestVideoService::newVideos(const QString& folder, const QString& source) const
{
    QStringList found;
    const QFileInfo info(source);
    for (const QFileInfo& entry : QDir(folder).entryInfoList({info.completeBaseName() + QStringLiteral(" - *.")
                                                              + info.suffix()},
                                                             QDir::Files))
        found << QDir::toNativeSeparators(entry.absoluteFilePath());
    return found;
}

QString TestVideoService::statusColumn() const
{
    const auto* tree = client->window->findChild<QTreeWidget*>(QStringLiteral("videoTree"));
    QStringList states;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        states << tree->topLevelItem(i)->text(2);
    return states.join(QLatin1Char(','));
}

void TestVideoService::verifyNewVideo(const QString& source, const QString& output, double expectedLevel) const
{
    const QStringList packets = videofixtures::picturePackets(source);
    QVERIFY(!packets.isEmpty());
    QCOMPARE(videofixtures::picturePackets(output), packets);
    QCOMPARE(videofixtures::audioStreamCount(output), 1);
    const double level = videofixtures::soundLevel(output);
    QVERIFY2(qAbs(level - expectedLevel) < 1.5, qPrintable(output + QStringLiteral(": ") + QString::number(level)));
    QVERIFY(level - videofixtures::soundLevel(source) > 6);
}

void TestVideoService::droppedVideoComesBackWithTheProcessedSound()
{
    QVERIFY(startClient());
    const QString folder = dir->filePath(QStringLiteral("dropped"));
    QVERIFY(QDir().mkpath(folder));
    const QString video = QDir::toNativeSeparators(folder + QStringLiteral("/clip.mp4"));
    QVERIFY(videofixtures::makeVideo(video, Kind::Mp4H264Aac, 2.0, 0.05));

    QString proposed;
    QString shownSource;
    answerModal<dlgAddFile>([&](dlgAddFile* dialog) {
        shownSource = dialog->findChild<QLabel*>(QStringLiteral("lblSrcFile"))->text();
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        proposed = dialog->destination();
    }, 30000);
    QVERIFY(client->dropUrls({QUrl::fromLocalFile(video)}));
    QTRY_COMPARE_WITH_TIMEOUT(client->manager.snapshot().size(), 1, 20000);
    // The extracted sound is queued to come back beside the video.
    QCOMPARE(QFileInfo(proposed).absolutePath(), QFileInfo(video).absolutePath());
    QueueFile* file = client->manager.snapshot().first();
    QVERIFY(QString::fromUtf8(file->srcFile).contains(QLatin1String("audioFrom-clip")));
    // The person sees the video they dropped as the source, in the dialog and on the panel.
    QCOMPARE(shownSource, video);
    client->tick();
    QCOMPARE(client->widgetOf(file)->text(QueueFileWidget::Part::Source), video);

    QVERIFY2(waitForVideosReady(), qPrintable(statusColumn() + QLatin1Char(' ') + file->toString()));
    QCOMPARE(statusColumn(), QStringLiteral("finished"));
    QVERIFY(file->sentToVideo);
    const QStringList outputs = newVideos(folder, video);
    QCOMPARE(outputs.size(), 1);
    // A stereo 440 Hz tone at the preset's -16 LUFS has an RMS level near -19 dBFS.
    verifyNewVideo(video, outputs.first(), -19.0);
    QVERIFY(client->trayMessages.contains(QStringLiteral("Video files ready\nFiles processed: 1")));
    // Only the source and the new video stay.
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
    QVERIFY(!QFileInfo::exists(QString::fromUtf8(file->srcFile)));
}

// One group: their sounds go through one new-files dialog, which proposes
// the videos' folder for the results.
void TestVideoService::videosDroppedTogetherComeBackBesideThem()
{
    QVERIFY(startClient());
    const QString folder = QDir::toNativeSeparators(dir->filePath(QStringLiteral("group")));
    QVERIFY(QDir().mkpath(folder));
    // With "Save in original location", each new video goes beside its own source.
    const QString otherFolder = QDir::toNativeSeparators(dir->filePath(QStringLiteral("other")));
    QVERIFY(QDir().mkpath(otherFolder));
    const QString first = folder + QStringLiteral("/first.mp4");
    const QString second = otherFolder + QStringLiteral("/second.mkv");
    QVERIFY(videofixtures::makeVideo(first, Kind::Mp4H264Aac, 1.5, 0.05));
    QVERIFY(videofixtures::makeVideo(second, Kind::Matroska, 1.5, 0.05));

    int dialogs = 0;
    answerModal<DlgAddMultpleFiles>([&dialogs](DlgAddMultpleFiles* dialog) {
        ++dialogs;
        dialog->findChild<QCheckBox*>(QStringLiteral("chkSaveToOriginalLocation"))->setChecked(true);
        dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
    }, 30000);
    QVERIFY(client->dropUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)}));
    QVERIFY2(waitForVideosReady(), qPrintable(statusColumn()));
    QCOMPARE(dialogs, 1);
    QCOMPARE(client->manager.snapshot().size(), 2);
    QCOMPARE(statusColumn(), QStringLiteral("finished,finished"));
    QVERIFY(client->trayMessages.contains(QStringLiteral("Video files ready\nFiles processed: 2")));
    for (const QString& video : {first, second}) {
        const QStringList outputs = newVideos(QFileInfo(video).absolutePath(), video);
        QCOMPARE(outputs.size(), 1);
        verifyNewVideo(video, outputs.first(), -19.0);
    }
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
    QCOMPARE(QDir(otherFolder).entryList(QDir::Files).size(), 2);
}

void TestVideoService::videoSavedIntoAWatchedFolderComesBackBesideIt()
{
    const QString folder = QDir::toNativeSeparators(dir->filePath(QStringLiteral("watched")));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(startClient());
    ScanPath watched;
    watched.path = folder;
    watched.outputPath = folder;
    watched.preset = "1: Speech -16 LUFS";
    watched.outputSuffix = QStringLiteral("-{presetName}");
    watched.showDialog = false;
    watched.enabled = true;
    watched.postProcessing_Arguments = QStringLiteral("normOp00: -20 dBrms\nnormOp00: -26 dBrms");
    client->settings.addScanPath(watched);

    // Made elsewhere and moved in whole, as a program that saves it would.
    const QString staged = dir->filePath(QStringLiteral("take.MKV"));
    QVERIFY(videofixtures::makeVideo(staged, Kind::Matroska, 2.0, 0.01));
    const QString video = folder + QStringLiteral("/take.MKV");
    QVERIFY(QFile::rename(staged, video));

    QVERIFY2(waitForVideosReady(), qPrintable(statusColumn()));
    QCOMPARE(statusColumn(), QStringLiteral("finished,finished"));
    QCOMPARE(client->manager.snapshot().size(), 1);
    QCOMPARE(QString::fromUtf8(client->manager.snapshot().first()->srcFile),
             QDir::toNativeSeparators(folder + QStringLiteral("/audioFrom-take.MKV.wav")));
    // One new video per normalised result; the later one is told apart by
    // the tail of its result's name.
    QStringList outputs = newVideos(folder, video);
    QCOMPARE(outputs.size(), 2);
    // The tail's "-" sorts before the extension's ".".
    std::sort(outputs.begin(), outputs.end(), std::greater<QString>());
    QVERIFY2(!outputs.at(0).contains(QLatin1String("dbrms")), qPrintable(outputs.at(0)));
    QVERIFY2(outputs.at(1).endsWith(QLatin1String("-26 dbrms.MKV")), qPrintable(outputs.at(1)));
    verifyNewVideo(video, outputs.at(0), -20.0);
    verifyNewVideo(video, outputs.at(1), -26.0);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3);
    // The new videos are the client's own output, never new input.
    const auto known = [this](const QString& path) {
        const QList<ScannedFile> files = client->settings.scanPaths().first().scannedFiles;
        return std::any_of(files.cbegin(), files.cend(),
                           [&](const ScannedFile& entry) { return entry.filePath == path && !entry.isPlaceholder(); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(known(outputs.at(0)) && known(outputs.at(1)), 10000);
    QCOMPARE(client->manager.snapshot().size(), 1);
}

void TestVideoService::droppedVideoIsIgnoredWithVideoSupportOff()
{
    QVERIFY(startClient());
    const QString noFfmpeg = dir->filePath(QStringLiteral("no-ffmpeg"));
    QVERIFY(QDir().mkpath(noFfmpeg));
    client->window->updateVideoTool(noFfmpeg);
    const QString video = dir->filePath(QStringLiteral("ignored.mp4"));
    QVERIFY(videofixtures::makeVideo(video, Kind::Mp4H264Aac, 1.0));
    QVERIFY(client->dropUrls({QUrl::fromLocalFile(video)}));
    // The window handles the drop from a zero timer; one started after it
    // fires after it.
    bool handled = false;
    QTimer::singleShot(0, client->window.get(), [&handled] { handled = true; });
    QTRY_VERIFY(handled);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(client->manager.snapshot().isEmpty());
    QCOMPARE(statusColumn(), QString());
}

QTEST_MAIN(TestVideoService)
#include "tst_videoservice.moc"
