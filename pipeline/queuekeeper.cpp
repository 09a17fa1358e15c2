#include "pipeline/queuekeeper.h"

#include "pipeline/queuestore.h"

QueueKeeper::QueueKeeper(const QueueManager& manager, const QString& path)
    : m_manager(manager), m_saver(path)
{
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &QueueKeeper::check);
}

QueueKeeper::~QueueKeeper()
{
    m_timer.stop();
}

void QueueKeeper::start()
{
    m_timer.start();
}

void QueueKeeper::check()
{
    QList<StoredFile> files = queuestore::take(m_manager);
    if (m_savedOnce && files == m_lastSaved)
        return;
    m_lastSaved = files;
    m_savedOnce = true;
    m_saver.save(std::move(files));
}

void QueueKeeper::saveNow()
{
    check();
    m_saver.flush();
}
