#include "pipeline/loginbackoff.h"

#include <algorithm>

void LoginBackoff::failed()
{
    ++m_failures;
    m_next = QDeadlineTimer(delayMs());
}

void LoginBackoff::reset()
{
    m_failures = 0;
    m_next = QDeadlineTimer(0);
}

int LoginBackoff::delayMs() const
{
    if (m_failures == 0)
        return 0;
    // Doubling stops once the cap is reached, long before an overflow.
    qint64 delay = kFirstDelayMs;
    for (int i = 1; i < m_failures && delay < kMaxDelayMs; ++i)
        delay *= 2;
    return int(std::min<qint64>(delay, kMaxDelayMs));
}
