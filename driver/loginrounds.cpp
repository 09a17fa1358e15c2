#include "driver/loginrounds.h"

#include "pipeline/queuemanager.h"

#include <QDeadlineTimer>
#include <QThread>

LoginRounds::LoginRounds(QueueManager& queueManager)
    : m_queueManager(queueManager)
{
}

LoginRounds::~LoginRounds()
{
    stop();
}

void LoginRounds::start()
{
    if (m_thread.joinable())
        return;
    m_stopping = false;
    m_thread = std::thread([this] { loop(); });
}

void LoginRounds::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void LoginRounds::loop()
{
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stopping) {
        lock.unlock();
        m_queueManager.cycle(false, false);
        lock.lock();
        m_wake.wait_for(lock, std::chrono::milliseconds(kPauseMs), [this] { return m_stopping; });
    }
}

bool LoginRounds::runUntilAnswered(QueueManager& queueManager, int timeoutMs, QString& reason)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        queueManager.cycle(false, false);
        const QueueManager::State state = queueManager.state();
        if (state == QueueManager::WaitingForLoginInfo) {
            reason = QString::fromUtf8(queueManager.statusMessage());
            if (!reason.isEmpty())
                return false;
        } else if (QueueManager::isWorking(state)) {
            return true;
        }
        QThread::msleep(kPauseMs);
    }
    reason = QStringLiteral("the service did not answer within %1 s").arg(timeoutMs / 1000);
    return false;
}
