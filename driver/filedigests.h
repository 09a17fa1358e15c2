#pragma once

#include "settings/newfileread.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// New files of watched folders, read on a worker thread so that a large
// file never holds up the thread that scans. Each file is read once: its
// WAV header is judged on the open file, then the file is hashed. The scan
// asks for a file: the first time it gets nothing and the file is read in
// the background; the header's verdict is there as soon as it is judged,
// the digest once the file is read, as long as the file's size and
// modification time are still those it was read with (otherwise it is read
// again). A finished read is handed out once and then forgotten, so the
// table only holds files between two scans.
//
// Every file is read on the worker, however small: the asking thread (the
// window's) reads no file.
class FileDigests {
public:
    FileDigests();
    // Ends the file being read at its next block and joins the worker.
    ~FileDigests();
    FileDigests(const FileDigests&) = delete;
    FileDigests& operator=(const FileDigests&) = delete;

    // Called on the worker thread whenever a file's verdict or digest has
    // come (the scan may then look again). Set before the first ask.
    void setOnProgress(std::function<void()> onProgress) { m_onProgress = std::move(onProgress); }
    // What is known of the file so far (see NewFileRead::of for takeIncomplete).
    NewFileRead readOf(const QString& path, bool takeIncomplete);
    // Files asked for whose read is not handed out yet.
    int pending() const;
    // Whether the worker has files to read or is reading one.
    bool reading() const;

private:
    struct Entry {
        qint64 size = -1;
        QDateTime modified;
        bool takeIncomplete = false;
        NewFileRead read;
        bool reading = false;
    };

    void loop();
    // Whether the entry for `path` still has this stamp (under m_lock).
    bool stampHolds(const QString& path, qint64 size, const QDateTime& modified) const;

    // The asking thread's own.
    std::function<void()> m_onProgress;

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    QHash<QString, Entry> m_entries;
    std::deque<QString> m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};
