#pragma once

#include "video/videofile.h"

#include <QList>
#include <QString>

#include <memory>
#include <vector>

class videoCodec_Process;

// The video queue: extracts each video's sound with ffmpeg into a WAV in the
// working folder, hands it over (state 3) for the main window to queue,
// waits for the processed sound and muxes it into a copy of the video. At
// most maxRunningJobs ffmpeg processes run at once. Everything runs on the
// GUI thread: processQueue only starts, polls and collects jobs.
//
// Files it removes: the extraction target of every record when the queue is
// destroyed, with the partial output and the reserved (empty) output name of
// every video not yet written; a failed mux's partial output; and, once a new video has been
// written, the extracted and processed WAVs that no other unfinished record
// still needs. The source videos are never touched.
class videoSupport final {
public:
    struct Counts {
        int total = 0;
        int inProgress = 0;
        int finished = 0;
        int cancelled = 0;
        int failed = 0;
        bool operator==(const Counts& other) const;
    };

    videoSupport(bool ffmpegAvailable, const QString& workFolder);
    ~videoSupport();
    videoSupport(const videoSupport&) = delete;
    videoSupport& operator=(const videoSupport&) = delete;

    static bool isVideoFile(const QString& path);

    videoFile* addVideo(const QString& sourceVideo, const QString& audioTarget, int addMode, int groupKey);
    // One pass over the records; fills `changed` with the records whose state
    // moved and reports whether there were any.
    bool processQueue(QList<videoFile*>& changed);

    videoFile* findById(int id) const;
    // The first record waiting for the sound extracted to `path` (state 3 or 4).
    videoFile* findByExtractedAudio(const QString& path) const;
    videoFile* setProcessedAudio(const QString& extractedAudio, const QString& processedAudio,
                                 const QString& outputVideo);
    videoFile* addCopy(const videoFile& record, const QString& processedAudio, const QString& outputVideo);
    void cancelGroup(int groupKey);
    QList<videoFile*> recordsOfGroup(int groupKey) const;
    bool groupReady(int groupKey) const;
    QList<videoFile*> runningRecords() const;
    Counts counts() const;
    bool isProcessedAudioInUse(const QString& path) const;
    QString stateName(const videoFile& record) const { return record.stateName(); }

    // Moves `source` to `target`, or to "<base> - N.<suffix>" beside it when
    // the target exists. Across folders it is renamed where the file system
    // allows; otherwise copied through "<target>.part" and the source removed
    // only after a complete copy; a failed copy removes its partial file.
    // That copy runs on the calling thread: VideoTasks moves sounds to
    // another file system with a FileMove instead. Returns the
    // path used, or an empty text on failure.
    static QString moveFile(const QString& source, const QString& target);
    // The first part of moveFile: a rename to the target (or its numbered
    // name), which takes no time; empty when the source is missing or the
    // file would have to be copied (another file system).
    static QString renameFile(const QString& source, const QString& target);
    // `target`, or "<base> - N.<suffix>" beside it when it exists.
    static QString freeTargetName(const QString& target);
    // "//x" becomes "/x", then native separators.
    static QString normalisedPath(const QString& path);

    bool videoEnabled = false;
    std::vector<std::unique_ptr<videoFile>> videos;
    QString tempFolder;
    int lastVideoId = 0;
    int lastJobId = 0;
    std::vector<std::unique_ptr<videoCodec_Process>> jobs;
    int maxRunningJobs = 1;
    int groupCounter = 0;

private:
    bool slotFree();
    videoCodec_Process* findJob(int jobId) const;
    void collectJob(int jobId);
    static QString jobStatusName(int status);
    void startExtraction(videoFile& record, QList<videoFile*>& changed);
    void pollExtraction(videoFile& record, QList<videoFile*>& changed);
    void startMux(videoFile& record, QList<videoFile*>& changed);
    void pollMux(videoFile& record, QList<videoFile*>& changed);
    // Keeps a job whose init accepted the id lastJobId + 1: the record takes
    // that id into `jobIdOfRecord` and enters `running`.
    void adoptJob(std::unique_ptr<videoCodec_Process> job, videoFile& record, int& jobIdOfRecord,
                  videoFile::State running, QList<videoFile*>& changed);
    // The status of the record's job, also written as its status text.
    int refreshJobStatus(videoFile& record, int jobId) const;
    // A finished job: the record is reported as changed and the job removed.
    void endJob(videoFile& record, int jobId, QList<videoFile*>& changed);
    void resolveSameSource(videoFile& record);
    void removeIntermediatesOf(const videoFile& record) const;
    static void removeUnwrittenOutput(const videoFile& record);
    // The last line ffmpeg wrote on standard error for a job: its reason for failing.
    QString lastErrorLine(int jobId) const;
    // The extraction's checksums of the track's first packet; the file is removed.
    static QByteArray readStartChecksums(const videoFile& record);
    bool stillNeeded(const QString& path, const videoFile& finished) const;
};
