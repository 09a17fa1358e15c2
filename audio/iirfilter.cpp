#include "audio/iirfilter.h"

#include "audio/channelenergy.h"
#include "audio/simd.h"

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

struct State {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

struct Coefficients {
    double b0, b1, b2, a1, a2;

    // Direct form I in double. The term of the newest output comes last,
    // so that only one product and one subtraction wait for it from one
    // sample to the next.
    inline double stepDouble(State& s, double x) const
    {
        const double y = (b0 * x + b1 * s.x1 + b2 * s.x2 - a2 * s.y2) - a1 * s.y1;
        s.x2 = s.x1;
        s.x1 = x;
        s.y2 = s.y1;
        s.y1 = y;
        return y;
    }
    // The same, the stored sample rounded to float.
    inline float step(State& s, float in) const { return static_cast<float>(stepDouble(s, in)); }
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

IIRFilter::IIRFilter(const QByteArray& type, double fs, const Design& design, double passbandGain)
    : m_gainDb(0)
    , m_q(0)
    , m_centerFrequency(0)
    , m_sampleRate(fs)
    , m_filterType(type)
    , m_passbandGain(passbandGain)
    , m_b0(design.b0)
    , m_b1(design.b1)
    , m_b2(design.b2)
    , m_a1(design.a1)
    , m_a2(design.a2)
{
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

IIRFilter::Design IIRFilter::scaledDesign() const
{
    const double g = m_passbandGain;
    return {m_b0 * g, m_b1 * g, m_b2 * g, m_a1, m_a2};
}

void IIRFilter::ensureState(int channels)
{
    // The state is created at the first use, all zero, one entry per channel.
    if (m_x1.size() >= size_t(channels))
        return;
    for (auto* s : {&m_x1, &m_x2, &m_y1, &m_y2})
        s->resize(size_t(channels), 0.0);
}

void IIRFilter::apply(float* samples, qint64 count, int channels)
{
    if (samples == nullptr || count <= 0 || channels <= 0)
        return;
    ensureState(channels);
    const Design d = scaledDesign();
    const Coefficients k{d.b0, d.b1, d.b2, d.a1, d.a2};
    std::vector<double>* state[4] = {&m_x1, &m_x2, &m_y1, &m_y2};
    const qint64 frames = count / channels;
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

namespace {

// One section with its coefficients and the state of one channel, as local
// values the compiler keeps in registers.
struct Section {
    Coefficients k;
    State s;

    inline double step(double x) { return k.stepDouble(s, x); }
};

Section sectionOf(const IIRFilter::Design& d, double x1, double x2, double y1, double y2)
{
    return {{d.b0, d.b1, d.b2, d.a1, d.a2}, {x1, x2, y1, y2}};
}

#if SONVIRA_HAVE_SSE2
// The same arithmetic, in the same order, on both channels of a stereo
// frame at once.
struct StereoSection {
    __m128d b0, b1, b2, a1, a2;
    __m128d x1, x2, y1, y2;

    inline __m128d step(__m128d x)
    {
        __m128d t = _mm_mul_pd(b0, x);
        t = _mm_add_pd(t, _mm_mul_pd(b1, x1));
        t = _mm_add_pd(t, _mm_mul_pd(b2, x2));
        t = _mm_sub_pd(t, _mm_mul_pd(a2, y2));
        t = _mm_sub_pd(t, _mm_mul_pd(a1, y1));
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = t;
        return t;
    }
};

// Both sections over the stereo frames; with Write the output is rounded
// to float and stored, and its squares summed, otherwise only the squares
// of the double output are summed.
template <bool Write>
__m128d runStereo(StereoSection& a, StereoSection& b, float* samples, qint64 frames)
{
    __m128d squares = _mm_setzero_pd();
    for (qint64 i = 0; i < frames; ++i) {
        float* frame = samples + 2 * i;
        const __m128d x = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(frame))));
        __m128d y = b.step(a.step(x));
        if (Write) {
            const __m128 rounded = _mm_cvtpd_ps(y);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(frame), _mm_castps_si128(rounded));
            y = _mm_cvtps_pd(rounded);
        }
        squares = _mm_add_pd(squares, _mm_mul_pd(y, y));
    }
    return squares;
}
#endif

} // namespace

void IIRFilter::cascadeMono(IIRFilter& first, IIRFilter& second, float* samples, qint64 frames, double* energy,
    bool keepOutput)
{
    Section a = sectionOf(first.scaledDesign(), first.m_x1[0], first.m_x2[0], first.m_y1[0], first.m_y2[0]);
    Section b = sectionOf(second.scaledDesign(), second.m_x1[0], second.m_x2[0], second.m_y1[0], second.m_y2[0]);
    double squares = 0;
    if (keepOutput) {
        for (qint64 i = 0; i < frames; ++i) {
            const float y = float(b.step(a.step(samples[i])));
            samples[i] = y;
            squares += double(y) * double(y);
        }
    } else {
        for (qint64 i = 0; i < frames; ++i) {
            const double y = b.step(a.step(samples[i]));
            squares += y * y;
        }
    }
    if (energy)
        energy[0] += squares;
    first.m_x1[0] = a.s.x1, first.m_x2[0] = a.s.x2, first.m_y1[0] = a.s.y1, first.m_y2[0] = a.s.y2;
    second.m_x1[0] = b.s.x1, second.m_x2[0] = b.s.x2, second.m_y1[0] = b.s.y1, second.m_y2[0] = b.s.y2;
}

void IIRFilter::cascadeStereo(IIRFilter& first, IIRFilter& second, float* samples, qint64 frames, double* energy,
    bool keepOutput)
{
#if SONVIRA_HAVE_SSE2
    auto load = [](const IIRFilter& f) {
        auto both = [](double v) { return _mm_set1_pd(v); };
        auto pair = [](const std::vector<double>& v) { return _mm_set_pd(v[1], v[0]); };
        const Design d = f.scaledDesign();
        return StereoSection{both(d.b0), both(d.b1), both(d.b2), both(d.a1), both(d.a2), pair(f.m_x1), pair(f.m_x2),
            pair(f.m_y1), pair(f.m_y2)};
    };
    auto store = [](const StereoSection& s, IIRFilter& f) {
        for (auto [from, to] : {std::pair{s.x1, &f.m_x1}, {s.x2, &f.m_x2}, {s.y1, &f.m_y1}, {s.y2, &f.m_y2}})
            _mm_storeu_pd(to->data(), from);
    };
    StereoSection a = load(first), b = load(second);
    const __m128d squares = keepOutput ? runStereo<true>(a, b, samples, frames) : runStereo<false>(a, b, samples, frames);
    store(a, first);
    store(b, second);
    if (energy) {
        double sums[2];
        _mm_storeu_pd(sums, squares);
        energy[0] += sums[0];
        energy[1] += sums[1];
    }
#else
    (void)keepOutput;
    first.apply(samples, frames * 2, 2);
    second.apply(samples, frames * 2, 2);
    if (energy)
        channelenergy::add(samples, frames, 2, energy);
#endif
}

void IIRFilter::applyChain(std::vector<IIRFilter>& chain, float* samples, qint64 count, int channels, double* energy,
    bool keepOutput)
{
    if (samples == nullptr || count <= 0 || channels <= 0)
        return;
    for (IIRFilter& f : chain)
        f.ensureState(channels);
    const qint64 frames = count / channels;
    if (chain.size() == 2 && channels == 1) {
        cascadeMono(chain[0], chain[1], samples, frames, energy, keepOutput);
        return;
    }
    if (chain.size() == 2 && channels == 2) {
        cascadeStereo(chain[0], chain[1], samples, frames, energy, keepOutput);
        return;
    }
    for (IIRFilter& f : chain)
        f.apply(samples, count, channels);
    if (energy)
        channelenergy::add(samples, frames, channels, energy);
}
