#pragma once

#include "pipeline/webapi.h"

#include <QByteArray>
#include <QString>

#include <atomic>

// Owner of one WebAPI used for log-in, token checks and host changes by
// start-up and the queue manager. The token itself is the process-wide one
// of WebAPI, shared with every session.
class tokenManager {
public:
    tokenManager() = default;
    ~tokenManager();
    tokenManager(const tokenManager&) = delete;
    tokenManager& operator=(const tokenManager&) = delete;

    // Start-up check that the client library is usable.
    bool testCall(QString& message);

    // Logs in through the WebAPI; false at once while disabled. errorOut
    // receives the failure text, with 401 and 400 answers turned into the
    // "Can't log in: ..." messages the login dialog shows.
    bool login(const QByteArray& user, const QByteArray& password, QByteArray& errorOut);
    // How the message of a log-in the service refused (wrong or missing
    // user name or password) begins.
    static const QByteArray kRefusedPrefix;

    // The wait the last log-in's answer asked for (Retry-After), in ms; 0 if none.
    int lastRetryAfterMs() const { return m_api.lastRetryAfterMs(); }

    QByteArray currentToken() const;
    bool hasToken() const;
    void logout();

    // Sets the API base URL of the sessions and of this manager's WebAPI,
    // and clears the token (it belongs to the old host).
    void setHost(const QByteArray& url);

    // A flag of the owner that, once raised, makes a running log-in give up
    // at once (see WebAPI::setCancelFlag).
    void setInterruptFlag(const std::atomic<bool>* flag) { m_api.setCancelFlag(flag); }

    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }

private:
    std::atomic<bool> m_enabled{true};
    WebAPI m_api;
};
