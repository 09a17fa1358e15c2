#pragma once

#include <complex>
#include <vector>

// FFT of real frames of one fixed power-of-two size N, computed as a complex
// FFT of N/2 points (even samples as real, odd samples as imaginary parts).
class RealFft {
public:
    explicit RealFft(int size);
    int size() const { return m_size; }
    // N samples in, bins 0..N/2 out.
    void forward(const float* samples, std::complex<float>* bins);
    // Bins 0..N/2 in, N samples out (scaled, so inverse(forward(x)) == x).
    void inverse(const std::complex<float>* bins, float* samples);

private:
    void complexFft(bool inverse);

    int m_size;
    int m_half;
    std::vector<int> m_bitReverse;
    std::vector<std::complex<float>> m_stageTwiddles;   // per stage of length h: entries h-1 .. 2h-2
    std::vector<std::complex<float>> m_splitTwiddles;   // exp(-2 pi i k / N), k = 0..N/2
    std::vector<std::complex<float>> m_work;
};
