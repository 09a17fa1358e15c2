// Float samples of any bit pattern (huge, denormal, NaN, infinite) as a
// 32-bit float WAV, measured with the loudness meter's full report and
// series. Every figure must be a number or stand for "none" (minus infinity
// for the loudness of silence, NaN for a missing range), never plus
// infinity, and every sample that is no number must be counted exactly once.
// The same samples through the true-peak limiter come out as numbers, none
// of them over its ceiling.
//
// Input: byte 0 picks the channel count (1 to 8), byte 1 the sample rate,
// byte 2 whether the header is WAVE_FORMAT_EXTENSIBLE with a channel mask
// (and which); the rest are the samples' bytes.
#include "audio/audiolibrary.h"
#include "audio/loudnessmeter.h"
#include "audio/truepeaklimiter.h"
#include "fuzzentry.h"

#include <QtEndian>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

void put16(QByteArray& out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void put32(QByteArray& out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

QByteArray floatWav(int channels, int rate, quint32 mask, const QByteArray& data)
{
    const bool extensible = mask != 0;
    QByteArray fmt;
    put16(fmt, extensible ? 0xFFFE : 3);
    put16(fmt, quint16(channels));
    put32(fmt, quint32(rate));
    put32(fmt, quint32(rate * channels * 4));
    put16(fmt, quint16(channels * 4));
    put16(fmt, 32);
    if (extensible) {
        put16(fmt, 22);
        put16(fmt, 32);
        put32(fmt, mask);
        // KSDATAFORMAT_SUBTYPE_IEEE_FLOAT
        static const unsigned char guid[16] = {3, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        fmt.append(reinterpret_cast<const char*>(guid), 16);
    }
    QByteArray out("RIFF");
    put32(out, quint32(4 + 8 + fmt.size() + 8 + data.size()));
    out.append("WAVEfmt ");
    put32(out, quint32(fmt.size()));
    out.append(fmt);
    out.append("data");
    put32(out, quint32(data.size()));
    out.append(data);
    return out;
}

bool noneOrNumber(double v)
{
    return std::isfinite(v) || std::isnan(v) || v < 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    static const int rates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000, 192000, 384000};
    static const quint32 masks[] = {0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x60F, 0x63F, 0x13F, 0x70F, 0xFF, 0x30};
    const int channels = 1 + data[0] % 8;
    const int rate = rates[data[1] % (sizeof(rates) / sizeof(rates[0]))];
    const quint32 mask = data[2] % 2 ? masks[(data[2] / 2) % (sizeof(masks) / sizeof(masks[0]))] : 0;
    const size_t frames = (size - 3) / (4 * size_t(channels));
    const QByteArray samples = fuzzing::bytes(data + 3, frames * 4 * size_t(channels));
    qint64 nonFinite = 0;
    for (size_t i = 0; i < frames * size_t(channels); ++i) {
        float v;
        std::memcpy(&v, samples.constData() + 4 * i, 4);
        nonFinite += std::isfinite(v) ? 0 : 1;
    }
    std::vector<float> interleaved(frames * size_t(channels)), limited;
    std::memcpy(interleaved.data(), samples.constData(), size_t(samples.size()));
    TruePeakLimiter limiter(rate, channels, 4.0, -1.0);
    limiter.process(interleaved.data(), qint64(frames), limited);
    limiter.flush(limited);
    if (limited.size() != interleaved.size())
        std::abort();
    for (float v : limited)
        if (!(std::fabs(v) <= 0.8913f))
            std::abort();
    auto stream = std::make_unique<audiolib::DecodeStream>();
    if (!stream->openBytes(floatWav(channels, rate, mask, samples), audiolib::DecodeStream::Samples::Float, true))
        return 0;
    try {
        LoudnessMeter meter(std::move(stream), "K-weighting", 0.4f);
        meter.collectReport(true);
        meter.collectSeries(true);
        meter.measure();
        const LoudnessReport& r = meter.report();
        for (double v : {meter.lufs(), meter.dbRms(), r.loudnessRange, r.maxMomentary, r.maxShortTerm, r.truePeak,
                 r.samplePeak})
            if (!noneOrNumber(v))
                std::abort();
        if (!std::isfinite(meter.dbRms()) || meter.nonFiniteSamples() != nonFinite)
            std::abort();
        for (double v : meter.series().momentary)
            if (!std::isfinite(v))
                std::abort();
    } catch (const std::runtime_error&) {
        // A stream that fails in the middle is reported, not measured.
    }
    return 0;
}
