#include "video/videosupport.h"

#include "settings/naming.h"
#include "video/videocodecprocess.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace {

const QStringList kVideoSuffixes = {QStringLiteral("mpeg"), QStringLiteral("avi"), QStringLiteral("mp4"),
                                    QStringLiteral("mkv"),  QStringLiteral("mov"), QStringLiteral("wmv"),
                                    QStringLiteral("mpg")};

bool sameNormalisedPath(const QString& a, const QString& b)
{
    return videoSupport::normalisedPath(a).compare(videoSupport::normalisedPath(b), Qt::CaseInsensitive) == 0;
}

// Neither finished, cancelled nor failed.
bool unfinished(const videoFile& record)
{
    return record.state < videoFile::Error && record.state != videoFile::Finished
        && record.state != videoFile::Cancelled;
}

// Copies through "<target>.part", so the target never holds half a file.
bool copyCompletely(const QString& source, const QString& target)
{
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);
    if (QFile::copy(source, partial) && QFileInfo(partial).size() == QFileInfo(source).size()
        && QFile::rename(partial, target))
        return true;
    QFile::remove(partial);
    return false;
}

} // namespace

bool videoSupport::Counts::operator==(const Counts& other) const
{
    return total == other.total && inProgress == other.inProgress && finished == other.finished
        && cancelled == other.cancelled && failed == other.failed;
}

videoSupport::videoSupport(bool ffmpegAvailable, const QString& workFolder)
    : videoEnabled(ffmpegAvailable && !workFolder.isEmpty()), tempFolder(workFolder)
{
}

videoSupport::~videoSupport()
{
    // Ends running ffmpeg processes before their targets are removed.
    jobs.clear();
    for (const auto& record : videos)
        removeUnwrittenOutput(*record);
    while (!videos.empty()) {
        const QString target = videos.back()->extractTarget;
        QFile::remove(videoCodec_Process::startChecksumsName(target));
        if (QFileInfo::exists(target)) {
            QFile file(target);
            if (file.remove())
                qDebug() << "~videoFile: File removed successfully";
            else
                qDebug().noquote() << "~videoFile: Failed to remove file: " + file.errorString();
        }
        videos.pop_back();
    }
}

bool videoSupport::isVideoFile(const QString& path)
{
    return kVideoSuffixes.contains(QFileInfo(path).suffix(), Qt::CaseInsensitive);
}

QString videoSupport::normalisedPath(const QString& path)
{
    QString result = path;
    if (result.startsWith(QLatin1String("//")))
        result.replace(0, 2, QStringLiteral("/"));
    return QDir::toNativeSeparators(result);
}

videoFile* videoSupport::addVideo(const QString& sourceVideo, const QString& audioTarget, int addMode, int groupKey)
{
    auto record = std::make_unique<videoFile>();
    record->state = videoFile::WaitingA;
    record->sourceVideo = sourceVideo;
    record->addMode = addMode;
    record->groupKey = groupKey;
    const QString nativeSource = QDir::toNativeSeparators(sourceVideo);
    const bool sameSource = std::any_of(videos.begin(), videos.end(), [&](const auto& other) {
        return QDir::toNativeSeparators(other->sourceVideo).compare(nativeSource, Qt::CaseInsensitive) == 0;
    });
    record->id = ++lastVideoId;
    const QString target = tempFolder + QStringLiteral("/sonvira-temp-") + QString::number(record->id)
        + QStringLiteral(".wav");
    // ffmpeg does not overwrite in an extraction: names left by an earlier run go first.
    QFile::remove(target);
    QFile::remove(videoCodec_Process::startChecksumsName(target));
    record->extractTarget = QDir::toNativeSeparators(target);
    record->audioTarget = audioTarget;
    if (sameSource)
        record->state = videoFile::SameSourceInProgress;
    videos.push_back(std::move(record));
    return videos.back().get();
}

bool videoSupport::processQueue(QList<videoFile*>& changed)
{
    const qsizetype before = changed.size();
    for (const auto& entry : videos) {
        videoFile& record = *entry;
        qDebug().noquote() << "videoSupport::processQueue ID: " << record.id << record.stateName();
        switch (record.state) {
        case videoFile::WaitingA:
            startExtraction(record, changed);
            break;
        case videoFile::ExtractingAudio:
            pollExtraction(record, changed);
            break;
        case videoFile::WaitingB:
            startMux(record, changed);
            break;
        case videoFile::ReencodingVideo:
            pollMux(record, changed);
            break;
        case videoFile::SameSourceInProgress:
            resolveSameSource(record);
            break;
        default:
            break;
        }
    }
    return changed.size() > before;
}

bool videoSupport::slotFree()
{
    const auto busy = std::count_if(jobs.begin(), jobs.end(), [](const auto& job) { return job->getJobStatus() < 2; });
    return busy < maxRunningJobs;
}

videoCodec_Process* videoSupport::findJob(int jobId) const
{
    for (const auto& job : jobs) {
        if (job->id == jobId)
            return job.get();
    }
    return nullptr;
}

void videoSupport::collectJob(int jobId)
{
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(), [jobId](const auto& job) { return job->id == jobId; }),
               jobs.end());
}

QString videoSupport::jobStatusName(int status)
{
    switch (status) {
    case 0:
        return QStringLiteral("none");
    case 1:
        return QStringLiteral("working");
    case 2:
        return QStringLiteral("ready");
    case 3:
        return QStringLiteral("error");
    default:
        return QStringLiteral("unknown");
    }
}

void videoSupport::startExtraction(videoFile& record, QList<videoFile*>& changed)
{
    if (!slotFree())
        return;
    record.decoderJobId = 0;
    auto job = std::make_unique<videoCodec_Process>();
    if (job->init_Decoder(lastJobId + 1, record.sourceVideo, record.extractTarget))
        adoptJob(std::move(job), record, record.decoderJobId, videoFile::ExtractingAudio, changed);
}

void videoSupport::pollExtraction(videoFile& record, QList<videoFile*>& changed)
{
    const int status = refreshJobStatus(record, record.decoderJobId);
    if (status == 3) {
        record.state = videoFile::ErrorExtracting;
        record.failureReason = lastErrorLine(record.decoderJobId);
        QFile::remove(videoCodec_Process::startChecksumsName(record.extractTarget));
    } else if (status == 2) {
        if (const videoCodec_Process* job = findJob(record.decoderJobId))
            record.sourceSound = SourceSound::fromFfmpeg(job->standardErrorHead(), readStartChecksums(record));
        const QString moved = moveFile(record.extractTarget, record.audioTarget);
        if (moved.isEmpty()) {
            record.state = videoFile::ErrorExtracting;
            record.failureReason = QStringLiteral("cannot move the extracted sound to ") + record.audioTarget;
        } else {
            record.state = videoFile::ExtractedAudioReady;
            record.extractedAudio = QDir::toNativeSeparators(moved);
        }
    } else {
        return;
    }
    endJob(record, record.decoderJobId, changed);
}

void videoSupport::startMux(videoFile& record, QList<videoFile*>& changed)
{
    if (!slotFree())
        return;
    auto job = std::make_unique<videoCodec_Process>();
    if (job->init_Encoder(lastJobId + 1, record.sourceVideo, record.processedAudio, record.outputVideo,
                          record.sourceSound))
        adoptJob(std::move(job), record, record.encoderJobId, videoFile::ReencodingVideo, changed);
}

void videoSupport::pollMux(videoFile& record, QList<videoFile*>& changed)
{
    const int status = refreshJobStatus(record, record.encoderJobId);
    if (status != 2 && status != 3)
        return;
    // The mux wrote a partial file; only a complete one takes the output's
    // name (reserved empty until now).
    const QString partial = videoCodec_Process::partialVideoName(record.outputVideo);
    QFile::remove(record.outputVideo);
    if (status == 2 && QFile::rename(partial, record.outputVideo)) {
        record.state = videoFile::Finished;
        removeIntermediatesOf(record);
    } else {
        record.state = videoFile::ErrorEncoding;
        record.failureReason = status == 3 ? lastErrorLine(record.encoderJobId)
                                           : QStringLiteral("cannot rename the new video to ") + record.outputVideo;
        QFile::remove(partial);
    }
    endJob(record, record.encoderJobId, changed);
}

void videoSupport::adoptJob(std::unique_ptr<videoCodec_Process> job, videoFile& record, int& jobIdOfRecord,
                            videoFile::State running, QList<videoFile*>& changed)
{
    jobIdOfRecord = ++lastJobId;
    jobs.push_back(std::move(job));
    record.state = running;
    record.jobStatusText = QStringLiteral("waiting");
    changed.append(&record);
}

int videoSupport::refreshJobStatus(videoFile& record, int jobId) const
{
    videoCodec_Process* job = findJob(jobId);
    const int status = job ? job->getJobStatus() : 0;
    record.jobStatusText = jobStatusName(status);
    return status;
}

void videoSupport::endJob(videoFile& record, int jobId, QList<videoFile*>& changed)
{
    changed.append(&record);
    collectJob(jobId);
}

void videoSupport::resolveSameSource(videoFile& record)
{
    bool siblingEarlier = false;
    for (const auto& other : videos) {
        if (other.get() == &record || other->state < videoFile::WaitingA || other->state > videoFile::Finished
            || !naming::isSamePath(other->sourceVideo, record.sourceVideo))
            continue;
        if (other->state >= videoFile::WaitingB && QFileInfo::exists(other->extractedAudio)) {
            record.extractedAudio = other->extractedAudio;
            record.audioTarget = other->audioTarget;
            record.state = videoFile::WaitingForProcessedAudio;
            return;
        }
        if (other->state < videoFile::WaitingB)
            siblingEarlier = true;
    }
    if (!siblingEarlier)
        record.state = videoFile::WaitingA;
}

bool videoSupport::stillNeeded(const QString& path, const videoFile& finished) const
{
    for (const auto& other : videos) {
        if (other.get() == &finished)
            continue;
        if (unfinished(*other)
            && (naming::isSamePath(other->extractedAudio, path) || naming::isSamePath(other->processedAudio, path)))
            return true;
        // A later record on the same video may still take over this sound.
        if (other->state == videoFile::SameSourceInProgress && naming::isSamePath(other->sourceVideo, finished.sourceVideo))
            return true;
    }
    return false;
}

QString videoSupport::lastErrorLine(int jobId) const
{
    const videoCodec_Process* job = findJob(jobId);
    if (!job)
        return QString();
    const QList<QByteArray> lines = job->standardErrorText().split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        // Progress reports end in carriage returns; the last one on a line is what shows.
        const QByteArray shown = line->split('\r').constLast().trimmed();
        if (!shown.isEmpty())
            return QString::fromLocal8Bit(shown);
    }
    return QStringLiteral("ffmpeg failed");
}

QByteArray videoSupport::readStartChecksums(const videoFile& record)
{
    QFile file(videoCodec_Process::startChecksumsName(record.extractTarget));
    QByteArray text;
    if (file.open(QIODevice::ReadOnly))
        text = file.read(64 * 1024);
    file.close();
    file.remove();
    return text;
}

void videoSupport::removeUnwrittenOutput(const videoFile& record)
{
    if (record.outputVideo.isEmpty() || (record.state != videoFile::WaitingB && record.state != videoFile::ReencodingVideo))
        return;
    QFile::remove(videoCodec_Process::partialVideoName(record.outputVideo));
    // The name was reserved as an empty file; one that holds data is not ours to remove.
    if (QFileInfo(record.outputVideo).size() == 0 && QFile::remove(record.outputVideo))
        qDebug().noquote() << "Removed the name reserved for an unwritten video" << record.outputVideo;
}

void videoSupport::removeIntermediatesOf(const videoFile& record) const
{
    for (const QString& path : {record.processedAudio, record.extractedAudio}) {
        if (path.isEmpty() || naming::isSamePath(path, record.sourceVideo) || stillNeeded(path, record))
            continue;
        if (QFile::remove(path))
            qDebug().noquote() << "Removed intermediate file" << path;
    }
}

videoFile* videoSupport::findById(int id) const
{
    for (const auto& record : videos) {
        if (record->id == id)
            return record.get();
    }
    return nullptr;
}

videoFile* videoSupport::findByExtractedAudio(const QString& path) const
{
    for (const auto& record : videos) {
        qDebug().noquote() << "Compare" << record->extractedAudio << path;
        // An earlier, finished job may have left its sound under the same name.
        const bool awaitsSound = record->state == videoFile::ExtractedAudioReady
            || record->state == videoFile::WaitingForProcessedAudio;
        if (awaitsSound && sameNormalisedPath(record->extractedAudio, path))
            return record.get();
    }
    return nullptr;
}

videoFile* videoSupport::setProcessedAudio(const QString& extractedAudio, const QString& processedAudio,
                                           const QString& outputVideo)
{
    videoFile* record = findByExtractedAudio(extractedAudio);
    if (!record)
        return nullptr;
    record->processedAudio = processedAudio;
    record->outputVideo = outputVideo;
    record->state = videoFile::WaitingB;
    return record;
}

videoFile* videoSupport::addCopy(const videoFile& record, const QString& processedAudio, const QString& outputVideo)
{
    auto copy = std::make_unique<videoFile>(record);
    copy->processedAudio = processedAudio;
    copy->outputVideo = outputVideo;
    copy->state = videoFile::WaitingB;
    copy->id = ++lastVideoId;
    videos.push_back(std::move(copy));
    return videos.back().get();
}

void videoSupport::cancelGroup(int groupKey)
{
    for (videoFile* record : recordsOfGroup(groupKey))
        record->state = videoFile::Cancelled;
}

QList<videoFile*> videoSupport::recordsOfGroup(int groupKey) const
{
    QList<videoFile*> records;
    for (const auto& record : videos) {
        if (record->groupKey == groupKey)
            records.append(record.get());
    }
    return records;
}

bool videoSupport::groupReady(int groupKey) const
{
    const QList<videoFile*> records = recordsOfGroup(groupKey);
    return std::all_of(records.begin(), records.end(), [](const videoFile* record) {
        return record->state == videoFile::ExtractedAudioReady || record->state >= videoFile::Error;
    });
}

QList<videoFile*> videoSupport::runningRecords() const
{
    QList<videoFile*> records;
    for (const auto& record : videos) {
        if (record->state == videoFile::ExtractingAudio || record->state == videoFile::ReencodingVideo)
            records.append(record.get());
    }
    return records;
}

videoSupport::Counts videoSupport::counts() const
{
    Counts result;
    for (const auto& record : videos) {
        ++result.total;
        if (record->state == videoFile::Finished)
            ++result.finished;
        else if (record->state == videoFile::Cancelled)
            ++result.cancelled;
        else if (record->failed())
            ++result.failed;
        else
            ++result.inProgress;
    }
    return result;
}

bool videoSupport::isProcessedAudioInUse(const QString& path) const
{
    return std::any_of(videos.begin(), videos.end(), [&path](const auto& record) {
        return record->state < videoFile::Error && record->state != videoFile::Finished
            && naming::isSamePath(record->processedAudio, path);
    });
}

QString videoSupport::freeTargetName(const QString& target)
{
    if (!QFileInfo::exists(target))
        return target;
    const QFileInfo info(target);
    for (int n = 1;; ++n) {
        const QString candidate = info.absolutePath() + QLatin1Char('/')
            + QStringLiteral("%1 - %2.%3").arg(info.completeBaseName()).arg(n).arg(info.suffix());
        if (!QFileInfo::exists(candidate))
            return QDir::toNativeSeparators(candidate);
    }
}

QString videoSupport::renameFile(const QString& source, const QString& target)
{
    if (!QFileInfo::exists(source))
        return QString();
    const QString chosen = freeTargetName(target);
    const bool sameFolder = QFileInfo(source).absolutePath() == QFileInfo(chosen).absolutePath();
    // On one file system a move across folders is a rename too, and takes
    // no time however large the file.
    const bool renamed = sameFolder ? QFile::rename(source, chosen)
                                    : std::rename(QFile::encodeName(source).constData(),
                                                  QFile::encodeName(chosen).constData()) == 0;
    if (!renamed)
        return QString();
    qDebug().noquote() << "File" << source << "moved to" << chosen;
    return chosen;
}

QString videoSupport::moveFile(const QString& source, const QString& target)
{
    if (!QFileInfo::exists(source))
        return QString();
    const QString renamed = renameFile(source, target);
    if (!renamed.isEmpty())
        return renamed;
    const QString chosen = freeTargetName(target);
    if (QFileInfo(source).absolutePath() == QFileInfo(chosen).absolutePath())
        return QString();
    qDebug().noquote() << "File" << source << "moved to" << chosen;
    if (!copyCompletely(source, chosen))
        return QString();
    QFile::remove(source);
    return chosen;
}
