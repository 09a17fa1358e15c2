#pragma once

#include <QString>

#include <atomic>
#include <thread>

// A move of a file to another file system, done off the GUI thread: a
// worker copies the source to "<target>.part" in blocks; once isDone(),
// finish() (on the owner's thread) renames the complete copy to the target
// and removes the source, so the target name never shows half a file and
// appears at a moment the owner chooses. Destroying an unfinished move stops
// the copy, joins the worker and removes the partial copy; the source stays.
class FileMove final {
public:
    FileMove(const QString& source, const QString& target);
    ~FileMove();
    FileMove(const FileMove&) = delete;
    FileMove& operator=(const FileMove&) = delete;

    bool isDone() const { return m_done.load(); }
    // The target, or an empty text when the copy or the rename failed. Only once isDone().
    QString finish();

    static QString partialName(const QString& target);

private:
    void copy();

    const QString m_source;
    const QString m_target;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_copied{false};
    bool m_renamed = false;   // owner's thread only
    std::thread m_worker;
};
