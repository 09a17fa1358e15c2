#include "headless/servicestatuslog.h"

#include "headless/headlessfrontend.h"
#include "pipeline/queuemanager.h"

ServiceStatusLog::ServiceStatusLog(const QueueManager& queueManager)
    : m_queueManager(queueManager)
{
    connect(&m_timer, &QTimer::timeout, this, &ServiceStatusLog::check);
    m_timer.start(1000);
}

void ServiceStatusLog::check()
{
    const QueueManager::State state = m_queueManager.state();
    QString status = QueueManager::stateName(state);
    const QByteArray message = m_queueManager.statusMessage();
    if (state == QueueManager::WaitingForLoginInfo && !message.isEmpty())
        status += QStringLiteral(": ") + QString::fromUtf8(message);
    if (status == m_last)
        return;
    m_last = status;
    HeadlessFrontEnd::log(QStringLiteral("Service: ") + status);
}
