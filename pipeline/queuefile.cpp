#include "pipeline/queuefile.h"

#include "audio/postprocessing.h"
#include "audio/preprocessing.h"
#include "pipeline/lockedaccess.h"

#include <QString>

#include <stdexcept>

namespace {

std::atomic<int> nextFileId{2000};

// The last 10 characters of a path (whole when shorter), cut on character
// boundaries so that a UTF-8 sequence is never split.
QByteArray pathTail(const QByteArray& path)
{
    return QString::fromUtf8(path).right(10).toUtf8();
}

} // namespace

QueueFile::QueueFile(const QByteArray& presetNameValue)
    : fileId(nextFileId++), presetName(presetNameValue)
{
}

QueueFile::~QueueFile() = default;

void QueueFile::setOriginalSourceFile(const QByteArray& path)
{
    if (!originalSourceFile.isEmpty())
        throw std::runtime_error("original source file already set");
    originalSourceFile = path;
}

void QueueFile::setSrcFile(const QByteArray& path)
{
    lockedaccess::assign(m_lock, srcFile, path);
}

void QueueFile::setDestFile(const QByteArray& path)
{
    lockedaccess::assign(m_lock, destFile, path);
}

QByteArray QueueFile::lockedSrcFile() const
{
    return lockedaccess::copy(m_lock, srcFile);
}

QByteArray QueueFile::lockedDestFile() const
{
    return lockedaccess::copy(m_lock, destFile);
}

void QueueFile::setResultPath(const QByteArray& path)
{
    lockedaccess::assign(m_lock, m_resultPath, path);
}

void QueueFile::adoptResultPath()
{
    QMutexLocker lock(&m_lock);
    if (!m_resultPath.isEmpty())
        destFile = m_resultPath;
    m_resultPath.clear();
}

QByteArray QueueFile::resultPath() const
{
    return lockedaccess::copy(m_lock, m_resultPath);
}

QueueFileState QueueFile::getState() const
{
    return lockedaccess::copy(m_lock, m_state);
}

void QueueFile::setState(QueueFileState state)
{
    QMutexLocker lock(&m_lock);
    setStateLocked(state);
}

bool QueueFile::compareAndSetState(QueueFileState expected, QueueFileState next)
{
    QMutexLocker lock(&m_lock);
    if (m_state != expected)
        return false;
    setStateLocked(next);
    return true;
}

void QueueFile::setStateLocked(QueueFileState state)
{
    if (state == QueueFileState::PreProcessing)
        m_preProcessingDone = false;
    if (state == QueueFileState::PostProcessing)
        m_postProcessingDone = false;
    if (state != m_state)
        m_progress = FileProgress();
    m_state = state;
}

QByteArray QueueFile::stateName() const
{
    return stateName(getState());
}

QByteArray QueueFile::stateName(QueueFileState state)
{
    switch (state) {
    case QueueFileState::Waiting: return "Waiting";
    case QueueFileState::Paused: return "Paused";
    case QueueFileState::PreProcessing: return "Pre processing";
    case QueueFileState::Running: return "Running";
    case QueueFileState::PostProcessing: return "Post processing";
    case QueueFileState::Done: return "Done";
    case QueueFileState::Error: return "Error";
    case QueueFileState::Canceled: return "Canceled";
    }
    return "Unknown State";
}

QByteArray QueueFile::errorMessage() const
{
    return lockedaccess::copy(m_lock, m_errorMessage);
}

void QueueFile::setErrorMessage(const QByteArray& text)
{
    lockedaccess::assign(m_lock, m_errorMessage, text);
}

QByteArray QueueFile::details() const
{
    return lockedaccess::copy(m_lock, m_details);
}

void QueueFile::setDetails(const QByteArray& text)
{
    lockedaccess::assign(m_lock, m_details, text);
}

bool QueueFile::retryable() const
{
    return lockedaccess::copy(m_lock, m_retryable);
}

void QueueFile::setRetryable(bool flag)
{
    lockedaccess::assign(m_lock, m_retryable, flag);
}

FileProgress QueueFile::progress() const
{
    return lockedaccess::copy(m_lock, m_progress);
}

void QueueFile::setProgress(const FileProgress& progress)
{
    lockedaccess::assign(m_lock, m_progress, progress);
}

QByteArray QueueFile::toString() const
{
    QMutexLocker lock(&m_lock);
    return "File ID: " + QByteArray::number(fileId) + " Session ID: " + QByteArray::number(sessionId.load())
        + " details: " + m_details + " state: " + QByteArray::number(int(m_state)) + " srcfile: "
        + pathTail(srcFile) + " destfile: " + pathTail(destFile) + " errorMessage: " + m_errorMessage;
}

void QueueFile::setResumeJobCreated(const QByteArray& created)
{
    QMutexLocker lock(&m_lock);
    m_resumeJobCreated = created;
}

QByteArray QueueFile::resumeJobCreated() const
{
    QMutexLocker lock(&m_lock);
    return m_resumeJobCreated;
}
