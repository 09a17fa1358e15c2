#include "audio/truepeaklimiter.h"

#include "audio/truepeakdetector.h"

#include <algorithm>
#include <cmath>

namespace {

// Headroom under the ceiling for the rounding of the written samples.
constexpr double kHeadroomDb = 0.02;
// An oversampled value may lie below the peak between it and the next one
// by up to this factor (a sine just under half the sample rate); the
// limiter takes the worst case instead of refining.
constexpr float kBetweenPhases = 1.0824f;
constexpr double kLookaheadSeconds = 0.002;
constexpr double kReleaseSeconds = 0.1;
constexpr qint64 kScreen = 16;   // frames screened together
constexpr int kLanes = 8;        // running extremes of the screening

} // namespace

TruePeakLimiter::TruePeakLimiter(int sampleRate, int channels, double gain, double ceilingDb)
    : m_channels(std::max(channels, 1))
    , m_gain(float(gain))
    , m_ceiling(float(std::pow(10.0, (ceilingDb - kHeadroomDb) / 20.0)))
    , m_lookahead(std::max<qint64>(1, qint64(std::lround(kLookaheadSeconds * sampleRate))))
    , m_release(1.0 - std::exp(-1.0 / (kReleaseSeconds * std::max(sampleRate, 1))))
    , m_channelsIn(size_t(m_channels), std::vector<float>(size_t(kHistory), 0.0f))
    , m_smoothing(size_t(m_lookahead), 1.0)
    , m_smoothingSum(double(m_lookahead))
{
}

double TruePeakLimiter::maxReductionDb() const
{
    return -20.0 * std::log10(m_deepest);
}

void TruePeakLimiter::process(const float* in, qint64 frames, std::vector<float>& out)
{
    for (int c = 0; c < m_channels; ++c) {
        std::vector<float>& channel = m_channelsIn[size_t(c)];
        const size_t old = channel.size();
        channel.resize(old + size_t(frames));
        for (qint64 i = 0; i < frames; ++i)
            channel[old + size_t(i)] = in[i * m_channels + c] * m_gain;
    }
    m_received += frames;
    requirements(m_received);
    deliver(out);
}

void TruePeakLimiter::flush(std::vector<float>& out)
{
    // Silence after the end lets the last frames be worked out and leave;
    // only the real frames go out.
    const qint64 end = m_received;
    const qint64 tail = kDetectionLag + m_lookahead + kScreen;
    for (auto& channel : m_channelsIn)
        channel.insert(channel.end(), size_t(tail), 0.0f);
    requirements(end + tail);
    const size_t before = out.size();
    deliver(out);
    const qint64 emitted = qint64(out.size() - before) / m_channels;
    const qint64 beyond = std::min(emitted, m_next - end);
    out.resize(out.size() - size_t(beyond * m_channels));
}

// The gain that keeps frame `frame` and the signal on both sides of it
// under the ceiling; reads the samples up to frame + kDetectionLag - 1.
float TruePeakLimiter::requiredGain(qint64 frame)
{
    float peak = m_lastInterval;
    float interval = 0;
    for (int c = 0; c < m_channels; ++c) {
        const std::vector<float>& in = m_channelsIn[size_t(c)];
        peak = std::max(peak, std::fabs(in[size_t(frame - m_base)]));
        // The interpolator's outputs from frame + 16 lie between frame and frame + 1.
        const float* newest = in.data() + (frame + kDetectionLag - 1 - m_base);
        for (int p = 0; p < TruePeakDetector::kPhases; ++p)
            interval = std::max(interval, std::fabs(TruePeakDetector::interpolate(newest, p)));
    }
    interval *= kBetweenPhases;
    m_lastInterval = interval;
    peak = std::max(peak, interval);
    return peak > m_ceiling ? m_ceiling / peak : 1.0f;
}

void TruePeakLimiter::requirements(qint64 available)
{
    const float amplification = TruePeakDetector::amplificationBound();
    while (m_requiredEnd + kDetectionLag <= available) {
        const qint64 f = m_requiredEnd;
        // A stretch whose samples, and those the oversampler reads around
        // them, cannot pass the ceiling needs no work. Two bounds on what
        // the oversampler makes of them, take the smaller: the taps'
        // weights times the largest magnitude, and, because each phase's
        // taps sum to one, the middle m of their range plus the weights
        // times how far they stray from m (tight where the signal is smooth,
        // as most programme is between its peaks).
        if (f + kScreen - 1 + kDetectionLag <= available) {
            float loudest = 0;
            for (int c = 0; c < m_channels; ++c) {
                // Frames f - 15 .. f + kScreen + 15 are read; one more
                // before them makes a count the compiler vectorises.
                const float* in = m_channelsIn[size_t(c)].data() + (f - 16 - m_base);
                float hi[kLanes], lo[kLanes];
                std::copy(in, in + kLanes, hi);
                std::copy(in, in + kLanes, lo);
                for (qint64 i = kLanes; i < kScreen + 32; i += kLanes)
                    for (int u = 0; u < kLanes; ++u) {
                        hi[u] = std::max(hi[u], in[i + u]);
                        lo[u] = std::min(lo[u], in[i + u]);
                    }
                for (int u = 1; u < kLanes; ++u) {
                    hi[0] = std::max(hi[0], hi[u]);
                    lo[0] = std::min(lo[0], lo[u]);
                }
                const float middle = 0.5f * (hi[0] + lo[0]);
                loudest = std::max(loudest, std::min(std::max(hi[0], -lo[0]) * amplification,
                                                     std::fabs(middle) + 0.5f * (hi[0] - lo[0]) * amplification));
            }
            if (loudest * kBetweenPhases * 1.0001f <= m_ceiling) {
                m_required.insert(m_required.end(), size_t(kScreen), 1.0f);
                m_requiredEnd += kScreen;
                m_lastInterval = 0;
                continue;
            }
        }
        m_required.push_back(requiredGain(f));
        ++m_requiredEnd;
    }
}

void TruePeakLimiter::deliver(std::vector<float>& out)
{
    // Frame j leaves once the required gains up to j + lookahead - 1 are known.
    const qint64 ready = m_requiredEnd - m_lookahead + 1 - m_next;
    if (ready > 0) {
        const size_t first = out.size();
        out.resize(first + size_t(ready * m_channels));
        float* o = out.data() + first;
        for (qint64 k = 0; k < ready; ++k, ++m_next) {
            // Sliding minimum over frames m_next .. m_next + lookahead - 1.
            while (m_minimumEnd < m_next + m_lookahead) {
                const float r = m_required[size_t(m_requiredHead + (m_minimumEnd - m_next))];
                while (!m_minimum.empty() && m_minimum.back().second >= r)
                    m_minimum.pop_back();
                m_minimum.emplace_back(m_minimumEnd, r);
                ++m_minimumEnd;
            }
            while (m_minimum.front().first < m_next)
                m_minimum.pop_front();
            const double held = m_minimum.front().second;
            // Before the first frame the gain is already what the first
            // look-ahead needs, so that a peak at the very start is covered too.
            if (m_next == 0) {
                std::fill(m_smoothing.begin(), m_smoothing.end(), held);
                m_smoothingSum = held * double(m_lookahead);
                m_released = held;
            }
            // Never below what a later peak needs; otherwise back towards unity.
            m_released = std::min(held, m_released + (1.0 - m_released) * m_release);
            m_smoothingSum += m_released - m_smoothing[m_slot];
            m_smoothing[m_slot] = m_released;
            m_slot = m_slot + 1 == m_smoothing.size() ? 0 : m_slot + 1;
            // The mean of the last lookahead released gains: each of them is at
            // most the required gain of this frame, so their mean is too.
            const double gain = std::min(1.0, m_smoothingSum / double(m_lookahead));
            m_deepest = std::min(m_deepest, gain);
            const size_t at = size_t(m_next - m_base);
            for (int c = 0; c < m_channels; ++c)
                *o++ = float(m_channelsIn[size_t(c)][at] * gain);
            ++m_requiredHead;
        }
        // The gains of frames gone are not needed any more.
        if (m_requiredHead > 65536) {
            m_required.erase(m_required.begin(), m_required.begin() + m_requiredHead);
            m_requiredHead = 0;
        }
    }
    // Drop what neither the oversampler nor the output needs any more.
    const qint64 keepFrom = std::min(m_next, m_requiredEnd) - kHistory;
    if (keepFrom - m_base > 65536) {
        for (auto& channel : m_channelsIn)
            channel.erase(channel.begin(), channel.begin() + (keepFrom - m_base));
        m_base = keepFrom;
    }
}
