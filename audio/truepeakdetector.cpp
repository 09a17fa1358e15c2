#include "audio/truepeakdetector.h"

#include "audio/polyphasesinc.h"
#include "audio/simd.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// Positions are screened four at a time, and the taps in groups of four.
constexpr int kQuad = 4;
constexpr int kGroups = TruePeakDetector::kTaps / kQuad;
// Sets of four positions whose bounds are worked out together.
constexpr int kBlock = 8;
// Between two oversampled values a signal below half the sample rate rises
// at most by 1 / cos(pi / 8): the bound on what a refinement can add.
constexpr float kRefineBound = 1.0824f;

// The larger and the smaller of two values as one instruction each, where
// std::max's reference may make the compiler branch on unpredictable data.
inline float maxOf(float a, float b)
{
    return a > b ? a : b;
}

inline float minOf(float a, float b)
{
    return a < b ? a : b;
}

#if SONVIRA_HAVE_SSE2
// One channel of stereo frames into fours: four i (from `first` up to
// `last`, excluded) holds frames 4i - old to 4i - old + 3 of `interleaved`
// times `scale`, written to x + 4i; each four's largest and smallest value
// go to quadMax[i] and quadMin[i]. Returns the largest magnitude. The same
// values the one-by-one copy gives.
template <int Channel>
float stereoFours(const float* interleaved, qint64 old, qint64 first, qint64 last, float scale, float* x,
    float* quadMax, float* quadMin)
{
    const __m128 factor = _mm_set1_ps(scale);
    __m128 top = _mm_setzero_ps(), bottom = _mm_setzero_ps();
    for (qint64 i = first; i < last; ++i) {
        const float* frames = interleaved + 2 * (i * kQuad - old);
        const __m128 a = _mm_loadu_ps(frames), b = _mm_loadu_ps(frames + 4);
        const __m128 picked = Channel == 0 ? _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))
                                           : _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        const __m128 q = _mm_mul_ps(picked, factor);
        _mm_storeu_ps(x + i * kQuad, q);
        const __m128 swapped = _mm_shuffle_ps(q, q, _MM_SHUFFLE(2, 3, 0, 1));
        __m128 hi = _mm_max_ps(q, swapped), lo = _mm_min_ps(q, swapped);
        hi = _mm_max_ps(hi, _mm_shuffle_ps(hi, hi, _MM_SHUFFLE(1, 0, 3, 2)));
        lo = _mm_min_ps(lo, _mm_shuffle_ps(lo, lo, _MM_SHUFFLE(1, 0, 3, 2)));
        _mm_store_ss(quadMax + i, hi);
        _mm_store_ss(quadMin + i, lo);
        top = _mm_max_ps(top, hi);
        bottom = _mm_min_ps(bottom, lo);
    }
    float largest, smallest;
    _mm_store_ss(&largest, top);
    _mm_store_ss(&smallest, bottom);
    return maxOf(largest, -smallest);
}
#endif

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
        const auto taps = polyphaseSinc(TruePeakDetector::kPhases, TruePeakDetector::kTaps, 5.5);
        for (int p = 0; p < TruePeakDetector::kPhases; ++p) {
            double groups[kGroups] = {};
            for (int k = 0; k < TruePeakDetector::kTaps; ++k) {
                t.phase[size_t(p)][size_t(k)] = float(taps[size_t(p)][size_t(k)]);
                groups[k / kQuad] += std::fabs(taps[size_t(p)][size_t(k)]);
            }
            // A little headroom covers the rounding of float sums.
            for (int g = 0; g < kGroups; ++g)
                t.group[size_t(g)] = std::max(t.group[size_t(g)], float(groups[g] * 1.001));
        }
        return t;
    }();
    return table;
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

// Vertex of the parabola through three equally spaced values whose middle
// one is the largest in magnitude; the middle value when they do not bend.
double TruePeakDetector::refinedPeak(float before, float middle, float after)
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
    // Largest and smallest value of every aligned four samples (the last
    // ones padded with silence); the seven samples a group of taps reads for
    // four positions lie in two neighbouring fours, because the first
    // position, old, is 3 modulo 4.
    const qint64 quads = (total + kQuad - 1) / kQuad + 1;
    buf.resize(size_t(quads * kQuad));
    float* x = buf.data();
    m_quadMax.resize(size_t(quads));
    m_quadMin.resize(size_t(quads));
    float samplePeak = 0;
    const auto takeQuad = [&](qint64 i) {
        const float* q = x + i * kQuad;
        const float hi = maxOf(maxOf(q[0], q[1]), maxOf(q[2], q[3]));
        const float lo = minOf(minOf(q[0], q[1]), minOf(q[2], q[3]));
        m_quadMax[size_t(i)] = hi;
        m_quadMin[size_t(i)] = lo;
        samplePeak = maxOf(samplePeak, maxOf(hi, -lo));
    };
    // Fours made of new samples only: taken from the interleaved input
    // while they are copied (one pass over the samples, not two).
    const qint64 firstNew = (old + kQuad) / kQuad;   // the first four after the history's
    const qint64 lastNew = total / kQuad;            // the first four that is not whole
    const float* in = m_interleaved + c;
    const qint64 stride = m_channels;
    qint64 copiedTo = firstNew;
#if SONVIRA_HAVE_SSE2
    if (m_channels == 2 && lastNew > firstNew) {
        samplePeak = (c == 0 ? stereoFours<0> : stereoFours<1>)(m_interleaved, old, firstNew, lastNew, kInputScale, x,
            m_quadMax.data(), m_quadMin.data());
        copiedTo = lastNew;
    }
#endif
    for (qint64 i = copiedTo; i < lastNew; ++i) {
        float* q = x + i * kQuad;
        const float* s = in + (i * kQuad - old) * stride;
        q[0] = s[0] * kInputScale;
        q[1] = s[stride] * kInputScale;
        q[2] = s[2 * stride] * kInputScale;
        q[3] = s[3 * stride] * kInputScale;
        takeQuad(i);
    }
    // The rest: the four that completes the history, the last samples and
    // the silence after them.
    x[old] = in[0] * kInputScale;
    for (qint64 n = std::max(lastNew, firstNew) * kQuad; n < total; ++n)
        x[n] = in[(n - old) * stride] * kInputScale;
    std::fill(x + total, x + quads * kQuad, 0.0f);
    for (qint64 i = 0; i < firstNew; ++i)
        takeQuad(i);
    for (qint64 i = std::max(lastNew, firstNew); i < quads; ++i)
        takeQuad(i);
    m_peak = std::max(m_peak, double(samplePeak));

    // Two bounds on the outputs of four positions j, take the smaller:
    // the taps' weights times the largest magnitude each group reads, and,
    // because each phase's taps sum to one, a constant m plus the weights
    // times how far each group's samples stray from m (tight where the
    // signal is smooth). Group g reads fours j + 7 - g and j + 8 - g; m is
    // the middle of the central groups' range (fours j + 3 to j + 5).
    // Eight positions at a time, each step across the eight: the compiler
    // makes vector code of it. The fours past the end read as silence.
    const qint64 positions = (frames + kQuad - 1) / kQuad;
    const qint64 blocks = (positions + kBlock - 1) / kBlock;
    m_bound.resize(size_t(blocks * kBlock));
    m_setBound.resize(size_t(blocks));
    m_quadMax.resize(size_t(std::max(quads, blocks * kBlock + kGroups + 1)), 0.0f);
    m_quadMin.resize(m_quadMax.size(), 0.0f);
    // The largest magnitude of every eight fours: a set of positions reads
    // its own eight and the next.
    static_assert(kBlock == kGroups, "a set reads two eights of fours");
    m_eightMax.resize(size_t(blocks + 1));
    for (qint64 e = 0; e <= blocks; ++e) {
        const float* hi = m_quadMax.data() + e * kBlock;
        const float* lo = m_quadMin.data() + e * kBlock;
        float largest = 0;
        for (int q = 0; q < kBlock; ++q)
            largest = maxOf(largest, maxOf(hi[q], -lo[q]));
        m_eightMax[size_t(e)] = largest;
    }
    const auto& group = interpolator().group;
    const float gain = amplificationBound();
    for (qint64 j0 = 0; j0 < blocks * kBlock; j0 += kBlock) {
        const float* hi = m_quadMax.data() + j0;
        const float* lo = m_quadMin.data() + j0;
        // Where the interpolator's gain times the largest magnitude the set
        // reads is too small to matter already, that one bound serves all
        // its positions (most of a programme below its peak ends here).
        const float reach = maxOf(m_eightMax[size_t(j0 / kBlock)], m_eightMax[size_t(j0 / kBlock + 1)]);
        if (double(reach * gain * kRefineBound * 1.0001f) <= m_peak) {
            m_setBound[size_t(j0 / kBlock)] = reach * gain;
            continue;
        }
        float m[kBlock], bound[kBlock] = {}, spread[kBlock] = {};
        for (int l = 0; l < kBlock; ++l)
            m[l] = 0.5f * (std::max(std::max(hi[l + 3], hi[l + 4]), hi[l + 5])
                           + std::min(std::min(lo[l + 3], lo[l + 4]), lo[l + 5]));
        for (int g = 0; g < kGroups; ++g) {
            const float h = group[size_t(g)];
            const float* groupHi = hi + (kGroups - 1 - g);
            const float* groupLo = lo + (kGroups - 1 - g);
            for (int l = 0; l < kBlock; ++l) {
                const float pairHi = std::max(groupHi[l], groupHi[l + 1]);
                const float pairLo = std::min(groupLo[l], groupLo[l + 1]);
                bound[l] += h * std::max(pairHi, -pairLo);
                spread[l] += h * std::max(pairHi - m[l], m[l] - pairLo);
            }
        }
        float largest = 0;
        for (int l = 0; l < kBlock; ++l) {
            m_bound[size_t(j0 + l)] = minOf(bound[l], std::fabs(m[l]) + spread[l]);
            largest = maxOf(largest, m_bound[size_t(j0 + l)]);
        }
        m_setBound[size_t(j0 / kBlock)] = largest;
    }
    // A set whose largest bound cannot beat the peak is passed over whole;
    // the positions of the others are screened one by one.
    const float* bounds = m_bound.data();
    for (qint64 j0 = 0; j0 < positions; j0 += kBlock) {
        if (double(m_setBound[size_t(j0 / kBlock)] * kRefineBound * 1.0001f) <= m_peak)
            continue;
        for (qint64 j = j0; j < std::min(positions, j0 + kBlock); ++j) {
            if (double(bounds[j] * kRefineBound * 1.0001f) > m_peak) {
                const qint64 a = old + j * kQuad;
                scanPositions(x, a, std::min<qint64>(kQuad, total - a), total);
            }
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
