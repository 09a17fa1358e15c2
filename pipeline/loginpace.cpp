#include "pipeline/loginpace.h"

#include <algorithm>

qint64 LoginPace::waitMs()
{
    if (!m_clock.isValid())
        m_clock.start();
    if (m_sinceLogin.isValid()) {
        // The token of the last log-in is gone; judge it once.
        m_tokenRefused = m_sinceLogin.elapsed() < kWindowMs;
        if (m_tokenRefused)
            m_backoff.failed();
        else
            m_backoff.reset();
        m_sinceLogin.invalidate();
    }
    const qint64 now = m_clock.elapsed();
    while (!m_logins.empty() && now - m_logins.front() >= kWindowMs)
        m_logins.pop_front();
    const qint64 windowWait = m_logins.size() < size_t(kMaxLogins) ? 0 : m_logins.front() + kWindowMs - now;
    return std::max(windowWait, m_backoff.remainingMs());
}

void LoginPace::started()
{
    if (!m_clock.isValid())
        m_clock.start();
    m_logins.push_back(m_clock.elapsed());
    m_tokenRefused = false;
}

void LoginPace::reset()
{
    m_backoff.reset();
    m_sinceLogin.invalidate();
    m_tokenRefused = false;
}
