#include "videofixtures.h"

#include "driver/outputregistry.h"
#include "driver/videojobrecords.h"
#include "driver/videotasks.h"
#include "pipeline/queuefile.h"
#include "video/ffmpegtool.h"
#include "video/videocodecprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using videofixtures::Kind;

// The driver's side of the video queue on the real ffmpeg, with the
// service's part played by hand: a queued sound reaching Done.
class TestVideoTasks : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void everyResultGetsItsOwnVideo();
    void sameVideoDroppedTwiceGetsVideosForBoth();
    void sameVideoDroppedAgainLaterGetsItsOwnResult();
    void refusedSoundCancelsTheGroup();
    void videoFollowsItsSound();
    void jobsAreTakenUpAfterARestart();

private:
    // A video queue and its tasks on the work folder, as a start makes them.
    void startTasks();
    // Ticks as the one-second timer does until `done` holds.
    bool tickUntil(const std::function<bool()>& done, int timeoutMs = 30000);
    // The sound queued for a video comes back as `results` (first = the
    // downloaded result, then post-processing outputs), copies of it.
    std::unique_ptr<QueueFile> finishQueuedSound(const QString& extracted, const QStringList& results);
    QStringList newVideos() const;
    // The last state shown of each record, in the order they were first shown.
    QStringList shownStates() const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<videoSupport> queue;
    QList<int> shownIds;
    QHash<int, QString> shownState;
    QHash<int, QString> shownReason;
    std::unique_ptr<OutputRegistry> registry;
    std::unique_ptr<VideoTasks> tasks;
    QList<QUrl> queuedSounds;
    QList<QUrl> queuedDestinations;
    // "processed/errors" of each "files ready" event.
    QStringList readyCounts;
    bool acceptSounds = true;
    QString video;
};

void TestVideoTasks::initTestCase()
{
    ffmpegtool::setFfmpegFolder(QString());
    QVERIFY2(ffmpegtool::isFfmpegAvailable(), "the tests need the system's ffmpeg");
}

void TestVideoTasks::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("work"))));
    registry = std::make_unique<OutputRegistry>(nullptr);
    queuedSounds.clear();
    queuedDestinations.clear();
    readyCounts.clear();
    acceptSounds = true;
    startTasks();
    video = QDir::toNativeSeparators(dir->filePath(QStringLiteral("clip.mp4")));
    QVERIFY(videofixtures::makeVideo(video, Kind::Mp4H264Aac, 1.0));
}

void TestVideoTasks::startTasks()
{
    tasks.reset();
    queue = std::make_unique<videoSupport>(true, QDir::toNativeSeparators(dir->filePath(QStringLiteral("work"))));
    shownIds.clear();
    shownState.clear();
    shownReason.clear();
    tasks = std::make_unique<VideoTasks>(
        *queue, *registry,
        [this](const QList<QUrl>& sounds, const QList<QUrl>& destinations) {
            queuedSounds += sounds;
            queuedDestinations += destinations;
            return acceptSounds;
        },
        [this](int processed, int errors) { readyCounts << QStringLiteral("%1/%2").arg(processed).arg(errors); });
    tasks->setShowRecord([this](const videoFile& record) {
        if (!shownIds.contains(record.id))
            shownIds.append(record.id);
        shownState.insert(record.id, record.stateName());
        shownReason.insert(record.id, record.failureReason);
    });
}

void TestVideoTasks::cleanup()
{
    tasks.reset();
    queue.reset();
    dir.reset();
}

bool TestVideoTasks::tickUntil(const std::function<bool()>& done, int timeoutMs)
{
    return QTest::qWaitFor([&] {
        tasks->tick();
        return done();
    }, timeoutMs);
}

std::unique_ptr<QueueFile> TestVideoTasks::finishQueuedSound(const QString& extracted, const QStringList& results)
{
    auto file = std::make_unique<QueueFile>("1: Speech");
    file->setOriginalSourceFile(extracted.toUtf8());
    for (const QString& result : results) {
        const QString path = QDir::toNativeSeparators(dir->filePath(result));
        if (!QFile::copy(extracted, path))
            return nullptr;
        if (file->destFile.isEmpty())
            file->destFile = path.toUtf8();
        else
            file->outputFiles.append(path.toUtf8());
    }
    tasks->fileDone(*file);
    return file;
}

QStringList TestVideoTasks::newVideos() const
{
    return QDir(dir->path()).entryList({QStringLiteral("clip - *.mp4")}, QDir::Files, QDir::Name);
}

QStringList TestVideoTasks::shownStates() const
{
    QStringList states;
    for (int id : shownIds)
        states << shownState.value(id);
    return states;
}

void TestVideoTasks::everyResultGetsItsOwnVideo()
{
    QCOMPARE(tasks->takeVideos({QUrl::fromLocalFile(video), QUrl::fromLocalFile(QStringLiteral("/x/song.wav"))}),
             QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/x/song.wav"))});
    QVERIFY(tickUntil([&] { return !queuedSounds.isEmpty(); }));
    QCOMPARE(queuedDestinations, QList<QUrl>{QUrl::fromLocalFile(video)});
    const QString extracted = queuedSounds.first().toLocalFile();
    QCOMPARE(QFileInfo(extracted).fileName(), QStringLiteral("audioFrom-clip.wav"));
    QCOMPARE(shownStates(), QStringList{QStringLiteral("waitingForProcessedAudio")});

    const auto file = finishQueuedSound(extracted, {QStringLiteral("clip - 1_ Speech.wav"),
                                                    QStringLiteral("clip - 1_ Speech -20 dbrms.wav")});
    QVERIFY(file && file->sentToVideo);
    QVERIFY(tickUntil([&] { return !readyCounts.isEmpty(); }));
    QCOMPARE(readyCounts, QStringList{QStringLiteral("2/0")});
    QCOMPARE(shownStates(), (QStringList{QStringLiteral("finished"), QStringLiteral("finished")}));
    const QStringList made = newVideos();
    QCOMPARE(made.size(), 2);
    QVERIFY2(made.at(0).endsWith(QLatin1String("-20 dbrms.mp4")), qPrintable(made.join(QLatin1Char('|'))));
    QVERIFY(made.at(1).startsWith(QLatin1String("clip - 1_ Speech ")));
    for (const QString& name : made)
        QCOMPARE(videofixtures::picturePackets(dir->filePath(name)), videofixtures::picturePackets(video));
    // The sounds made only for the videos are gone.
    QVERIFY(!QFileInfo::exists(extracted));
    QVERIFY(!QFileInfo::exists(QString::fromUtf8(file->destFile)));
    QVERIFY(!QFileInfo::exists(QString::fromUtf8(file->outputFiles.first())));
}

void TestVideoTasks::sameVideoDroppedTwiceGetsVideosForBoth()
{
    tasks->takeVideos({QUrl::fromLocalFile(video)});
    tasks->takeVideos({QUrl::fromLocalFile(video)});
    QCOMPARE(queue->videos.at(1)->state, int(videoFile::SameSourceInProgress));
    QVERIFY(tickUntil([&] { return !queuedSounds.isEmpty(); }));
    const QString extracted = queuedSounds.first().toLocalFile();
    const auto file = finishQueuedSound(extracted, {QStringLiteral("r.wav"), QStringLiteral("r-2 x.wav")});
    QVERIFY(file);
    QVERIFY(tickUntil([&] { return !readyCounts.isEmpty(); }));
    // Its sound was queued once, and each drop has one video per result.
    QCOMPARE(queuedSounds.size(), 1);
    QCOMPARE(queue->counts().finished, 4);
    QCOMPARE(queue->counts().total, 4);
    QCOMPARE(newVideos().size(), 4);
    QCOMPARE(shownStates().count(QStringLiteral("finished")), 4);
    QVERIFY(!QFileInfo::exists(extracted));
}

void TestVideoTasks::sameVideoDroppedAgainLaterGetsItsOwnResult()
{
    tasks->takeVideos({QUrl::fromLocalFile(video)});
    QVERIFY(tickUntil([&] { return !queuedSounds.isEmpty(); }));
    const auto first = finishQueuedSound(queuedSounds.first().toLocalFile(), {QStringLiteral("first.wav")});
    QVERIFY(tickUntil([&] { return !readyCounts.isEmpty(); }));

    // The second extraction gets the same name, which the first has freed.
    tasks->takeVideos({QUrl::fromLocalFile(video)});
    QVERIFY(tickUntil([&] { return queuedSounds.size() == 2; }));
    QCOMPARE(queuedSounds.at(1), queuedSounds.at(0));
    const auto second = finishQueuedSound(queuedSounds.at(1).toLocalFile(), {QStringLiteral("second.wav")});
    QCOMPARE(queue->videos.at(0)->state, int(videoFile::Finished));
    QCOMPARE(queue->videos.at(1)->state, int(videoFile::WaitingB));
    QCOMPARE(queue->videos.at(1)->processedAudio, QString::fromUtf8(second->destFile));
    QVERIFY(tickUntil([&] { return readyCounts.size() == 2; }));
    QCOMPARE(readyCounts.last(), QStringLiteral("1/0"));
    QCOMPARE(newVideos().size(), 2);
}

// The add-file dialog was cancelled: the group is cancelled and its
// extracted sound removed.
void TestVideoTasks::refusedSoundCancelsTheGroup()
{
    acceptSounds = false;
    tasks->takeVideos({QUrl::fromLocalFile(video)});
    QVERIFY(tickUntil([&] { return !queuedSounds.isEmpty(); }));
    QCOMPARE(shownStates(), QStringList{QStringLiteral("cancelled")});
    QVERIFY(!QFileInfo::exists(queuedSounds.first().toLocalFile()));
    QCOMPARE(queue->counts().cancelled, 1);
    QVERIFY(newVideos().isEmpty());
}

// The queued sound fails, is submitted again, then leaves the queue; a
// second drop's sound is never queued (unticked in the new-files dialog).
void TestVideoTasks::videoFollowsItsSound()
{
    QHash<QString, VideoTasks::SoundState> sounds;
    tasks->setSoundStateOf([&](const QString& sound) {
        return sounds.value(QFileInfo(sound).fileName(), VideoTasks::SoundState::NotQueued);
    });
    const QString name = QStringLiteral("audioFrom-clip.wav");
    sounds.insert(name, VideoTasks::SoundState::InProgress);
    tasks->takeVideos({QUrl::fromLocalFile(video)});
    QVERIFY(tickUntil([&] { return !queuedSounds.isEmpty(); }));
    const QString extracted = queuedSounds.first().toLocalFile();
    tasks->tick();
    QCOMPARE(shownStates(), QStringList{QStringLiteral("waitingForProcessedAudio")});

    sounds.insert(name, VideoTasks::SoundState::Failed);
    QVERIFY(tickUntil([&] { return !readyCounts.isEmpty(); }));
    QCOMPARE(shownStates(), QStringList{QStringLiteral("error")});
    QCOMPARE(shownReason.value(shownIds.first()), QStringLiteral("its sound failed in the queue"));
    QCOMPARE(readyCounts, QStringList{QStringLiteral("0/1")});
    QVERIFY(QFileInfo::exists(extracted));   // kept for "Submit again"

    sounds.insert(name, VideoTasks::SoundState::InProgress);
    tasks->tick();
    QCOMPARE(shownStates(), QStringList{QStringLiteral("waitingForProcessedAudio")});
    sounds.remove(name);
    tasks->tick();
    QCOMPARE(shownStates(), QStringList{QStringLiteral("error")});
    QVERIFY(!QFileInfo::exists(extracted));

    // Dropped again, and the sound is never queued.
    tasks->takeVideos({QUrl::fromLocalFile(video)});
    QVERIFY(tickUntil([&] { return shownStates().size() == 2 && shownStates().last() == QLatin1String("error"); }));
    QVERIFY(!QFileInfo::exists(extracted));
    QCOMPARE(queue->counts().inProgress, 0);
}

// A job waiting for its processed sound when the client ends waits again
// after the restart and gets its video; a mux cut off by a kill whose
// processed sound is gone leaves neither its partial output nor its
// reserved name behind.
void TestVideoTasks::jobsAreTakenUpAfterARestart()
{
    tasks->takeVideos({QUrl::fromLocalFile(video)});
    QVERIFY(tickUntil([&] { return !queuedSounds.isEmpty(); }));
    const QString extracted = queuedSounds.first().toLocalFile();
    QList<StoredRecord> kept = tasks->storedRecords();
    QCOMPARE(kept.size(), 1);

    videoFile cutOff;
    cutOff.state = videoFile::ReencodingVideo;
    cutOff.sourceVideo = video;
    cutOff.processedAudio = QDir::toNativeSeparators(dir->filePath(QStringLiteral("gone.wav")));
    cutOff.outputVideo = QDir::toNativeSeparators(dir->filePath(QStringLiteral("cut - 1_ Speech.mp4")));
    QVERIFY(OutputRegistry::reserveOutputFile(cutOff.outputVideo));
    QFile partial(videoCodec_Process::partialVideoName(cutOff.outputVideo));
    QVERIFY(partial.open(QIODevice::WriteOnly) && partial.write("not a whole video") > 0);
    partial.close();
    kept.append(videojobrecords::toRecord(cutOff));

    startTasks();
    tasks->restore(kept);
    QVERIFY(!QFileInfo::exists(cutOff.outputVideo));
    QVERIFY(!partial.exists());
    QCOMPARE(shownStates(), QStringList{QStringLiteral("waitingForProcessedAudio")});
    const auto file = finishQueuedSound(extracted, {QStringLiteral("clip - 1_ Speech.wav")});
    QVERIFY(file && file->sentToVideo);
    QVERIFY(tickUntil([&] { return shownStates() == QStringList{QStringLiteral("finished")}; }));
    QCOMPARE(newVideos().size(), 1);
    QVERIFY(tasks->storedRecords().isEmpty());
}

QTEST_MAIN(TestVideoTasks)
#include "tst_videotasks.moc"
