#include "settings/folderwatcher.h"

#include "settings/platform.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <utility>

FolderWatcher::FolderWatcher(QObject* parent)
    : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &FolderWatcher::changed);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &FolderWatcher::onDirectoryChanged);
}

FolderWatcher::~FolderWatcher() = default;

void FolderWatcher::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (!enabled)
        keepOnly({});
}

bool FolderWatcher::watch(const QString& folder, const QStringList& directories)
{
    if (!m_enabled)
        return false;
    const QString key = platform::pathKey(folder);
    auto existing = m_folders.find(key);
    if (existing != m_folders.end() && !existing->stale && existing->directories == directories)
        return existing->complete;
    Watch watch;
    // A change not taken yet stays marked.
    watch.changed = existing != m_folders.end() && existing->changed;
    unwatch(folder);
    watch.directories = directories;
    watch.complete = !directories.isEmpty();
    int unwatched = 0;
    for (const QString& directory : directories) {
        const QString directoryKey = platform::pathKey(directory);
        if (!m_owners.contains(directoryKey) && m_owners.size() >= m_maxDirectoryWatches) {
            ++unwatched;
            continue;
        }
        auto& owners = m_owners[directoryKey];
        if (owners.isEmpty() && !m_watcher.addPath(QDir::fromNativeSeparators(directory))) {
            // Network drives and folders past the system's watch limit are
            // polled instead.
            qDebug() << "Cannot watch" << directory;
            watch.complete = false;
            m_owners.remove(directoryKey);
            continue;
        }
        owners.insert(key);
    }
    if (unwatched > 0) {
        watch.complete = false;
        watch.warning = QStringLiteral("%1 of its %2 folders are not watched (limit of %3 folder watches); "
                                       "the folder is polled instead")
                            .arg(unwatched)
                            .arg(directories.size())
                            .arg(m_maxDirectoryWatches);
        qWarning().noquote() << folder + QStringLiteral(": ") + watch.warning;
    }
    m_folders.insert(key, watch);
    return watch.complete;
}

QString FolderWatcher::warning(const QString& folder) const
{
    const auto found = m_folders.constFind(platform::pathKey(folder));
    return found == m_folders.constEnd() ? QString() : found->warning;
}

void FolderWatcher::unwatch(const QString& folder)
{
    const QString key = platform::pathKey(folder);
    const auto found = m_folders.constFind(key);
    if (found == m_folders.constEnd())
        return;
    for (const QString& directory : found->directories) {
        const QString directoryKey = platform::pathKey(directory);
        auto owners = m_owners.find(directoryKey);
        if (owners == m_owners.end() || !owners->remove(key))
            continue;
        if (owners->isEmpty()) {
            m_watcher.removePath(QDir::fromNativeSeparators(directory));
            m_owners.erase(owners);
        }
    }
    m_folders.remove(key);
}

void FolderWatcher::keepOnly(const QStringList& folders)
{
    QSet<QString> kept;
    for (const QString& folder : folders)
        kept.insert(platform::pathKey(folder));
    const QList<QString> keys = m_folders.keys();
    for (const QString& key : keys) {
        if (!kept.contains(key))
            unwatch(key);
    }
}

bool FolderWatcher::isWatched(const QString& folder) const
{
    const auto found = m_folders.constFind(platform::pathKey(folder));
    return found != m_folders.constEnd() && found->complete;
}

bool FolderWatcher::hasChanged(const QString& folder) const
{
    const auto found = m_folders.constFind(platform::pathKey(folder));
    return found != m_folders.constEnd() && found->changed;
}

bool FolderWatcher::takeChanged(const QString& folder)
{
    const auto found = m_folders.find(platform::pathKey(folder));
    if (found == m_folders.end())
        return false;
    return std::exchange(found->changed, false);
}

void FolderWatcher::onDirectoryChanged(const QString& directory)
{
    const auto owners = m_owners.constFind(platform::pathKey(directory));
    if (owners == m_owners.constEnd())
        return;
    // A removed directory is no longer watched, also when it comes back.
    const bool removed = !QFileInfo(directory).isDir();
    for (const QString& key : *owners) {
        Watch& watch = m_folders[key];
        watch.changed = true;
        watch.stale = watch.stale || removed;
    }
    if (!m_settle.isActive())
        m_settle.start();
}
