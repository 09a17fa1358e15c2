#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Runs one piece of work at a time on a thread of its own. The GUI thread
// asks for a run with startIfIdle(), which never waits: a run still in
// progress is left alone. requestRun() never waits either, but a run in
// progress is followed by one more, so that a change made meanwhile is
// taken up at once. The destructor lets a running run finish and joins the
// thread.
class CycleRunner {
public:
    // `finished`, when given, is called on the runner's thread after each run.
    explicit CycleRunner(std::function<void()> work, std::function<void()> finished = {});
    ~CycleRunner();
    CycleRunner(const CycleRunner&) = delete;
    CycleRunner& operator=(const CycleRunner&) = delete;

    // True when a new run was started, false when one is still going.
    bool startIfIdle();
    // Starts a run, or has one more follow the run in progress.
    void requestRun();
    bool isBusy() const;

private:
    void loop();

    std::function<void()> m_work;
    std::function<void()> m_finished;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_busy = false;
    bool m_again = false;
    bool m_stopping = false;
    std::thread m_thread;
};
