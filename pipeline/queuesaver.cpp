#include "pipeline/queuesaver.h"

#include "pipeline/queuestore.h"

#include <utility>

QueueSaver::QueueSaver(QString path)
    : m_path(std::move(path))
{
}

void QueueSaver::save(QList<StoredFile> files, QList<StoredRecord> records)
{
    m_thread.post([path = m_path, files = std::move(files), records = std::move(records)] {
        queuestore::write(path, queuestore::serialise(files, records));
    });
}

void QueueSaver::flush()
{
    m_thread.flush();
}

int QueueSaver::writes() const
{
    return m_thread.runs();
}
