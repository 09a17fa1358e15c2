#include "noiseprofile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kSilentPower = 1e-20;   // digital silence tells nothing about the noise

// 10 log10(p) for p > 0 to within about 0.05 dB, from the float's exponent
// and a quadratic fit of log2 over the mantissa: the histogram needs 1 dB
// cells, and a true logarithm per bin and frame would dominate the run time.
inline float fastDb(float p)
{
    uint32_t bits;
    std::memcpy(&bits, &p, sizeof bits);
    const int exponent = int((bits >> 23) & 0xFF) - 127;
    const float m = float(bits & 0x7FFFFF) / 8388608.0f;   // mantissa - 1, in [0, 1)
    const float log2 = float(exponent) + m * (1.3465f - 0.3465f * m);
    return 3.0103f * log2;
}

} // namespace

NoiseProfile::NoiseProfile(int bins)
    : m_bins(bins)
    , m_counts(size_t(bins) * kCells, 0)
    , m_totals(size_t(bins), 0)
{
}

void NoiseProfile::add(const std::vector<std::complex<float>>& spectrum)
{
    for (int k = 0; k < m_bins; ++k) {
        const float power = std::norm(spectrum[size_t(k)]);
        if (!(power >= float(kSilentPower)))
            continue;
        const int cell = std::clamp(int(std::floor(fastDb(power))) - kLowestDb, 0, kCells - 1);
        ++m_counts[size_t(k) * kCells + size_t(cell)];
        ++m_totals[size_t(k)];
    }
}

std::vector<double> NoiseProfile::estimate(double percentile, int guardBins, double guardDb) const
{
    std::vector<double> floor(size_t(m_bins), kSilentPower);
    const double meanPerPercentile = 1.0 / -std::log(1.0 - percentile);
    for (int k = 0; k < m_bins; ++k) {
        const uint64_t total = m_totals[size_t(k)];
        if (total == 0)
            continue;
        const double wanted = percentile * double(total);
        double below = 0;
        for (int cell = 0; cell < kCells; ++cell) {
            const double count = m_counts[size_t(k) * kCells + size_t(cell)];
            if (below + count >= wanted) {
                const double db = kLowestDb + cell + (wanted - below) / std::max(count, 1.0);
                floor[size_t(k)] = std::pow(10.0, db / 10.0) * meanPerPercentile;
                break;
            }
            below += count;
        }
    }
    if (guardBins <= 0)
        return floor;
    const double guard = std::pow(10.0, guardDb / 10.0);
    std::vector<double> guarded(floor);
    std::vector<double> window;
    for (int k = 0; k < m_bins; ++k) {
        const int lo = std::max(0, k - guardBins), hi = std::min(m_bins - 1, k + guardBins);
        window.assign(floor.begin() + lo, floor.begin() + hi + 1);
        std::nth_element(window.begin(), window.begin() + long(window.size() / 2), window.end());
        guarded[size_t(k)] = std::min(floor[size_t(k)], window[window.size() / 2] * guard);
    }
    return guarded;
}
