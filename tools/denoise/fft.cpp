#include "fft.h"

#include "audio/pi.h"

#include <cmath>
#include <stdexcept>
#include <utility>

RealFft::RealFft(int size)
    : m_size(size)
    , m_half(size / 2)
{
    if (size < 4 || (size & (size - 1)) != 0)
        throw std::invalid_argument("FFT size must be a power of two");
    int bits = 0;
    while ((1 << bits) < m_half)
        ++bits;
    m_bitReverse.resize(size_t(m_half));
    for (int i = 0; i < m_half; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        m_bitReverse[size_t(i)] = r;
    }
    m_stageTwiddles.resize(size_t(m_half));
    for (int h = 1; h < m_half; h *= 2)
        for (int k = 0; k < h; ++k)
            m_stageTwiddles[size_t(h - 1 + k)] = std::polar(1.0, -kPi * k / h);
    m_splitTwiddles.resize(size_t(m_half + 1));
    for (int k = 0; k <= m_half; ++k)
        m_splitTwiddles[size_t(k)] = std::polar(1.0, -2.0 * kPi * k / size);
    m_work.resize(size_t(m_half));
}

void RealFft::complexFft(bool inverse)
{
    std::complex<float>* data = m_work.data();
    for (int i = 0; i < m_half; ++i) {
        const int r = m_bitReverse[size_t(i)];
        if (r > i)
            std::swap(data[i], data[r]);
    }
    for (int h = 1; h < m_half; h *= 2) {
        const std::complex<float>* tw = m_stageTwiddles.data() + (h - 1);
        for (int start = 0; start < m_half; start += 2 * h) {
            std::complex<float>* a = data + start;
            std::complex<float>* b = a + h;
            for (int k = 0; k < h; ++k) {
                const float wr = tw[k].real();
                const float wi = inverse ? -tw[k].imag() : tw[k].imag();
                const float br = b[k].real(), bi = b[k].imag();
                const std::complex<float> t(wr * br - wi * bi, wr * bi + wi * br);
                b[k] = a[k] - t;
                a[k] += t;
            }
        }
    }
}

void RealFft::forward(const float* samples, std::complex<float>* bins)
{
    for (int n = 0; n < m_half; ++n)
        m_work[size_t(n)] = {samples[2 * n], samples[2 * n + 1]};
    complexFft(false);
    const std::complex<float> i(0.0f, 1.0f);
    for (int k = 0; k <= m_half; ++k) {
        const std::complex<float> z = m_work[size_t(k % m_half)];
        const std::complex<float> zc = std::conj(m_work[size_t((m_half - k) % m_half)]);
        const std::complex<float> even = 0.5f * (z + zc);
        const std::complex<float> odd = -0.5f * i * (z - zc);
        bins[k] = even + m_splitTwiddles[size_t(k)] * odd;
    }
}

void RealFft::inverse(const std::complex<float>* bins, float* samples)
{
    const std::complex<float> i(0.0f, 1.0f);
    for (int k = 0; k < m_half; ++k) {
        const std::complex<float> x = bins[k];
        const std::complex<float> xc = std::conj(bins[m_half - k]);
        const std::complex<float> even = 0.5f * (x + xc);
        const std::complex<float> odd = 0.5f * (x - xc) * std::conj(m_splitTwiddles[size_t(k)]);
        m_work[size_t(k)] = even + i * odd;
    }
    complexFft(true);
    const float scale = 1.0f / float(m_half);
    for (int n = 0; n < m_half; ++n) {
        samples[2 * n] = m_work[size_t(n)].real() * scale;
        samples[2 * n + 1] = m_work[size_t(n)].imag() * scale;
    }
}
