#pragma once

#include <QByteArray>
#include <QMutex>

#include <atomic>
#include <optional>
#include <utility>

// What other threads ask of the queue manager's cycle: new credentials, a
// new API address, a log-out, a log-in without delay. Recording never waits
// for the cycle, which may be in the middle of a network request; the cycle
// takes everything recorded at its next step.
//
// Recording also raises the interrupt flag. The log-in request watches it
// and gives up as soon as it is raised, so a new request never waits for a
// stalled log-in. take() lowers it again together with the requests it
// hands out, under one lock, so that a request recorded after a take()
// always interrupts the next log-in.
class CycleRequests {
public:
    struct Taken {
        std::optional<std::pair<QByteArray, QByteArray>> credentials;
        std::optional<QByteArray> apiUrl;
        bool logout = false;
        bool loginNow = false;
    };

    void setCredentials(const QByteArray& user, const QByteArray& password);
    void setApiUrl(const QByteArray& url);
    void logout();
    void loginNow();
    // Raises the interrupt flag alone (the manager is stopping).
    void interrupt();

    Taken take();
    bool interrupted() const { return m_interrupt; }
    const std::atomic<bool>* interruptFlag() const { return &m_interrupt; }

private:
    mutable QMutex m_lock;
    Taken m_pending;
    std::atomic<bool> m_interrupt{false};
};
