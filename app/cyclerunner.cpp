#include "app/cyclerunner.h"

CycleRunner::CycleRunner(std::function<void()> work)
    : m_work(std::move(work)), m_thread([this] { loop(); })
{
}

CycleRunner::~CycleRunner()
{
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

bool CycleRunner::startIfIdle()
{
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_busy || m_stopping)
            return false;
        m_busy = true;
    }
    m_wake.notify_one();
    return true;
}

bool CycleRunner::isBusy() const
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_busy;
}

void CycleRunner::loop()
{
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        m_wake.wait(guard, [this] { return m_busy || m_stopping; });
        if (m_stopping)
            return;
        guard.unlock();
        m_work();
        guard.lock();
        m_busy = false;
    }
}
