#include "pipeline/queuesaver.h"

#include "pipeline/queuestore.h"

#include <utility>

QueueSaver::QueueSaver(QString path)
    : m_path(std::move(path)), m_thread([this] { run(); })
{
}

QueueSaver::~QueueSaver()
{
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void QueueSaver::save(QList<StoredFile> files)
{
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_pending = std::move(files);
        m_hasPending = true;
    }
    m_wake.notify_all();
}

void QueueSaver::flush()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_written.wait(lock, [this] { return !m_hasPending && !m_writing; });
}

int QueueSaver::writes() const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_writes;
}

// Pending copies are written before the thread ends, so that the copy
// handed over at exit always reaches the disk.
void QueueSaver::run()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_hasPending || m_stop; });
        if (!m_hasPending)
            break;
        const QList<StoredFile> files = std::exchange(m_pending, {});
        m_hasPending = false;
        m_writing = true;
        lock.unlock();
        queuestore::write(m_path, queuestore::serialise(files));
        lock.lock();
        m_writing = false;
        ++m_writes;
        m_written.notify_all();
    }
}
