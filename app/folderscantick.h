#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class dlgAddMultipleFiles_Wrapper;
class FolderWatcher;
class QueueManager;
class QWidget;
class ScanPath;
class Settings;

// One line of the "Error adding files" box: "\nFile: <source>\n- <reason>".
QString refusalText(const QString& source, const QByteArray& reason);

// The main window's folder-scanner tick: collects answered new-files
// dialogs, scans every enabled watched folder, queues new files at once or
// offers them in their folder's new-files dialog, reports what was added
// and what was refused, and shows the dialogs that have files to offer.
// Runs on the GUI thread and works on the settings' own folder records.
//
// Folders are watched for changes as well: a change scans its folder a
// moment later through the same code, and a folder with files still being
// written is looked at again every kRelookMs until they are complete. The
// one-second tick remains the fallback for folders that cannot be watched
// (network drives, the system's watch limit) and skips a watched folder that
// has not changed, so an idle folder costs no listing.
class FolderScanTick {
public:
    // Shows a tray message (title, text).
    using Notify = std::function<void(const QString&, const QString&)>;

    struct Outcome {
        QString addedFiles; // one file name and a line feed per quick-added file
        QString errors;     // "\nFile: <source>\n- <reason>" per refused file
    };

    // Whether video files are looked for; a video found is handed over.
    using VideoEnabled = std::function<bool()>;
    using VideoHandoff = std::function<void(const QString&)>;
    static constexpr int kRelookMs = 200;

    FolderScanTick(Settings* settings, QueueManager* queueManager, QWidget* window, Notify notify);
    ~FolderScanTick();
    FolderScanTick(const FolderScanTick&) = delete;
    FolderScanTick& operator=(const FolderScanTick&) = delete;

    // One tick; does nothing while the queue manager has no presets, or while
    // an earlier tick still shows its error box.
    Outcome tick();
    // Without a handoff, scans list audio files only.
    void setVideoHandoff(VideoEnabled enabled, VideoHandoff handoff);
    // Called once per tick or scan that queued files, before any message.
    void setOnQueued(std::function<void()> onQueued);
    // Scans the folders that changed or hold files still being written.
    Outcome scanChanged();
    // Change notification of the folders; setEnabled(false) leaves the tick alone.
    FolderWatcher& watcher() const { return *m_watcher; }

    // The new-files dialogs of the watched folders, one per folder key.
    const std::vector<std::unique_ptr<dlgAddMultipleFiles_Wrapper>>& newFilesDialogs() const
    {
        return m_newFilesDialogs;
    }

private:
    enum class Pass { Poll, Changes };
    Outcome run(Pass pass);
    bool wantsScan(const ScanPath& folder, Pass pass) const;
    // The folders that hold the client's own outputs (path keys).
    QSet<QString> outputFolders() const;
    void queueAnsweredDialogs(QString& errors);
    void scanFolder(int index, const QList<QByteArray>& presets, Outcome& outcome);
    void quickAdd(int index, const QString& file, Outcome& outcome);
    void offerInDialog(const ScanPath& folder, const QString& file, const QList<QByteArray>& presets);
    void showPendingDialogs();
    dlgAddMultipleFiles_Wrapper& dialogFor(const ScanPath& folder);
    const ScanPath* folderOfDialog(const QString& folderKey) const;
    // The folder record at `index`, fetched again after every call that may
    // have changed the settings' list storage (the queue manager's
    // destination handler works on the same list).
    ScanPath& folderAt(int index) const;

    Settings* m_settings;
    QueueManager* m_queueManager;
    QWidget* m_window;
    Notify m_notify;
    bool m_running = false;
    VideoEnabled m_videoEnabled;
    VideoHandoff m_videoHandoff;
    std::function<void()> m_onQueued;
    bool m_queued = false;
    std::unique_ptr<FolderWatcher> m_watcher;
    QTimer m_relook;
    std::vector<std::unique_ptr<dlgAddMultipleFiles_Wrapper>> m_newFilesDialogs;
};
