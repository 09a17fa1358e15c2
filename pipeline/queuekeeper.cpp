#include "pipeline/queuekeeper.h"

#include "pipeline/queuemanager.h"
#include "pipeline/queuestore.h"

namespace {

// One number per queued file (id, state and the two local steps' done
// flags) and one per session (file and submitted job): cheap to take, and
// different whenever a change must reach queue.xml at once.
std::vector<qint64> marksOf(const QueueManager& manager)
{
    std::vector<qint64> marks;
    const QList<QueueFile*> files = manager.snapshot();
    marks.reserve(size_t(files.size() + QueueManager::kMaxSessions));
    for (const QueueFile* file : files) {
        const qint64 steps = (file->preProcessingDone() ? 1 : 0) | (file->postProcessingDone() ? 2 : 0);
        marks.push_back((qint64(file->fileId) << 8) | (qint64(file->getState()) << 2) | steps);
    }
    for (int slot = 0; slot < QueueManager::kMaxSessions; ++slot) {
        if (const SessionManager* session = manager.session(slot))
            marks.push_back((qint64(session->currentFileId()) << 32) | quint32(session->submittedJobId()));
    }
    return marks;
}

} // namespace

QueueKeeper::QueueKeeper(const QueueManager& manager, const QString& path)
    : m_manager(manager), m_saver(path)
{
    m_timer.setInterval(kWatchIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &QueueKeeper::watch);
}

QueueKeeper::~QueueKeeper()
{
    m_timer.stop();
}

void QueueKeeper::start()
{
    m_sinceCheck.start();
    m_timer.start();
}

void QueueKeeper::watch()
{
    std::vector<qint64> marks = marksOf(m_manager);
    const bool urgent = marks != m_lastMarks;
    if (!urgent && m_sinceCheck.isValid() && m_sinceCheck.elapsed() < kIntervalMs)
        return;
    m_lastMarks = std::move(marks);
    saveChanges();
}

void QueueKeeper::saveChanges()
{
    m_sinceCheck.start();
    QList<StoredFile> files = queuestore::take(m_manager);
    QList<StoredRecord> records = m_records ? m_records() : QList<StoredRecord>();
    if (m_savedOnce && files == m_lastSaved && records == m_lastRecords)
        return;
    m_lastSaved = files;
    m_lastRecords = records;
    m_savedOnce = true;
    ++m_saves;
    m_saver.save(std::move(files), std::move(records));
}

void QueueKeeper::saveNow()
{
    saveChanges();
    m_saver.flush();
}
