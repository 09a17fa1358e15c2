#pragma once

#include "pipeline/storedfile.h"

#include <QList>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

// Writes queue.xml on a thread of its own, so that neither building the XML
// nor the disk ever holds up the GUI thread. save() hands over a copy of
// the queue and returns at once; when several copies arrive while one is
// being written, only the newest is written next. The thread is joined by
// the destructor, after the last copy has been written.
class QueueSaver final {
public:
    explicit QueueSaver(QString path);
    ~QueueSaver();
    QueueSaver(const QueueSaver&) = delete;
    QueueSaver& operator=(const QueueSaver&) = delete;

    void save(QList<StoredFile> files);
    // Waits until every copy handed over so far is on disk.
    void flush();
    // Copies written so far; for tests and benchmarks.
    int writes() const;

private:
    void run();

    const QString m_path;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    QList<StoredFile> m_pending;
    bool m_hasPending = false;
    bool m_writing = false;
    bool m_stop = false;
    int m_writes = 0;
    std::thread m_thread;
};
