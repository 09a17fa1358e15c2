#include "driver/filedigests.h"

#include <QFileInfo>

#include <algorithm>

FileDigests::FileDigests()
    : m_thread([this] { loop(); })
{
}

FileDigests::~FileDigests()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

NewFileRead FileDigests::readOf(const QString& path, bool takeIncomplete)
{
    const QFileInfo info(path);
    std::lock_guard<std::mutex> lock(m_lock);
    auto entry = m_entries.find(path);
    if (entry != m_entries.end() && entry->size == info.size() && entry->modified == info.lastModified()
        && entry->takeIncomplete == takeIncomplete) {
        const NewFileRead read = entry->read;
        if (read.stage == NewFileRead::Stage::Read || read.stage == NewFileRead::Stage::Failed)
            m_entries.erase(entry);
        return read;
    }
    // A read under way is not asked for twice: it notices the new stamp
    // when it ends and reads the file again.
    const bool queued = entry != m_entries.end() && entry->reading;
    m_entries.insert(path, Entry{info.size(), info.lastModified(), takeIncomplete, {}, queued});
    if (!queued) {
        m_entries[path].reading = true;
        m_queue.push_back(path);
        m_wake.notify_one();
    }
    return {};
}

int FileDigests::pending() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return int(m_entries.size());
}

bool FileDigests::reading() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return std::any_of(m_entries.cbegin(), m_entries.cend(), [](const Entry& entry) { return entry.reading; });
}

bool FileDigests::stampHolds(const QString& path, qint64 size, const QDateTime& modified) const
{
    const auto entry = m_entries.constFind(path);
    return entry != m_entries.constEnd() && entry->size == size && entry->modified == modified;
}

void FileDigests::loop()
{
    std::unique_lock<std::mutex> lock(m_lock);
    while (true) {
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        const QString path = m_queue.front();
        m_queue.pop_front();
        const auto asked = m_entries.constFind(path);
        if (asked == m_entries.constEnd())
            continue;
        const qint64 size = asked->size;
        const QDateTime modified = asked->modified;
        const bool takeIncomplete = asked->takeIncomplete;
        lock.unlock();
        const auto judged = [&](wavheader::Verdict verdict) {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!stampHolds(path, size, modified))
                return;
            Entry& entry = m_entries[path];
            entry.read.stage = NewFileRead::Stage::Judged;
            entry.read.header = verdict;
            if (m_onProgress)
                m_onProgress();
        };
        const auto stopped = [this] {
            std::lock_guard<std::mutex> guard(m_lock);
            return m_stopping;
        };
        const NewFileRead read = NewFileRead::of(path, takeIncomplete, judged, stopped);
        const QFileInfo after(path);
        lock.lock();
        auto entry = m_entries.find(path);
        if (entry == m_entries.end())
            continue;
        // Changed meanwhile: the scan asked again with the new stamp, which
        // queued nothing because this read was under way.
        if (entry->size != size || entry->modified != modified || entry->takeIncomplete != takeIncomplete
            || after.size() != size || after.lastModified() != modified) {
            entry->read = {};
            m_queue.push_back(path);
            continue;
        }
        entry->read = read;
        entry->reading = false;
        if (m_onProgress)
            m_onProgress();
    }
}
