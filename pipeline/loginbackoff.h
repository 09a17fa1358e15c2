#pragma once

#include <QDeadlineTimer>

// Spacing of log-in attempts with unchanged credentials, so that a wrong
// password is not sent ten times a second (a service may lock the account).
// After the n-th failure in a row the next try waits 2^(n-1) seconds, at
// most 60 s. reset() (new credentials or address, the "Log in" action, a
// success) allows the next try at once. Used by the cycle's thread only.
class LoginBackoff {
public:
    static constexpr int kFirstDelayMs = 1000;
    static constexpr int kMaxDelayMs = 60000;

    bool due() const { return m_next.hasExpired(); }
    void failed();
    void reset();
    // The wait after the failures so far; 0 before the first one.
    int delayMs() const;

private:
    int m_failures = 0;
    QDeadlineTimer m_next{0};
};
