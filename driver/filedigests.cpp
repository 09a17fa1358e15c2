#include "driver/filedigests.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr qint64 kBlockBytes = 1024 * 1024;

} // namespace

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

QByteArray FileDigests::digestOf(const QString& path)
{
    const QFileInfo info(path);
    if (info.size() <= kInlineBytes && info.size() <= m_inlineBudget) {
        std::unique_lock<std::mutex> lock(m_lock);
        if (!m_entries.contains(path)) {
            lock.unlock();
            m_inlineBudget -= info.size();
            return digest(path);
        }
    }
    std::lock_guard<std::mutex> lock(m_lock);
    auto entry = m_entries.find(path);
    if (entry != m_entries.end() && entry->size == info.size() && entry->modified == info.lastModified()) {
        if (!entry->read)
            return {};
        const QByteArray digest = entry->digest;
        m_entries.erase(entry);
        return digest;
    }
    // A read under way is not asked for twice: it notices the new stamp
    // when it ends and reads the file again.
    const bool queued = entry != m_entries.end() && !entry->read;
    m_entries.insert(path, Entry{info.size(), info.lastModified(), {}, false});
    if (!queued) {
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
        lock.unlock();
        const QByteArray digest = this->digest(path);
        const QFileInfo after(path);
        lock.lock();
        auto entry = m_entries.find(path);
        if (entry == m_entries.end())
            continue;
        // Changed meanwhile: the scan asked again with the new stamp, which
        // queued nothing because this read was under way.
        if (entry->size != size || entry->modified != modified || after.size() != size
            || after.lastModified() != modified) {
            m_queue.push_back(path);
            continue;
        }
        entry->digest = digest;
        entry->read = true;
    }
}

QByteArray FileDigests::digest(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray block;
    while (!file.atEnd()) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stopping)
                return {};
        }
        block = file.read(kBlockBytes);
        if (block.isEmpty() && file.error() != QFileDevice::NoError)
            return {};
        hash.addData(block);
    }
    return file.error() == QFileDevice::NoError ? hash.result().toHex() : QByteArray();
}
