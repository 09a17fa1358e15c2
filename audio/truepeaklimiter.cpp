#include "audio/truepeaklimiter.h"

#include "audio/polyphasesinc.h"
#include "audio/truepeakdetector.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// Headroom under the ceiling for the rounding of the written samples and
// what the refinement between oversampled values may miss.
constexpr double kHeadroomDb = 0.06;
// Between two oversampled values the signal may rise by up to this factor
// over them (a sine just under half the sample rate): used only to decide
// which stretches cannot come near the ceiling.
constexpr float kBetweenPhases = 1.0824f;
constexpr double kLookaheadSeconds = 0.005;
// The gain does not rise while a deeper requirement comes within this time:
// the peaks of a bass tone down to 20 Hz come closer together.
constexpr double kHoldSeconds = 0.025;
constexpr double kFastReleaseSeconds = 0.004;
constexpr double kSlowReleaseSeconds = 0.15;
constexpr double kSustainedSeconds = 0.2;
constexpr qint64 kScreen = 16;       // frames screened together
constexpr int kLanes = 8;            // running extremes of the screening
constexpr int kPhases = 4;

struct Oversampler {
    // phase[p][k] multiplies the sample k steps before the newest one.
    std::array<std::array<float, size_t(TruePeakLimiter::kTaps)>, kPhases> phase{};
    // No output exceeds the largest sample it reads by more than this factor.
    float amplification = 0;
};

// Kaiser beta 9: images about 90 dB down, flat to 0.47 of the rate.
const Oversampler& oversampler()
{
    static const Oversampler table = [] {
        Oversampler t;
        const auto taps = polyphaseSinc(kPhases, int(TruePeakLimiter::kTaps), 9.0);
        for (int p = 0; p < kPhases; ++p) {
            double sum = 0;
            for (int k = 0; k < int(TruePeakLimiter::kTaps); ++k) {
                t.phase[size_t(p)][size_t(k)] = float(taps[size_t(p)][size_t(k)]);
                sum += std::fabs(taps[size_t(p)][size_t(k)]);
            }
            t.amplification = std::max(t.amplification, float(sum * 1.001));
        }
        return t;
    }();
    return table;
}

float interpolate(const float* newestLast, int phase)
{
    const auto& taps = oversampler().phase[size_t(phase)];
    float lanes[4] = {};
    for (int k = 0; k < int(TruePeakLimiter::kTaps); k += 4)
        for (int u = 0; u < 4; ++u)
            lanes[u] += taps[size_t(k + u)] * newestLast[-(k + u)];
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

double releaseStep(double seconds, int sampleRate)
{
    return 1.0 - std::exp(-1.0 / (seconds * std::max(sampleRate, 1)));
}

// A gained sample that is no number is silence. Samples are kept within
// +-1e30, so that the oversampler's float sums cannot overflow; the limiter
// brings any such sample down to the ceiling anyway.
float sanitized(double v)
{
    constexpr double kLargest = 1e30;
    return std::isnan(v) ? 0.0f : float(std::clamp(v, -kLargest, kLargest));
}

} // namespace

TruePeakLimiter::TruePeakLimiter(int sampleRate, int channels, double gain, double ceilingDb)
    : m_sampleRate(std::max(sampleRate, 1))
    , m_channels(std::max(channels, 1))
    , m_gain(float(gain))
    , m_ceiling(float(std::pow(10.0, (ceilingDb - kHeadroomDb) / 20.0)))
    , m_lookahead(std::max<qint64>(1, qint64(std::lround(kLookaheadSeconds * m_sampleRate))))
    , m_holdAhead(std::max(m_lookahead, qint64(std::lround(kHoldSeconds * m_sampleRate))))
    , m_fastRelease(releaseStep(kFastReleaseSeconds, m_sampleRate))
    , m_slowRelease(releaseStep(kSlowReleaseSeconds, m_sampleRate))
    , m_sustained(qint64(kSustainedSeconds * m_sampleRate))
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
            channel[old + size_t(i)] = sanitized(double(in[i * m_channels + c]) * m_gain);
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
    const qint64 tail = kDetectionLag + m_holdAhead + kScreen + kTaps + kLanes;
    for (auto& channel : m_channelsIn)
        channel.insert(channel.end(), size_t(tail), 0.0f);
    requirements(end + tail);
    const size_t before = out.size();
    deliver(out);
    const qint64 emitted = qint64(out.size() - before) / m_channels;
    const qint64 beyond = std::min(emitted, m_next - end);
    out.resize(out.size() - size_t(beyond * m_channels));
}

// The oversampler's outputs from frame + kTaps / 2 lie between frame and
// frame + 1; the last one before them comes from the frame before that, the
// first after them from the frame after. A value that is the largest among
// its neighbours is refined by the parabola through them.
float TruePeakLimiter::intervalPeak(int c, qint64 frame) const
{
    const float* newest = m_channelsIn[size_t(c)].data() + (frame + kTaps / 2 - m_base);
    float v[kPhases + 2];
    v[0] = interpolate(newest - 1, kPhases - 1);
    for (int p = 0; p < kPhases; ++p)
        v[p + 1] = interpolate(newest, p);
    v[kPhases + 1] = interpolate(newest + 1, 0);
    float peak = 0;
    for (int i = 1; i <= kPhases; ++i) {
        const float a = std::fabs(v[i]);
        peak = std::max(peak, a);
        if (a >= std::fabs(v[i - 1]) && a >= std::fabs(v[i + 1]))
            peak = std::max(peak, float(TruePeakDetector::refinedPeak(v[i - 1], v[i], v[i + 1])));
    }
    return peak;
}

// The gain that keeps frame `frame` and the signal up to the next frame
// under the ceiling; reads the samples up to frame + kDetectionLag - 1.
float TruePeakLimiter::requiredGain(qint64 frame)
{
    float peak = 0;
    for (int c = 0; c < m_channels; ++c) {
        peak = std::max(peak, std::fabs(m_channelsIn[size_t(c)][size_t(frame - m_base)]));
        peak = std::max(peak, intervalPeak(c, frame));
    }
    return peak > m_ceiling ? m_ceiling / peak : 1.0f;
}

void TruePeakLimiter::requirements(qint64 available)
{
    const float amplification = oversampler().amplification;
    while (m_requiredEnd + kDetectionLag <= available) {
        const qint64 f = m_requiredEnd;
        // A stretch whose samples, and those the oversampler reads around
        // them, cannot pass the ceiling needs no work. Two bounds on what
        // the oversampler makes of them, take the smaller: the taps'
        // weights times the largest magnitude, and, because each phase's
        // taps sum to one, the middle m of their range plus the weights
        // times how far they stray from m (tight where the signal is smooth,
        // as most programme is between its peaks).
        // Frames f - kTaps / 2 .. f + kScreen + kTaps / 2 are read, rounded
        // up to a count the compiler vectorises.
        constexpr qint64 span = (kScreen + kTaps + 1 + kLanes - 1) / kLanes * kLanes;
        if (f - kTaps / 2 + span <= available) {
            float loudest = 0;
            for (int c = 0; c < m_channels; ++c) {
                const float* in = m_channelsIn[size_t(c)].data() + (f - kTaps / 2 - m_base);
                float hi[kLanes], lo[kLanes];
                std::copy(in, in + kLanes, hi);
                std::copy(in, in + kLanes, lo);
                for (qint64 i = kLanes; i < span; i += kLanes)
                    for (int u = 0; u < kLanes; ++u) {
                        hi[u] = std::max(hi[u], in[i + u]);
                        lo[u] = std::min(lo[u], in[i + u]);
                    }
                for (int u = 1; u < kLanes; ++u) {
                    hi[0] = std::max(hi[0], hi[u]);
                    lo[0] = std::min(lo[0], lo[u]);
                }
                const float middle = 0.5f * hi[0] + 0.5f * lo[0];
                loudest = std::max(loudest, std::min(std::max(hi[0], -lo[0]) * amplification,
                                                     std::fabs(middle) + (0.5f * hi[0] - 0.5f * lo[0]) * amplification));
            }
            if (loudest * kBetweenPhases * 1.0001f <= m_ceiling) {
                m_required.insert(m_required.end(), size_t(kScreen), 1.0f);
                m_requiredEnd += kScreen;
                continue;
            }
        }
        m_required.push_back(requiredGain(f));
        ++m_requiredEnd;
    }
}

double TruePeakLimiter::released(double soon, double within)
{
    const qint64 n = m_next;
    if (within < 1.0) {
        if (n - m_lastLimited > 1)
            m_limitingSince = n;   // limiting starts anew after a pause
        m_lastLimited = n;
    }
    if (soon < m_released) {
        // A deeper requirement: the gain goes down to it at once (the
        // look-ahead average makes the ramp).
        m_released = soon;
        return m_released;
    }
    // Up, but never past the deepest requirement of the hold's reach: a
    // steady tone's next peak needs the same gain, so it gets one constant
    // gain, while the decaying cycles of a transient let it rise from peak
    // to peak. Slowly once the limiting that ends had lasted.
    if (within <= m_released)
        return m_released;
    const bool sustained = m_lastLimited - m_limitingSince > m_sustained;
    m_released = std::min(within, m_released + (1.0 - m_released) * (sustained ? m_slowRelease : m_fastRelease));
    if (m_released > 1.0 - 1e-6)
        m_released = 1.0;
    return m_released;
}

float TruePeakLimiter::SlidingMinimum::slide(const std::vector<float>& required, qint64 head, qint64 from, qint64 length)
{
    while (end < from + length) {
        const float r = required[size_t(head + (end - from))];
        while (!window.empty() && window.back().second >= r)
            window.pop_back();
        window.emplace_back(end, r);
        ++end;
    }
    while (window.front().first < from)
        window.pop_front();
    return window.front().second;
}

void TruePeakLimiter::deliver(std::vector<float>& out)
{
    // Frame j leaves once the required gains up to j + hold - 1 are known.
    const qint64 ready = m_requiredEnd - m_holdAhead + 1 - m_next;
    if (ready > 0) {
        const size_t first = out.size();
        out.resize(first + size_t(ready * m_channels));
        float* o = out.data() + first;
        for (qint64 k = 0; k < ready; ++k, ++m_next) {
            const double soon = m_soon.slide(m_required, m_requiredHead, m_next, m_lookahead);
            const double within = m_within.slide(m_required, m_requiredHead, m_next, m_holdAhead);
            // Before the first frame the gain is already what the first
            // look-ahead needs, so that a peak at the very start is covered too.
            if (m_next == 0) {
                std::fill(m_smoothing.begin(), m_smoothing.end(), soon);
                m_smoothingSum = soon * double(m_lookahead);
                m_released = soon;
            }
            const double gainNow = released(soon, within);
            m_smoothingSum += gainNow - m_smoothing[m_slot];
            m_smoothing[m_slot] = gainNow;
            m_slot = m_slot + 1 == m_smoothing.size() ? 0 : m_slot + 1;
            // A fresh sum once per turn of the ring: the running one must
            // not drift.
            if (m_slot == 0) {
                m_smoothingSum = 0;
                for (double g : m_smoothing)
                    m_smoothingSum += g;
            }
            // The mean of the last lookahead released gains: each of them is at
            // most the required gain of this frame, so their mean is too (and
            // stays so, and not below zero, in finite precision).
            const double required = m_required[size_t(m_requiredHead)];
            const double gain = std::clamp(m_smoothingSum / double(m_lookahead), 0.0, std::min(1.0, required));
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
