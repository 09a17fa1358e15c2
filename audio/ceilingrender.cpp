#include "audio/ceilingrender.h"

#include "audio/limitedrender.h"
#include "audio/loudnessmeter.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <cmath>

bool CeilingRender::run(const std::atomic<bool>* stop)
{
    // The gain in dB that needs the most limiting allowed; beyond it the
    // output stays under its target rather than be squashed.
    const double mostGainDb = ceilingDb + kMaxLimitingDb - truePeak;
    m_gainDb = std::min(target - measured, mostGainDb);
    m_reached = measured;
    double lastGainDb = 0, lastReached = measured;   // before any gain
    for (int attempt = 0; attempt < 5; ++attempt) {
        double reductionDb = 0;
        QByteArray error;
        if (!renderLimited(input, output, std::pow(10.0, m_gainDb / 20.0), ceilingDb, reductionDb, error, stop)) {
            QFile::remove(QString::fromUtf8(output));
            m_error = QString::fromUtf8(error);
            return false;
        }
        LoudnessMeter check(output, "K-weighting", 0.4f);
        check.measure();
        m_reached = lufs ? check.lufs() : check.dbRms();
        qDebug() << "Limited render" << attempt + 1 << "gain" << m_gainDb << "dB, limiting" << reductionDb << "dB, reached"
                 << m_reached;
        const double missing = target - m_reached;
        // Within 0.05 of the target, or as close as the limiting allows.
        if (std::fabs(missing) <= 0.05 || !std::isfinite(missing) || (missing > 0 && m_gainDb >= mostGainDb))
            break;
        // Limiting makes a dB of gain worth less than a dB of loudness:
        // step by the slope of the last two renders (a secant).
        const double step = m_gainDb - lastGainDb;
        const double slope = std::fabs(step) < 1e-6 ? 1.0 : std::clamp((m_reached - lastReached) / step, 0.05, 1.0);
        lastGainDb = m_gainDb;
        lastReached = m_reached;
        m_gainDb = std::min(m_gainDb + missing / slope, mostGainDb);
    }
    qDebug() << "True-peak limited" << output << "gain" << m_gainDb << "dB, reached" << m_reached;
    return true;
}

double CeilingRender::shortBy() const
{
    const double under = target - m_reached;
    return under > 0.1 ? under : 0.0;
}

QString CeilingRender::shortfallText() const
{
    return QStringLiteral("%1 %2 under the target of %3 %4, which needs more than %5 dB of true-peak limiting to stay "
                          "at or below %6 dBTP")
        .arg(QString::number(target - m_reached, 'f', 1), lufs ? QStringLiteral("LU") : QStringLiteral("dB"),
             QString::number(target, 'g', 6), lufs ? QStringLiteral("LUFS") : QStringLiteral("dB RMS"),
             QString::number(kMaxLimitingDb, 'f', 0), QString::number(ceilingDb, 'f', 1));
}
