#include "settings/latestjobthread.h"

#include <utility>

LatestJobThread::LatestJobThread()
    : m_thread([this] { run(); })
{
}

LatestJobThread::~LatestJobThread()
{
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void LatestJobThread::post(std::function<void()> job)
{
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_pending = std::move(job);
    }
    m_wake.notify_all();
}

void LatestJobThread::flush()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_done.wait(lock, [this] { return !m_pending && !m_running; });
}

int LatestJobThread::runs() const
{
    const std::lock_guard<std::mutex> lock(m_lock);
    return m_runs;
}

// A waiting job runs before the thread ends, so that the job posted at
// exit always runs.
void LatestJobThread::run()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_pending || m_stop; });
        if (!m_pending)
            break;
        const std::function<void()> job = std::exchange(m_pending, nullptr);
        m_running = true;
        lock.unlock();
        job();
        lock.lock();
        m_running = false;
        ++m_runs;
        m_done.notify_all();
    }
}
