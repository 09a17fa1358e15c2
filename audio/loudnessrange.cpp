#include "audio/loudnessrange.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

LoudnessRange::LoudnessRange(int sampleRate, std::vector<double> weights)
    : m_tickFrames(std::max<qint64>(1, qint64(std::lround(sampleRate / 100.0))))
    , m_weights(std::move(weights))
    , m_tickEnergy(m_weights.size(), 0.0)
    , m_histogram(size_t(kBins), 0)
{
}

double LoudnessRange::level(double meanSquare)
{
    return meanSquare > 0 ? 10.0 * std::log10(meanSquare) - 0.691 : -std::numeric_limits<double>::infinity();
}

void LoudnessRange::add(const float* filtered, qint64 frames)
{
    const int C = int(m_weights.size());
    for (qint64 i = 0; i < frames;) {
        const qint64 n = std::min(frames - i, m_tickFrames - m_tickFilled);
        for (int c = 0; c < C; ++c) {
            double acc[2] = {};
            const float* p = filtered + i * C + c;
            qint64 f = 0;
            for (; f + 2 <= n; f += 2) {
                acc[0] += double(p[f * C]) * double(p[f * C]);
                acc[1] += double(p[(f + 1) * C]) * double(p[(f + 1) * C]);
            }
            if (f < n)
                acc[0] += double(p[f * C]) * double(p[f * C]);
            m_tickEnergy[size_t(c)] += acc[0] + acc[1];
        }
        m_tickFilled += n;
        i += n;
        if (m_tickFilled == m_tickFrames)
            closeTick();
    }
}

void LoudnessRange::finish()
{
    if (m_tickFilled > 0)
        closeTick();
}

// The windows ending with this tick; before the stream starts there is
// silence, so the first windows fill up.
void LoudnessRange::closeTick()
{
    double energy = 0;
    for (size_t c = 0; c < m_weights.size(); ++c) {
        energy += m_weights[c] * m_tickEnergy[c];
        m_tickEnergy[c] = 0;
    }
    m_tickFilled = 0;
    m_recent[size_t(m_ticks % kShortTermTicks)] = energy;
    ++m_ticks;
    // Fresh sums each time: 340 additions per 10 ms cost nothing and cannot drift.
    double momentary = 0, shortTerm = 0;
    for (int k = 0; k < kShortTermTicks; ++k) {
        const double e = m_recent[size_t((m_ticks - 1 - k + kShortTermTicks) % kShortTermTicks)];
        shortTerm += e;
        if (k < kMomentaryTicks)
            momentary += e;
    }
    momentary /= double(kMomentaryTicks * m_tickFrames);
    shortTerm /= double(kShortTermTicks * m_tickFrames);
    m_maxMomentary = std::max(m_maxMomentary, momentary);
    m_maxShortTerm = std::max(m_maxShortTerm, shortTerm);
    if (m_ticks < kShortTermTicks)
        return;
    const double l = level(shortTerm);
    if (!(l >= kLowest))
        return;
    m_gatedEnergy += shortTerm;
    ++m_gatedCount;
    const int bin = std::min(kBins - 1, int((l - kLowest) / kBinWidth));
    ++m_histogram[size_t(bin)];
}

double LoudnessRange::loudnessRange() const
{
    if (m_gatedCount == 0)
        return std::numeric_limits<double>::quiet_NaN();
    const double gate = level(m_gatedEnergy / double(m_gatedCount)) - 20.0;
    const int firstBin = std::max(0, int(std::ceil((gate - kLowest) / kBinWidth)));
    qint64 count = 0;
    for (int b = firstBin; b < kBins; ++b)
        count += m_histogram[size_t(b)];
    if (count == 0)
        return std::numeric_limits<double>::quiet_NaN();
    // Percentile p is the value of rank round((count - 1) * p), counted from 0.
    auto percentile = [&](double p) {
        const qint64 rank = qint64(std::llround(double(count - 1) * p));
        qint64 seen = 0;
        for (int b = firstBin; b < kBins; ++b) {
            seen += m_histogram[size_t(b)];
            if (seen > rank)
                return kLowest + (b + 0.5) * kBinWidth;
        }
        return kLowest + (kBins - 0.5) * kBinWidth;
    };
    return percentile(0.95) - percentile(0.10);
}
