#include "pipeline/cyclerequests.h"

void CycleRequests::setCredentials(const QByteArray& user, const QByteArray& password)
{
    QMutexLocker lock(&m_lock);
    m_pending.credentials = std::make_pair(user, password);
    m_interrupt = true;
}

void CycleRequests::setApiUrl(const QByteArray& url)
{
    QMutexLocker lock(&m_lock);
    m_pending.apiUrl = url;
    m_interrupt = true;
}

void CycleRequests::logout()
{
    QMutexLocker lock(&m_lock);
    m_pending.logout = true;
    m_interrupt = true;
}

void CycleRequests::loginNow()
{
    QMutexLocker lock(&m_lock);
    m_pending.loginNow = true;
}

void CycleRequests::interrupt()
{
    m_interrupt = true;
}

CycleRequests::Taken CycleRequests::take()
{
    QMutexLocker lock(&m_lock);
    Taken taken = std::move(m_pending);
    m_pending = Taken();
    m_interrupt = false;
    return taken;
}
