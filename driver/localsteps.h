#pragma once

#include <QList>

#include <functional>
#include <memory>
#include <vector>

class OutputRegistry;
class PostProcessing;
class PreProcessing;
class QueueFile;

// The local processing of queued files between the queue manager's states:
// pre-processing before upload and post-processing after download. Each
// step starts the file's job on the first call, shows its status on the
// following ones and adopts its results once it has finished; it never
// waits for a job.
class LocalSteps {
public:
    explicit LocalSteps(const OutputRegistry& registry);
    ~LocalSteps();
    LocalSteps(const LocalSteps&) = delete;
    LocalSteps& operator=(const LocalSteps&) = delete;

    // `ended` is called on a job's worker thread when a pre- or
    // post-processing job it started ends, so that its file can be taken on
    // at once rather than at the next queue tick; it must be safe on any
    // thread. Once replaced or cleared (nullptr) it is no longer called,
    // also by jobs that are still running.
    void setOnJobEnded(std::function<void()> ended);

    // One step for each file in PostProcessing or PreProcessing; true when
    // a step finished in this call, so that the cycle may take the file on.
    // Abandoned jobs that have ended are cleaned up here too.
    bool runSteps(const QList<QueueFile*>& files);
    // A cancelled file's running jobs are stopped and let go: nobody waits
    // for them (their worker threads end within a fraction of a second and
    // are joined when a later step destroys them), their outcome is dropped,
    // and their work files (never the source, nor a downloaded result) are
    // removed.
    void abandonJobs(QueueFile& file);
    void preProcessStep(QueueFile& file) const;
    void postProcessStep(QueueFile& file) const;
    // At Done: deletes the uploaded file when it was a copy the client made
    // during pre-processing and the options say it is no longer wanted.
    // The user's own audio, or a processed copy that replaced it, stays.
    static void removeUploadedCopy(QueueFile& file);
    // Before a file in Error or Canceled goes back to Waiting: both local
    // steps are reset, so that they run again from the start instead of
    // failing the file again with the last run's outcome.
    static void resetForResubmit(QueueFile& file);

private:
    void startPreProcessing(QueueFile& file) const;
    void finishPreProcessing(QueueFile& file) const;
    bool adoptPreProcessedFile(QueueFile& file) const;
    void startPostProcessing(QueueFile& file) const;
    void finishPostProcessing(QueueFile& file) const;

    // The job-end call shared with the running jobs.
    struct JobEnded;
    // Gives the job the shared job-end call.
    template <typename Job>
    void announceEnd(Job& job) const;

    void sweepAbandoned();

    const OutputRegistry& m_registry;
    std::shared_ptr<JobEnded> m_jobEnded;
    std::vector<std::unique_ptr<PreProcessing>> m_abandonedPre;
    std::vector<std::unique_ptr<PostProcessing>> m_abandonedPost;
};
