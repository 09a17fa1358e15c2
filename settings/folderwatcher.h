#pragma once

#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

// Change notification for the watched folders (inotify on Linux, the
// directory-change API on Windows). Each watched folder is known by its
// path and covers a set of directories (the folder, and for a recursive
// folder its subfolders). A change in any of them marks the folder changed
// and, a moment later so that a burst of changes makes one signal, emits
// changed(). The folder scanner then scans the changed folders; it also
// keeps polling every folder that is not watched here. Lives on the GUI
// thread; never lists a folder itself.
class FolderWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FolderWatcher)

public:
    // How long after the first change of a burst changed() is emitted.
    static constexpr int kSettleMs = 20;
    // Directory watches of all folders together, well below the system's
    // limit (inotify allows 8,192 to 1,000,000 per user): the directories of
    // a folder beyond it are not watched and the folder is polled instead.
    static constexpr int kDefaultMaxDirectoryWatches = 8192;

    explicit FolderWatcher(QObject* parent = nullptr);
    ~FolderWatcher() override;

    // Off: nothing is watched and every folder counts as not watched, so
    // the scanner falls back to polling.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    // Watches exactly `directories` for `folder`; true when all of them could
    // be watched. A folder that cannot be watched in full is not watched.
    bool watch(const QString& folder, const QStringList& directories);
    // Stops watching every folder not in `folders`.
    void keepOnly(const QStringList& folders);
    // Whether change notification covers the whole folder.
    bool isWatched(const QString& folder) const;
    // Whether a change was seen since the last takeChanged of the folder;
    // clears the mark.
    bool takeChanged(const QString& folder);
    bool hasChanged(const QString& folder) const;
    // Why the folder is polled though it was to be watched (the limit of
    // directory watches was reached); empty otherwise.
    QString warning(const QString& folder) const;

    void setMaxDirectoryWatches(int count) { m_maxDirectoryWatches = count; }
    // Directories watched now, of all folders.
    int directoryWatches() const { return int(m_owners.size()); }

signals:
    void changed();

private:
    void onDirectoryChanged(const QString& directory);
    void unwatch(const QString& folder);

    struct Watch {
        QStringList directories;
        bool complete = false;
        bool changed = false;
        // A directory of it was removed; the system watch on it is gone.
        bool stale = false;
        QString warning;
    };
    bool m_enabled = true;
    int m_maxDirectoryWatches = kDefaultMaxDirectoryWatches;
    QFileSystemWatcher m_watcher;
    QHash<QString, Watch> m_folders;       // by folder path key
    QHash<QString, QSet<QString>> m_owners; // directory key -> folder keys
    QTimer m_settle;
};
