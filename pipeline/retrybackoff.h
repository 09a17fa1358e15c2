#pragma once

#include <QDeadlineTimer>
#include <QElapsedTimer>

// Spacing of the attempts at a request that keeps failing, so that a
// refused log-in, a service that is down or an unusable answer is not
// asked again ten times a second (a service may lock the account or
// suffer under the load). After the n-th failure in a row the next try
// waits about 2^(n-1) seconds, at most 60 s, each wait drawn within a
// fifth either side so that many clients do not come back in step, and
// never shorter than a wait the service asked for (Retry-After). reset()
// (a success, new credentials or address) allows the next try at once.
// Used by one thread only.
class RetryBackoff {
public:
    static constexpr int kFirstDelayMs = 1000;
    static constexpr int kMaxDelayMs = 60000;

    bool due() const { return m_next.hasExpired(); }
    // Records a failure; the next try waits the back-off, or minimumMs when
    // that is longer. Returns the wait.
    int failed(int minimumMs = 0);
    void reset();
    int failures() const { return m_failures; }
    // Milliseconds until the next try, 0 when it is due.
    qint64 remainingMs() const { return m_next.remainingTime() < 0 ? 0 : m_next.remainingTime(); }
    // Milliseconds since the first failure of the present run, 0 without one.
    qint64 failingForMs() const { return m_failures == 0 ? 0 : m_firstFailure.elapsed(); }
    // The wait after the failures so far, without the jitter; 0 before the
    // first failure.
    int delayMs() const;

private:
    int m_failures = 0;
    QDeadlineTimer m_next{0};
    QElapsedTimer m_firstFailure;
};
