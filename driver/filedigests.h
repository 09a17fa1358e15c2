#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// The MD5 digests of new files in watched folders, read on a worker
// thread so that a large file never holds up the thread that scans. The
// scan asks for a file's digest: the first time it gets none and the file
// is read in the background; once read, the next scan gets it, as long as
// the file's size and modification time are still those it was read with
// (otherwise it is read again). A digest is handed out once and then
// forgotten, so the table only holds files between two scans.
//
// Small files are read at once on the asking thread, up to a budget per
// round of scans: a handful of short takes needs no second look, and a
// folder of many files still never holds the scan up for long.
class FileDigests {
public:
    FileDigests();
    // Ends the file being read at its next block and joins the worker.
    ~FileDigests();
    FileDigests(const FileDigests&) = delete;
    FileDigests& operator=(const FileDigests&) = delete;

    // Files up to this size are read at once while the round's budget lasts.
    static constexpr qint64 kInlineBytes = 4 * 1024 * 1024;
    static constexpr qint64 kInlineBudgetBytes = 16 * 1024 * 1024;

    // A new round of scans: the budget for reading at once is full again.
    void startRound() { m_inlineBudget = kInlineBudgetBytes; }
    // The file's digest (hex), or empty while it is being read or could not be.
    QByteArray digestOf(const QString& path);
    // Files asked for whose digest is not handed out yet.
    int pending() const;

private:
    struct Entry {
        qint64 size = -1;
        QDateTime modified;
        QByteArray digest;
        bool read = false;
    };

    void loop();
    // Reads the whole file in blocks; empty when it fails or the digests end.
    QByteArray digest(const QString& path) const;

    // The asking thread's own.
    qint64 m_inlineBudget = kInlineBudgetBytes;

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    QHash<QString, Entry> m_entries;
    std::deque<QString> m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};
