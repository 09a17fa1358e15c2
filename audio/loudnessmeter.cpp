#include "audio/loudnessmeter.h"

#include "audio/audiolibrary.h"
#include "audio/channelweights.h"
#include "audio/kweighting.h"
#include "audio/loudnessrange.h"
#include "audio/simd.h"
#include "audio/truepeakdetector.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

// The first filter of the chain scales its output by this factor, so that no
// finite input sample, however large, overflows the filtered floats; the
// channel weights scale the energies back. Both are powers of two: every
// filtered value is exactly the unscaled one times the factor.
constexpr double kFilterHeadroom = 0.25;
constexpr double kEnergyScale = 1.0 / (kFilterHeadroom * kFilterHeadroom);

struct FilterDesign {
    const char* type;
    double gainDb;
    double q;
    double fc;
};

std::vector<FilterDesign> classDesigns(const QByteArray& filterClass)
{
    const double invSqrt2 = 1.0 / std::sqrt(2.0);
    if (filterClass == "Fenton/Lee 2")
        return {{"high_shelf", 4.0, invSqrt2, 1500.0}, {"high_pass", 0.0, 0.5, 38.0}};
    if (filterClass == "Fenton/Lee 1")
        return {{"high_shelf", 5.0, invSqrt2, 1500.0}, {"high_pass", 0.0, 0.5, 130.0},
            {"peaking", 0.0, invSqrt2, 500.0}};
    if (filterClass == "Dash et al.")
        return {{"high_pass", 0.0, 0.375, 149.0}, {"peaking", -2.93820927, 1.68878655, 1000.0}};
    if (filterClass == "DeMan")
        return {{"high_shelf_DeMan", 3.99984385397, 0.7071752369554193, 1681.974450955532},
            {"high_pass_DeMan", 0.0, 0.5003270373253953, 38.13547087613982}};
    throw std::invalid_argument("Invalid filter class: " + filterClass.toStdString());
}

// Sum of the squares of unfiltered samples, each square in double. Four
// running sums let the additions overlap instead of waiting on each other.
double sumOfSquares(const float* p, qint64 count)
{
    double acc[4] = {};
    qint64 i = 0;
    for (; i + 4 <= count; i += 4)
        for (int u = 0; u < 4; ++u)
            acc[u] += double(p[i + u]) * double(p[i + u]);
    for (; i < count; ++i)
        acc[0] += double(p[i]) * double(p[i]);
    return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

// 16-bit samples as floats of full scale +-1, the decoder's own float
// samples exactly; returns the sum of their squares, the sum of what
// sumOfSquares() would give of the floats: each square is an integer,
// summed exactly and scaled once.
double fromInt16(const qint16* in, float* out, qint64 count)
{
    constexpr float kScale = 1.0f / 32768.0f;
    qint64 i = 0;
    quint64 sum = 0;
#if SONVIRA_HAVE_SSE2
    // Two squares added as 16-bit pairs stay below 2^31 + 1, which the
    // unsigned reading of the 32-bit lanes holds.
    const __m128 scale = _mm_set1_ps(kScale);
    const __m128i zero = _mm_setzero_si128();
    __m128i wide = zero;
    for (; i + 8 <= count; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
        const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
        _mm_storeu_ps(out + i, _mm_mul_ps(_mm_cvtepi32_ps(lo), scale));
        _mm_storeu_ps(out + i + 4, _mm_mul_ps(_mm_cvtepi32_ps(hi), scale));
        const __m128i pairs = _mm_madd_epi16(v, v);
        wide = _mm_add_epi64(wide, _mm_unpacklo_epi32(pairs, zero));
        wide = _mm_add_epi64(wide, _mm_unpackhi_epi32(pairs, zero));
    }
    quint64 lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), wide);
    sum = lanes[0] + lanes[1];
#endif
    for (; i < count; ++i) {
        const qint32 v = in[i];
        out[i] = float(v) * kScale;
        sum += quint64(v * v);
    }
    return double(sum) * (1.0 / 1073741824.0);
}

// Largest absolute sample; eight running maxima keep the comparisons from
// waiting on each other.
float absolutePeak(const float* p, qint64 count)
{
    float lanes[8] = {};
    qint64 i = 0;
    for (; i + 8 <= count; i += 8)
        for (int u = 0; u < 8; ++u) {
            const float a = std::fabs(p[i + u]);
            lanes[u] = a > lanes[u] ? a : lanes[u];
        }
    for (; i < count; ++i)
        lanes[0] = std::max(lanes[0], std::fabs(p[i]));
    return *std::max_element(lanes, lanes + 8);
}

} // namespace

std::vector<IIRFilter> LoudnessMeter::filterChain(const QByteArray& filterClass, double fs, double gain)
{
    if (filterClass == "K-weighting")
        return kweighting::chain(fs, gain);
    std::vector<IIRFilter> chain;
    for (const FilterDesign& f : classDesigns(filterClass))
        chain.emplace_back(f.gainDb, f.q, f.fc, fs, QByteArray(f.type), chain.empty() ? gain : 1.0);
    return chain;
}

LoudnessMeter::LoudnessMeter(const QByteArray& path, const QByteArray& filterClass, float blockSize)
    : m_filterClass(filterClass)
    , m_blockSize(blockSize)
    , m_stream(std::make_unique<audiolib::DecodeStream>())
{
    if (!m_stream->open(path, audiolib::DecodeStream::Samples::FloatOrInt16, true))
        throw std::runtime_error("Can't load file, error " + std::to_string(audiolib::lastErrorCode()));
    m_filePath = path;
    setUp();
}

LoudnessMeter::LoudnessMeter(std::unique_ptr<audiolib::DecodeStream> stream, const QByteArray& filterClass,
                             float blockSize)
    : m_filterClass(filterClass)
    , m_blockSize(blockSize)
    , m_stream(std::move(stream))
{
    setUp();
}

void LoudnessMeter::setUp()
{
    audiolib::StreamInfo info;
    if (!m_stream || !m_stream->info(info))
        throw std::runtime_error("Error getting channel info");
    if (info.format == audiolib::SampleFormat::Int32)
        throw std::runtime_error("Error getting channel info");
    m_int16 = info.format == audiolib::SampleFormat::Int16;
    m_sampleRate = info.sampleRate;
    m_channels = info.channels;
    m_channelWeights = channelweights::forStream(info);
    m_frames = m_stream->lengthFrames();
    // Blocks longer than a minute would make the first read hold that much.
    if (!(m_blockSize > 0.0f) || !(m_blockSize <= 60.0f))
        throw std::invalid_argument("Invalid block size: " + std::to_string(m_blockSize));
    m_filters = filterChain(m_filterClass, double(m_sampleRate), kFilterHeadroom);
}

LoudnessMeter::~LoudnessMeter() = default;

qint64 LoudnessMeter::decode(float* out, qint64 count, double& squares)
{
    qint64 delivered = 0;
    if (m_int16) {
        m_raw.resize(size_t(count));
        const qint64 got = m_stream->read(m_raw.data(), count * 2);
        if (got < 0)
            throw std::runtime_error("Error reading from source file (GetData)");
        delivered = got / 2;
        squares = fromInt16(m_raw.data(), out, delivered);
        return delivered;
    }
    const qint64 got = m_stream->read(out, count * 4);
    if (got < 0)
        throw std::runtime_error("Error reading from source file (GetData)");
    delivered = got / 4;
    // A non-finite sample makes the sum non-finite; only then are the
    // samples searched, so clean files pay nothing.
    squares = sumOfSquares(out, delivered);
    if (!std::isfinite(squares)) {
        silenceNonFinite(out, delivered);
        squares = sumOfSquares(out, delivered);
    }
    return delivered;
}

void LoudnessMeter::readUpTo(qint64 upper)
{
    const qint64 need = std::max<qint64>(0, upper * m_channels - m_samplesConsumed);
    m_fresh.resize(size_t(need));
    if (need == 0)
        return;
    double squares = 0;
    const qint64 delivered = m_streamEnded ? 0 : decode(m_fresh.data(), need, squares);
    m_streamEnded = delivered < need;
    std::fill(m_fresh.begin() + delivered, m_fresh.end(), 0.0f);   // beyond the end: silence
    m_sumOfSquares += squares;
    if (m_collectSeries || m_collectReport)
        m_samplePeak = std::max(m_samplePeak, absolutePeak(m_fresh.data(), delivered));
    reportUnfiltered(delivered);
    m_sampleCount += delivered;
    m_samplesConsumed += need;
    m_deliveredEnd = m_sampleCount / m_channels;
}

void LoudnessMeter::reportUnfiltered(qint64 delivered)
{
    if (m_collectReport)
        m_truePeak->process(m_fresh.data(), delivered / m_channels);
}

void LoudnessMeter::filterPiece(float* samples, qint64 first, qint64 frames, double* energy)
{
    const int C = m_channels;
    m_pieceEnergy.assign(size_t(C), 0.0);
    for (qint64 at = first; at < first + frames;) {
        // The report's loudness range takes the stream's real frames, in
        // pieces that end on its 10 ms ticks.
        const bool toRange = m_collectReport && at < m_deliveredEnd;
        qint64 n = first + frames - at;
        if (toRange)
            n = std::min({n, m_range->framesLeftInTick(), m_deliveredEnd - at});
        std::fill(m_pieceEnergy.begin(), m_pieceEnergy.end(), 0.0);
        IIRFilter::applyChain(m_filters, samples + (at - first) * C, n * C, C, m_pieceEnergy.data(), false);
        if (toRange)
            m_range->addEnergy(m_pieceEnergy.data(), n);
        if (energy)
            for (int c = 0; c < C; ++c)
                energy[c] += m_pieceEnergy[size_t(c)];
        at += n;
    }
}

void LoudnessMeter::readTail()
{
    const qint64 chunk = 65536 * qint64(m_channels);
    m_fresh.resize(size_t(chunk));
    while (!m_streamEnded) {
        double squares = 0;
        const qint64 delivered = decode(m_fresh.data(), chunk, squares);
        m_streamEnded = delivered < chunk;
        if (!m_collectReport)
            continue;
        m_samplePeak = std::max(m_samplePeak, absolutePeak(m_fresh.data(), delivered));
        reportUnfiltered(delivered);
        const qint64 first = m_deliveredEnd;
        m_deliveredEnd += delivered / m_channels;
        filterPiece(m_fresh.data(), first, delivered / m_channels, nullptr);
    }
}

void LoudnessMeter::finishReport()
{
    m_truePeak->finish();
    m_range->finish();
    auto decibels = [](double amplitude) {
        return amplitude > 0 ? 20.0 * std::log10(amplitude) : -std::numeric_limits<double>::infinity();
    };
    m_report.loudnessRange = m_range->loudnessRange();
    m_report.maxMomentary = m_range->maxMomentary();
    m_report.maxShortTerm = m_range->maxShortTerm();
    m_report.samplePeak = decibels(m_samplePeak);
    m_report.truePeak = std::max(decibels(m_truePeak->peak()), m_report.samplePeak);
}

void LoudnessMeter::silenceNonFinite(float* samples, qint64 count)
{
    for (qint64 i = 0; i < count; ++i) {
        if (!std::isfinite(samples[i])) {
            samples[i] = 0.0f;
            ++m_nonFinite;
        }
    }
}

qint64 LoudnessMeter::blockStart(qint64 j) const
{
    return qint64(double(j) * 0.25 * double(m_blockSize) * double(m_sampleRate));
}

qint64 LoudnessMeter::blockEnd(qint64 j) const
{
    return qint64((double(j) * 0.25 + 1.0) * double(m_blockSize) * double(m_sampleRate));
}

void LoudnessMeter::blockEnergy(qint64 j, double* zj)
{
    const int C = m_channels;
    const qint64 lower = blockStart(j);
    const qint64 upper = blockEnd(j);
    // Blocks overlap, so the frames not read yet start inside this block
    // (the previous block's end is never before this one's start).
    const qint64 readBefore = m_samplesConsumed / C;
    readUpTo(upper);
    Q_ASSERT(readBefore >= lower);
    // Each stretch is filtered and summed in one pass.
    for (qint64 from = readBefore; from < upper;) {
        while (blockStart(m_nextCut) <= from)
            ++m_nextCut;
        const qint64 to = std::min(upper, blockStart(m_nextCut));
        Stretch stretch{from, std::vector<double>(size_t(C), 0.0)};
        filterPiece(m_fresh.data() + (from - readBefore) * C, from, to - from, stretch.energy.data());
        if (m_collectSeries)
            seriesStretch(stretch);
        m_stretches.push_back(std::move(stretch));
        from = to;
    }
    for (const Stretch& stretch : m_stretches)
        for (int c = 0; c < C; ++c)
            zj[c] += stretch.energy[size_t(c)];
    // The next block starts on a cut; what lies before it is done with.
    const qint64 next = blockStart(j + 1);
    while (!m_stretches.empty() && m_stretches.front().start < next)
        m_stretches.pop_front();
}

double LoudnessMeter::weightedEnergy(const double* energy) const
{
    double sum = 0;
    for (int c = 0; c < m_channels; ++c)
        sum += m_weights[size_t(c)] * energy[c];
    return sum;
}

void LoudnessMeter::seriesStretch(const Stretch& stretch)
{
    const double energy = weightedEnergy(stretch.energy.data());
    m_windowStretches.emplace_back(stretch.start, energy);
    m_windowEnergy += energy;
}

// Point j ends where gating block j ends; its short-term window starts the
// given number of hops earlier, on a block start like every stretch.
void LoudnessMeter::seriesPoint(qint64 j, double momentaryEnergy)
{
    const double hop = 0.25 * double(m_blockSize) * double(m_sampleRate);
    const qint64 end = blockEnd(j);
    const qint64 first = j + 4 - m_shortTermHops;
    const qint64 windowStart = first >= 0 ? blockStart(first) : qint64(std::floor(double(first) * hop));
    while (!m_windowStretches.empty() && m_windowStretches.front().first < windowStart) {
        m_windowEnergy -= m_windowStretches.front().second;
        m_windowStretches.pop_front();
    }
    // Fresh sums now and then, so that the running subtraction cannot drift.
    if (j % 1024 == 0) {
        m_windowEnergy = 0;
        for (const auto& stretch : m_windowStretches)
            m_windowEnergy += stretch.second;
    }
    const double shortTerm = std::max(m_windowEnergy, 0.0) / double(end - windowStart);
    m_series.times.push_back(double(end) / double(m_sampleRate));
    m_series.momentary.push_back(10.0 * std::log10(momentaryEnergy + 1e-10) - 0.691);
    m_series.shortTerm.push_back(10.0 * std::log10(shortTerm + 1e-10) - 0.691);
}

void LoudnessMeter::measure(const std::atomic<bool>* stop)
{
    // The stream is consumed: a second call keeps the first results.
    if (m_measured)
        return;
    m_series.clear();
    m_report = LoudnessReport();
    m_samplePeak = 0;
    m_windowStretches.clear();
    m_windowEnergy = 0;
    m_sumOfSquares = 0;
    m_sampleCount = 0;
    m_deliveredEnd = 0;
    m_dbRms = 0;
    m_lufs = 0;
    if (m_frames == 0) {
        m_dbRms = -100.0;
        m_lufs = -100.0;
        m_blockCount = 0;
        m_measured = true;
        return;
    }
    const double Tg = double(m_blockSize);
    // Gating blocks of a stream of `frames` frames: those that start within
    // it, at least one.
    auto blockCountFor = [&](qint64 frames) {
        const double T = double(frames) / double(m_sampleRate);
        return qint64(std::round((T - Tg) / (Tg * 0.25))) + 1;
    };
    qint64 n = blockCountFor(m_frames);
    const int C = m_channels;
    // The weights also undo the filters' headroom.
    std::vector<double> weights(static_cast<size_t>(C));
    for (int c = 0; c < C; ++c)
        weights[size_t(c)] = m_channelWeights[size_t(c)] * kEnergyScale;
    m_weights = weights;
    if (m_collectReport) {
        m_truePeak = std::make_unique<TruePeakDetector>(C);
        m_range = std::make_unique<LoudnessRange>(m_sampleRate, weights);
    }
    m_shortTermHops = std::max<qint64>(4, qint64(std::lround(LoudnessSeries::kShortTermSeconds / (0.25 * Tg))));

    // Only the weighted sum of each block is kept: the gates compare it, and
    // the mean of weighted sums is the weighted sum of the channel means.
    std::vector<double> z;
    const double norm = 1.0 / (double(m_sampleRate) * Tg);
    std::vector<double> zj(static_cast<size_t>(C));
    m_stretches.clear();
    m_nextCut = 1;
    m_nonFinite = 0;
    for (qint64 j = 0; j < std::max<qint64>(n, 1); ++j) {
        if (stop && stop->load())
            throw std::runtime_error("Stopped");
        std::fill(zj.begin(), zj.end(), 0.0);
        blockEnergy(j, zj.data());
        double sum = 0;
        for (int c = 0; c < C; ++c)
            sum += weights[size_t(c)] * (zj[size_t(c)] * norm);
        z.push_back(sum);
        if (m_collectSeries)
            seriesPoint(j, sum);
        // A header that promised more than the stream holds: the stream's
        // real end decides how many blocks there are.
        if (m_streamEnded && m_sampleCount / C < m_frames) {
            m_frames = m_sampleCount / C;
            n = blockCountFor(m_frames);
        }
    }
    m_stretches.clear();
    m_windowStretches.clear();
    if (m_collectSeries)
        m_series.samplePeak = double(m_samplePeak);
    // The frames after the last block are not measured, but a sample there
    // that is no number is reported like any other.
    readTail();
    if (m_collectReport)
        finishReport();
    const qint64 blocks = std::max<qint64>(n, 1);
    z.resize(size_t(std::min<qint64>(blocks, qint64(z.size()))));
    if (m_collectSeries) {
        m_series.times.resize(z.size());
        m_series.momentary.resize(z.size());
        m_series.shortTerm.resize(z.size());
    }

    double sum = 0;
    qint64 count = 0;
    for (const double block : z) {
        if (10.0 * std::log10(block) - 0.691 >= -70.0) {
            sum += block;
            ++count;
        }
    }
    const double relativeGate = 10.0 * std::log10(count ? sum / double(count) : 0.0) - 0.691 - 10.0;

    sum = 0;
    count = 0;
    for (const double block : z) {
        const double l = 10.0 * std::log10(block + 1e-10) - 0.691;
        if (l > relativeGate && l > -70.0) {
            sum += block;
            ++count;
        }
    }
    const double total = count ? sum / double(count) : 0.0;

    // A stream that delivered nothing although its header promised frames
    // measures as silence instead of 0/0.
    const double meanSquare = m_sampleCount > 0 ? m_sumOfSquares / double(m_sampleCount) : 0.0;
    m_dbRms = 20.0 * std::log10(std::sqrt(meanSquare) + 1e-8);
    // A stream shorter than one block has no gated block: no loudness.
    m_lufs = m_frames >= blockEnd(0) ? 10.0 * std::log10(total) - 0.691 : -std::numeric_limits<double>::infinity();
    m_blockCount = qint64(z.size());
    m_measured = true;
}
