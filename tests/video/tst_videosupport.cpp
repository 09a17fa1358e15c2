#include "audiofixtures.h"
#include "videofixtures.h"

#include "video/ffmpegtool.h"
#include "video/filemove.h"
#include "video/videocodecprocess.h"
#include "video/videosupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

using videofixtures::Kind;

// The video queue on the real ffmpeg with short generated videos: states
// through whole jobs, reuse of one extraction, one ffmpeg at a time, the
// names of moved files, failures and the files left behind.
class TestVideoSupport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void videoSuffixesIgnoreLetterCase();
    void queueIsDisabledWithoutFfmpegOrFolder();
    void wholeJobCopiesThePictureAndTakesTheNewSound();
    void newVideoKeepsEveryStreamInSync();
    void soundKeepsItsResolution();
    void aviAndWmvPicturesKeepTheirTimes();
    void sameVideoTwiceReusesTheExtraction();
    void sameVideoTwiceExtractsAgainWhenTheFirstFailed();
    void secondVideoOfAGroupWaitsForTheFirst();
    void existingAudioTargetGetsANumberedName();
    void failedMuxLeavesNoOutputAndKeepsTheSound();
    void groupsCountsAndProcessedAudioInUse();
    void moveFileAcrossFoldersKeepsTheSourceOnFailure();
    void moveToAnotherFileSystemRunsOnAWorker();
    void destructionRemovesExtractionTargetsAndUnwrittenVideos();

private:
    // Ticks until the record leaves `state`, as the one-second timer would.
    bool tickWhile(videoFile* record, int state, int timeoutMs = 30000);
    QString path(const QString& name) const { return QDir::toNativeSeparators(dir->filePath(name)); }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<videoSupport> queue;
    QString work;
    QString mp4;
};

void TestVideoSupport::initTestCase()
{
    ffmpegtool::setFfmpegFolder(QString());
    QVERIFY2(ffmpegtool::isFfmpegAvailable(), "the tests need the system's ffmpeg");
}

void TestVideoSupport::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    work = path(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work));
    queue = std::make_unique<videoSupport>(true, work);
    mp4 = path(QStringLiteral("clip.mp4"));
    QVERIFY(videofixtures::makeVideo(mp4, Kind::Mp4H264Aac));
}

void TestVideoSupport::cleanup()
{
    queue.reset();
    dir.reset();
}

bool TestVideoSupport::tickWhile(videoFile* record, int state, int timeoutMs)
{
    QList<videoFile*> changed;
    QDeadlineTimer deadline(timeoutMs);
    while (record->state == state && !deadline.hasExpired()) {
        queue->processQueue(changed);
        if (record->state == state)
            QTest::qWait(20);
    }
    return record->state != state;
}

void TestVideoSupport::videoSuffixesIgnoreLetterCase()
{
    for (const char* name : {"a.mpeg", "a.avi", "a.mp4", "clip.MKV", "a.mov", "a.wmv", "a.MPG"})
        QVERIFY2(videoSupport::isVideoFile(QString::fromLatin1(name)), name);
    for (const char* name : {"clip.webm", "a.wav", "mp4", "a.mp4.txt"})
        QVERIFY2(!videoSupport::isVideoFile(QString::fromLatin1(name)), name);
}

void TestVideoSupport::queueIsDisabledWithoutFfmpegOrFolder()
{
    QVERIFY(queue->videoEnabled);
    QVERIFY(!videoSupport(false, work).videoEnabled);
    QVERIFY(!videoSupport(true, QString()).videoEnabled);
}

void TestVideoSupport::wholeJobCopiesThePictureAndTakesTheNewSound()
{
    const QString target = path(QStringLiteral("work/audioFrom-clip.wav"));
    videoFile* record = queue->addVideo(mp4, target, 0, 1);
    QCOMPARE(record->id, 1);
    QCOMPARE(record->state, int(videoFile::WaitingA));
    QCOMPARE(record->extractTarget, QDir::toNativeSeparators(work + QStringLiteral("/sonvira-temp-1.wav")));

    QList<videoFile*> changed;
    QVERIFY(queue->processQueue(changed));
    QCOMPARE(changed, QList<videoFile*>{record});
    QCOMPARE(record->state, int(videoFile::ExtractingAudio));
    QCOMPARE(queue->runningRecords(), QList<videoFile*>{record});
    QVERIFY(record->stateName().startsWith(QLatin1String("extractingAudio - ")));

    QVERIFY(tickWhile(record, videoFile::ExtractingAudio));
    QCOMPARE(record->stateName(), QStringLiteral("extractedAudioReady"));
    QCOMPARE(record->extractedAudio, target);
    QVERIFY(QFileInfo::exists(target));
    QVERIFY(!QFileInfo::exists(record->extractTarget));
    QVERIFY(queue->jobs.empty());

    // The processed sound: a quieter mkv's sound stands in for the service.
    const QString quiet = path(QStringLiteral("quiet.mkv"));
    const QString processed = path(QStringLiteral("clip - processed.wav"));
    QVERIFY(videofixtures::makeVideo(quiet, Kind::Matroska, 2.0, 0.02));
    QVERIFY(videofixtures::extractSound(quiet, processed));
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    QVERIFY(fixtures::readAudio(processed, samples, rate, channels));
    const double processedLevel = fixtures::rmsDb(samples);
    const QString output = path(QStringLiteral("clip - new.mp4"));
    // Found through a path spelt with a doubled leading slash.
    QCOMPARE(queue->setProcessedAudio(QLatin1Char('/') + target, processed, output), record);
    QCOMPARE(record->state, int(videoFile::WaitingB));
    QVERIFY(queue->isProcessedAudioInUse(processed));

    changed.clear();
    QVERIFY(queue->processQueue(changed));
    QCOMPARE(record->state, int(videoFile::ReencodingVideo));
    QVERIFY(tickWhile(record, videoFile::ReencodingVideo));
    QCOMPARE(record->stateName(), QStringLiteral("finished"));
    QVERIFY(!queue->isProcessedAudioInUse(processed));

    QCOMPARE(videofixtures::picturePackets(output), videofixtures::picturePackets(mp4));
    QVERIFY(!videofixtures::picturePackets(output).isEmpty());
    QCOMPARE(videofixtures::audioStreamCount(output), 1);
    QVERIFY2(qAbs(videofixtures::soundLevel(output) - processedLevel) < 0.5,
             "the new video has not got the processed sound");
    QVERIFY(videofixtures::soundLevel(mp4) - processedLevel > 10);
    // Nothing the new video needed is left; the source stays.
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(!QFileInfo::exists(processed));
    QVERIFY(QFileInfo::exists(mp4));
    const videoSupport::Counts counts = queue->counts();
    QCOMPARE(counts.total, 1);
    QCOMPARE(counts.finished, 1);
    QCOMPARE(counts.inProgress, 0);
}

void TestVideoSupport::newVideoKeepsEveryStreamInSync()
{
    // The sound starts 1 s after the picture; a second sound track, subtitles and a chapter.
    const QString source = path(QStringLiteral("rich.mkv"));
    QVERIFY(videofixtures::makeRichVideo(source, 4.0, 1.0, 0.3));
    videoFile* record = queue->addVideo(source, path(QStringLiteral("work/rich.wav")), 0, 1);
    QVERIFY(tickWhile(record, videoFile::WaitingA));
    QVERIFY(tickWhile(record, videoFile::ExtractingAudio));
    QCOMPARE(record->state, int(videoFile::ExtractedAudioReady));
    QVERIFY(!QFileInfo::exists(videoCodec_Process::startChecksumsName(record->extractTarget)));

    // The service's result stands in as the extracted sound 12 dB down.
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    QVERIFY(fixtures::readAudio(record->extractedAudio, samples, rate, channels));
    for (float& sample : samples)
        sample *= 0.25f;
    fixtures::Signal signal;
    signal.sampleRate = rate;
    signal.channels = channels;
    const QString processed = path(QStringLiteral("rich - processed.wav"));
    QVERIFY(fixtures::writeWav(processed, samples, signal));
    const double processedLevel = fixtures::rmsDb(samples);
    const QString output = path(QStringLiteral("rich - new.mkv"));
    queue->setProcessedAudio(record->extractedAudio, processed, output);
    QVERIFY(tickWhile(record, videoFile::WaitingB));
    QVERIFY(tickWhile(record, videoFile::ReencodingVideo));
    QCOMPARE(record->stateName(), QStringLiteral("finished"));

    // Every stream in its place with its codec and tags, the chapter, the same picture.
    QCOMPARE(videofixtures::streamSummary(output), videofixtures::streamSummary(source));
    QCOMPARE(videofixtures::chapterCount(output), 1);
    QCOMPARE(videofixtures::picturePackets(output), videofixtures::picturePackets(source));
    // In sync within one AAC frame (1024 samples at 48 kHz).
    const double sourceStart = videofixtures::streamStart(source, 1);
    const double newStart = videofixtures::streamStart(output, 1);
    QVERIFY2(std::fabs(newStart - sourceStart) <= 1024.0 / 48000.0 + 0.001,
             qPrintable(QStringLiteral("%1 vs %2").arg(newStart).arg(sourceStart)));
    QVERIFY2(std::fabs(videofixtures::soundLevel(output) - processedLevel) < 1.0,
             "the new video has not got the processed sound");
}

void TestVideoSupport::soundKeepsItsResolution()
{
    // 24-bit PCM is extracted at 24 bits and goes back as 24-bit PCM; AAC is extracted at 16.
    const QString mov = path(QStringLiteral("studio.mov"));
    QVERIFY(videofixtures::makeVideo(mov, Kind::MovPcm24));
    for (const auto& [source, expected] : {std::pair{mov, fixtures::SampleFormat::Pcm24},
                                           std::pair{mp4, fixtures::SampleFormat::Pcm16}}) {
        videoFile* record = queue->addVideo(source, path(QStringLiteral("work/") + QFileInfo(source).fileName()
                                                         + QStringLiteral(".wav")), 0, 1);
        QVERIFY(tickWhile(record, videoFile::WaitingA));
        QVERIFY(tickWhile(record, videoFile::ExtractingAudio));
        fixtures::SampleFormat format = fixtures::SampleFormat::Float32;
        QVERIFY(fixtures::readFormat(record->extractedAudio, format));
        QCOMPARE(int(format), int(expected));
    }
    videoFile* studio = queue->videos.front().get();
    const QString output = path(QStringLiteral("studio - new.mov"));
    queue->setProcessedAudio(studio->extractedAudio, studio->extractedAudio, output);
    QVERIFY(tickWhile(studio, videoFile::WaitingB));
    QVERIFY(tickWhile(studio, videoFile::ReencodingVideo));
    QCOMPARE(videofixtures::streamSummary(output), videofixtures::streamSummary(mov));
}

void TestVideoSupport::aviAndWmvPicturesKeepTheirTimes()
{
    for (const auto& [name, kind] : {std::pair{QStringLiteral("clip.avi"), Kind::AviMp3},
                                     std::pair{QStringLiteral("clip.wmv"), Kind::WmvWma}}) {
        const QString source = path(name);
        QVERIFY(videofixtures::makeVideo(source, kind));
        videoFile* record = queue->addVideo(source, path(QStringLiteral("work/") + name + QStringLiteral(".wav")), 0, 1);
        QVERIFY(tickWhile(record, videoFile::WaitingA));
        QVERIFY(tickWhile(record, videoFile::ExtractingAudio));
        const QString output = path(QStringLiteral("new ") + name);
        // The extracted sound goes back as it came: only the timing can differ.
        queue->setProcessedAudio(record->extractedAudio, record->extractedAudio, output);
        QVERIFY(tickWhile(record, videoFile::WaitingB));
        QVERIFY(tickWhile(record, videoFile::ReencodingVideo));
        QCOMPARE(record->stateName(), QStringLiteral("finished"));
        QVERIFY(!videofixtures::pictureTimes(source).isEmpty());
        QCOMPARE(videofixtures::pictureTimes(output), videofixtures::pictureTimes(source));
    }
}

void TestVideoSupport::sameVideoTwiceReusesTheExtraction()
{
    videoFile* first = queue->addVideo(mp4, path(QStringLiteral("work/a.wav")), 0, 1);
    videoFile* second = queue->addVideo(QDir::fromNativeSeparators(mp4), path(QStringLiteral("work/b.wav")), 0, 2);
    QCOMPARE(second->state, int(videoFile::SameSourceInProgress));
    QCOMPARE(second->stateName(), QStringLiteral("unknown"));
    QVERIFY(tickWhile(first, videoFile::WaitingA));
    QVERIFY(tickWhile(first, videoFile::ExtractingAudio));
    QCOMPARE(first->state, int(videoFile::ExtractedAudioReady));
    QCOMPARE(second->state, int(videoFile::SameSourceInProgress));
    QCOMPARE(queue->counts().inProgress, 2);

    const QString processed = path(QStringLiteral("processed.wav"));
    QVERIFY(QFile::copy(first->extractedAudio, processed));
    queue->setProcessedAudio(first->extractedAudio, processed, path(QStringLiteral("out.mp4")));
    QList<videoFile*> changed;
    queue->processQueue(changed);
    QCOMPARE(first->state, int(videoFile::ReencodingVideo));
    // The switch from 2048 is not reported as a change.
    QVERIFY(!changed.contains(second));
    QCOMPARE(second->state, int(videoFile::WaitingForProcessedAudio));
    QCOMPARE(second->extractedAudio, first->extractedAudio);
    QCOMPARE(second->audioTarget, first->audioTarget);
    QCOMPARE(second->decoderJobId, 0);
    // The shared extraction outlives the first video's mux.
    QVERIFY(tickWhile(first, videoFile::ReencodingVideo));
    QCOMPARE(first->state, int(videoFile::Finished));
    QVERIFY(QFileInfo::exists(second->extractedAudio));
    QVERIFY(!QFileInfo::exists(processed));
}

void TestVideoSupport::sameVideoTwiceExtractsAgainWhenTheFirstFailed()
{
    const QString silent = path(QStringLiteral("silent.mp4"));
    QVERIFY(videofixtures::makeVideo(silent, Kind::PictureOnly));
    videoFile* first = queue->addVideo(silent, path(QStringLiteral("work/a.wav")), 0, 1);
    videoFile* second = queue->addVideo(silent, path(QStringLiteral("work/b.wav")), 0, 1);
    QVERIFY(tickWhile(first, videoFile::WaitingA));
    QVERIFY(tickWhile(first, videoFile::ExtractingAudio));
    QCOMPARE(first->stateName(), QStringLiteral("errorExtracting"));
    QVERIFY(first->failed());
    QVERIFY(tickWhile(second, videoFile::SameSourceInProgress));
    QCOMPARE(second->state, int(videoFile::WaitingA));
    QVERIFY(tickWhile(second, videoFile::WaitingA));
    QVERIFY(second->decoderJobId > first->decoderJobId);
    QVERIFY(tickWhile(second, videoFile::ExtractingAudio));
    QCOMPARE(second->state, int(videoFile::ErrorExtracting));
    QVERIFY(queue->groupReady(1));
    QCOMPARE(queue->counts().failed, 2);
}

void TestVideoSupport::secondVideoOfAGroupWaitsForTheFirst()
{
    const QString mkv = path(QStringLiteral("other.MKV"));
    QVERIFY(videofixtures::makeVideo(mkv, Kind::Matroska));
    videoFile* first = queue->addVideo(mp4, path(QStringLiteral("work/audioFrom-clip.wav")), 0, 7);
    videoFile* second = queue->addVideo(mkv, path(QStringLiteral("work/audioFrom-other.wav")), 0, 7);
    QList<videoFile*> changed;
    queue->processQueue(changed);
    QCOMPARE(first->state, int(videoFile::ExtractingAudio));
    QCOMPARE(second->state, int(videoFile::WaitingA));
    QVERIFY(!queue->groupReady(7));
    QDeadlineTimer deadline(30000);
    while (first->state == videoFile::ExtractingAudio && !deadline.hasExpired()) {
        QCOMPARE(second->state, int(videoFile::WaitingA));
        queue->processQueue(changed);
        QTest::qWait(20);
    }
    QCOMPARE(first->state, int(videoFile::ExtractedAudioReady));
    QVERIFY(!queue->groupReady(7));
    QVERIFY(tickWhile(second, videoFile::WaitingA));
    QVERIFY(tickWhile(second, videoFile::ExtractingAudio));
    QCOMPARE(second->state, int(videoFile::ExtractedAudioReady));
    QVERIFY(queue->groupReady(7));
    QCOMPARE(queue->recordsOfGroup(7), (QList<videoFile*>{first, second}));
}

void TestVideoSupport::existingAudioTargetGetsANumberedName()
{
    const QString target = path(QStringLiteral("work/audioFrom-clip.wav"));
    QFile taken(target);
    QVERIFY(taken.open(QIODevice::WriteOnly));
    taken.close();
    videoFile* record = queue->addVideo(mp4, target, 0, 1);
    QVERIFY(tickWhile(record, videoFile::WaitingA));
    QVERIFY(tickWhile(record, videoFile::ExtractingAudio));
    QCOMPARE(record->extractedAudio, path(QStringLiteral("work/audioFrom-clip - 1.wav")));
    QCOMPARE(QFileInfo(target).size(), 0);
    QVERIFY(QFileInfo(record->extractedAudio).size() > 1000);
}

void TestVideoSupport::failedMuxLeavesNoOutputAndKeepsTheSound()
{
    videoFile* record = queue->addVideo(mp4, path(QStringLiteral("work/a.wav")), 0, 1);
    QVERIFY(tickWhile(record, videoFile::WaitingA));
    QVERIFY(tickWhile(record, videoFile::ExtractingAudio));
    // A reserved output name, and a processed sound that is not audio.
    const QString output = path(QStringLiteral("clip - new.mp4"));
    QFile reserved(output);
    QVERIFY(reserved.open(QIODevice::WriteOnly));
    reserved.close();
    const QString broken = path(QStringLiteral("broken.wav"));
    QFile junk(broken);
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a sound at all");
    junk.close();
    queue->setProcessedAudio(record->extractedAudio, broken, output);
    QVERIFY(tickWhile(record, videoFile::WaitingB));
    QVERIFY(tickWhile(record, videoFile::ReencodingVideo));
    QCOMPARE(record->stateName(), QStringLiteral("errorEncoding"));
    // ffmpeg's own last word on it.
    QVERIFY2(record->failureReason.contains(QLatin1String("Invalid data")), qPrintable(record->failureReason));
    QVERIFY(!QFileInfo::exists(output));
    QVERIFY(QFileInfo::exists(broken));
    QVERIFY(QFileInfo::exists(record->extractedAudio));
    QCOMPARE(queue->counts().failed, 1);
}

void TestVideoSupport::groupsCountsAndProcessedAudioInUse()
{
    videoFile* a = queue->addVideo(mp4, path(QStringLiteral("work/a.wav")), 0, 3);
    videoFile* b = queue->addVideo(path(QStringLiteral("b.avi")), path(QStringLiteral("work/b.wav")), 2, 3);
    a->state = videoFile::ExtractedAudioReady;
    b->state = videoFile::ErrorExtracting;
    QVERIFY(queue->groupReady(3));
    b->state = videoFile::Cancelled;
    QVERIFY(!queue->groupReady(3));
    queue->cancelGroup(3);
    QCOMPARE(a->stateName(), QStringLiteral("cancelled"));

    a->state = videoFile::WaitingForProcessedAudio;
    a->extractedAudio = path(QStringLiteral("work/a.wav"));
    videoFile* copy = queue->addCopy(*a, path(QStringLiteral("r2.wav")), path(QStringLiteral("v2.mp4")));
    QCOMPARE(copy->id, 3);
    QCOMPARE(copy->state, int(videoFile::WaitingB));
    QCOMPARE(copy->sourceVideo, a->sourceVideo);
    QCOMPARE(copy->groupKey, 3);
    QVERIFY(queue->isProcessedAudioInUse(path(QStringLiteral("r2.wav"))));
    QVERIFY(!queue->isProcessedAudioInUse(path(QStringLiteral("other.wav"))));
    QCOMPARE(queue->findById(3), copy);
    QCOMPARE(queue->findById(99), nullptr);
    QCOMPARE(queue->findByExtractedAudio(path(QStringLiteral("work/A.WAV"))), a);

    copy->state = videoFile::ErrorEncoding;
    QVERIFY(!queue->isProcessedAudioInUse(path(QStringLiteral("r2.wav"))));
    const videoSupport::Counts counts = queue->counts();
    QCOMPARE(counts.total, 3);
    QCOMPARE(counts.inProgress, 1);
    QCOMPARE(counts.cancelled, 1);
    QCOMPARE(counts.failed, 1);
}

void TestVideoSupport::moveFileAcrossFoldersKeepsTheSourceOnFailure()
{
    const QString source = path(QStringLiteral("work/moved.wav"));
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(5000, 'a'));
    file.close();
    QCOMPARE(videoSupport::moveFile(path(QStringLiteral("missing.wav")), path(QStringLiteral("x.wav"))), QString());
    QCOMPARE(videoSupport::moveFile(source, path(QStringLiteral("no such folder/moved.wav"))), QString());
    QVERIFY(QFileInfo::exists(source));

    QTemporaryDir elsewhere;
    const QString target = QDir::toNativeSeparators(elsewhere.filePath(QStringLiteral("moved.wav")));
    QCOMPARE(videoSupport::moveFile(source, target), target);
    QVERIFY(!QFileInfo::exists(source));
    QCOMPARE(QFileInfo(target).size(), 5000);
}

void TestVideoSupport::moveToAnotherFileSystemRunsOnAWorker()
{
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/sonvira-move-XXXXXX"));
    if (!elsewhere.isValid() || QStorageInfo(elsewhere.path()).device() == QStorageInfo(dir->path()).device())
        QSKIP("no second file system here");
    const QString source = elsewhere.filePath(QStringLiteral("sound.wav"));
    QVERIFY(fixtures::writeSine(source, 3.0, 440.0, 0.3, fixtures::Signal()));
    const qint64 size = QFileInfo(source).size();
    const QString target = path(QStringLiteral("audioFrom-clip.mp4.wav"));
    {
        FileMove move(source, target);
        QTRY_VERIFY_WITH_TIMEOUT(move.isDone(), 10000);
        // The target's name appears only when the owner finishes the move.
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(move.finish(), target);
    }
    QCOMPARE(QFileInfo(target).size(), size);
    QVERIFY(!QFileInfo::exists(source));
    QVERIFY(!QFileInfo::exists(FileMove::partialName(target)));

    // Ended before the owner finished it: the source stays, no partial copy is left.
    QVERIFY(QFile::rename(target, source) || QFile::copy(target, source));
    QFile::remove(target);
    {
        FileMove abandoned(source, target);
        QTRY_VERIFY_WITH_TIMEOUT(abandoned.isDone(), 10000);
    }
    QVERIFY(QFileInfo::exists(source));
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(!QFileInfo::exists(FileMove::partialName(target)));
}

void TestVideoSupport::destructionRemovesExtractionTargetsAndUnwrittenVideos()
{
    // A mux under way and a video waiting for its turn, each with its reserved name.
    videoFile* muxed = queue->addVideo(mp4, path(QStringLiteral("work/m.wav")), 0, 1);
    QVERIFY(tickWhile(muxed, videoFile::WaitingA));
    QVERIFY(tickWhile(muxed, videoFile::ExtractingAudio));
    videoFile* waiting = queue->addCopy(*muxed, muxed->extractedAudio, path(QStringLiteral("clip - 2.mp4")));
    queue->setProcessedAudio(muxed->extractedAudio, muxed->extractedAudio, path(QStringLiteral("clip - 1.mp4")));
    for (const videoFile* record : {muxed, waiting}) {
        QFile reserved(record->outputVideo);
        QVERIFY(reserved.open(QIODevice::WriteOnly));
    }
    QList<videoFile*> changed;
    queue->processQueue(changed);
    QCOMPARE(muxed->state, int(videoFile::ReencodingVideo));
    QCOMPARE(waiting->state, int(videoFile::WaitingB));

    videoFile* record = queue->addVideo(path(QStringLiteral("other.mp4")), path(QStringLiteral("work/a.wav")), 0, 2);
    const QString target = record->extractTarget;
    QFile(target).open(QIODevice::WriteOnly);
    // The mux is still running or has written its partial file.
    queue.reset();
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(QFileInfo::exists(mp4));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("clip.mp4")});
}

QTEST_GUILESS_MAIN(TestVideoSupport)
#include "tst_videosupport.moc"
