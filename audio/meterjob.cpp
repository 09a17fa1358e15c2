#include "audio/meterjob.h"

#include "audio/loudnessmeter.h"

#include <exception>

MeterJob::MeterJob(const QByteArray& path, bool withSeries)
    : m_state(std::make_shared<State>())
{
    m_state->path = path;
    m_state->withSeries = withSeries;
}

MeterJob::~MeterJob()
{
    if (!m_worker.joinable())
        return;
    if (m_state->done)
        m_worker.join();
    else
        m_worker.detach();
}

bool MeterJob::start()
{
    if (m_worker.joinable() || m_state->done)
        return false;
    m_worker = std::thread(&MeterJob::run, m_state);
    return true;
}

void MeterJob::run(const std::shared_ptr<State>& state)
{
    try {
        auto meter = std::make_unique<LoudnessMeter>(state->path, QByteArray("K-weighting"), 0.4f);
        meter->collectSeries(state->withSeries);
        meter->collectReport(true);
        meter->measure();
        state->meter = std::move(meter);
        state->measured = true;
    } catch (const std::exception& error) {
        const QMutexLocker locker(&state->failureLock);
        state->failure = QString::fromUtf8(error.what());
    }
    state->done = true;
}

bool MeterJob::isMeasured() const
{
    return m_state->measured.load();
}

QString MeterJob::failure() const
{
    const QMutexLocker locker(&m_state->failureLock);
    return m_state->failure;
}

const LoudnessMeter* MeterJob::meter() const
{
    return m_state->measured.load() ? m_state->meter.get() : nullptr;
}
