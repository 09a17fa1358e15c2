#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// A thread of its own for work whose newest request is the only one that
// matters, such as writing the latest state of a file: post() hands over a
// job and returns at once; a job posted while another waits replaces it.
// Jobs run one after the other, in posting order. The destructor runs the
// job still waiting, then joins the thread.
class LatestJobThread final {
public:
    LatestJobThread();
    ~LatestJobThread();
    LatestJobThread(const LatestJobThread&) = delete;
    LatestJobThread& operator=(const LatestJobThread&) = delete;

    void post(std::function<void()> job);
    // Waits until every job posted so far has run (or was replaced).
    void flush();
    // Jobs run so far.
    int runs() const;

private:
    void run();

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::function<void()> m_pending;
    bool m_running = false;
    bool m_stop = false;
    int m_runs = 0;
    std::thread m_thread;
};
