#pragma once

#include "pipeline/storedrecord.h"
#include "video/filemove.h"
#include "video/videosupport.h"

#include <QHash>
#include <QSet>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <map>
#include <memory>

class OutputRegistry;
class QueueFile;

// The driver's share of the video queue: hands dropped videos and videos
// found in watched folders to the queue, queues their extracted sound,
// names and starts one new video per processed result, shows every record
// that changed (the window's "Video tasks" tree) and tells the user when
// the videos are ready. Runs on the main thread; never waits for ffmpeg.
class VideoTasks {
public:
    // Queues audio files as a drop does (sources, destinations).
    using AddFiles = std::function<bool(const QList<QUrl>&, const QList<QUrl>&)>;
    // Nothing runs any more: the videos written and failed since the last time.
    using FilesReady = std::function<void(int processed, int errors)>;
    // Where the queued file made from an extracted sound stands.
    enum class SoundState { NotQueued, InProgress, Failed, Done };
    using SoundStateOf = std::function<SoundState(const QString& extractedSound)>;
    // Shows a record that was added or changed.
    using ShowRecord = std::function<void(const videoFile&)>;

    VideoTasks(videoSupport& queue, const OutputRegistry& registry, AddFiles addFiles, FilesReady filesReady);
    VideoTasks(const VideoTasks&) = delete;
    VideoTasks& operator=(const VideoTasks&) = delete;

    // Adds the videos among `urls` as one group (dropped when video support
    // is off) and returns the other URLs.
    QList<QUrl> takeVideos(const QList<QUrl>& urls);
    // A new video in a watched folder: its sound is moved next to it once
    // extracted (copied on a worker when that is another file system), where
    // the folder's next scan queues it.
    void addWatchedVideo(const QString& path);
    // A queued file reached Done: when it carries a video's sound, each of
    // its results is muxed into a new video of its own.
    void fileDone(QueueFile& file);
    // A video waiting for its processed sound follows the queued file made
    // from its extracted sound: when that file fails or is cancelled, the
    // video fails ("error") and keeps its sound for a "Submit again", which
    // puts it back to waiting; when the file leaves the queue, or a dropped
    // video's sound was never queued (unticked, dialog cancelled), the video
    // fails and its extracted sound is removed.
    void setSoundStateOf(SoundStateOf soundStateOf) { m_soundStateOf = std::move(soundStateOf); }
    void setShowRecord(ShowRecord showRecord) { m_showRecord = std::move(showRecord); }
    // One tick of the video-queue timer.
    void tick();
    // The jobs not yet ended, as queue.xml keeps them.
    QList<StoredRecord> storedRecords() const;
    // Takes up the jobs a previous run kept: a job not yet extracted (or
    // whose extracted sound is gone) is extracted again, one waiting for its
    // processed sound waits again, and one whose new video was being made
    // makes it again from its processed sound (without it, the job ends).
    // The partial output of a mux cut off by the end is removed, and the
    // name reserved for a video that will not be made.
    void restore(const QList<StoredRecord>& records);
    // Re-checks ffmpeg in `folder` and switches video support accordingly.
    void updateVideoTool(const QString& folder);
    // Whether `folder` holds a working ffmpeg (an empty folder: the PATH's);
    // the setup window's codec check.
    static bool isFfmpegFolder(const QString& folder);
    bool videoEnabled() const { return m_queue.videoEnabled; }

private:
    void remuxResultIntoVideo(const videoFile& record, QueueFile& file);
    QString newVideoName(const videoFile& record, const QString& result, bool later, const QString& presetName) const;
    void shareKnownResults(videoFile& record);
    void handOver(videoFile& record);
    void queueGroupSound(int groupKey);
    void moveGroupSoundBesideVideos(int groupKey);
    void showState(const videoFile& record) const;
    void notifyWhenReady();
    void followSounds();
    void finishMoves();
    void removeSoundOf(const videoFile& record) const;
    void resume(const videoFile& stored);
    bool resumeMux(const videoFile& stored, int group);

    videoSupport& m_queue;
    const OutputRegistry& m_registry;
    AddFiles m_addFiles;
    FilesReady m_filesReady;
    SoundStateOf m_soundStateOf;
    ShowRecord m_showRecord;
    // Records failed because their sound failed, by id: a resubmitted sound takes them back.
    QSet<int> m_failedWithSound;
    // Sounds of watched-folder videos on their way to another file system, by record id.
    std::map<int, std::unique_ptr<FileMove>> m_moves;
    bool m_running = false;
    // The preset each processed result was made with, for later videos of it.
    QHash<QString, QString> m_presetOfResult;
    videoSupport::Counts m_lastCounts;
    videoSupport::Counts m_notifiedCounts;
    // Jobs kept while video support is off, written back unchanged.
    QList<StoredRecord> m_heldRecords;
};
