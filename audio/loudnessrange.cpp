#include "audio/loudnessrange.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// Sum of `count` values; four running sums let the additions overlap.
double sum(const double* p, int count)
{
    double acc[4] = {};
    int i = 0;
    for (; i + 4 <= count; i += 4)
        for (int u = 0; u < 4; ++u)
            acc[u] += p[i + u];
    for (; i < count; ++i)
        acc[0] += p[i];
    return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

} // namespace

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

void LoudnessRange::addEnergy(const double* energy, qint64 frames)
{
    for (size_t c = 0; c < m_tickEnergy.size(); ++c)
        m_tickEnergy[c] += energy[c];
    m_tickFilled += frames;
    m_frames += frames;
    if (m_tickFilled >= m_tickFrames)
        closeTick();
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
    const int newest = int(m_ticks % kShortTermTicks);
    m_recent[size_t(newest)] = energy;
    ++m_ticks;
    // Fresh sums each time, which cannot drift: the whole ring (the last
    // 3 s, silence before the start) and its newest 40 ticks, which may wrap.
    double shortTerm = sum(m_recent.data(), kShortTermTicks);
    const int fromStart = std::min(newest + 1, kMomentaryTicks);
    double momentary = sum(m_recent.data() + newest + 1 - fromStart, fromStart)
        + sum(m_recent.data() + kShortTermTicks - (kMomentaryTicks - fromStart), kMomentaryTicks - fromStart);
    momentary /= double(kMomentaryTicks * m_tickFrames);
    shortTerm /= double(kShortTermTicks * m_tickFrames);
    // A window counts once the stream fills it.
    if (m_frames >= kMomentaryTicks * m_tickFrames)
        m_maxMomentary = std::max(m_maxMomentary, momentary);
    if (m_frames < kShortTermTicks * m_tickFrames)
        return;
    m_maxShortTerm = std::max(m_maxShortTerm, shortTerm);
    count(shortTerm);
}

void LoudnessRange::count(double shortTerm)
{
    const double l = level(shortTerm);
    if (!(l >= kLowest) || !std::isfinite(l))
        return;
    m_gatedEnergy += shortTerm;
    ++m_gatedCount;
    const double bin = std::floor((l - kLowest) / kBinWidth);
    if (bin < kBins)
        ++m_histogram[size_t(bin)];
    else
        ++m_louder[qint64(bin)];
}

qint64 LoudnessRange::binCount(qint64 b) const
{
    if (b < kBins)
        return m_histogram[size_t(b)];
    const auto it = m_louder.find(b);
    return it == m_louder.end() ? 0 : it->second;
}

qint64 LoudnessRange::lastBin() const
{
    return m_louder.empty() ? kBins - 1 : m_louder.rbegin()->first;
}

double LoudnessRange::loudnessRange() const
{
    if (m_gatedCount == 0)
        return std::numeric_limits<double>::quiet_NaN();
    const double gate = level(m_gatedEnergy / double(m_gatedCount)) - 20.0;
    const qint64 firstBin = std::max<qint64>(0, qint64(std::ceil((gate - kLowest) / kBinWidth)));
    const qint64 last = lastBin();
    qint64 count = 0;
    for (qint64 b = firstBin; b <= last; ++b)
        count += binCount(b);
    if (count == 0)
        return std::numeric_limits<double>::quiet_NaN();
    // Percentile p is the value of rank round((count - 1) * p), counted from 0.
    auto percentile = [&](double p) {
        const qint64 rank = qint64(std::llround(double(count - 1) * p));
        qint64 seen = 0;
        for (qint64 b = firstBin; b <= last; ++b) {
            seen += binCount(b);
            if (seen > rank)
                return kLowest + (double(b) + 0.5) * kBinWidth;
        }
        return kLowest + (double(last) + 0.5) * kBinWidth;
    };
    return percentile(0.95) - percentile(0.10);
}
