#pragma once

#include "pipeline/retrybackoff.h"

#include <QElapsedTimer>

#include <deque>

// Paces the log-ins of the queue manager. A failed log-in waits the
// back-off (1 s, 2 s, 4 s ... 60 s). So does the log-in after a token that
// the service refused soon after it was handed out, whether or not the
// service hands out a new token each time: a service that takes log-ins but
// refuses their tokens is not asked again ten times a second. And never
// more than kMaxLogins go out in any kWindowMs. Used by one thread at a time
// (the cycle's).
class LoginPace {
public:
    static constexpr int kMaxLogins = 6;
    static constexpr qint64 kWindowMs = 30000;

    // Milliseconds until a log-in may go out, 0 when it may go now. Called
    // when a log-in is wanted (the token is gone).
    qint64 waitMs();
    // Whether the present wait is for a token refused soon after its log-in.
    bool tokenRefused() const { return m_tokenRefused; }
    // A log-in goes out.
    void started();
    // It gave a token.
    void loggedIn() { m_sinceLogin.start(); }
    // It failed; the next waits the back-off, or the wait the service
    // asked for (Retry-After) when that is longer.
    void failed(int retryAfterMs = 0) { m_backoff.failed(retryAfterMs); }
    // New credentials, a new address or a log-in asked for: the next may go now.
    void reset();

private:
    RetryBackoff m_backoff;
    std::deque<qint64> m_logins;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceLogin;
    bool m_tokenRefused = false;
};
