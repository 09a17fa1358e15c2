#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Runs one piece of work at a time on a thread of its own. The GUI thread
// asks for a run with startIfIdle(), which never waits: a run still in
// progress is left alone. The destructor lets a running run finish and
// joins the thread.
class CycleRunner {
public:
    explicit CycleRunner(std::function<void()> work);
    ~CycleRunner();
    CycleRunner(const CycleRunner&) = delete;
    CycleRunner& operator=(const CycleRunner&) = delete;

    // True when a new run was started, false when one is still going.
    bool startIfIdle();
    bool isBusy() const;

private:
    void loop();

    std::function<void()> m_work;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread;
};
