#include "headless/servicestatuslog.h"

#include "driver/account.h"
#include "headless/headlessfrontend.h"

#include <QDebug>

ServiceStatusLog::ServiceStatusLog(const Account& account)
    : m_account(account)
{
    connect(&m_timer, &QTimer::timeout, this, &ServiceStatusLog::check);
    m_timer.start(1000);
}

void ServiceStatusLog::check()
{
    if (!m_warnedRefusal && m_account.credentialsRefused()) {
        m_warnedRefusal = true;
        qWarning().noquote() << "The service refuses the stored log-in details; store them again with: "
                                "sonvira-headless --login EMAIL";
    }
    const QString status = m_account.statusText();
    if (status == m_last)
        return;
    m_last = status;
    HeadlessFrontEnd::log(QStringLiteral("Service: ") + status);
}
