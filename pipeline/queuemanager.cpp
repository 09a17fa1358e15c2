#include "pipeline/queuemanager.h"

#include "pipeline/lockedaccess.h"
#include "settings/naming.h"
#include "settings/settings.h"
#include "settings/startupconfig.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

// The wait before a file whose upload answer was lost is sent again.
constexpr int kLostAnswerWaitMs = 2000;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void printLine(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// "Replace original file" with a pre-processing step: the processed copy
// takes the source's place. (The other result modes leave the source as it
// is; "Delete file after submission" removes only the processed copy.)
bool replacesSource(const ProcessingOptions& options)
{
    if (options.preProcessing_Result != 0)
        return false;
    if (options.monoProcessing_ConvertToDualStereo)
        return true;
    const QStringList lines = options.preProcessing_Arguments.split(QLatin1Char('\n'));
    return std::any_of(lines.cbegin(), lines.cend(), [](const QString& line) {
        return line.startsWith(QLatin1String("nredOp00")) && !line.contains(QLatin1String("SKIP"));
    });
}

} // namespace

QueueManager::QueueManager()
{
    m_tokens.setInterruptFlag(m_requests.interruptFlag());
}

QueueManager::~QueueManager()
{
    if (m_sessionCount > 0)
        stop();
}

void QueueManager::setMessageHandler(MessageHandler handler)
{
    m_messageHandler = std::move(handler);
}

bool QueueManager::init(Settings* settings)
{
    startup::loadSettings(*settings);
    if (!settings->loadError().isEmpty()) {
        const bool copied = QFileInfo::exists(startup::settingsFilePath() + QStringLiteral(".bad"));
        const QString text = QStringLiteral("settings.xml could not be read whole (%1). The settings after that "
                                            "place were not loaded%2")
                                 .arg(settings->loadError(), copied ? QStringLiteral("; the file was kept as settings.xml.bad.")
                                                                    : QStringLiteral("."));
        qWarning().noquote() << text;
        if (m_messageHandler)
            m_messageHandler(QStringLiteral("Settings"), text);
    }
    tokenManager tokens;
    QString message;
    if (!tokens.testCall(message)) {
        const QString text = QStringLiteral("Error loading token lib");
        qWarning().noquote() << text;
        if (m_messageHandler)
            m_messageHandler(QStringLiteral("Error"), text);
        return false;
    }
    qDebug() << "Token lib OK";
    if (!createSessions(startup::apiBaseUrl(), settings->parallelJobs))
        return false;
    qDebug() << "manager Init OK";
    return true;
}

bool QueueManager::createSessions(const QByteArray& apiUrl, int count)
{
    QMutexLocker cycleLock(&m_cycleLock);
    {
        QMutexLocker status(&m_statusLock);
        m_apiUrl = apiUrl;
    }
    m_tokens.setHost(apiUrl);
    const int n = std::clamp(count, 0, kMaxSessions);
    if (m_state != Initializing) {
        m_state = Error;
        throw std::runtime_error("createSessions called with invalid state");
    }
    m_sessionLimit = n;
    for (int i = 0; i < n; ++i) {
        if (!startSession(i))
            return false;
    }
    m_state = WaitingForLoginInfo;
    return true;
}

bool QueueManager::startSession(int slot)
{
    qDebug() << "Creating session" << slot;
    auto& session = m_sessions[size_t(slot)];
    session = std::make_unique<SessionManager>();
    session->setOnReady([this] {
        QMutexLocker lock(&m_sessionReadyLock);
        if (m_onSessionReady)
            m_onSessionReady();
    });
    if (!session->start())
        return false;
    m_sessionView[size_t(slot)] = session.get();
    m_sessionCount = std::max(m_sessionCount.load(), slot + 1);
    return true;
}

void QueueManager::setParallelJobs(int count)
{
    m_sessionLimit = std::clamp(count, 1, kMaxSessions);
}

void QueueManager::growSessions()
{
    for (int slot = 0; slot < m_sessionLimit; ++slot) {
        if (!m_sessions[size_t(slot)] && !startSession(slot))
            qWarning() << "Session" << slot << "did not start";
    }
}

void QueueManager::setApiUrl(const QByteArray& url)
{
    lockedaccess::assign(m_statusLock, m_apiUrl, url);
    m_tokens.logout();
    m_requests.setApiUrl(url);
}

void QueueManager::setOnSessionReady(std::function<void()> callback)
{
    QMutexLocker lock(&m_sessionReadyLock);
    m_onSessionReady = std::move(callback);
}

void QueueManager::setCredentials(const QByteArray& user, const QByteArray& password)
{
    m_requests.setCredentials(user, password);
}

void QueueManager::enableLogin()
{
    m_tokens.setEnabled(true);
    m_requests.loginNow();
}

void QueueManager::logout()
{
    m_tokens.setEnabled(false);
    m_tokens.logout();
    m_requests.logout();
}

// Called by the cycle under the cycle lock: once before its first step and
// again after the log-in, so that a request that interrupted the log-in is
// applied before anything else happens.
void QueueManager::applyRequests()
{
    const CycleRequests::Taken taken = m_requests.take();
    if (taken.credentials) {
        m_user = taken.credentials->first;
        m_password = taken.credentials->second;
        m_loginPace.reset();
    }
    if (taken.apiUrl) {
        m_tokens.setHost(*taken.apiUrl);
        for (const auto& session : m_sessions) {
            if (session)
                session->requestHostReset();
        }
        m_loginPace.reset();
    }
    if (taken.loginNow)
        m_loginPace.reset();
    if (taken.logout) {
        applyLogout();
        m_loginPace.reset();
    }
}

// A log-in that ended after logout() may have set a token again.
void QueueManager::applyLogout()
{
    m_tokens.logout();
    for (const auto& session : m_sessions) {
        if (!session)
            continue;
        const int fileId = session->currentFileId();
        if (!session->releaseIfUploadingOrPolling())
            continue;
        session->cancel();
        if (QueueFile* file = findFile(fileId)) {
            if (file->compareAndSetState(QueueFileState::Running, QueueFileState::Waiting))
                file->setDetails(QByteArray());
        }
    }
}

bool QueueManager::cycle(bool pause, bool verbose)
{
    // The pause is taken before the lock: stop() never waits for it.
    if (pause && isWorking(m_state))
        QThread::msleep(100);
    QMutexLocker cycleLock(&m_cycleLock);
    {
        QMutexLocker queue(&m_queueLock);
        m_released.clear();
    }
    const State state = m_state;
    if (isWorking(state)) {
        applyRequests();
        if (m_tokens.currentToken().size() < 4 && loginDue())
            logIn(verbose);
        applyRequests();
        if (m_state != WaitingForLoginInfo)
            loadPresets(verbose);
        growSessions();
        serveSessions(pause, verbose, servesSessions(m_state));
        if (verbose)
            printFiles();
        return anySessionRunning();
    }
    if (state == Stopping) {
        for (const auto& session : m_sessions) {
            if (pause)
                QThread::msleep(20);
            if (session && session->isRunning())
                session->stop(true, false);
        }
        m_state = Finished;
    }
    return false;
}

void QueueManager::logIn(bool verbose)
{
    // Nothing to try before a person has given both: no request, and no
    // failure to report.
    if (m_user.isEmpty() || m_password.isEmpty()) {
        m_state = WaitingForLoginInfo;
        lockedaccess::assign(m_statusLock, m_statusMessage, QByteArray());
        return;
    }
    if (verbose)
        printLine("Logging in...");
    QByteArray message;
    if (m_tokens.isEnabled())
        m_loginPace.started();
    if (m_tokens.login(m_user, m_password, message)) {
        m_loginPace.loggedIn();
        m_state = Running;
        return;
    }
    m_state = WaitingForLoginInfo;
    // A log-in cut short by a new request is no failure of the account: the
    // cycle applies the request and tries again at once.
    if (m_requests.interrupted())
        return;
    if (m_tokens.isEnabled())
        m_loginPace.failed(m_tokens.lastRetryAfterMs());
    lockedaccess::assign(m_statusLock, m_statusMessage, message);
}

// Whether a log-in may go out now. While it may not because the service
// refused the last token right after handing it out, the service notice
// says so.
bool QueueManager::loginDue()
{
    const qint64 waitMs = m_loginPace.waitMs();
    m_loginPauseMs = m_loginPace.tokenRefused() ? waitMs : 0;
    return waitMs == 0;
}

void QueueManager::loadPresets(bool verbose)
{
    if (verbose)
        printLine("Getting presets");
    if (!presets().isEmpty() || !m_sessions[0])
        return;
    m_state = GettingPresets;
    QList<QByteArray> list;
    if (!m_sessions[0]->copyPresets(list))
        return;
    {
        QMutexLocker status(&m_statusLock);
        m_presets = list;
        m_lastPreset = list.first();
    }
    m_state = Running;
}

void QueueManager::serveSessions(bool pause, bool verbose, bool serving)
{
    for (int slot = 0; slot < kMaxSessions; ++slot) {
        SessionManager* session = m_sessions[size_t(slot)].get();
        if (!session)
            continue;
        if (pause)
            QThread::msleep(20);
        int sessionState = 0;
        if (!session->getState(sessionState))
            continue;
        if (verbose)
            printSessions(slot, *session);
        serveSession(*session, sessionState, serving, slot < m_sessionLimit);
    }
}

void QueueManager::serveSession(SessionManager& session, int sessionState, bool serving, bool accepting)
{
    switch (sessionState) {
    case SessionManager::WaitingForInput:
        if (session.currentFileId() != 0)
            handOverPreProcessed(session, serving);
        else if (serving && accepting)
            assignWaitingFile(session);
        break;
    case SessionManager::JobReady: takeResult(session); break;
    case SessionManager::Error: takeError(session); break;
    default: followProgress(session); break;
    }
}

void QueueManager::assignWaitingFile(SessionManager& session)
{
    QMutexLocker queue(&m_queueLock);
    const qint64 now = nowMs();
    for (QueueFile* file : qAsConst(m_files)) {
        if (file->notBeforeMs > now)
            continue;
        if (file->resumeJobId > 0 && file->compareAndSetState(QueueFileState::Waiting, QueueFileState::Running)) {
            resumeJob(session, *file);
            return;
        }
        if (file->getState() != QueueFileState::Waiting)
            continue;
        const QByteArray refusal = startRefusal(*file);
        if (!refusal.isEmpty()) {
            // Nothing is uploaded (nor charged) for a file that could not end
            // well; "Submit again" asks once more.
            if (file->compareAndSetState(QueueFileState::Waiting, QueueFileState::Error)) {
                file->setErrorMessage(refusal);
                file->setRetryable(true);
            }
            continue;
        }
        if (file->compareAndSetState(QueueFileState::Waiting, QueueFileState::PreProcessing)) {
            file->sessionId = session.number();
            session.setCurrentFileId(file->fileId);
            return;
        }
    }
}

// Why a waiting file must not be started: its result could not be saved,
// or its options would replace a source file that this user may not write.
// Empty when it may start.
QByteArray QueueManager::startRefusal(const QueueFile& file)
{
    const QByteArray destination = naming::destinationRefusal(QString::fromUtf8(file.lockedDestFile()));
    if (!destination.isEmpty())
        return destination;
    if (replacesSource(file.options) && !QFileInfo(QString::fromUtf8(file.lockedSrcFile())).isWritable())
        return QByteArrayLiteral("Source file is read-only");
    return QByteArray();
}

// A file submitted before a restart: the session polls its job (or takes
// the result already on disk) with the file's preset for a new upload.
void QueueManager::resumeJob(SessionManager& session, QueueFile& file)
{
    file.sessionId = session.number();
    session.setCurrentFileId(file.fileId);
    if (!session.selectPreset(file.presetName)) {
        file.setState(QueueFileState::Error);
        file.setErrorMessage("Invalid preset");
        file.setRetryable(false);
        session.release(true);
        return;
    }
    // The uploaded copy may have been removed after the upload; the job is
    // still checked against the name it was uploaded under.
    const QByteArray src = file.lockedSrcFile();
    const QByteArray upload = QFileInfo::exists(QString::fromUtf8(src)) ? src : file.originalSourceFile;
    const QByteArray dest = file.lockedDestFile();
    session.resumeJob(file.resumeJobId.exchange(0), upload, dest,
                      file.resumeFromResult.exchange(false) ? dest : QByteArray(),
                      QFileInfo(QString::fromUtf8(src)).fileName().toUtf8(), file.resumeJobCreated());
    file.setResumeJobCreated(QByteArray());
}

// The queue driver pre-processes the file while the session waits; once
// that is done the file goes to the session with its preset. Logged out
// (not serving), a pre-processed file waits with its session for the next
// log-in; a failed one still ends in Error.
void QueueManager::handOverPreProcessed(SessionManager& session, bool serving)
{
    QueueFile* file = findFile(session.currentFileId());
    if (!file || file->getState() != QueueFileState::PreProcessing) {
        qDebug() << "Error adquiriendo el archivo en preprocessing";
        session.release(true);
        return;
    }
    if (!file->preProcessingDone())
        return;
    if (file->preProcessingStatus == PreProcessingStatus::Failed) {
        file->setState(QueueFileState::Error);
        file->setRetryable(true);
        session.release(true);
        return;
    }
    if (!serving)
        return;
    // A file cancelled meanwhile stays as the person left it.
    if (!file->compareAndSetState(QueueFileState::PreProcessing, QueueFileState::Running)) {
        session.release(true);
        return;
    }
    if (session.selectPreset(file->presetName)) {
        session.submitFile(file->lockedSrcFile(), file->lockedDestFile());
        file->setErrorMessage(QByteArray());
        return;
    }
    file->setState(QueueFileState::Error);
    file->setErrorMessage("Invalid preset");
    file->setRetryable(false);
    session.release(true);
}

// The downloaded result goes to the queue driver for post-processing; once
// that is done the file is Done. Each change is a compare-and-set on the
// file's state: a file that the queue driver has put in Error (failed
// post-processing, which it marks before the done flag) stays in Error.
void QueueManager::takeResult(SessionManager& session)
{
    QueueFile* file = findFile(session.currentFileId());
    const QueueFileState fileState = file ? file->getState() : QueueFileState::Error;
    if (fileState == QueueFileState::Running) {
        file->setResultPath(session.resultPath());
        if (file->compareAndSetState(QueueFileState::Running, QueueFileState::PostProcessing))
            return;
    }
    if (fileState == QueueFileState::PostProcessing) {
        if (!file->postProcessingDone())
            return;
        file->compareAndSetState(QueueFileState::PostProcessing, QueueFileState::Done);
    }
    session.release(true);
}

// A job that kept failing stays with the file (resumeJobId), so that
// submitting it again polls that job before anything is uploaded.
void QueueManager::takeError(SessionManager& session)
{
    QueueFile* file = findFile(session.currentFileId());
    // A file cancelled meanwhile keeps the person's reason.
    if (file && file->getState() == QueueFileState::Running && !requeueAfterLostAnswer(session, *file)) {
        file->resumeJobId = session.errorJobId();
        file->setResumeJobCreated(session.jobCreated());
        file->setState(QueueFileState::Error);
        file->setErrorMessage(session.prevError());
        file->setRetryable(session.lastFlag());
    }
    session.release(true);
}

bool QueueManager::requeueAfterLostAnswer(SessionManager& session, QueueFile& file)
{
    if (!session.uploadAnswerLost() || file.lostUploadAnswers++ > 0)
        return false;
    const double jitter = 0.8 + 0.4 * QRandomGenerator::global()->generateDouble();
    file.notBeforeMs = nowMs() + qint64(kLostAnswerWaitMs * jitter);
    // Its pre-processing is done: the file goes to the upload as it is.
    file.resumePreProcessed = true;
    file.setErrorMessage(session.prevError());
    file.setDetails(session.prevError());
    file.setState(QueueFileState::Waiting);
    return true;
}

void QueueManager::followProgress(SessionManager& session)
{
    QueueFile* file = findFile(session.currentFileId());
    if (!file)
        return;
    const QueueFileState fileState = file->getState();
    // Paused, Canceled, or put in Error by a person's cancel: the job is
    // followed no longer.
    if (fileState == QueueFileState::Paused || fileState == QueueFileState::Canceled
        || fileState == QueueFileState::Error) {
        session.cancel();
        session.release(true);
        return;
    }
    QByteArray text;
    if (session.statusText(text))
        file->setDetails(text);
    file->setProgress(session.progress());
}

void QueueManager::printSessions(int slot, SessionManager& session) const
{
    QByteArray text;
    session.statusText(text);
    printLine("Session: " + QByteArray::number(slot) + " ." + text);
    printLine("Prev error: " + QByteArray::number(slot) + " ." + session.prevError());
}

void QueueManager::printFiles() const
{
    printLine("\nFiles in queue:");
    for (QueueFile* file : snapshot())
        printLine(file->toString());
}

bool QueueManager::anySessionRunning() const
{
    return std::any_of(m_sessions.begin(), m_sessions.end(),
                       [](const auto& session) { return session && session->isRunning(); });
}

// Aborts the log-in and every session's request first, so that a running
// cycle ends its network step at once, then joins. Each wait is bounded: a
// cycle that does not end in time keeps the sessions (the destructor tries
// again), and a session thread that does not end in time is left running
// rather than destroyed under its own feet.
void QueueManager::stop()
{
    m_state = Stopping;
    m_requests.interrupt();
    for (const auto& session : m_sessions) {
        if (session)
            session->requestStop();
    }
    if (!m_cycleLock.tryLock(kStopTimeoutMs)) {
        qWarning() << "The queue cycle did not end in time; its sessions are stopped later";
        return;
    }
    for (auto& view : m_sessionView)
        view = nullptr;
    for (auto& session : m_sessions) {
        // A thread that is still running is left alone: destroying its
        // object would end the process.
        if (session && !session->stop(true, false, kStopTimeoutMs))
            static_cast<void>(session.release());
        session.reset();
    }
    m_sessionCount = 0;
    m_state = Finished;
    m_cycleLock.unlock();
}

QueueFile* QueueManager::addFileToQueue(const QByteArray& src, int priority, const QByteArray& dest,
                                        const QByteArray& presetName, const ProcessingOptions& options)
{
    return addFileToQueue(QString::fromUtf8(src), priority, QString::fromUtf8(dest), presetName, options);
}

QueueFile* QueueManager::addFileToQueue(const QString& src, int priority, const QString& dest,
                                        const QByteArray& presetName, const ProcessingOptions& options)
{
    qDebug() << "addFileToQueue" << src << dest << presetName;
    QMutexLocker queue(&m_queueLock);
    const QByteArray candidate = uniqueDestination(src, dest);
    if (!QFileInfo::exists(src)) {
        setLastError("Source file does not exist.");
        return nullptr;
    }
    if (!QFileInfo(QString::fromUtf8(candidate)).dir().exists()) {
        setLastError("Destination directory does not exist.");
        return nullptr;
    }

    auto record = std::make_unique<QueueFile>(presetName);
    QueueFile* file = record.get();
    file->options = options;
    file->priority = priority;
    file->srcFile = src.toUtf8();
    file->destFile = candidate;
    file->setOriginalSourceFile(file->srcFile);
    {
        QMutexLocker status(&m_statusLock);
        m_lastPreset = presetName;
    }
    m_records.push_back(std::move(record));
    m_files.append(file);
    if (m_onDestFileAdded)
        m_onDestFileAdded(file->destFile);
    return file;
}

// dest itself when it is free, else "<base> (n).<suffix>" with the first n
// that is neither the source, an existing file nor a queued destination.
// Called with the queue lock held.
QByteArray QueueManager::uniqueDestination(const QString& src, const QString& dest) const
{
    const QFileInfo info(dest);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const auto taken = [&](const QString& candidate) {
        if (naming::isSamePath(candidate, src) || QFileInfo::exists(candidate))
            return true;
        return std::any_of(m_files.begin(), m_files.end(), [&](const QueueFile* file) {
            return naming::isSamePath(QString::fromUtf8(file->lockedDestFile()), candidate);
        });
    };
    QString candidate = dest;
    for (int n = 1; taken(candidate); ++n)
        candidate = info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(" (%1)").arg(n) + suffix;
    return QDir::toNativeSeparators(candidate).toUtf8();
}

QueueFile* QueueManager::restoreFile(std::unique_ptr<QueueFile> file)
{
    QMutexLocker queue(&m_queueLock);
    QueueFile* record = file.get();
    m_records.push_back(std::move(file));
    m_files.append(record);
    if (m_onDestFileAdded && !record->destFile.isEmpty())
        m_onDestFileAdded(record->destFile);
    return record;
}

void QueueManager::removeFile(int fileId)
{
    QMutexLocker queue(&m_queueLock);
    m_files.removeIf([fileId](const QueueFile* file) { return file->fileId == fileId; });
}

void QueueManager::releaseFile(int fileId)
{
    QMutexLocker queue(&m_queueLock);
    const qsizetype index = indexOf(fileId);
    if (index < 0)
        return;
    const QueueFile* file = m_files.takeAt(index);
    const auto record = std::find_if(m_records.begin(), m_records.end(),
                                     [file](const std::unique_ptr<QueueFile>& owned) { return owned.get() == file; });
    if (record == m_records.end())
        return;
    m_released.push_back(std::move(*record));
    m_records.erase(record);
}

QList<int> QueueManager::removeFinishedFiles()
{
    QList<int> removed;
    QMutexLocker queue(&m_queueLock);
    m_files.removeIf([&removed](const QueueFile* file) {
        if (!isFinished(file->getState()))
            return false;
        removed.append(file->fileId);
        return true;
    });
    return removed;
}

bool QueueManager::pauseFile(int fileId)
{
    QueueFile* file = findFile(fileId);
    return file && file->compareAndSetState(QueueFileState::Waiting, QueueFileState::Paused);
}

bool QueueManager::resumeFile(int fileId)
{
    QueueFile* file = findFile(fileId);
    return file && file->compareAndSetState(QueueFileState::Paused, QueueFileState::Waiting);
}

bool QueueManager::moveFile(int fileId, int places)
{
    if (places == 0)
        return false;
    const auto pending = [](const QueueFile* file) {
        const QueueFileState state = file->getState();
        return state == QueueFileState::Waiting || state == QueueFileState::Paused;
    };
    // Under the queue lock, so the cycle never sees the list half-way.
    QMutexLocker queue(&m_queueLock);
    const qsizetype from = indexOf(fileId);
    if (from < 0 || !pending(m_files.at(from)))
        return false;
    const qsizetype step = places < 0 ? -1 : 1;
    for (qsizetype to = from + step; to >= 0 && to < m_files.size(); to += step) {
        if (isFinished(m_files.at(to)->getState()))
            continue;
        m_files.swapItemsAt(from, to);
        return true;
    }
    return false;
}

// Called with the queue lock held; -1 when the file is not queued.
qsizetype QueueManager::indexOf(int fileId) const
{
    for (qsizetype i = 0; i < m_files.size(); ++i) {
        if (m_files.at(i)->fileId == fileId)
            return i;
    }
    return -1;
}

QueueFile* QueueManager::findFile(int fileId) const
{
    QMutexLocker queue(&m_queueLock);
    const qsizetype index = indexOf(fileId);
    return index < 0 ? nullptr : m_files.at(index);
}

bool QueueManager::findFile(int fileId, QueueFile*& out) const
{
    out = findFile(fileId);
    return out != nullptr;
}

QueueFile* QueueManager::findByDestFile(const QByteArray& path) const
{
    QMutexLocker queue(&m_queueLock);
    const QString wanted = QString::fromUtf8(path);
    const auto found = std::find_if(m_files.begin(), m_files.end(), [&](const QueueFile* file) {
        return naming::isSamePath(QString::fromUtf8(file->lockedDestFile()), wanted);
    });
    return found == m_files.end() ? nullptr : *found;
}

QList<QueueFile*> QueueManager::snapshot() const
{
    return lockedaccess::copy(m_queueLock, m_files);
}

void QueueManager::setLastError(const QByteArray& text)
{
    lockedaccess::assign(m_statusLock, m_lastError, text);
}

QByteArray QueueManager::lastError() const
{
    return lockedaccess::copy(m_statusLock, m_lastError);
}

QByteArray QueueManager::statusMessage() const
{
    return lockedaccess::copy(m_statusLock, m_statusMessage);
}

QList<QByteArray> QueueManager::presets() const
{
    return lockedaccess::copy(m_statusLock, m_presets);
}

QByteArray QueueManager::lastPreset() const
{
    return lockedaccess::copy(m_statusLock, m_lastPreset);
}

QByteArray QueueManager::apiUrl() const
{
    return lockedaccess::copy(m_statusLock, m_apiUrl);
}

void QueueManager::setOnDestFileAdded(std::function<void(const QByteArray&)> callback)
{
    QMutexLocker queue(&m_queueLock);
    m_onDestFileAdded = std::move(callback);
}

QString QueueManager::stateName(State state)
{
    switch (state) {
    case Initializing: return QStringLiteral("Initializing");
    case Running: return QStringLiteral("Running");
    case Finished: return QStringLiteral("Finished");
    case Error: return QStringLiteral("Error");
    case WaitingForLoginInfo: return QStringLiteral("Waiting For Login Info");
    case GettingPresets: return QStringLiteral("Getting presets");
    default: return QStringLiteral("(Unknown state)");
    }
}

float QueueManager::getCredit() const
{
    qint64 newest = 1000;
    float credit = -1;
    for (const auto& view : m_sessionView) {
        const SessionManager* session = view.load();
        if (!session)
            continue;
        qint64 time = 0;
        float value = -1;
        session->getCredit(time, value);
        if (time > newest) {
            newest = time;
            credit = value;
        }
    }
    return credit;
}

QByteArray QueueManager::serviceNotice() const
{
    for (const auto& view : m_sessionView) {
        const SessionManager* session = view.load();
        const QByteArray notice = session ? session->notice() : QByteArray();
        if (!notice.isEmpty())
            return notice;
    }
    if (m_loginPauseMs > 0)
        return "The service refuses the new log-ins; logging in again after a pause";
    return {};
}

SessionManager* QueueManager::session(int slot) const
{
    return slot >= 0 && slot < kMaxSessions ? m_sessionView[size_t(slot)].load() : nullptr;
}
