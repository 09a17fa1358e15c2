#pragma once

#include "fft.h"

#include <complex>
#include <cstdint>
#include <functional>
#include <vector>

// Short-time Fourier framing of one channel: square-root Hann windows with
// 50 % overlap, which sum to exactly one, so unmodified spectra give the
// input back. Output is aligned with the input (the framing delay is taken
// out) and finish() delivers the rest, so the output has the input's length
// exactly.
class StftChannel {
public:
    // Called once per frame with the spectrum (bins 0..N/2), which it may
    // change.
    using FrameHandler = std::function<void(std::vector<std::complex<float>>& spectrum)>;

    StftChannel(int frameSize, bool synthesize, FrameHandler handler);

    int frameSize() const { return m_fft.size(); }
    // Takes samples; appends every completed output sample to `out` (when
    // synthesising).
    void push(const float* samples, long count, long stride, std::vector<float>& out);
    // Feeds the trailing zeros and delivers the remaining output.
    void finish(std::vector<float>& out);

private:
    void processFrame(std::vector<float>& out);

    RealFft m_fft;
    int m_hop;
    bool m_synthesize;
    FrameHandler m_handler;
    std::vector<float> m_window;
    std::vector<float> m_input;        // the last frameSize input samples
    int m_filled;                      // samples of m_input that are new since the last frame
    std::vector<float> m_overlap;      // overlap-add accumulator
    std::vector<float> m_frame;        // windowed frame / synthesised frame
    std::vector<std::complex<float>> m_spectrum;
    int64_t m_pushed = 0;              // real input samples taken
    int64_t m_delivered = 0;           // output samples handed out
    int64_t m_discard;                 // leading output that belongs to the padding
};
