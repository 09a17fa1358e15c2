#include "pipeline/requestloop.h"

namespace {

constexpr int kAbortPollMs = 50;

} // namespace

RequestLoop::RequestLoop(int stallTimeoutMs, std::function<bool()> abortWanted, std::function<void(Stop)> stop)
    : m_abortWanted(std::move(abortWanted))
    , m_stop(std::move(stop))
{
    m_stall.setSingleShot(true);
    m_stall.setInterval(stallTimeoutMs);
    m_abortPoll.setInterval(kAbortPollMs);
    QObject::connect(&m_stall, &QTimer::timeout, &m_loop, [this] { m_stop(Stop::Stalled); });
    QObject::connect(&m_abortPoll, &QTimer::timeout, &m_loop, [this] {
        if (m_abortWanted())
            m_stop(Stop::Aborted);
    });
}

void RequestLoop::progressed()
{
    if (!m_finished)
        m_stall.start();
}

void RequestLoop::finish()
{
    m_finished = true;
    m_stall.stop();
    m_abortPoll.stop();
    m_loop.quit();
}

bool RequestLoop::run()
{
    if (!m_finished && m_abortWanted())
        m_stop(Stop::Aborted);
    if (m_finished)
        return true;
    m_stall.start();
    m_abortPoll.start();
    m_loop.exec();
    m_stall.stop();
    m_abortPoll.stop();
    return m_finished;
}
