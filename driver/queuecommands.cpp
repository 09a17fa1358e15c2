#include "driver/queuecommands.h"

#include "driver/fileactions.h"
#include "driver/localsteps.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuemanager.h"
#include "settings/naming.h"

#include <QDir>
#include <QFileInfo>

QueueCommands::QueueCommands(QueueManager& queueManager, std::function<void()> requestCycle,
                             std::function<void(QueueFile&)> abandonLocalJobs)
    : m_queueManager(queueManager)
    , m_requestCycle(std::move(requestCycle))
    , m_abandonLocalJobs(std::move(abandonLocalJobs))
{
}

std::optional<Refusal> QueueCommands::queueFile(const FileRequest& request)
{
    const QString destination
        = QDir::toNativeSeparators(naming::expandNameTemplateInPath(request.destination, request.preset));
    const QByteArray refusal = naming::destinationRefusal(destination);
    if (!refusal.isEmpty())
        return Refusal{Refusal::Reason::Destination, request.source, destination, refusal};
    if (!m_queueManager.addFileToQueue(request.source, kAddedByHandPriority, destination, request.preset.toUtf8(),
                                       request.options))
        return Refusal{Refusal::Reason::Queue, request.source, destination, m_queueManager.lastError()};
    cycleSoon();
    return std::nullopt;
}

QList<Refusal> QueueCommands::queueFiles(const QList<FileRequest>& requests)
{
    QList<Refusal> refusals;
    for (const FileRequest& request : requests) {
        if (const std::optional<Refusal> refusal = queueFile(request))
            refusals.append(*refusal);
    }
    return refusals;
}

bool QueueCommands::resubmit(int fileId)
{
    QueueFile* file = m_queueManager.findFile(fileId);
    if (!file)
        return false;
    const QueueFileState state = file->getState();
    const bool allowed = state == QueueFileState::Canceled || (state == QueueFileState::Error && file->retryable());
    if (!allowed)
        return false;
    LocalSteps::resetForResubmit(*file);
    file->setErrorMessage(QByteArray());
    if (!file->compareAndSetState(state, QueueFileState::Waiting))
        return false;
    cycleSoon();
    return true;
}

int QueueCommands::resubmitFailed()
{
    int count = 0;
    for (const QueueFile* file : m_queueManager.snapshot()) {
        if (file->getState() == QueueFileState::Error && resubmit(file->fileId))
            ++count;
    }
    return count;
}

bool QueueCommands::cancel(int fileId)
{
    QueueFile* file = m_queueManager.findFile(fileId);
    if (!file)
        return false;
    const QueueFileState state = file->getState();
    if (!fileActions(state, file->retryable()).cancel || !file->compareAndSetState(state, QueueFileState::Error))
        return false;
    file->setErrorMessage(kCancelledText);
    file->setDetails(QByteArray());
    file->setRetryable(true);
    if (m_abandonLocalJobs)
        m_abandonLocalJobs(*file);
    cycleSoon();
    return true;
}

QString QueueCommands::originalSource(int fileId) const
{
    const QueueFile* file = m_queueManager.findFile(fileId);
    if (!file)
        return QString();
    return QString::fromUtf8(file->originalSourceFile.isEmpty() ? file->srcFile : file->originalSourceFile);
}

std::optional<Refusal> QueueCommands::submitWithAnotherPreset(int fileId, FileRequest request)
{
    const QueueFile* file = m_queueManager.findFile(fileId);
    if (!file || file->getState() != QueueFileState::Done)
        return Refusal{Refusal::Reason::Queue, request.source, QString(), QByteArrayLiteral("The file is not done")};
    request.options = file->options;
    return queueFile(request);
}

bool QueueCommands::remove(int fileId)
{
    if (!m_queueManager.findFile(fileId))
        return false;
    m_queueManager.removeFile(fileId);
    return true;
}

QList<int> QueueCommands::clearFinished()
{
    return m_queueManager.removeFinishedFiles();
}

bool QueueCommands::togglePause(int fileId)
{
    if (m_queueManager.pauseFile(fileId))
        return true;
    if (!m_queueManager.resumeFile(fileId))
        return false;
    cycleSoon();
    return true;
}

bool QueueCommands::moveUp(int fileId)
{
    return m_queueManager.moveFile(fileId, -1);
}

bool QueueCommands::moveDown(int fileId)
{
    return m_queueManager.moveFile(fileId, 1);
}

QList<QueueFile*> QueueCommands::files() const
{
    return m_queueManager.snapshot();
}

QueueFile* QueueCommands::file(int fileId) const
{
    return m_queueManager.findFile(fileId);
}

FileActions QueueCommands::actionsFor(const QueueFile& file) const
{
    return fileActions(file.getState(), file.retryable());
}

void QueueCommands::cycleSoon() const
{
    if (m_requestCycle)
        m_requestCycle();
}

QList<FileRequest> QueueCommands::videoSoundRequests(const QList<QUrl>& sounds, const QList<QUrl>& videos) const
{
    QList<FileRequest> requests;
    const QString preset = QString::fromUtf8(m_queueManager.lastPreset());
    for (qsizetype i = 0; i < sounds.size(); ++i) {
        const QString sound = QDir::toNativeSeparators(sounds.at(i).toLocalFile());
        if (sound.isEmpty() || !QFileInfo(sound).isFile())
            continue;
        const QString video = i < videos.size() ? videos.at(i).toLocalFile() : QString();
        requests.append({sound, proposedDestination(video.isEmpty() ? sound : video, QStringLiteral("wav")), preset,
                         ProcessingOptions()});
    }
    return requests;
}

QString QueueCommands::proposedDestination(const QString& namingPath, const QString& extension)
{
    const QFileInfo info(namingPath);
    return QDir::toNativeSeparators(info.absolutePath() + QLatin1Char('/') + info.baseName()
                                    + QStringLiteral(" - {presetName}.") + extension);
}
