#include "driver/errorretries.h"

#include "driver/queuecommands.h"
#include "pipeline/queuefile.h"
#include "pipeline/sessionmanager.h"
#include "settings/naming.h"

#include <QSet>

ErrorRetries::Cause ErrorRetries::causeOf(const QueueFile& file)
{
    if (file.getState() != QueueFileState::Error || !file.retryable())
        return Cause::None;
    const QByteArray message = file.errorMessage();
    if (message == SessionManager::kInsufficientCredit)
        return Cause::Credit;
    if (message == naming::folderNotWritableText())
        return Cause::OutputFolder;
    // A job kept after its requests failed for too long, one the service
    // answered 404 for, or an upload the service never took during an
    // outage longer than the retry limit.
    if (file.resumeJobId.load() > 0 || message.startsWith("404") || message.startsWith(SessionManager::kUnreachable))
        return Cause::Service;
    return Cause::None;
}

ErrorRetries::ErrorRetries(QueueCommands& commands)
    : m_commands(commands)
{
}

int ErrorRetries::retryAll(const QList<QueueFile*>& files)
{
    int count = 0;
    for (const QueueFile* file : files) {
        if (causeOf(*file) != Cause::None && m_commands.resubmit(file->fileId))
            ++count;
    }
    return count;
}

void ErrorRetries::tick(const QList<QueueFile*>& files, float credit, bool serviceUp)
{
    m_creditRose = m_creditRose || (m_credit >= 0 && credit > m_credit);
    m_credit = credit;
    bool creditWaits = false;
    QSet<int> present;
    for (const QueueFile* file : files) {
        present.insert(file->fileId);
        const Cause cause = causeOf(*file);
        if (cause == Cause::None)
            continue;
        RetryBackoff& backoff = m_backoffs[file->fileId];
        if (!backoff.due() || !cleared(*file, cause, serviceUp)) {
            creditWaits = creditWaits || cause == Cause::Credit;
            continue;
        }
        backoff.failed();
        m_commands.resubmit(file->fileId);
    }
    if (!creditWaits)
        m_creditRose = false;
    for (auto backoff = m_backoffs.begin(); backoff != m_backoffs.end();) {
        if (present.contains(backoff.key()))
            ++backoff;
        else
            backoff = m_backoffs.erase(backoff);
    }
}

bool ErrorRetries::cleared(const QueueFile& file, Cause cause, bool serviceUp) const
{
    switch (cause) {
    case Cause::Credit:
        return m_creditRose;
    case Cause::OutputFolder:
        return naming::destinationRefusal(QString::fromUtf8(file.lockedDestFile())).isEmpty();
    case Cause::Service:
        return serviceUp;
    case Cause::None:
        break;
    }
    return false;
}
