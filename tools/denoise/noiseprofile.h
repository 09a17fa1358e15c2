#pragma once

#include <complex>
#include <cstdint>
#include <vector>

// The stationary noise floor of one channel: a histogram of every bin's
// power (1 dB cells) over the whole file, read at a low percentile.
class NoiseProfile {
public:
    explicit NoiseProfile(int bins);

    void add(const std::vector<std::complex<float>>& spectrum);
    // Mean noise power per bin. The percentile of a noise-only periodogram
    // (exponentially distributed power) is corrected to its mean; a bin whose
    // floor stands out from its neighbours by more than guardDb is a
    // stationary tone, not noise, and is held down to the neighbours' level.
    std::vector<double> estimate(double percentile, int guardBins, double guardDb) const;

private:
    static constexpr int kCells = 300;      // -200 dB .. +100 dB
    static constexpr int kLowestDb = -200;

    int m_bins;
    std::vector<uint32_t> m_counts;         // m_counts[bin * kCells + cell]
    std::vector<uint64_t> m_totals;
};
