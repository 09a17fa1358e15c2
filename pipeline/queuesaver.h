#pragma once

#include "pipeline/storedfile.h"
#include "pipeline/storedrecord.h"
#include "settings/latestjobthread.h"

#include <QList>
#include <QString>

// Writes queue.xml on a thread of its own, so that neither building the XML
// nor the disk ever holds up the GUI thread. save() hands over a copy of
// the queue and returns at once; when several copies arrive while one is
// being written, only the newest is written next. The thread is joined by
// the destructor, after the last copy has been written.
class QueueSaver final {
public:
    explicit QueueSaver(QString path);
    QueueSaver(const QueueSaver&) = delete;
    QueueSaver& operator=(const QueueSaver&) = delete;

    void save(QList<StoredFile> files, QList<StoredRecord> records = {});
    // Waits until every copy handed over so far is on disk.
    void flush();
    // Copies written so far; for tests and benchmarks.
    int writes() const;

private:
    const QString m_path;
    LatestJobThread m_thread;
};
