#include "audio/truepeakdetector.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int kLength = TruePeakDetector::kPhases * TruePeakDetector::kTaps;
// Positions are screened four at a time, and the taps in groups of four.
constexpr int kQuad = 4;
constexpr int kGroups = TruePeakDetector::kTaps / kQuad;
// Between two oversampled values a signal below half the sample rate rises
// at most by 1 / cos(pi / 8): the bound on what a refinement can add.
constexpr float kRefineBound = 1.0824f;

// Zeroth-order modified Bessel function, for the Kaiser window.
double besselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

struct Interpolator {
    // phase[p][k] multiplies the sample k steps before the newest one.
    std::array<std::array<float, TruePeakDetector::kTaps>, TruePeakDetector::kPhases> phase{};
    // group[g]: the largest sum, over the phases, of the absolute values of
    // taps 4g to 4g + 3. An output cannot exceed the sum over the groups of
    // group[g] times the largest sample that group reads.
    std::array<float, kGroups> group{};
};

// Windowed sinc with its cut-off at the input's Nyquist frequency; the Kaiser
// window (beta 5.5) keeps the response flat to 0.45 of the sample rate and
// the images from 0.55 on about 55 dB down. Each phase is scaled to unit gain
// at 0 Hz.
const Interpolator& interpolator()
{
    static const Interpolator table = [] {
        Interpolator t;
        const double centre = (kLength - 1) / 2.0;
        const double beta = 5.5;
        for (int p = 0; p < TruePeakDetector::kPhases; ++p) {
            double taps[TruePeakDetector::kTaps];
            double sum = 0;
            for (int k = 0; k < TruePeakDetector::kTaps; ++k) {
                const int j = k * TruePeakDetector::kPhases + p;
                const double x = (j - centre) / TruePeakDetector::kPhases;
                const double sinc = x == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
                const double r = (j - centre) / (centre + 0.5);
                const double window = besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / besselI0(beta);
                taps[k] = sinc * window;
                sum += taps[k];
            }
            double groups[kGroups] = {};
            for (int k = 0; k < TruePeakDetector::kTaps; ++k) {
                t.phase[size_t(p)][size_t(k)] = float(taps[k] / sum);
                groups[k / kQuad] += std::fabs(taps[k] / sum);
            }
            // A little headroom covers the rounding of float sums.
            for (int g = 0; g < kGroups; ++g)
                t.group[size_t(g)] = std::max(t.group[size_t(g)], float(groups[g] * 1.001));
        }
        return t;
    }();
    return table;
}

// Vertex of the parabola through three equally spaced values whose middle
// one is the largest in magnitude; the middle value when they do not bend.
double refinedPeak(float before, float middle, float after)
{
    const double sign = middle < 0 ? -1.0 : 1.0;
    const double a = sign * before, b = sign * middle, c = sign * after;
    const double bend = a - 2.0 * b + c;
    if (!(bend < 0))
        return b;
    const double offset = 0.5 * (a - c) / bend;
    if (std::fabs(offset) > 1.0)
        return b;
    return b - 0.25 * (a - c) * offset;
}

} // namespace

TruePeakDetector::TruePeakDetector(int channels)
    : m_channels(std::max(channels, 0))
    , m_history(size_t(m_channels), std::vector<float>(kTaps - 1, 0.0f))
{
    interpolator();
}

float TruePeakDetector::interpolate(const float* newestLast, int phase)
{
    const auto& taps = interpolator().phase[size_t(phase)];
    float lanes[4] = {};
    for (int k = 0; k < kTaps; k += 4)
        for (int u = 0; u < 4; ++u)
            lanes[u] += taps[size_t(k + u)] * newestLast[-(k + u)];
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

float TruePeakDetector::amplificationBound()
{
    const auto& group = interpolator().group;
    float sum = 0;
    for (float g : group)
        sum += g;
    return sum;
}

void TruePeakDetector::process(const float* interleaved, qint64 frames)
{
    if (frames <= 0)
        return;
    m_interleaved = interleaved;
    for (int c = 0; c < m_channels; ++c)
        processChannel(c, frames);
    m_interleaved = nullptr;
}

void TruePeakDetector::finish()
{
    const std::vector<float> silence(size_t(kTaps) * size_t(m_channels), 0.0f);
    process(silence.data(), kTaps);
}

void TruePeakDetector::processChannel(int c, qint64 frames)
{
    std::vector<float>& buf = m_history[size_t(c)];
    const qint64 old = kTaps - 1;
    const qint64 total = old + frames;
    buf.resize(size_t(total) + 2 * kQuad);
    float* x = buf.data();
    for (qint64 i = 0; i < frames; ++i)
        x[old + i] = m_interleaved[i * m_channels + c];
    std::fill(x + total, x + total + 2 * kQuad, 0.0f);
    // Largest and smallest value of every aligned four samples, then of
    // every two neighbouring fours: the seven samples a group of taps reads
    // for four positions lie in two of them, because the first position,
    // old, is 3 modulo 4.
    const qint64 quads = (total + kQuad - 1) / kQuad + 1;
    m_pairMax.resize(size_t(quads));
    m_pairMin.resize(size_t(quads));
    float samplePeak = 0;
    for (qint64 i = 0; i < quads; ++i) {
        const float* q = x + i * kQuad;
        const float hi = std::max(std::max(q[0], q[1]), std::max(q[2], q[3]));
        const float lo = std::min(std::min(q[0], q[1]), std::min(q[2], q[3]));
        m_pairMax[size_t(i)] = hi;
        m_pairMin[size_t(i)] = lo;
        samplePeak = std::max(samplePeak, std::max(hi, -lo));
    }
    m_peak = std::max(m_peak, double(samplePeak));
    for (qint64 i = 0; i + 1 < quads; ++i) {
        m_pairMax[size_t(i)] = std::max(m_pairMax[size_t(i)], m_pairMax[size_t(i + 1)]);
        m_pairMin[size_t(i)] = std::min(m_pairMin[size_t(i)], m_pairMin[size_t(i + 1)]);
    }
    // Two bounds on the outputs of four positions j, take the smaller:
    // the taps' weights times the largest magnitude each group reads, and,
    // because each phase's taps sum to one, a constant m plus the weights
    // times how far each group's samples stray from m (tight where the
    // signal is smooth). Group g reads the pair starting at four j + 7 - g;
    // m is the middle of the central groups' range.
    const qint64 positions = (frames + kQuad - 1) / kQuad;
    m_bound.assign(size_t(positions), 0.0f);
    m_spread.assign(size_t(positions), 0.0f);
    m_middle.resize(size_t(positions));
    for (qint64 j = 0; j < positions; ++j) {
        const float hi = std::max(m_pairMax[size_t(j + 3)], m_pairMax[size_t(j + 4)]);
        const float lo = std::min(m_pairMin[size_t(j + 3)], m_pairMin[size_t(j + 4)]);
        m_middle[size_t(j)] = 0.5f * (hi + lo);
    }
    const auto& group = interpolator().group;
    for (int g = 0; g < kGroups; ++g) {
        const float h = group[size_t(g)];
        const float* hi = m_pairMax.data() + (kGroups - 1 - g);
        const float* lo = m_pairMin.data() + (kGroups - 1 - g);
        for (qint64 j = 0; j < positions; ++j) {
            const float m = m_middle[size_t(j)];
            m_bound[size_t(j)] += h * std::max(hi[j], -lo[j]);
            m_spread[size_t(j)] += h * std::max(hi[j] - m, m - lo[j]);
        }
    }
    for (qint64 j = 0; j < positions; ++j) {
        const float bound = std::min(m_bound[size_t(j)], std::fabs(m_middle[size_t(j)]) + m_spread[size_t(j)]);
        if (double(bound * kRefineBound * 1.0001f) > m_peak) {
            const qint64 a = old + j * kQuad;
            scanPositions(x, a, std::min<qint64>(kQuad, total - a), total);
        }
    }
    std::copy(x + total - old, x + total, x);
    buf.resize(size_t(old));
}

// Oversamples positions first .. first + count - 1 of buf (each reads the
// kTaps - 1 samples before it; buf holds `total`). A value that could be
// the peak is refined by its neighbours in time.
void TruePeakDetector::scanPositions(const float* buf, qint64 first, qint64 count, qint64 total)
{
    for (qint64 n = first; n < first + count; ++n) {
        for (int p = 0; p < kPhases; ++p) {
            const float v = interpolate(buf + n, p);
            if (double(std::fabs(v) * kRefineBound) <= m_peak)
                continue;
            // Neighbours across sample boundaries need samples buf may not hold.
            const bool hasBefore = p > 0 || n - 1 >= kTaps - 1;
            const bool hasAfter = p < kPhases - 1 || n + 1 < total;
            double value = std::fabs(v);
            if (hasBefore && hasAfter) {
                const float before = p > 0 ? interpolate(buf + n, p - 1) : interpolate(buf + n - 1, kPhases - 1);
                const float after = p < kPhases - 1 ? interpolate(buf + n, p + 1) : interpolate(buf + n + 1, 0);
                value = std::max(value, refinedPeak(before, v, after));
            }
            m_peak = std::max(m_peak, value);
        }
    }
}
