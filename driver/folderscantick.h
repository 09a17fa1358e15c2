#pragma once

#include "driver/queuecommands.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class FileDigests;
class FolderWatcher;
class NewFilesOffer;
class QueueManager;
class ScanPath;
class Settings;

// One line of the "Error adding files" box: "\nFile: <source>\n- <reason>".
QString refusalText(const QString& source, const QByteArray& reason);

// The driver's folder-scanner tick: collects answered new-files offers,
// scans every enabled watched folder, queues new files at once or offers
// them to a person (the window's new-files dialogs), reports what was added
// and what was refused, and shows the offers that have files. Without an
// offer (no one to ask) a folder that asks first is quick-added with its own
// preset, which the log says once per folder. Runs on the main thread and
// works on the settings' own folder records.
//
// Folders are watched for changes as well: a change scans its folder a
// moment later through the same code, and a folder with files still being
// written is looked at again every kRelookMs until they are complete. The
// one-second tick remains the fallback for folders that cannot be watched
// (network drives, the system's watch limit) and skips a watched folder that
// has not changed, so an idle folder costs no listing.
//
// A scan looks at a folder's new files for at most kScanBudgetMs; the rest
// wait for the next scan. Scans started by changes keep a pause of
// kPauseFactor times the last scan's length after it, so that a folder
// into which hundreds of files arrive leaves the event loop free most of
// the time, while a quick scan is followed at once.
class FolderScanTick {
public:
    // Tells the sources of the files quick-added in one tick.
    using ReportQueued = std::function<void(const QStringList& sources)>;
    // Reports the files that could not be queued in one tick.
    using ReportRefusals = std::function<void(const QList<Refusal>& refusals)>;

    struct Outcome {
        QStringList added;        // sources of the quick-added files
        QList<Refusal> refusals; // the files that could not be queued
    };

    // Whether video files are looked for; a video found is handed over.
    using VideoEnabled = std::function<bool()>;
    using VideoHandoff = std::function<void(const QString&)>;
    static constexpr int kRelookMs = 200;
    static constexpr int kScanBudgetMs = 15;
    static constexpr int kPauseFactor = 3;

    // `offer` may be null; the callbacks may be empty.
    FolderScanTick(Settings* settings, QueueManager* queueManager, NewFilesOffer* offer, ReportQueued reportQueued,
                   ReportRefusals reportRefusals);
    ~FolderScanTick();
    FolderScanTick(const FolderScanTick&) = delete;
    FolderScanTick& operator=(const FolderScanTick&) = delete;

    // One tick; does nothing while the queue manager has no presets, or while
    // an earlier tick still reports its refusals (a message box).
    Outcome tick();
    // Without a handoff, scans list audio files only.
    void setVideoHandoff(VideoEnabled enabled, VideoHandoff handoff);
    // Called once per tick or scan that queued files, before any message.
    void setOnQueued(std::function<void()> onQueued);
    // Scans the folders that changed or hold files still being written.
    Outcome scanChanged();
    // Whether new files asked for are still being read (on the digest worker).
    bool readingFiles() const;
    // Change notification of the folders; setEnabled(false) leaves the tick alone.
    FolderWatcher& watcher() const { return *m_watcher; }

private:
    enum class Pass { Poll, Changes };
    Outcome run(Pass pass);
    // A scan of the changes once the pause after the last scan has passed.
    void scanSoon();
    bool wantsScan(const ScanPath& folder, Pass pass) const;
    // The folders that hold the client's own outputs (path keys).
    QSet<QString> outputFolders() const;
    void queueAnswers(QList<Refusal>& refusals);
    void scanFolder(int index, const QList<QByteArray>& presets, Outcome& outcome);
    bool asksFirst(ScanPath& folder, const QList<QByteArray>& presets);
    void quickAdd(int index, const QString& file, Outcome& outcome);
    // The folder record at `index`, fetched again after every call that may
    // have changed the settings' list storage (the queue manager's
    // destination handler works on the same list).
    ScanPath& folderAt(int index) const;

    Settings* m_settings;
    QueueManager* m_queueManager;
    NewFilesOffer* m_offer;
    ReportQueued m_reportQueued;
    ReportRefusals m_reportRefusals;
    bool m_running = false;
    VideoEnabled m_videoEnabled;
    VideoHandoff m_videoHandoff;
    std::function<void()> m_onQueued;
    bool m_queued = false;
    std::unique_ptr<FolderWatcher> m_watcher;
    // Started from the digests' worker, so it outlives them.
    QTimer m_readDone;
    // New files are read for their digests on a worker of its own.
    std::unique_ptr<FileDigests> m_digests;
    QTimer m_relook;
    QTimer m_paced;
    QElapsedTimer m_sinceScan;
    qint64 m_lastScanMs = 0;
    // Folders that ask first, quick-added for want of an offer, once said in the log.
    QSet<QString> m_quickAddedAskingFolders;
};
