#pragma once

#include "driver/batchprogress.h"
#include "driver/deleterequests.h"
#include "driver/queuecommands.h"
#include "driver/videotasks.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

#include <memory>
#include <optional>

class CycleRunner;
class ErrorRetries;
class FolderScanTick;
class FrontEnd;
class LocalSteps;
class OutputRegistry;
class QTimer;
class QueueFile;
class QueueKeeper;
class QueueManager;
class ResultEncoding;
class Settings;
class SettingsKeeper;
class videoSupport;

// The run of the engine: what moves a queued file from its folder to its
// results. Starts and ends the engine in its order (saved queue, keepers,
// cycle runner, folder scanner, video queue), runs the queue manager's cycle
// on its runner, the local pre- and post-processing steps, what happens when
// a file finishes (MP3 jobs, the video remux, removal of work files, the
// Done and Error counts), the delete requests, the folder-scan tick and the
// video queue's tick. Talks to a person only through its FrontEnd.
//
// Lives on the main thread; the ticks run on the driver's own timers
// (startTimers), or are called by a test. The settings and the queue
// manager outlive the driver.
class QueueDriver : public QObject {
    Q_OBJECT

public:
    QueueDriver(Settings& settings, QueueManager& queueManager, FrontEnd& frontEnd);
    // Saves queue.xml, then settings.xml, then ends the video queue, the
    // queue manager and the MP3 jobs.
    ~QueueDriver() override;

    // Start-up once the credentials are known: the saved queue comes back
    // (where the front end leaves errors to the driver, its files in Error
    // whose cause can pass are submitted again), the keepers start, the
    // cycle runner and the folder scanner are made.
    void start();
    // The periodic work at its described pace (queue 100 ms, folder scan,
    // delete requests and video queue 1 s).
    void startTimers();

    // Starts a cycle unless one runs, runs the local steps and follows every
    // file's state: finished files are handed on, the counts kept, and
    // "Audio files ready" told once nothing runs.
    void queueTick();
    void folderScanTick();
    void deleteRequestsTick();
    void videoTick();

    // Runs the queue manager's cycle at once (or once more after the current one).
    void requestCycle();
    // The commands and queries on the queue, for both clients.
    QueueCommands& commands() { return m_commands; }
    // Takes up the setup's changes once they are in the settings: the
    // number of files processed at once and the ffmpeg folder (the watched
    // folders are read from the settings at every scan).
    void applySetup();
    // Asks for `path` to be deleted once nothing needs it; any thread.
    void addDeleteRequest(const QString& path);

    // Exist once started.
    FolderScanTick* folderScanner() const { return m_folderScanner.get(); }
    VideoTasks& videoTasks() const { return *m_videoTasks; }
    videoSupport& videoQueue() const { return *m_videoQueue; }
    ResultEncoding& mp3Jobs() const { return *m_mp3Jobs; }
    const OutputRegistry& outputRegistry() const { return *m_outputRegistry; }

private:
    // Invoked by name from the cycle thread: the posted call is then made
    // inside Qt, with no functor of ours written on one thread and read on
    // the other.
    Q_INVOKABLE void afterQueueCycle();
    // Follows every file's state: finished files are handed on, the counts
    // kept, "Audio files ready" told once nothing runs, the queue shown.
    bool runLocalSteps(const QList<QueueFile*>& files);
    void followFiles(const QList<QueueFile*>& files);
    // followFiles now, or once kFollowGapMs have passed since it last ran:
    // cycles that end one after the other in a large batch show the queue
    // a few times a second, not after every one of them.
    void followSoon(const QList<QueueFile*>& files);
    // The sounds of dropped videos, once extracted: proposed, chosen by a
    // person and queued; false when none was queued (the videos are given up).
    bool queueVideoSounds(const QList<QUrl>& sounds, const QList<QUrl>& videos);
    void fileFinished(QueueFile& file);
    void notifyWhenIdle(bool anyRunning);
    // Tells the batch figures when they changed.
    void followBatch(const QList<QueueFile*>& files);
    // Where nobody lists finished files: lets go of the Done files whose
    // MP3s are made, and of the Canceled ones. Error files stay, as
    // queue.xml keeps them to be submitted again.
    void releaseFinalFiles(const QList<QueueFile*>& files);
    // Tells each upload once, and each new wait of a session's failed request.
    void followSessions();
    // Tells when log-ins begin to be held back.
    void followLoginPause();
    VideoTasks::SoundState soundStateOf(const QString& sound) const;
    void saveSettings();

    Settings& m_settings;
    QueueManager& m_queueManager;
    FrontEnd& m_frontEnd;
    static constexpr int kFollowGapMs = 50;
    QList<QTimer*> m_timers;
    QTimer* m_followLater = nullptr;
    QElapsedTimer m_sinceFollow;
    DeleteRequests m_deleteRequests;
    QueueCommands m_commands;
    // The state each queued file was last seen in, by file id.
    QHash<int, int> m_lastStates;
    // Each file's id and state after the last cycle.
    QList<qint64> m_statesAfterCycle;
    // The job each file was last seen to have at the service, by file id.
    QHash<int, int> m_uploads;
    // The files taken up from the saved queue and not yet seen by a tick.
    QSet<int> m_restoredFiles;
    // The last wait of a failed request told, by session slot.
    QHash<int, int> m_retryRounds;
    bool m_loginPaused = false;
    quint32 m_doneCount = 0;
    // Files whose latest outcome is Error since the last "files ready" event.
    QSet<int> m_failedFiles;
    BatchProgress m_batch;
    QElapsedTimer m_batchClock;
    std::optional<BatchFigures> m_shownBatch;
    std::unique_ptr<OutputRegistry> m_outputRegistry;
    std::unique_ptr<LocalSteps> m_localSteps;
    std::unique_ptr<ResultEncoding> m_mp3Jobs;
    std::unique_ptr<videoSupport> m_videoQueue;
    std::unique_ptr<VideoTasks> m_videoTasks;
    std::unique_ptr<CycleRunner> m_cycle;
    // Only where the front end leaves the errors to the driver.
    std::unique_ptr<ErrorRetries> m_errorRetries;
    std::unique_ptr<FolderScanTick> m_folderScanner;
    // queue.xml: the queue kept across restarts.
    std::unique_ptr<QueueKeeper> m_queueKeeper;
    std::unique_ptr<SettingsKeeper> m_settingsKeeper;
};
