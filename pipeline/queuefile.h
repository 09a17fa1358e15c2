#pragma once

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
// The state, the error message, the details and the retry flag are guarded
// by the file's own mutex (the last lock in the queue manager's lock order);
// the two done flags are atomics. Both may be read from any thread.
// The plain members are handed over through the state: the queue manager's
// cycle writes sessionId and destFile before it sets the state that lets
// the queue driver act on them, and the queue driver writes srcFile and the
// pre-processing fields before it marks that step done.
class QueueFile {
public:
    explicit QueueFile(const QByteArray& presetName);
    ~QueueFile();
    QueueFile(const QueueFile&) = delete;
    QueueFile& operator=(const QueueFile&) = delete;

    const int fileId;
    int sessionId = 0;
    QByteArray srcFile;
    QByteArray destFile;
    QByteArray originalSourceFile;
    QByteArray presetName;
    int priority = 0;
    ProcessingOptions options;
    QByteArray watchFolder;
    QList<QByteArray> outputFiles;
    bool convertedToStereo = false;
    // 3 = pre-processing failed; 0 after a resubmit.
    int preProcessingStatus = 6;

    // Fields of the queue driver.
    bool deleteAfterSubmission = false;
    qint32 preProcessingOperations = 0;
    bool sentToVideo = false;
    // The running local jobs of this file; owned, destroyed with the record.
    std::unique_ptr<PreProcessing> preProcessor;
    std::unique_ptr<PostProcessing> postProcessor;

    // Sets originalSourceFile once; a second call throws
    // std::runtime_error("original source file already set").
    void setOriginalSourceFile(const QByteArray& path);

    QueueFileState getState() const;
    // Entering PreProcessing clears preProcessingDone, entering
    // PostProcessing clears postProcessingDone.
    void setState(QueueFileState state);
    QByteArray stateName() const;
    static QByteArray stateName(QueueFileState state);

    QByteArray errorMessage() const;
    void setErrorMessage(const QByteArray& text);
    QByteArray details() const;
    void setDetails(const QByteArray& text);
    bool retryable() const;
    void setRetryable(bool flag);

    void markPreProcessingDone() { m_preProcessingDone = true; }
    void markPostProcessingDone() { m_postProcessingDone = true; }
    bool preProcessingDone() const { return m_preProcessingDone; }
    bool postProcessingDone() const { return m_postProcessingDone; }

    // "File ID: ... Session ID: ... details: ... state: ... srcfile: ...
    // destfile: ... errorMessage: ..." with the last 10 characters of each path.
    QByteArray toString() const;

private:
    mutable QMutex m_lock;
    QueueFileState m_state = QueueFileState::Waiting;
    QByteArray m_errorMessage;
    QByteArray m_details;
    bool m_retryable = false;
    std::atomic<bool> m_preProcessingDone{false};
    std::atomic<bool> m_postProcessingDone{false};
};
