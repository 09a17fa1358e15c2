#include "audio/iirfilter.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace {

struct State {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

struct Coefficients {
    double b0, b1, b2, a1, a2, gain;

    // Direct form I in double; the stored sample is rounded to float.
    inline float step(State& s, float in) const
    {
        const double x = in;
        const double y = b0 * x + b1 * s.x1 + b2 * s.x2 - a1 * s.y1 - a2 * s.y2;
        s.x2 = s.x1;
        s.x1 = x;
        s.y2 = s.y1;
        s.y1 = y;
        return static_cast<float>(y * gain);
    }
};

// Channels known at compile time keep every channel's state in registers and
// let the independent channels overlap in the pipeline.
template <int N>
void filterFixed(const Coefficients& k, std::vector<double>* st[4], float* samples, qint64 frames)
{
    State s[N];
    for (int c = 0; c < N; ++c)
        s[c] = {(*st[0])[c], (*st[1])[c], (*st[2])[c], (*st[3])[c]};
    for (qint64 i = 0; i < frames; ++i) {
        float* frame = samples + i * N;
        for (int c = 0; c < N; ++c)
            frame[c] = k.step(s[c], frame[c]);
    }
    for (int c = 0; c < N; ++c) {
        (*st[0])[c] = s[c].x1;
        (*st[1])[c] = s[c].x2;
        (*st[2])[c] = s[c].y1;
        (*st[3])[c] = s[c].y2;
    }
}

void filterAny(const Coefficients& k, std::vector<double>* st[4], float* samples, qint64 frames, int channels)
{
    for (int c = 0; c < channels; ++c) {
        State s{(*st[0])[c], (*st[1])[c], (*st[2])[c], (*st[3])[c]};
        for (qint64 i = 0; i < frames; ++i) {
            float& v = samples[i * channels + c];
            v = k.step(s, v);
        }
        (*st[0])[c] = s.x1;
        (*st[1])[c] = s.x2;
        (*st[2])[c] = s.y1;
        (*st[3])[c] = s.y2;
    }
}

} // namespace

IIRFilter::IIRFilter(double G, double Q, double fc, double fs, const QByteArray& type, double passbandGain)
    : m_gainDb(G)
    , m_q(Q)
    , m_centerFrequency(fc)
    , m_sampleRate(fs)
    , m_filterType(type)
    , m_passbandGain(passbandGain)
{
    if (type == "high_shelf_DeMan" || type == "high_pass_DeMan")
        designDeMan();
    else
        designCookbook();
}

void IIRFilter::designCookbook()
{
    const double A = std::pow(10.0, m_gainDb / 40.0);
    const double w0 = (m_centerFrequency / m_sampleRate) * 6.283185307179586;
    const double c = std::cos(w0);
    const double alpha = std::sin(w0) / (2.0 * m_q);
    const double S = 2.0 * std::sqrt(A) * alpha;
    double b0, b1, b2, a0, a1, a2;
    if (m_filterType == "high_shelf") {
        b0 = A * ((A + 1) + (A - 1) * c + S);
        b1 = -2 * A * ((A - 1) + (A + 1) * c);
        b2 = A * ((A + 1) + (A - 1) * c - S);
        a0 = (A + 1) - (A - 1) * c + S;
        a1 = 2 * ((A - 1) - (A + 1) * c);
        a2 = (A + 1) - (A - 1) * c - S;
    } else if (m_filterType == "low_shelf") {
        b0 = A * ((A + 1) - (A - 1) * c + S);
        b1 = 2 * A * ((A - 1) - (A + 1) * c);
        b2 = A * ((A + 1) - (A - 1) * c - S);
        a0 = (A + 1) + (A - 1) * c + S;
        a1 = -2 * ((A - 1) + (A + 1) * c);
        a2 = (A + 1) + (A - 1) * c - S;
    } else if (m_filterType == "high_pass") {
        b0 = (1 + c) / 2;
        b1 = -(1 + c);
        b2 = (1 + c) / 2;
        a0 = 1 + alpha;
        a1 = -2 * c;
        a2 = 1 - alpha;
    } else if (m_filterType == "low_pass") {
        b0 = (1 - c) / 2;
        b1 = 1 - c;
        b2 = (1 - c) / 2;
        a0 = 1 + alpha;
        a1 = -2 * c;
        a2 = 1 - alpha;
    } else if (m_filterType == "peaking") {
        b0 = 1 + alpha * A;
        b1 = -2 * c;
        b2 = 1 - alpha * A;
        a0 = 1 + alpha / A;
        a1 = -2 * c;
        a2 = 1 - alpha / A;
    } else {
        throw std::invalid_argument("Invalid filter type: " + m_filterType.toStdString());
    }
    m_a0 = a0;
    m_b0 = b0 / a0;
    m_b1 = b1 / a0;
    m_b2 = b2 / a0;
    m_a1 = a1 / a0;
    m_a2 = a2 / a0;
}

void IIRFilter::designDeMan()
{
    const double K = std::tan(m_centerFrequency * 3.141592653589793 / m_sampleRate);
    const double D = 1 + K / m_q + K * K;
    m_a0 = 1.0;
    m_a1 = 2 * (K * K - 1) / D;
    m_a2 = (1 - K / m_q + K * K) / D;
    if (m_filterType == "high_shelf_DeMan") {
        const double Vh = std::pow(10.0, m_gainDb / 20.0);
        const double Vb = std::pow(Vh, 0.499666774155);
        m_b0 = (Vh + Vb * K / m_q + K * K) / D;
        m_b1 = 2 * (K * K - Vh) / D;
        m_b2 = (Vh - Vb * K / m_q + K * K) / D;
    } else {
        m_b0 = 1;
        m_b1 = -2;
        m_b2 = 1;
    }
}

void IIRFilter::apply(float* samples, qint64 count, int channels)
{
    if (samples == nullptr || count <= 0 || channels <= 0)
        return;
    const Coefficients k{m_b0, m_b1, m_b2, m_a1, m_a2, m_passbandGain};
    std::vector<double>* state[4] = {&m_x1, &m_x2, &m_y1, &m_y2};
    const qint64 frames = count / channels;
    // The state is created at the first use, all zero, one entry per channel.
    if (m_x1.size() < size_t(channels))
        for (auto* s : state)
            s->resize(size_t(channels), 0.0);
    switch (channels) {
    case 1:
        filterFixed<1>(k, state, samples, frames);
        break;
    case 2:
        filterFixed<2>(k, state, samples, frames);
        break;
    default:
        filterAny(k, state, samples, frames, channels);
        break;
    }
}
