#include "driver/cyclerunner.h"

CycleRunner::CycleRunner(std::function<void()> work, std::function<void()> finished)
    : m_work(std::move(work)), m_finished(std::move(finished)), m_thread([this] { loop(); })
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

void CycleRunner::requestRun()
{
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_stopping)
            return;
        if (m_busy) {
            m_again = true;
            return;
        }
        m_busy = true;
    }
    m_wake.notify_one();
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
        // A request made before this run starts is served by it.
        m_again = false;
        guard.unlock();
        m_work();
        if (m_finished)
            m_finished();
        guard.lock();
        m_busy = m_again && !m_stopping;
    }
}
