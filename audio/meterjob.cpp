#include "audio/meterjob.h"

#include "audio/loudnessmeter.h"

#include <exception>

MeterJob::MeterJob(const QByteArray& path, bool withSeries)
    : m_path(path)
    , m_withSeries(withSeries)
{
}

MeterJob::~MeterJob()
{
    if (m_worker.joinable())
        m_worker.join();
}

bool MeterJob::start()
{
    if (m_worker.joinable() || m_done)
        return false;
    m_worker = std::thread(&MeterJob::run, this);
    return true;
}

void MeterJob::run()
{
    try {
        auto meter = std::make_unique<LoudnessMeter>(m_path, QByteArray("K-weighting"), 0.4f);
        meter->collectSeries(m_withSeries);
        meter->measure();
        m_meter = std::move(meter);
        m_measured = true;
    } catch (const std::exception& error) {
        const QMutexLocker locker(&m_failureLock);
        m_failure = QString::fromUtf8(error.what());
    }
    m_done = true;
}

bool MeterJob::isMeasured() const
{
    return m_measured.load();
}

QString MeterJob::failure() const
{
    const QMutexLocker locker(&m_failureLock);
    return m_failure;
}

const LoudnessMeter* MeterJob::meter() const
{
    return m_measured.load() ? m_meter.get() : nullptr;
}
