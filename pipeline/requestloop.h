#pragma once

#include <QEventLoop>
#include <QTimer>

#include <functional>

// The local event loop one synchronous web request runs in, on the calling
// thread. It ends when the request reports its end, and gives up on the
// request when its bytes stop moving for the stall time-out or when an abort
// is wanted (looked at before the start and every 50 ms, so an abort also
// reaches a request whose bytes have stopped moving). Giving up calls `stop`,
// which ends the request; the request then reports its end as usual.
// Connections made with the loop as their context end with it.
class RequestLoop final : public QObject {
public:
    enum class Stop { Stalled, Aborted };

    RequestLoop(int stallTimeoutMs, std::function<bool()> abortWanted, std::function<void(Stop)> stop);
    Q_DISABLE_COPY_MOVE(RequestLoop)

    // Bytes moved either way: the stall time-out starts again.
    void progressed();
    // The request has ended: run() returns.
    void finish();
    // Runs until finish(). False when the loop ended before that because
    // the thread was told to quit; the caller then ends the request itself.
    bool run();

private:
    QEventLoop m_loop;
    QTimer m_stall;
    QTimer m_abortPoll;
    std::function<bool()> m_abortWanted;
    std::function<void(Stop)> m_stop;
    bool m_finished = false;
};
