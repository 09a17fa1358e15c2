#include "stftchannel.h"

#include "audio/pi.h"

#include <algorithm>
#include <cmath>

StftChannel::StftChannel(int frameSize, bool synthesize, FrameHandler handler)
    : m_fft(frameSize)
    , m_hop(frameSize / 2)
    , m_synthesize(synthesize)
    , m_handler(std::move(handler))
    , m_window(size_t(frameSize))
    , m_input(size_t(frameSize), 0.0f)
    , m_overlap(size_t(frameSize), 0.0f)
    , m_frame(size_t(frameSize))
    , m_spectrum(size_t(frameSize / 2 + 1))
{
    for (int n = 0; n < frameSize; ++n)
        m_window[size_t(n)] = float(std::sqrt(0.5 - 0.5 * std::cos(2.0 * kPi * n / frameSize)));
    // The first frame sees one hop of silence before the signal, so every
    // real sample is covered by two windows; its first hop of output is
    // that silence and is dropped.
    m_filled = m_hop;
    m_discard = m_hop;
}

void StftChannel::push(const float* samples, long count, long stride, std::vector<float>& out)
{
    for (long i = 0; i < count; ++i) {
        m_input[size_t(m_filled++)] = samples[i * stride];
        if (m_filled == int(m_input.size()))
            processFrame(out);
    }
    m_pushed += count;
}

void StftChannel::finish(std::vector<float>& out)
{
    const int64_t total = m_pushed;
    while (m_synthesize ? m_delivered < total : m_filled > m_hop) {
        std::fill(m_input.begin() + m_filled, m_input.end(), 0.0f);
        m_filled = int(m_input.size());
        processFrame(out);
    }
    if (m_synthesize && m_delivered > total)
        out.resize(out.size() - size_t(m_delivered - total));
    m_delivered = std::min(m_delivered, total);
}

void StftChannel::processFrame(std::vector<float>& out)
{
    const int n = int(m_input.size());
    for (int i = 0; i < n; ++i)
        m_frame[size_t(i)] = m_input[size_t(i)] * m_window[size_t(i)];
    m_fft.forward(m_frame.data(), m_spectrum.data());
    m_handler(m_spectrum);
    std::copy(m_input.begin() + m_hop, m_input.end(), m_input.begin());
    m_filled = n - m_hop;
    if (!m_synthesize)
        return;
    m_fft.inverse(m_spectrum.data(), m_frame.data());
    for (int i = 0; i < n; ++i)
        m_overlap[size_t(i)] += m_frame[size_t(i)] * m_window[size_t(i)];
    for (int i = 0; i < m_hop; ++i) {
        if (m_discard > 0)
            --m_discard;
        else {
            out.push_back(m_overlap[size_t(i)]);
            ++m_delivered;
        }
    }
    std::copy(m_overlap.begin() + m_hop, m_overlap.end(), m_overlap.begin());
    std::fill(m_overlap.end() - m_hop, m_overlap.end(), 0.0f);
}
