#include "audio/ceilingrenderjob.h"

void CeilingRenderJob::start()
{
    if (m_worker.joinable() || m_finished)
        return;
    m_worker = std::thread([this] {
        m_succeeded = m_render.run(&m_stop);
        m_finished = true;
    });
}

void CeilingRenderJob::stop()
{
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
}
