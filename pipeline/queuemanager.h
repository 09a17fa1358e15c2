#pragma once

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
// Lock order: cycle lock, then queue lock, then a file's lock. A session's
// state mutex may be taken while the cycle lock is held. The destination
// handler (setOnDestFileAdded) runs under the queue lock, so the queue lock
// comes before any lock that handler takes. The status lock (statusMessage,
// lastError, presets, lastPreset, apiUrl) is always taken last and held
// only for a copy. state() is atomic and may be read from any thread.
//
// Ownership of the records: the manager owns every QueueFile it created.
// removeFile() takes a record out of the queue but keeps it alive in a list
// of removed records, because the GUI's widgets may still use it; all
// records, queued or removed, are destroyed with the manager. The sessions
// are destroyed by stop() or, at the latest, by the destructor.
class QueueManager {
public:
    enum State {
        Initializing = 0,
        Running = 1,
        Stopping = 8,
        Finished = 16,
        Error = 100,
        WaitingForLoginInfo = 1027,
        GettingPresets = 1029,
    };
    static constexpr int kMaxSessions = 4;

    QueueManager();
    ~QueueManager();
    QueueManager(const QueueManager&) = delete;
    QueueManager& operator=(const QueueManager&) = delete;

    // Start-up: settings, version-check URL and API address, the client
    // library check and one session. Shows "Error loading token lib" and
    // returns false if the check fails.
    bool init(Settings* settings);
    // Creates min(count, 4) sessions and starts their threads. Throws
    // std::runtime_error when called a second time.
    bool createSessions(const QByteArray& apiUrl, int count);
    void setApiUrl(const QByteArray& url);
    void setCredentials(const QByteArray& user, const QByteArray& password);
    void enableLogin();
    void logout();
    // One pass; true if any session thread runs.
    bool cycle(bool pause, bool verbose);
    void stop();

    // Returns the new record, or null with the reason in lastError().
    QueueFile* addFileToQueue(const QString& src, int priority, const QString& dest, const QByteArray& presetName,
                              const ProcessingOptions& options);
    QueueFile* addFileToQueue(const QByteArray& src, int priority, const QByteArray& dest,
                              const QByteArray& presetName, const ProcessingOptions& options);
    void removeFile(int fileId);
    QueueFile* findFile(int fileId) const;
    bool findFile(int fileId, QueueFile*& out) const;
    QueueFile* findByDestFile(const QByteArray& path) const;
    QList<QueueFile*> snapshot() const;

    QByteArray lastError() const;
    QByteArray statusMessage() const;
    int state() const { return m_state; }
    static QString stateName(int state);
    bool hasToken() const { return m_tokens.hasToken(); }
    QList<QByteArray> presets() const;
    QByteArray lastPreset() const;
    QByteArray apiUrl() const;
    void setOnDestFileAdded(std::function<void(const QByteArray&)> callback);
    // The credit of the most recent finished job of any session, -1 if none.
    float getCredit() const;

    // The session in a slot, or null; for tests and diagnostics.
    SessionManager* session(int slot) const;
    int sessionCount() const { return m_sessionCount; }

private:
    void logIn(bool verbose);
    void loadPresets(bool verbose);
    void serveSessions(bool pause, bool verbose);
    void serveSession(SessionManager& session, int sessionState);
    void assignWaitingFile(SessionManager& session);
    void handOverPreProcessed(SessionManager& session);
    void takeResult(SessionManager& session);
    void takeError(SessionManager& session);
    void followProgress(SessionManager& session);
    void printSessions(int slot, SessionManager& session) const;
    void printFiles() const;
    bool anySessionRunning() const;
    void stopSessions(bool destroy);
    QByteArray uniqueDestination(const QString& src, const QString& dest) const;
    void setLastError(const QByteArray& text);

    mutable QMutex m_cycleLock;
    mutable QMutex m_queueLock;
    mutable QMutex m_statusLock;

    std::atomic<int> m_state{Initializing};
    tokenManager m_tokens;
    std::array<std::unique_ptr<SessionManager>, kMaxSessions> m_sessions;
    std::atomic<int> m_sessionCount{0};
    QList<QueueFile*> m_files;
    std::vector<std::unique_ptr<QueueFile>> m_records;
    QList<QByteArray> m_presets;
    QByteArray m_lastPreset;
    QByteArray m_lastError;
    QByteArray m_statusMessage;
    QByteArray m_apiUrl;
    QByteArray m_user;
    QByteArray m_password;
    std::function<void(const QByteArray&)> m_onDestFileAdded;
};
