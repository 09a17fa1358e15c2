#pragma once

#include "pipeline/fileprogress.h"
#include "pipeline/jobexpectation.h"
#include "pipeline/retrybackoff.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

class WebAPI;

// One worker thread that carries one audio file at a time through the
// service: it waits for the shared log-in token, loads the preset list,
// uploads the file as a job, polls the job until it is ready and downloads
// the result. The queue manager hands it files and reads its state; the
// session never touches the queue.
//
// Threads and locks. The queue manager (GUI thread, a background task or the
// login dialog's worker) calls the public operations; everything else runs
// on the session's own thread, which owns its WebAPI from start to end.
//  - control mutex: serialises stop() and destruction; taken first.
//  - state mutex: guards the state, lastFlag and every member that both
//    sides read or write (srcFile, dstFile, resultPath, prevError, the job
//    status text and the preset copy).
//  - api mutex: guards the pointer to the thread's WebAPI, which the other
//    side uses to abort a request and to read the byte counts.
// The state and api mutexes are never held together; both may be taken
// while the control mutex is held, and the state mutex while the queue
// manager holds its cycle lock. Plain numbers and flags are atomics.
//
// Passing trouble never loses a submitted job. A poll or a result download
// that fails for a reason that may pass (no answer, 5xx or 429, an answer
// that cannot be used, a result cut off) is tried again with RetryBackoff,
// never before a Retry-After, keeping the job; the status text then says
// "Service unreachable, retrying in N s". Only after retryLimit() (30
// minutes) of failures in a row does the session go to Error, and it keeps
// the job id with the error (errorJobId()) so that submitting the file again
// polls the same job. Every job answer is checked against what was
// uploaded, and against the id and creation time of its first status
// answer; another job ends in Error "The service returned a different job"
// and nothing is downloaded. A download that fails or is cut off goes back
// to polling: the job is asked for and compared again before every new
// attempt, since a service started anew in between may have given the id
// to another upload. Polls are paced: every cycle for
// the first 5 s of a job, then once a second, and every 5 s after a minute.
//
// Every change the queue manager makes to the state (release, submitFile)
// starts a new epoch. A network step remembers the epoch it began in and
// applies its outcome only if no such change came in meanwhile, so a step
// that was overtaken (a file released, a new file submitted during a
// download) never overwrites the newer decision.
class SessionManager : public QThread {
    Q_OBJECT

public:
    enum State {
        Initializing = 0,
        LoggingIn = 2,
        GettingPresets = 4,
        WaitingForInput = 8,
        Uploading = 16,
        JobReady = 24,
        Processing = 32,
        Downloading = 64,
        Error = 128,
    };

    SessionManager();
    ~SessionManager() override;

    // False if the thread already runs; else starts it.
    bool start();
    // Called on the session's thread each time it has something for the
    // queue manager (a job submitted, a result ready, an error); set before
    // start().
    void setOnReady(std::function<void()> onReady) { m_onReady = std::move(onReady); }
    bool getState(int& out) const;
    bool statusText(QByteArray& out) const;
    // How far the upload, the job or the download has come.
    FileProgress progress() const;
    QByteArray prevError() const;
    bool isRunning() const { return m_running; }
    int number() const { return m_number; }
    int currentFileId() const { return m_currentFileId; }
    void setCurrentFileId(int id) { m_currentFileId = id; }
    bool lastFlag() const;
    QByteArray resultPath() const;
    bool copyPresets(QList<QByteArray>& list) const;
    bool selectPreset(const QByteArray& entry);
    void submitFile(const QByteArray& src, const QByteArray& dst);
    bool release(bool clearFile);
    // Takes up a job submitted before a restart instead of uploading again:
    // with a result path the result is already on disk and the session
    // reports JobReady at once; otherwise it polls jobId and downloads the
    // result to dst. If the service no longer knows the job (404), src is
    // uploaded as a new job, so that the file is never lost.
    // expectedName is the name of the file that was uploaded as the job
    // (src may be another copy of it); empty: src's own name.
    // created is the job's creation time remembered from its first status
    // answer (empty: take the next answer's).
    void resumeJob(int jobId, const QByteArray& src, const QByteArray& dst, const QByteArray& resultPath,
                   const QByteArray& expectedName = QByteArray(), const QByteArray& created = QByteArray());
    // The job of the current file once it has been submitted (polling,
    // downloading or downloaded), 0 before the upload has succeeded.
    int submittedJobId() const;
    // With the Error state: the job the file still has at the service (a
    // poll or download that kept failing), 0 when there is none to keep.
    int errorJobId() const;
    // The creation time the service gave the submitted (or kept) job at its
    // first status answer; empty before that answer.
    QByteArray jobCreated() const;
    // With the Error state: an upload's body was sent but its answer was
    // lost, so the service may have created a job.
    bool uploadAnswerLost() const;
    // A request of the current file that failed for a reason that may pass
    // and waits to be tried again: which such wait of the session it is
    // (each new wait a higher number), why, and the whole seconds left.
    struct Retry {
        int round = 0;
        QByteArray reason;
        int seconds = 0;
    };
    // False while no such wait runs.
    bool pendingRetry(Retry& out) const;
    // Why the session cannot go on for now, for the status bar ("Presets
    // could not be read: ..."); empty when nothing stops it.
    QByteArray notice() const;
    // Releases the session and its file only while it uploads the file or
    // polls its job; a download in progress or a result already on disk is
    // left alone. Decided under the state mutex, so a step that ends at the
    // same moment cannot slip in between. True when released.
    bool releaseIfUploadingOrPolling();
    void cancel();
    void requestHostReset() { m_hostReset = true; }
    void getCredit(qint64& creditTime, float& credit) const;
    // Any thread, never waits: aborts every request and tells the thread to
    // end. stop() then only has to join it.
    void requestStop();
    // Stops the thread; with wait, joins it for at most timeoutMs and
    // returns false (with a warning) when it is still running then.
    bool stop(bool wait, bool quit, int timeoutMs = kStopTimeoutMs);

    static constexpr int kStopTimeoutMs = 10000;
    // The error of a job the service ended for want of credit.
    static const QByteArray kInsufficientCredit;
    // What a file waits for while the service cannot be reached, and the
    // start of its error when an upload was never taken within the retry
    // limit (no job exists: the file may be sent again).
    static const QByteArray kUnreachable;
    static constexpr int kDefaultRetryLimitMs = 30 * 60 * 1000;
    // How long polls and downloads are tried again before the file goes to
    // Error; process-wide.
    static int retryLimit();
    static void setRetryLimit(int milliseconds);

    // Read-only views of the job members, for the queue manager's verbose
    // output and for tests.
    QByteArray srcFile() const;
    QByteArray dstFile() const;
    int presetId() const { return m_presetId; }
    int jobId() const { return m_jobId; }
    int lastJobDone() const { return m_lastJobDone; }

protected:
    void run() override;

private:
    struct Snapshot {
        int state = Initializing;
        quint64 epoch = 0;
        QByteArray srcFile;
        QByteArray dstFile;
        JobExpectation expected;
        qint64 jobAgeMs = 0;
    };

    bool runCycle();
    void workStep(const Snapshot& snapshot);
    void getPresetsStep(const Snapshot& snapshot);
    void uploadStep(const Snapshot& snapshot);
    void processingStep(const Snapshot& snapshot);
    void downloadStep(const Snapshot& snapshot);

    Snapshot snapshot() const;
    QByteArray presetEntry() const;
    // Runs change under the state mutex if no external change came in since
    // the step began; otherwise drops it together with a pending cancel.
    void applyOutcome(quint64 epoch, const std::function<void()>& change);
    // Used under the state mutex.
    void setStateLocked(int state, bool flag);
    void releaseLocked(bool clearFile);
    // A failed network step, under the state mutex: back to waiting when a
    // cancel caused it, else Error (retryable) with the request's error text.
    void failStepLocked(const QString& error);
    // A 401 answer: the token the request carried is stale. Clearing it
    // (only if no other thread has replaced it yet) makes the queue manager
    // log in again; the step is repeated with the new token.
    bool handleUnauthorised(const QString& error);
    // Session thread: whether the step may send its request now (back-off
    // and poll pacing); a new epoch starts both afresh.
    bool requestDue(const Snapshot& snapshot);
    // Under the state mutex: a poll or download failed for a reason that
    // may pass. Waits with the back-off, or ends in Error keeping the job
    // once the failures have lasted retryLimit().
    void retryOrFailLocked(const QString& error, int retryAfterMs);
    // Under the state mutex: the step waits `waitMs`, showing `why`.
    // `detail`: the failure of the request that waits (may be empty).
    void waitLocked(const QByteArray& why, int waitMs, const QString& detail = QString());
    // A request succeeded; resetBackoff false keeps the failures in a row
    // (a poll between two failed downloads).
    void succeededLocked(bool resetBackoff = true);
    void failKeepingJobLocked(const QString& error);
    void sleepOneCycle();
    void wakeThread();
    void abortRequest(bool everything);

    const int m_number;
    std::atomic<int> m_currentFileId{0};
    std::atomic<int> m_presetId{0};
    std::atomic<int> m_jobId{0};
    std::atomic<int> m_lastJobDone{0};
    std::atomic<bool> m_presetsLoaded{false};
    std::atomic<bool> m_hostReset{false};
    std::function<void()> m_onReady;
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_quitRequested{false};
    std::atomic<bool> m_running{false};

    mutable QMutex m_stateLock;
    int m_state = Initializing;
    bool m_lastFlag = true;
    quint64 m_epoch = 0;
    QByteArray m_srcFile;
    QByteArray m_dstFile;
    QByteArray m_resultPath;
    QByteArray m_prevError;
    QByteArray m_jobStatusText;
    // The job's percentComplete at the last poll; -1 before the first.
    int m_jobPercent = -1;
    QList<QByteArray> m_presets;
    QByteArray m_presetEntry;
    JobExpectation m_expected;
    QElapsedTimer m_jobClock;
    int m_errorJobId = 0;
    bool m_uploadAnswerLost = false;
    // A wait for the next try of a failed step, with what it is shown as.
    QByteArray m_waitText;
    QByteArray m_waitDetail;
    int m_waitRound = 0;
    QDeadlineTimer m_waitUntil;
    QByteArray m_notice;
    float m_credit = -1;
    qint64 m_creditTime = 0;

    // Session thread only: failures in a row, the pace of polls, and the
    // token last refused with 401.
    RetryBackoff m_retry;
    QDeadlineTimer m_nextRequest{0};
    quint64 m_requestEpoch = 0;
    QString m_refusedToken;
    // A download of this job failed: polls until the next download keep the
    // back-off and the time the failures have lasted.
    bool m_downloadFailed = false;

    mutable QMutex m_apiLock;
    WebAPI* m_api = nullptr;

    QMutex m_controlLock;
    // The pause between two cycles; standard types, whose waits the thread
    // sanitizer follows (a QWaitCondition releases its QMutex inside Qt).
    std::mutex m_sleepLock;
    std::condition_variable m_wake;
    // Set by wakeThread() under m_sleepLock: the next pause ends at once.
    bool m_woken = false;
};
