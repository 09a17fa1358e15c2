#pragma once

#include "pipeline/fileprogress.h"
#include "pipeline/queuefilestate.h"
#include "settings/processingoptions.h"

#include <QByteArray>
#include <QList>
#include <QMutex>

#include <atomic>
#include <memory>

class PreProcessing;
class PostProcessing;

// One queued audio file. Created only by QueueManager::addFileToQueue, which
// keeps it in its list; see QueueManager for who destroys it.
//
// Which thread may touch what:
//  - The state, the error message, the details, the progress, the retry
//    flag and the downloaded result's path are guarded by the file's own mutex (the last
//    lock in the queue manager's lock order); sessionId and the two done
//    flags are atomics. All of them may be used from any thread. A change of
//    state that depends on the present one is one compareAndSetState() call.
//  - srcFile and destFile are set before the record is queued; afterwards
//    only the queue driver (the GUI thread) changes them, and always through
//    setSrcFile()/setDestFile(), under the file's mutex. The driver's thread
//    reads them directly; any other thread reads them with
//    lockedSrcFile()/lockedDestFile(). The queue manager's cycle never
//    writes them: it records the downloaded result with setResultPath(),
//    and the driver adopts it as destFile when post-processing starts.
//  - The remaining plain members belong to the queue driver. The
//    pre-processing fields are handed to the cycle by markPreProcessingDone(),
//    after which the driver leaves them alone until the file is resubmitted.
class QueueFile {
public:
    explicit QueueFile(const QByteArray& presetName);
    ~QueueFile();
    QueueFile(const QueueFile&) = delete;
    QueueFile& operator=(const QueueFile&) = delete;

    const int fileId;
    std::atomic<int> sessionId{0};
    QByteArray srcFile;
    QByteArray destFile;
    QByteArray originalSourceFile;
    QByteArray presetName;
    int priority = 0;
    ProcessingOptions options;
    QByteArray watchFolder;
    QList<QByteArray> outputFiles;
    bool convertedToStereo = false;
    PreProcessingStatus preProcessingStatus = PreProcessingStatus::NotRun;

    // Fields of the queue driver.
    bool deleteAfterSubmission = false;
    qint32 preProcessingOperations = 0;
    bool sentToVideo = false;
    // MP3 encodings of the finished file that have not ended yet; shared
    // with the encoders, which may outlive the record. A Done file with some
    // is kept in queue.xml, so that a restart makes its MP3s again.
    const std::shared_ptr<std::atomic<int>> pendingMp3s = std::make_shared<std::atomic<int>>(0);
    // The running local jobs of this file; owned, destroyed with the record.
    std::unique_ptr<PreProcessing> preProcessor;
    std::unique_ptr<PostProcessing> postProcessor;

    // A file taken up again after a restart: the service's job to poll
    // instead of a new upload (0: none), and whether its result is already
    // on disk at destFile. Set before the record is queued; the cycle reads
    // them when it hands the file to a session.
    std::atomic<int> resumeJobId{0};
    std::atomic<bool> resumeFromResult{false};
    // The creation time the service gave resumeJobId at its first status
    // answer (empty: not known); a job with another one is not this file's.
    void setResumeJobCreated(const QByteArray& created);
    QByteArray resumeJobCreated() const;
    // Uploads of this file whose answer was lost (the service may have made
    // a job of them); the first is sent again once, later ones end in Error.
    std::atomic<int> lostUploadAnswers{0};
    // The cycle hands the file to no session before this time (ms since the
    // epoch): the back-off after a lost upload answer.
    std::atomic<qint64> notBeforeMs{0};
    // Its pre-processing had finished before a restart (srcFile and destFile
    // hold its results): the queue driver takes the step as done instead of
    // running it on its own output again.
    std::atomic<bool> resumePreProcessed{false};

    // Sets originalSourceFile once; a second call throws
    // std::runtime_error("original source file already set").
    void setOriginalSourceFile(const QByteArray& path);

    void setSrcFile(const QByteArray& path);
    void setDestFile(const QByteArray& path);
    QByteArray lockedSrcFile() const;
    QByteArray lockedDestFile() const;
    // The cycle: where the session saved the downloaded result.
    void setResultPath(const QByteArray& path);
    // The queue driver, as post-processing starts: a recorded result path
    // becomes destFile.
    void adoptResultPath();
    // The downloaded result not yet adopted; empty when none.
    QByteArray resultPath() const;

    QueueFileState getState() const;
    // Entering PreProcessing clears preProcessingDone, entering
    // PostProcessing clears postProcessingDone.
    void setState(QueueFileState state);
    // Sets next only when the state is still expected; true when it did.
    bool compareAndSetState(QueueFileState expected, QueueFileState next);
    QByteArray stateName() const;
    static QByteArray stateName(QueueFileState state);

    QByteArray errorMessage() const;
    void setErrorMessage(const QByteArray& text);
    QByteArray details() const;
    void setDetails(const QByteArray& text);
    bool retryable() const;
    void setRetryable(bool flag);
    // How far its step at the service has come; cleared by every change of state.
    FileProgress progress() const;
    void setProgress(const FileProgress& progress);

    void markPreProcessingDone() { m_preProcessingDone = true; }
    void markPostProcessingDone() { m_postProcessingDone = true; }
    bool preProcessingDone() const { return m_preProcessingDone; }
    bool postProcessingDone() const { return m_postProcessingDone; }

    // "File ID: ... Session ID: ... details: ... state: ... srcfile: ...
    // destfile: ... errorMessage: ..." with the last 10 characters of each path.
    QByteArray toString() const;

private:
    void setStateLocked(QueueFileState state);

    mutable QMutex m_lock;
    QueueFileState m_state = QueueFileState::Waiting;
    QByteArray m_resultPath;
    QByteArray m_resumeJobCreated;
    QByteArray m_errorMessage;
    QByteArray m_details;
    FileProgress m_progress;
    bool m_retryable = false;
    std::atomic<bool> m_preProcessingDone{false};
    std::atomic<bool> m_postProcessingDone{false};
};
