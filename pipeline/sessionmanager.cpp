#include "pipeline/sessionmanager.h"

#include "pipeline/jobinfo.h"
#include "pipeline/lockedaccess.h"
#include "pipeline/webapi.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDebug>
#include <QLoggingCategory>

#include <memory>

// The credit the service reports with each finished job: debug output.
Q_LOGGING_CATEGORY(lcSessionCredit, "sonvira.session.credit")

const QByteArray SessionManager::kInsufficientCredit = "Error: Insufficient credit to proceed";
const QByteArray SessionManager::kUnreachable = "Service unreachable";

namespace {

constexpr unsigned long kCycleMs = 100;
// Poll pacing: every cycle for the first seconds of a job, so that a short
// job is seen at once, then slower for a job that takes long.
constexpr qint64 kFastPollingMs = 5000;
constexpr qint64 kMediumPollingMs = 60000;
constexpr int kMediumPollMs = 1000;
constexpr int kSlowPollMs = 5000;

std::atomic<int> nextSessionNumber{1000};
std::atomic<int> retryLimitMs{SessionManager::kDefaultRetryLimitMs};

const QByteArray kTokenRefused = "The service refuses the new log-in";
const QByteArray kDifferentJob = "The service returned a different job";
const QByteArray kAnswerLost = "Upload answer lost: the service may have created a job";

int pollPauseMs(qint64 jobAgeMs)
{
    if (jobAgeMs < kFastPollingMs)
        return 0;
    return jobAgeMs < kMediumPollingMs ? kMediumPollMs : kSlowPollMs;
}

int secondsLeft(const QDeadlineTimer& until)
{
    return int((std::max<qint64>(until.remainingTime(), 0) + 999) / 1000);
}

QByteArray retryText(const QByteArray& why, const QDeadlineTimer& until)
{
    return why + ", retrying in " + QByteArray::number(secondsLeft(until)) + " s";
}

bool isUnauthorised(const QString& error)
{
    return error.startsWith(QLatin1String("401"));
}

int presetIdOf(const QByteArray& entry)
{
    const int colon = entry.indexOf(':');
    return colon < 0 ? 0 : entry.left(colon).trimmed().toInt();
}

QByteArray kilobytes(qint64 bytes)
{
    return QByteArray::number(bytes / 1024);
}

} // namespace

SessionManager::SessionManager()
    : m_number(nextSessionNumber++)
{
}

SessionManager::~SessionManager()
{
    QMutexLocker control(&m_controlLock);
    if (QThread::isRunning()) {
        qDebug() << "Ending thread";
        m_stopRequested = true;
        m_quitRequested = true;
        abortRequest(true);
        wakeThread();
        quit();
        if (!wait())
            qWarning() << "Failed to stop thread!";
    }
    qDebug() << "~SessionManager";
}

bool SessionManager::start()
{
    if (m_running || QThread::isRunning())
        return false;
    // Cleared here rather than in the thread, so that a stop issued right
    // after start is never lost.
    m_stopRequested = false;
    m_quitRequested = false;
    m_running = true;
    QThread::start(QThread::InheritPriority);
    return true;
}

void SessionManager::requestStop()
{
    m_stopRequested = true;
    abortRequest(true);
    wakeThread();
}

bool SessionManager::stop(bool wait, bool quitLoop, int timeoutMs)
{
    QMutexLocker control(&m_controlLock);
    if (!m_running)
        return true;
    if (quitLoop)
        m_quitRequested = true;
    requestStop();
    if (quitLoop)
        quit();
    bool stopped = true;
    if (wait && !QThread::wait(QDeadlineTimer(timeoutMs))) {
        qWarning() << "Failed to stop thread!";
        stopped = false;
    }
    m_running = false;
    return stopped;
}

void SessionManager::abortRequest(bool everything)
{
    QMutexLocker lock(&m_apiLock);
    if (!m_api)
        return;
    if (everything)
        m_api->abortAllRequests();
    else
        m_api->abortCurrentRequest();
}

bool SessionManager::getState(int& out) const
{
    if (!m_running)
        return false;
    QMutexLocker lock(&m_stateLock);
    out = m_state;
    return true;
}

bool SessionManager::pendingRetry(Retry& out) const
{
    QMutexLocker lock(&m_stateLock);
    if (m_waitText != kUnreachable || m_waitUntil.hasExpired())
        return false;
    out.round = m_waitRound;
    out.reason = m_waitDetail.isEmpty() ? m_waitText : m_waitText + " (" + m_waitDetail + ')';
    out.seconds = secondsLeft(m_waitUntil);
    return true;
}

bool SessionManager::statusText(QByteArray& out) const
{
    int state = 0;
    if (!getState(state))
        return false;
    qint64 uploaded = 0;
    qint64 downloaded = 0;
    {
        QMutexLocker lock(&m_apiLock);
        if (m_api) {
            uploaded = m_api->uploadedBytes();
            downloaded = m_api->downloadedBytes();
        }
    }
    switch (state) {
    case Initializing: out = "Initializing"; break;
    case LoggingIn: out = "Logging In"; break;
    case GettingPresets: out = "Getting Presets"; break;
    case WaitingForInput: out = "Waiting For Input File"; break;
    case Uploading: {
        QMutexLocker lock(&m_stateLock);
        out = m_waitText.isEmpty() ? "Uploading File: " + kilobytes(uploaded) + " KB" : retryText(m_waitText, m_waitUntil);
        break;
    }
    case JobReady: out = "Previous Job Ready - Waiting For Request"; break;
    case Processing: {
        QMutexLocker lock(&m_stateLock);
        out = m_waitText.isEmpty() ? "Processing File " + m_jobStatusText : retryText(m_waitText, m_waitUntil);
        break;
    }
    case Downloading: {
        QMutexLocker lock(&m_stateLock);
        out = m_waitText.isEmpty() ? "Downloading Processed File:  " + kilobytes(downloaded) + " KB"
                                   : retryText(m_waitText, m_waitUntil);
        break;
    }
    case Error: out = "Error at last request - Waiting For Input File"; break;
    default: out = "Unknown"; break;
    }
    return true;
}

FileProgress SessionManager::progress() const
{
    FileProgress out;
    int state = 0;
    if (!getState(state))
        return out;
    qint64 done = 0;
    qint64 whole = -1;
    if (state == Uploading || state == Downloading) {
        QMutexLocker lock(&m_apiLock);
        if (m_api) {
            done = state == Uploading ? m_api->uploadedBytes() : m_api->downloadedBytes();
            whole = state == Uploading ? m_api->uploadTotalBytes() : m_api->downloadTotalBytes();
        }
    }
    switch (state) {
    case Uploading: out.step = FileProgress::Step::Upload; break;
    case Processing:
        out.step = FileProgress::Step::Processing;
        out.percent = lockedaccess::copy(m_stateLock, m_jobPercent);
        return out;
    case Downloading: out.step = FileProgress::Step::Download; break;
    default: return out;
    }
    if (whole > 0)
        out.percent = int(qBound(qint64(0), done * 100 / whole, qint64(100)));
    return out;
}

QByteArray SessionManager::prevError() const
{
    return lockedaccess::copy(m_stateLock, m_prevError);
}

bool SessionManager::lastFlag() const
{
    return lockedaccess::copy(m_stateLock, m_lastFlag);
}

QByteArray SessionManager::resultPath() const
{
    return lockedaccess::copy(m_stateLock, m_resultPath);
}

QByteArray SessionManager::srcFile() const
{
    return lockedaccess::copy(m_stateLock, m_srcFile);
}

QByteArray SessionManager::dstFile() const
{
    return lockedaccess::copy(m_stateLock, m_dstFile);
}

bool SessionManager::copyPresets(QList<QByteArray>& list) const
{
    if (!m_presetsLoaded)
        return false;
    QMutexLocker lock(&m_stateLock);
    list = m_presets;
    return true;
}

bool SessionManager::selectPreset(const QByteArray& entry)
{
    if (!m_running)
        return false;
    QMutexLocker lock(&m_stateLock);
    if (!m_presets.contains(entry))
        return false;
    m_presetId = presetIdOf(entry);
    m_presetEntry = entry;
    return true;
}

int SessionManager::retryLimit()
{
    return retryLimitMs;
}

void SessionManager::setRetryLimit(int milliseconds)
{
    retryLimitMs = milliseconds;
}

int SessionManager::errorJobId() const
{
    QMutexLocker lock(&m_stateLock);
    return m_state == Error ? m_errorJobId : 0;
}

bool SessionManager::uploadAnswerLost() const
{
    QMutexLocker lock(&m_stateLock);
    return m_state == Error && m_uploadAnswerLost;
}

QByteArray SessionManager::notice() const
{
    QMutexLocker lock(&m_stateLock);
    if (m_notice.isEmpty())
        return {};
    return m_notice == kTokenRefused ? retryText(m_notice, m_waitUntil) : m_notice;
}

void SessionManager::submitFile(const QByteArray& src, const QByteArray& dst)
{
    int state = 0;
    getState(state);
    if (state == Uploading || state == Downloading)
        abortRequest(false);
    {
        QMutexLocker lock(&m_stateLock);
        m_cancelRequested = false;
        m_dstFile = dst;
        m_srcFile = src;
        // The session goes to Uploading at once, so that the queue manager never
        // sees it waiting with a file that is already Running.
        ++m_epoch;
        setStateLocked(Uploading, true);
    }
    // The upload starts now rather than after the rest of the pause.
    wakeThread();
}

void SessionManager::resumeJob(int jobId, const QByteArray& src, const QByteArray& dst, const QByteArray& resultPath,
                               const QByteArray& expectedName, const QByteArray& created)
{
    // Read before the lock: it may open the file.
    JobExpectation expected = JobExpectation::of(QString::fromUtf8(src), presetEntry());
    if (!expectedName.isEmpty())
        expected.fileName = expectedName;
    expected.created = created;
    QMutexLocker lock(&m_stateLock);
    m_expected = expected;
    m_jobClock.start();
    m_cancelRequested = false;
    m_dstFile = dst;
    m_srcFile = src;
    m_jobId = jobId;
    m_jobStatusText.clear();
    m_jobPercent = -1;
    ++m_epoch;
    if (resultPath.isEmpty()) {
        setStateLocked(Processing, true);
        return;
    }
    m_srcFile.clear();
    m_resultPath = resultPath;
    setStateLocked(JobReady, true);
}

int SessionManager::submittedJobId() const
{
    QMutexLocker lock(&m_stateLock);
    if (m_state == Error)
        return m_errorJobId;
    const bool submitted = m_state == Processing || m_state == Downloading || m_state == JobReady;
    return submitted ? m_jobId.load() : 0;
}

QByteArray SessionManager::jobCreated() const
{
    QMutexLocker lock(&m_stateLock);
    return m_expected.created;
}

bool SessionManager::release(bool clearFile)
{
    if (!m_running)
        return false;
    QMutexLocker lock(&m_stateLock);
    if (m_state < WaitingForInput)
        return false;
    releaseLocked(clearFile);
    return true;
}

bool SessionManager::releaseIfUploadingOrPolling()
{
    if (!m_running)
        return false;
    QMutexLocker lock(&m_stateLock);
    if (m_state != Uploading && m_state != Processing)
        return false;
    releaseLocked(true);
    return true;
}

void SessionManager::releaseLocked(bool clearFile)
{
    ++m_epoch;
    setStateLocked(WaitingForInput, true);
    if (clearFile) {
        m_currentFileId = 0;
        m_srcFile.clear();
        m_dstFile.clear();
    }
}

void SessionManager::cancel()
{
    m_cancelRequested = true;
    abortRequest(false);
}

void SessionManager::getCredit(qint64& creditTime, float& credit) const
{
    QMutexLocker lock(&m_stateLock);
    creditTime = m_creditTime;
    credit = m_credit;
}

void SessionManager::setStateLocked(int state, bool flag)
{
    m_state = state;
    m_lastFlag = flag;
    m_waitText.clear();
    if (state == Error)
        return;
    m_errorJobId = 0;
    m_uploadAnswerLost = false;
}

void SessionManager::failStepLocked(const QString& error)
{
    if (m_cancelRequested.exchange(false)) {
        m_prevError = "Cancelled by user";
        setStateLocked(WaitingForInput, true);
        return;
    }
    m_prevError = error.toUtf8();
    setStateLocked(Error, true);
}

void SessionManager::failKeepingJobLocked(const QString& error)
{
    const bool cancelled = m_cancelRequested;
    failStepLocked(error);
    if (!cancelled)
        m_errorJobId = m_jobId;
}

void SessionManager::waitLocked(const QByteArray& why, int waitMs, const QString& detail)
{
    m_waitText = why;
    m_waitDetail = detail.toUtf8();
    ++m_waitRound;
    m_waitUntil = QDeadlineTimer(waitMs);
    m_nextRequest = m_waitUntil;
}

void SessionManager::retryOrFailLocked(const QString& error, int retryAfterMs)
{
    if (m_cancelRequested || m_retry.failingForMs() >= retryLimit()) {
        failKeepingJobLocked(error);
        return;
    }
    const int waitMs = m_retry.failed(retryAfterMs);
    qDebug().noquote() << "Job" << m_jobId.load() << ":" << error << "; trying again in" << waitMs << "ms";
    waitLocked(kUnreachable, waitMs, error);
}

void SessionManager::succeededLocked(bool resetBackoff)
{
    if (resetBackoff)
        m_retry.reset();
    m_waitText.clear();
    m_notice.clear();
    m_refusedToken.clear();
}

bool SessionManager::requestDue(const Snapshot& current)
{
    if (current.epoch != m_requestEpoch) {
        m_requestEpoch = current.epoch;
        m_retry.reset();
        m_nextRequest = QDeadlineTimer(0);
        m_refusedToken.clear();
        m_downloadFailed = false;
    }
    return m_nextRequest.hasExpired();
}

QByteArray SessionManager::presetEntry() const
{
    return lockedaccess::copy(m_stateLock, m_presetEntry);
}

SessionManager::Snapshot SessionManager::snapshot() const
{
    QMutexLocker lock(&m_stateLock);
    return {m_state, m_epoch, m_srcFile, m_dstFile, m_expected, m_jobClock.isValid() ? m_jobClock.elapsed() : 0};
}

void SessionManager::applyOutcome(quint64 epoch, const std::function<void()>& change)
{
    QMutexLocker lock(&m_stateLock);
    m_prevError.clear();
    if (m_epoch != epoch) {
        m_cancelRequested = false;
        return;
    }
    change();
}

// A token refused right after a new log-in is not answered with another
// log-in at once (the service may lock an account that logs in ten times a
// second): the step waits with the back-off, and only a second refusal of
// the same token asks for a new log-in.
bool SessionManager::handleUnauthorised(const QString& error)
{
    if (!isUnauthorised(error))
        return false;
    QString staleToken;
    {
        QMutexLocker lock(&m_apiLock);
        staleToken = m_api->lastRequestToken();
    }
    const bool freshTokenRefused = !m_refusedToken.isEmpty() && staleToken != m_refusedToken;
    m_refusedToken = staleToken;
    QMutexLocker lock(&m_stateLock);
    m_prevError.clear();
    if (freshTokenRefused) {
        const int waitMs = m_retry.failed(m_api->lastRetryAfterMs());
        qDebug() << "The service refuses a new log-in token; trying again in" << waitMs << "ms";
        waitLocked(kTokenRefused, waitMs);
        m_notice = kTokenRefused;
        return true;
    }
    if (!staleToken.isEmpty() && WebAPI::invalidateToken(staleToken, false))
        qDebug() << "Token refused by the service; a new log-in is needed";
    return true;
}

void SessionManager::sleepOneCycle()
{
    std::unique_lock<std::mutex> lock(m_sleepLock);
    m_wake.wait_for(lock, std::chrono::milliseconds(kCycleMs),
                    [this] { return m_woken || m_stopRequested || m_quitRequested; });
    m_woken = false;
}

void SessionManager::wakeThread()
{
    const std::lock_guard<std::mutex> lock(m_sleepLock);
    m_woken = true;
    m_wake.notify_all();
}

void SessionManager::run()
{
    m_running = true;
    auto api = std::make_unique<WebAPI>();
    api->setBaseUrl(WebAPI::sessionHostUrl());
    api->setCancelFlag(&m_cancelRequested);
    {
        QMutexLocker lock(&m_apiLock);
        m_api = api.get();
    }
    qDebug() << "lib...threadProc started";

    bool handedOn = false;
    while (!m_stopRequested && !m_quitRequested) {
        // Work handed on (an answered upload to its first poll, a finished
        // job to its download) goes on at once; otherwise the session waits
        // one cycle, which keeps the pace of polls and retries.
        if (!handedOn)
            sleepOneCycle();
        if (m_stopRequested || m_quitRequested)
            break;
        // A new address is taken before the cycle's request, so that no
        // request goes to the old host once the change has been seen.
        if (m_hostReset.exchange(false)) {
            qDebug() << "Host reset at thread: " << this;
            api->setBaseUrl(WebAPI::sessionHostUrl());
        }
        const int before = snapshot().state;
        runCycle();
        const int after = snapshot().state;
        handedOn = after != before && (after == Processing || after == Downloading);
        const bool submitted = before == Uploading && after == Processing;
        if (after != before && (submitted || after == JobReady || after == Error) && m_onReady)
            m_onReady();
    }

    {
        QMutexLocker lock(&m_apiLock);
        m_api = nullptr;
    }
    api.reset();
    qDebug() << "lib...threadProc finished";
    m_running = false;
}

bool SessionManager::runCycle()
{
    if (!m_running)
        return false;
    const Snapshot current = snapshot();
    if (current.state != Initializing && current.state != LoggingIn) {
        workStep(current);
        return true;
    }
    const bool haveToken = !WebAPI::token().isEmpty();
    applyOutcome(current.epoch, [&] { setStateLocked(haveToken ? GettingPresets : LoggingIn, true); });
    return haveToken;
}

void SessionManager::workStep(const Snapshot& current)
{
    switch (current.state) {
    case GettingPresets: getPresetsStep(current); break;
    case Uploading: uploadStep(current); break;
    case Processing: processingStep(current); break;
    case Downloading: downloadStep(current); break;
    default:
        if ((current.state & WaitingForInput) && current.state != Error && !current.srcFile.isEmpty())
            applyOutcome(current.epoch, [&] { setStateLocked(Uploading, true); });
        break;
    }
}

void SessionManager::getPresetsStep(const Snapshot& current)
{
    if (!requestDue(current))
        return;
    const bool answered = m_api->getPresets();
    // An empty list is asked for again like an unusable one: the service
    // may offer presets later, and no state of it stops the client for good.
    const bool ok = answered && !m_api->presets().isEmpty();
    const QString error = answered && !ok ? QStringLiteral("the service offers no presets") : m_api->lastError();
    if (!ok && handleUnauthorised(error))
        return;
    const QList<QByteArray> presets = m_api->presets();
    const int retryAfterMs = m_api->lastRetryAfterMs();
    applyOutcome(current.epoch, [&] {
        if (!ok) {
            // An unusable list is asked for again with the back-off, not at
            // every cycle; the status bar says why.
            m_prevError = error.toUtf8();
            m_notice = "Presets could not be read: " + m_prevError;
            m_nextRequest = QDeadlineTimer(m_retry.failed(retryAfterMs));
            qDebug().noquote() << m_notice;
            return;
        }
        succeededLocked();
        m_presets = presets;
        m_presetsLoaded = true;
        if (!presets.isEmpty())
            m_presetId = presetIdOf(presets.first());
        setStateLocked(m_srcFile.isEmpty() ? WaitingForInput : Uploading, true);
    });
}

void SessionManager::uploadStep(const Snapshot& current)
{
    if (!requestDue(current))
        return;
    const QString path = QString::fromUtf8(current.srcFile);
    const JobExpectation expected = JobExpectation::of(path, presetEntry());
    const int id = m_api->submitJob(path, m_presetId, true);
    const QString error = m_api->lastError();
    if (id < 0 && handleUnauthorised(error))
        return;
    const bool answerLost = id < 0 && m_api->lastUploadAnswerLost();
    // Nothing reached the service, or it said to come back later: no job
    // exists, so the upload is tried again like a poll.
    const int status = m_api->lastHttpStatus();
    const bool notTaken = id < 0 && !answerLost
        && (m_api->lastFailure() == WebAPI::Failure::Network || status == 503 || status == 429);
    const int retryAfterMs = m_api->lastRetryAfterMs();
    applyOutcome(current.epoch, [&] {
        if (id >= 0) {
            succeededLocked();
            m_jobId = id;
            m_expected = expected;
            m_jobClock.start();
            m_nextRequest = QDeadlineTimer(0);
            m_srcFile.clear();
            m_jobStatusText.clear();
            m_jobPercent = -1;
            setStateLocked(Processing, true);
            return;
        }
        if (notTaken && !m_cancelRequested && m_retry.failingForMs() < retryLimit()) {
            const int waitMs = m_retry.failed(retryAfterMs);
            qDebug().noquote() << "Upload not taken:" << error << "; trying again in" << waitMs << "ms";
            waitLocked(kUnreachable, waitMs, error);
            return;
        }
        m_srcFile.clear();
        if (error.startsWith(QLatin1String("415"))) {
            m_prevError = "Invalid audio file format";
            setStateLocked(Error, false);
        } else if (answerLost && !m_cancelRequested) {
            qDebug().noquote() << "Upload answer lost:" << error;
            failStepLocked(QString::fromUtf8(kAnswerLost));
            m_uploadAnswerLost = true;
        } else if (notTaken) {
            failStepLocked(QString::fromUtf8(kUnreachable) + QStringLiteral(" (") + error + QLatin1Char(')'));
        } else {
            failStepLocked(error);
        }
    });
}

void SessionManager::processingStep(const Snapshot& current)
{
    if (!requestDue(current))
        return;
    const QJsonObject object = m_api->getJob(m_jobId);
    const QString error = m_api->lastError();
    if (object.isEmpty() && handleUnauthorised(error))
        return;
    const bool mayPass = object.isEmpty() && m_api->lastFailureMayPass();
    const bool unknownJob = object.isEmpty() && m_api->lastHttpStatus() == 404;
    const int retryAfterMs = m_api->lastRetryAfterMs();
    const JobInfo job = JobInfo::fromJson(object);
    const QByteArray difference = object.isEmpty() ? QByteArray() : current.expected.differenceFrom(job);
    const bool stillRunning = job.status >= 3 && job.status <= 7;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!object.isEmpty() && difference.isEmpty() && !stillRunning) {
        qCDebug(lcSessionCredit).noquote() << "Fetched credit:" << job.ownerCredit << now;
    }
    applyOutcome(current.epoch, [&] {
        // Only a job taken up after a restart still has its source here (an
        // upload clears it): a job the service has forgotten is uploaded anew.
        if (unknownJob && !m_srcFile.isEmpty()) {
            qDebug() << "Job" << m_jobId.load() << "is unknown to the service; uploading the file again";
            setStateLocked(Uploading, true);
            return;
        }
        if (mayPass) {
            retryOrFailLocked(error, retryAfterMs);
            return;
        }
        if (object.isEmpty()) {
            // A job the service does not know is not worth keeping.
            if (unknownJob)
                failStepLocked(error);
            else
                failKeepingJobLocked(error);
            return;
        }
        succeededLocked(!m_downloadFailed);
        if (!difference.isEmpty()) {
            qWarning().noquote() << "Job" << m_jobId.load() << "is not this file's job:" << difference;
            m_prevError = kDifferentJob;
            setStateLocked(Error, true);
            return;
        }
        m_expected.recordFirstAnswer(job);
        if (stillRunning) {
            m_jobStatusText = job.statusText();
            m_jobPercent = qBound(0, qRound(job.percentComplete), 100);
            m_nextRequest = QDeadlineTimer(pollPauseMs(current.jobAgeMs));
            return;
        }
        m_credit = float(job.ownerCredit);
        m_creditTime = now;
        if (job.status == 8) {
            setStateLocked(Downloading, true);
            return;
        }
        m_prevError = job.status == 12 ? kInsufficientCredit
                                       : "Error processing file (err " + QByteArray::number(job.status) + ")";
        setStateLocked(Error, true);
    });
}

void SessionManager::downloadStep(const Snapshot& current)
{
    if (!requestDue(current))
        return;
    const int jobId = m_jobId;
    const QString path = m_api->downloadResult(jobId, QString::fromUtf8(current.dstFile),
                                               WebAPI::maxResultBytes(current.expected.seconds));
    const QString error = m_api->lastError();
    // Whatever ended a download early, the job is asked for and compared
    // again before the next attempt.
    if (path.isEmpty()) {
        m_downloadFailed = true;
        applyOutcome(current.epoch, [&] { setStateLocked(Processing, true); });
    }
    if (path.isEmpty() && handleUnauthorised(error))
        return;
    const bool mayPass = path.isEmpty() && m_api->lastFailureMayPass();
    const int retryAfterMs = m_api->lastRetryAfterMs();
    applyOutcome(current.epoch, [&] {
        if (!path.isEmpty()) {
            succeededLocked();
            m_downloadFailed = false;
            m_srcFile.clear();
            m_resultPath = path.toUtf8();
            m_lastJobDone = jobId;
            setStateLocked(JobReady, true);
        } else if (mayPass) {
            retryOrFailLocked(error, retryAfterMs);
        } else {
            failKeepingJobLocked(error);
        }
    });
}
