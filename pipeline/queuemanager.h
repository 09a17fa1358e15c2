#pragma once

#include "pipeline/cyclerequests.h"
#include "pipeline/loginpace.h"
#include "pipeline/queuefile.h"
#include "pipeline/sessionmanager.h"
#include "pipeline/tokenmanager.h"
#include "settings/processingoptions.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class Settings;

// Owns the queue of files, the log-in towards the service, the preset list
// and up to four cloud sessions. Its cycle, run periodically, logs in when
// there is no token, loads the presets once, gives each idle session the
// next waiting file and moves the files through their states as the
// sessions report.
//
// Threads. The cycle runs on one thread at a time (the main window's cycle
// runner, or the login dialog's worker at start-up) and is the only place
// that makes network requests. Every other public call returns without
// waiting for it: setCredentials, setApiUrl, logout and enableLogin record
// what is asked (CycleRequests) and the cycle applies it at its next step;
// a log-in request that is running is interrupted by a new request. stop()
// aborts every request first and then joins, with a bound.
//
// Lock order: cycle lock, then queue lock, then a file's lock. A session's
// state mutex may be taken while the cycle lock is held. The destination
// handler (setOnDestFileAdded) runs under the queue lock, so the queue lock
// comes before any lock that handler takes. The status lock (statusMessage,
// lastError, presets, lastPreset, apiUrl) and the requests' lock are leaf
// locks, held only for a copy. The cycle lock is held only by the cycle,
// by createSessions at start-up and by stop(); m_user, m_password, the
// log-in back-off and the token manager's address belong to it.
// state() is atomic and may be read from any thread.
//
// Ownership of the records: the manager owns every QueueFile it created.
// removeFile() takes a record out of the queue but keeps it alive in a list
// of removed records, because the GUI's widgets may still use it; all
// records, queued or removed, are destroyed with the manager, except those
// given up with releaseFile(), which the next cycle destroys. The sessions
// are destroyed by stop() or, at the latest, by the destructor.
class QueueManager {
public:
    // The manager's state; the numbers are bit patterns and stay as they
    // are described: bit 0 (WorkingBit) is set while the cycle works
    // (Running, WaitingForLoginInfo, GettingPresets), bit 10
    // (NotServingBit) while sessions are not served yet.
    enum State : int {
        Initializing = 0,
        Running = 1,
        Stopping = 8,
        Finished = 16,
        Error = 100,
        WaitingForLoginInfo = 1027,
        GettingPresets = 1029,
    };
    static constexpr int WorkingBit = 0x1;
    static constexpr int NotServingBit = 0x400;
    // The cycle works in `state`: it logs in, loads presets or serves.
    static constexpr bool isWorking(State state) { return (state & WorkingBit) != 0; }
    static constexpr bool servesSessions(State state) { return (state & NotServingBit) == 0; }
    static constexpr int kMaxSessions = 4;
    // How long stop() waits for a running cycle and for each session.
    static constexpr int kStopTimeoutMs = 10000;
    // Shows a message box with title and text; installed by the application.
    using MessageHandler = std::function<void(const QString& title, const QString& text)>;

    QueueManager();
    ~QueueManager();
    QueueManager(const QueueManager&) = delete;
    QueueManager& operator=(const QueueManager&) = delete;

    // The handler that shows the manager's one message box. Without one the
    // text goes to the log only.
    void setMessageHandler(MessageHandler handler);
    // Start-up: settings, version-check URL and API address, the client
    // library check and one session. Shows "Error loading token lib" through
    // the message handler and returns false if the check fails.
    bool init(Settings* settings);
    // Creates min(count, 4) sessions and starts their threads. Throws
    // std::runtime_error when called a second time.
    bool createSessions(const QByteArray& apiUrl, int count);
    // How many sessions take new files (1 to 4); any thread. The next cycle
    // starts the sessions that are missing. Above a smaller number, a session
    // that holds a file finishes it and then takes no new one; it stays idle
    // (and is used again if the number grows) until the manager stops.
    void setParallelJobs(int count);
    int parallelJobs() const { return m_sessionLimit; }
    // Takes effect at the next cycle; apiUrl() returns the new address and
    // the token of the old one is dropped at once.
    void setApiUrl(const QByteArray& url);
    // Takes effect at the next cycle, which tries to log in at once.
    void setCredentials(const QByteArray& user, const QByteArray& password);
    // Allows log-ins again and lets the next cycle try at once.
    void enableLogin();
    // False from logout() until enableLogin().
    bool loginEnabled() const { return m_tokens.isEnabled(); }
    // Drops the token and stops log-ins at once; the next cycle puts the
    // files that were being uploaded or polled back to Waiting. Local steps
    // finish, and a result being downloaded or already downloaded is taken.
    void logout();
    // One pass; true if any session thread runs.
    bool cycle(bool pause, bool verbose);
    void stop();

    // Returns the new record, or null with the reason in lastError().
    QueueFile* addFileToQueue(const QString& src, int priority, const QString& dest, const QByteArray& presetName,
                              const ProcessingOptions& options);
    QueueFile* addFileToQueue(const QByteArray& src, int priority, const QByteArray& dest,
                              const QByteArray& presetName, const ProcessingOptions& options);
    // Appends a record taken up again after a restart as it is (no new
    // destination name) and reports its destination like addFileToQueue.
    QueueFile* restoreFile(std::unique_ptr<QueueFile> file);
    void removeFile(int fileId);
    // Takes the file out of the queue for good: its record is destroyed at
    // the start of the next cycle, which no pointer from an earlier cycle
    // outlives. Only for a file nobody shows or follows any more.
    void releaseFile(int fileId);
    // Takes every finished file (Done, Error, Canceled) out of the queue in
    // one pass; their ids in queue order.
    QList<int> removeFinishedFiles();
    // Queue control. A Waiting file is paused: the cycle hands it to no
    // session until it is resumed, which puts it back to Waiting. Each is
    // one compare-and-set; false when the file is gone or no longer in the
    // state the change starts from (a session may have taken it meanwhile).
    bool pauseFile(int fileId);
    bool resumeFile(int fileId);
    // Moves a Waiting or Paused file one place towards the front of the
    // queue (places < 0) or the back (places > 0): it swaps places with the
    // nearest file on that side that is not finished (Done, Error and
    // Canceled files keep their places and are passed over). The list order
    // is the order in which the cycle takes Waiting files. False when the
    // file cannot move (gone, in another state, or first or last already).
    bool moveFile(int fileId, int places);
    QueueFile* findFile(int fileId) const;
    bool findFile(int fileId, QueueFile*& out) const;
    QueueFile* findByDestFile(const QByteArray& path) const;
    QList<QueueFile*> snapshot() const;

    QByteArray lastError() const;
    QByteArray statusMessage() const;
    State state() const { return m_state; }
    static QString stateName(State state);
    bool hasToken() const { return m_tokens.hasToken(); }
    QList<QByteArray> presets() const;
    QByteArray lastPreset() const;
    QByteArray apiUrl() const;
    void setOnDestFileAdded(std::function<void(const QByteArray&)> callback);
    // Called on a session's thread when the session has something for the
    // cycle or for queue.xml (a job submitted, a result ready, an error), so
    // that it is taken up at once; any thread may set or clear it.
    void setOnSessionReady(std::function<void()> callback);
    // Why the work cannot go on for now, for the status bar (presets that
    // cannot be read, a log-in the service keeps refusing); empty if none.
    QByteArray serviceNotice() const;
    // While log-ins are held back because the service refused the last
    // token at once: how long the next one still waits; 0 otherwise.
    qint64 loginPauseMs() const { return m_loginPauseMs; }
    // The credit of the most recent finished job of any session, -1 if none.
    float getCredit() const;

    // The session in a slot, or null; for tests and diagnostics.
    SessionManager* session(int slot) const;
    int sessionCount() const { return m_sessionCount; }

private:
    void applyRequests();
    void applyLogout();
    void logIn(bool verbose);
    bool loginDue();
    void loadPresets(bool verbose);
    // Without serving, only the steps that need no request are taken: a
    // downloaded result, a failed session, a failed pre-processing.
    void serveSessions(bool pause, bool verbose, bool serving);
    // `accepting`: the session may take a new file.
    void serveSession(SessionManager& session, int sessionState, bool serving, bool accepting);
    // Makes and starts the session of an empty slot; false when its thread
    // did not start.
    bool startSession(int slot);
    // Starts the sessions missing below the number asked for.
    void growSessions();
    void assignWaitingFile(SessionManager& session);
    static QByteArray startRefusal(const QueueFile& file);
    void resumeJob(SessionManager& session, QueueFile& file);
    void handOverPreProcessed(SessionManager& session, bool serving);
    void takeResult(SessionManager& session);
    void takeError(SessionManager& session);
    // A lost upload answer: the file waits and is uploaded once more.
    bool requeueAfterLostAnswer(SessionManager& session, QueueFile& file);
    void followProgress(SessionManager& session);
    void printSessions(int slot, SessionManager& session) const;
    void printFiles() const;
    bool anySessionRunning() const;
    QByteArray uniqueDestination(const QString& src, const QString& dest) const;
    qsizetype indexOf(int fileId) const;
    void setLastError(const QByteArray& text);

    mutable QMutex m_cycleLock;
    mutable QMutex m_queueLock;
    mutable QMutex m_statusLock;

    std::atomic<State> m_state{Initializing};
    CycleRequests m_requests;
    LoginPace m_loginPace;
    // How long the next log-in waits because the last token was refused
    // at once; 0 when it does not.
    std::atomic<qint64> m_loginPauseMs{0};
    MessageHandler m_messageHandler;
    tokenManager m_tokens;
    // Owned here; slots are filled and emptied under the cycle lock.
    std::array<std::unique_ptr<SessionManager>, kMaxSessions> m_sessions;
    // The same sessions once started, for the calls made without the cycle
    // lock (session(), the credit, the notice).
    std::array<std::atomic<SessionManager*>, kMaxSessions> m_sessionView{};
    std::atomic<int> m_sessionCount{0};
    std::atomic<int> m_sessionLimit{0};
    QList<QueueFile*> m_files;
    std::vector<std::unique_ptr<QueueFile>> m_records;
    // Released records, destroyed by the next cycle under the cycle lock.
    std::vector<std::unique_ptr<QueueFile>> m_released;
    QList<QByteArray> m_presets;
    QByteArray m_lastPreset;
    QByteArray m_lastError;
    QByteArray m_statusMessage;
    QByteArray m_apiUrl;
    QByteArray m_user;
    QByteArray m_password;
    std::function<void(const QByteArray&)> m_onDestFileAdded;
    // Guards m_onSessionReady only; taken last, held while it is called.
    QMutex m_sessionReadyLock;
    std::function<void()> m_onSessionReady;
};
