#include "driver/batchprogress.h"

#include "pipeline/queuefile.h"

#include <algorithm>
#include <cmath>

namespace {

bool isActive(QueueFileState state)
{
    return state == QueueFileState::Waiting || state == QueueFileState::PreProcessing
        || state == QueueFileState::Running || state == QueueFileState::PostProcessing;
}

bool isDoneOrError(QueueFileState state)
{
    return state == QueueFileState::Done || state == QueueFileState::Error;
}

// Where each step of the service begins and how much of the way it is.
double serviceShare(const FileProgress& progress)
{
    const double part = progress.percent < 0 ? 0.0 : progress.percent / 100.0;
    switch (progress.step) {
    case FileProgress::Step::Upload: return 0.1 + 0.2 * part;
    case FileProgress::Step::Processing: return 0.3 + 0.5 * part;
    case FileProgress::Step::Download: return 0.8 + 0.1 * part;
    case FileProgress::Step::None: break;
    }
    return 0.1;
}

} // namespace

double BatchProgress::shareDone(const QueueFile& file)
{
    switch (file.getState()) {
    case QueueFileState::Waiting:
    case QueueFileState::Paused: return 0;
    case QueueFileState::PreProcessing: return 0.05;
    case QueueFileState::Running: return serviceShare(file.progress());
    case QueueFileState::PostProcessing: return 0.9;
    case QueueFileState::Done:
    case QueueFileState::Error:
    case QueueFileState::Canceled: return 1;
    }
    return 0;
}

BatchFigures BatchProgress::update(const QList<QueueFile*>& files, qint64 nowMs)
{
    const auto joins = [this](const QueueFile* file) {
        const QueueFileState state = file->getState();
        return isActive(state) || (isDoneOrError(state) && !m_firstLook && !m_seen.contains(file->fileId));
    };
    if (!m_running && std::any_of(files.begin(), files.end(), joins)) {
        m_members.clear();
        m_released.clear();
        m_running = true;
        m_startMs = nowMs;
        m_lastFinishMs = nowMs;
    }
    QSet<int> present;
    for (const QueueFile* file : files) {
        present.insert(file->fileId);
        if (joins(file) || m_members.contains(file->fileId))
            takeIn(*file, nowMs);
        m_seen.insert(file->fileId);
    }
    m_firstLook = false;
    leaveGone(present);
    m_figures = count(nowMs);
    return m_figures;
}

void BatchProgress::released(int fileId)
{
    if (m_members.contains(fileId))
        m_released.insert(fileId);
}

void BatchProgress::takeIn(const QueueFile& file, qint64 nowMs)
{
    const QueueFileState state = file.getState();
    if (!isActive(state) && !isDoneOrError(state)) {
        m_members.remove(file.fileId);
        return;
    }
    Member& member = m_members[file.fileId];
    if (isDoneOrError(state) && !isDoneOrError(member.state))
        m_lastFinishMs = nowMs;
    member.state = state;
    member.share = shareDone(file);
}

void BatchProgress::leaveGone(const QSet<int>& present)
{
    bool anyPresent = false;
    bool anyUnfinished = false;
    for (auto member = m_members.begin(); member != m_members.end();) {
        const bool here = present.contains(member.key());
        if (!here && !(isDoneOrError(member->state) && m_released.contains(member.key()))) {
            m_released.remove(member.key());
            member = m_members.erase(member);
            continue;
        }
        anyPresent = anyPresent || here;
        anyUnfinished = anyUnfinished || !isDoneOrError(member->state);
        ++member;
    }
    m_running = m_running && anyUnfinished;
    if (!m_running && !anyPresent) {
        m_members.clear();
        m_released.clear();
    }
}

BatchFigures BatchProgress::count(qint64 nowMs) const
{
    BatchFigures figures;
    figures.running = m_running;
    figures.total = int(m_members.size());
    double shares = 0;
    for (const Member& member : m_members) {
        shares += member.share;
        figures.finished += isDoneOrError(member.state) ? 1 : 0;
        figures.errors += member.state == QueueFileState::Error ? 1 : 0;
        figures.waiting += member.state == QueueFileState::Waiting ? 1 : 0;
    }
    if (figures.total == 0)
        return figures;
    figures.percent = m_running ? int(std::floor(shares * 100 / figures.total + 1e-9)) : 100;
    if (m_running && figures.finished >= 2) {
        const double perFileMs = double(m_lastFinishMs - m_startMs) / figures.finished;
        const double leftMs = perFileMs * (figures.total - figures.finished) - double(nowMs - m_lastFinishMs);
        figures.secondsLeft = int(std::ceil(std::max(leftMs, 0.0) / 1000));
    }
    return figures;
}
