#include "headless/servicestatuslog.h"

#include "driver/account.h"
#include "headless/headlessfrontend.h"

ServiceStatusLog::ServiceStatusLog(const Account& account)
    : m_account(account)
{
    connect(&m_timer, &QTimer::timeout, this, &ServiceStatusLog::check);
    m_timer.start(1000);
}

void ServiceStatusLog::check()
{
    const QString status = m_account.statusText();
    if (status == m_last)
        return;
    m_last = status;
    HeadlessFrontEnd::log(QStringLiteral("Service: ") + status);
}
