#include "pipeline/retrybackoff.h"

#include <QRandomGenerator>

#include <algorithm>

int RetryBackoff::failed(int minimumMs)
{
    if (m_failures++ == 0)
        m_firstFailure.start();
    const double jitter = 0.8 + 0.4 * QRandomGenerator::global()->generateDouble();
    const int wait = std::max(int(delayMs() * jitter), minimumMs);
    m_next = QDeadlineTimer(wait);
    return wait;
}

void RetryBackoff::reset()
{
    m_failures = 0;
    m_next = QDeadlineTimer(0);
}

int RetryBackoff::delayMs() const
{
    if (m_failures == 0)
        return 0;
    // Doubling stops once the cap is reached, long before an overflow.
    qint64 delay = kFirstDelayMs;
    for (int i = 1; i < m_failures && delay < kMaxDelayMs; ++i)
        delay *= 2;
    return int(std::min<qint64>(delay, kMaxDelayMs));
}
