#include "driver/videotasks.h"

#include "driver/outputregistry.h"
#include "driver/videojobrecords.h"
#include "pipeline/queuefile.h"
#include "settings/naming.h"
#include "video/ffmpegtool.h"
#include "video/videocodecprocess.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>

namespace {

constexpr int kDroppedMode = 0;
constexpr int kWatchedFolderMode = 2;

QString text(const QByteArray& utf8)
{
    return QString::fromUtf8(utf8);
}

QString soundTargetFor(const QString& workFolder, const QString& video)
{
    return QDir::toNativeSeparators(workFolder + QStringLiteral("/audioFrom-") + QFileInfo(video).completeBaseName()
                                    + QStringLiteral(".wav"));
}

// The tail of a later result's name that tells it from the first: from the
// last "-" of its base name on.
QString resultTail(const QString& result)
{
    const QString base = QFileInfo(result).completeBaseName();
    const qsizetype dash = base.lastIndexOf(QLatin1Char('-'));
    return dash > 0 ? base.mid(dash) : QString();
}

} // namespace

VideoTasks::VideoTasks(videoSupport& queue, const OutputRegistry& registry, AddFiles addFiles,
                       FilesReady filesReady)
    : m_queue(queue), m_registry(registry), m_addFiles(std::move(addFiles)), m_filesReady(std::move(filesReady))
{
}

QList<QUrl> VideoTasks::takeVideos(const QList<QUrl>& urls)
{
    QList<QUrl> audio;
    QStringList videos;
    for (const QUrl& url : urls) {
        if (videoSupport::isVideoFile(url.toLocalFile()))
            videos.append(QDir::toNativeSeparators(url.toLocalFile()));
        else
            audio.append(url);
    }
    if (videos.isEmpty() || !m_queue.videoEnabled)
        return audio;
    const int group = ++m_queue.groupCounter;
    for (const QString& video : std::as_const(videos))
        m_queue.addVideo(video, soundTargetFor(m_queue.tempFolder, video), kDroppedMode, group);
    return audio;
}

void VideoTasks::addWatchedVideo(const QString& path)
{
    const int group = ++m_queue.groupCounter;
    qDebug().noquote() << "Add video file: " << path;
    m_queue.addVideo(path, soundTargetFor(m_queue.tempFolder, path), kWatchedFolderMode, group);
}

void VideoTasks::fileDone(QueueFile& file)
{
    if (file.sentToVideo)
        return;
    if (const videoFile* record = m_queue.findByExtractedAudio(text(file.originalSourceFile)))
        remuxResultIntoVideo(*record, file);
}

void VideoTasks::remuxResultIntoVideo(const videoFile& record, QueueFile& file)
{
    // Later results copy the record as it was before the first took it over.
    const videoFile original = record;
    QStringList results;
    for (const QByteArray& result : QList<QByteArray>{file.destFile} + file.outputFiles) {
        if (!result.isEmpty())
            results.append(text(result));
    }
    for (qsizetype i = 0; i < results.size(); ++i) {
        file.sentToVideo = true;
        const QString name = newVideoName(original, results.at(i), i > 0, text(file.presetName));
        m_presetOfResult.insert(results.at(i), text(file.presetName));
        qDebug().noquote() << "Re encode" << name;
        if (i == 0)
            m_queue.setProcessedAudio(text(file.originalSourceFile), results.at(i), name);
        else
            m_queue.addCopy(original, results.at(i), name);
    }
}

QString VideoTasks::newVideoName(const videoFile& record, const QString& result, bool later,
                                 const QString& presetName) const
{
    const QFileInfo source(record.sourceVideo);
    const QString stem = QFileInfo(result).absolutePath() + QLatin1Char('/') + source.completeBaseName()
        + naming::expandNameTemplate(QStringLiteral(" - {presetName} {time}"), presetName);
    const QString extension = QLatin1Char('.') + source.suffix();
    QString candidate = stem + (later ? resultTail(result) : QString()) + extension;
    for (int n = 1; QFileInfo::exists(candidate); ++n)
        candidate = stem + QStringLiteral(" - ") + QString::number(n) + extension;
    candidate = QDir::toNativeSeparators(candidate);
    m_registry.registerOutputInWatchedFolders(candidate);
    OutputRegistry::reserveOutputFile(candidate);
    return candidate;
}

void VideoTasks::tick()
{
    // A dialog opened below runs its own event loop, in which this timer
    // fires again; that tick is skipped.
    if (!m_queue.videoEnabled || m_running)
        return;
    QScopedValueRollback<bool> running(m_running, true);
    QList<videoFile*> sameSource;
    for (const auto& record : m_queue.videos) {
        if (record->state == videoFile::SameSourceInProgress)
            sameSource.append(record.get());
    }
    QList<videoFile*> changed;
    if (m_queue.processQueue(changed)) {
        for (videoFile* record : std::as_const(changed)) {
            if (record->state == videoFile::ExtractedAudioReady && m_queue.groupReady(record->groupKey))
                handOver(*record);
            showState(*record);
        }
    }
    for (videoFile* record : std::as_const(sameSource)) {
        if (record->state == videoFile::WaitingForProcessedAudio)
            shareKnownResults(*record);
    }
    finishMoves();
    followSounds();
    for (const videoFile* record : m_queue.runningRecords())
        showState(*record);
    notifyWhenReady();
}

void VideoTasks::followSounds()
{
    if (!m_soundStateOf)
        return;
    for (const auto& owned : m_queue.videos) {
        videoFile& record = *owned;
        const bool waiting = record.state == videoFile::WaitingForProcessedAudio;
        const bool failedWithSound = m_failedWithSound.contains(record.id);
        if (!waiting && !failedWithSound)
            continue;
        const SoundState sound = m_soundStateOf(record.extractedAudio);
        // A watched folder's sound waits beside its video for the folder's scan.
        const bool neverQueued = sound == SoundState::NotQueued
            && (record.addMode == kDroppedMode || failedWithSound || !QFileInfo::exists(record.extractedAudio));
        if (neverQueued) {
            record.state = videoFile::Error;
            record.failureReason = QStringLiteral("its sound is not in the queue");
            m_failedWithSound.remove(record.id);
            removeSoundOf(record);
        } else if (waiting && sound == SoundState::Failed) {
            record.state = videoFile::Error;
            record.failureReason = QStringLiteral("its sound failed in the queue");
            m_failedWithSound.insert(record.id);
        } else if (failedWithSound && sound == SoundState::InProgress) {
            record.state = videoFile::WaitingForProcessedAudio;
            m_failedWithSound.remove(record.id);
        } else {
            continue;
        }
        showState(record);
    }
}

void VideoTasks::removeSoundOf(const videoFile& record) const
{
    for (const auto& other : m_queue.videos) {
        if (other.get() != &record && other->state == videoFile::WaitingForProcessedAudio
            && naming::isSamePath(other->extractedAudio, record.extractedAudio))
            return;
    }
    if (QFile::remove(record.extractedAudio))
        qDebug().noquote() << "Removed the sound of a video that will not be made" << record.extractedAudio;
}

// A video added again while its first record was at work has taken over
// that record's extracted sound; it also gets a new video of its own for
// each result already made from that sound, as no other result will come.
void VideoTasks::shareKnownResults(videoFile& record)
{
    QStringList results;
    for (const auto& other : m_queue.videos) {
        if (other.get() != &record && other->state >= videoFile::WaitingB && other->state <= videoFile::Finished
            && naming::isSamePath(other->extractedAudio, record.extractedAudio)
            && QFileInfo::exists(other->processedAudio) && !results.contains(other->processedAudio))
            results.append(other->processedAudio);
    }
    const videoFile original = record;
    for (qsizetype i = 0; i < results.size(); ++i) {
        const QString name = newVideoName(original, results.at(i), i > 0, m_presetOfResult.value(results.at(i)));
        qDebug().noquote() << "Re encode" << name;
        if (i > 0) {
            m_queue.addCopy(original, results.at(i), name);
            continue;
        }
        record.processedAudio = results.at(i);
        record.outputVideo = name;
        record.state = videoFile::WaitingB;
    }
    showState(record);
}

void VideoTasks::handOver(videoFile& record)
{
    if (record.addMode == kWatchedFolderMode)
        moveGroupSoundBesideVideos(record.groupKey);
    else
        queueGroupSound(record.groupKey);
    // Failed and cancelled records keep their final state; a sound still
    // being moved waits for its move.
    for (videoFile* member : m_queue.recordsOfGroup(record.groupKey)) {
        if (member->state == videoFile::ExtractedAudioReady && m_moves.count(member->id) == 0)
            member->state = videoFile::WaitingForProcessedAudio;
        showState(*member);
    }
}

void VideoTasks::queueGroupSound(int groupKey)
{
    QList<QUrl> sounds;
    QList<QUrl> videos;
    for (const videoFile* member : m_queue.recordsOfGroup(groupKey)) {
        if (member->state != videoFile::ExtractedAudioReady)
            continue;
        sounds.append(QUrl::fromLocalFile(QDir::fromNativeSeparators(member->extractedAudio)));
        videos.append(QUrl::fromLocalFile(QDir::fromNativeSeparators(member->sourceVideo)));
    }
    if (m_addFiles(sounds, videos))
        return;
    m_queue.cancelGroup(groupKey);
    // Nothing will take these sounds any more.
    for (const QUrl& sound : std::as_const(sounds))
        QFile::remove(sound.toLocalFile());
}

void VideoTasks::moveGroupSoundBesideVideos(int groupKey)
{
    for (videoFile* member : m_queue.recordsOfGroup(groupKey)) {
        if (member->state != videoFile::ExtractedAudioReady)
            continue;
        const QFileInfo video(member->sourceVideo);
        const QString target = QDir::toNativeSeparators(video.absolutePath() + QStringLiteral("/audioFrom-")
                                                        + video.fileName() + QStringLiteral(".wav"));
        const QString renamed = videoSupport::renameFile(member->extractedAudio, target);
        if (!renamed.isEmpty()) {
            member->extractedAudio = QDir::toNativeSeparators(renamed);
        } else if (!QFileInfo::exists(member->extractedAudio)) {
            // Without its sound beside the video nothing would ever queue it.
            member->state = videoFile::ErrorExtracting;
            member->failureReason = QStringLiteral("its extracted sound is missing");
        } else {
            // Another file system: copied on a worker; the record waits in its state meanwhile.
            m_moves[member->id] = std::make_unique<FileMove>(member->extractedAudio, videoSupport::freeTargetName(target));
        }
    }
}

void VideoTasks::finishMoves()
{
    for (auto move = m_moves.begin(); move != m_moves.end();) {
        if (!move->second->isDone()) {
            ++move;
            continue;
        }
        const QString moved = move->second->finish();
        if (videoFile* record = m_queue.findById(move->first)) {
            if (moved.isEmpty()) {
                record->state = videoFile::ErrorExtracting;
                record->failureReason = QStringLiteral("cannot move its sound beside the video");
            } else {
                record->extractedAudio = QDir::toNativeSeparators(moved);
                record->state = videoFile::WaitingForProcessedAudio;
            }
            showState(*record);
        }
        move = m_moves.erase(move);
    }
}

void VideoTasks::showState(const videoFile& record) const
{
    if (m_showRecord)
        m_showRecord(record);
}

void VideoTasks::notifyWhenReady()
{
    const videoSupport::Counts now = m_queue.counts();
    if (now.total == m_lastCounts.total && now.inProgress == 0 && m_lastCounts.inProgress != 0) {
        // Only videos actually written count as processed; failures are the errors.
        m_filesReady(now.finished - m_notifiedCounts.finished, now.failed - m_notifiedCounts.failed);
        m_notifiedCounts = now;
    }
    m_lastCounts = now;
}

QList<StoredRecord> VideoTasks::storedRecords() const
{
    QList<StoredRecord> records = m_heldRecords;
    for (const auto& record : m_queue.videos) {
        videoFile kept;
        StoredRecord stored = videojobrecords::toRecord(*record);
        if (videojobrecords::fromRecord(stored, kept))
            records.append(std::move(stored));
    }
    return records;
}

void VideoTasks::restore(const QList<StoredRecord>& records)
{
    for (const StoredRecord& stored : records) {
        videoFile record;
        if (!videojobrecords::fromRecord(stored, record))
            continue;
        if (!m_queue.videoEnabled) {
            m_heldRecords.append(stored);
            continue;
        }
        resume(record);
    }
}

void VideoTasks::resume(const videoFile& stored)
{
    if (!stored.outputVideo.isEmpty())
        QFile::remove(videoCodec_Process::partialVideoName(stored.outputVideo));
    const int group = ++m_queue.groupCounter;
    if (stored.state == videoFile::WaitingB || stored.state == videoFile::ReencodingVideo) {
        if (resumeMux(stored, group))
            return;
        // Its processed sound is gone: making the video would cost a second
        // job at the service, so it ends here. The name was reserved as an
        // empty file; one that holds data is not ours to remove.
        if (QFileInfo(stored.outputVideo).size() == 0 && QFile::remove(stored.outputVideo))
            qDebug().noquote() << "Removed the name reserved for a video that will not be made" << stored.outputVideo;
        qWarning().noquote() << "The video" << stored.outputVideo << "is not made: its processed sound"
                             << stored.processedAudio << "is gone";
        return;
    }
    if (!QFileInfo::exists(stored.sourceVideo))
        return;
    videoFile* record = m_queue.addVideo(stored.sourceVideo, stored.audioTarget, stored.addMode, group);
    if (stored.state == videoFile::WaitingForProcessedAudio && QFileInfo::exists(stored.extractedAudio)) {
        record->extractedAudio = stored.extractedAudio;
        record->sourceSound = stored.sourceSound;
        record->state = videoFile::WaitingForProcessedAudio;
    }
    qDebug().noquote() << "Video job taken up again:" << stored.sourceVideo << record->stateName();
    showState(*record);
}

bool VideoTasks::resumeMux(const videoFile& stored, int group)
{
    if (!QFileInfo::exists(stored.sourceVideo) || !QFileInfo::exists(stored.processedAudio))
        return false;
    videoFile* record = m_queue.addVideo(stored.sourceVideo, stored.audioTarget, stored.addMode, group);
    record->extractedAudio = stored.extractedAudio;
    record->processedAudio = stored.processedAudio;
    record->outputVideo = stored.outputVideo;
    record->sourceSound = stored.sourceSound;
    record->state = videoFile::WaitingB;
    m_registry.registerOutputInWatchedFolders(stored.outputVideo);
    OutputRegistry::reserveOutputFile(stored.outputVideo);
    qDebug().noquote() << "Video job taken up again:" << stored.outputVideo;
    showState(*record);
    return true;
}

void VideoTasks::updateVideoTool(const QString& folder)
{
    ffmpegtool::setFfmpegFolder(folder);
    const bool valid = ffmpegtool::isFfmpegAvailable();
    qDebug() << "codecValid " << valid << "updated to" << folder;
    m_queue.videoEnabled = valid && !m_queue.tempFolder.isEmpty();
    qDebug() << "video enabled " << m_queue.videoEnabled;
}

bool VideoTasks::isFfmpegFolder(const QString& folder)
{
    QString versionText;
    return ffmpegtool::checkFfmpeg(folder, versionText);
}
