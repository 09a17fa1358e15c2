#pragma once

#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

class QueueManager;

// The queue manager's cycle run in rounds while nothing else runs it: at
// start-up, while the login dialog waits for the service's answer, and
// when sonvira-headless stores a log-in. Each round is one cycle followed
// by a pause, whatever the manager's state, so that a state in which the
// cycle does nothing never spins. The rounds run on a thread of their own
// (start) or on the caller's (runUntilAnswered).
class LoginRounds {
public:
    static constexpr int kPauseMs = 100;

    explicit LoginRounds(QueueManager& queueManager);
    // Stops the rounds and joins their thread.
    ~LoginRounds();
    LoginRounds(const LoginRounds&) = delete;
    LoginRounds& operator=(const LoginRounds&) = delete;

    // Runs rounds on a thread of its own until stop(); a second call does nothing.
    void start();
    // Ends the round in progress at its pause and joins the thread.
    void stop();

    // Runs rounds on the calling thread until the service accepted the
    // log-in (true) or refused it, or `timeoutMs` passed (false, with the
    // reason).
    static bool runUntilAnswered(QueueManager& queueManager, int timeoutMs, QString& reason);

private:
    void loop();

    QueueManager& m_queueManager;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};
