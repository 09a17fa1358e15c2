#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class dlgAddMultipleFiles_Wrapper;
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

    FolderScanTick(Settings* settings, QueueManager* queueManager, QWidget* window, Notify notify);
    ~FolderScanTick();
    FolderScanTick(const FolderScanTick&) = delete;
    FolderScanTick& operator=(const FolderScanTick&) = delete;

    // One tick; does nothing while the queue manager has no presets, or while
    // an earlier tick still shows its error box.
    Outcome tick();
    // Without a handoff, scans list audio files only.
    void setVideoHandoff(VideoEnabled enabled, VideoHandoff handoff);

    // The new-files dialogs of the watched folders, one per folder key.
    const std::vector<std::unique_ptr<dlgAddMultipleFiles_Wrapper>>& newFilesDialogs() const
    {
        return m_newFilesDialogs;
    }

private:
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
    std::vector<std::unique_ptr<dlgAddMultipleFiles_Wrapper>> m_newFilesDialogs;
};
