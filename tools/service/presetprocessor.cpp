#include "presetprocessor.h"

#include "audio/audiolibrary.h"
#include "audio/iirfilter.h"
#include "audio/loudnessmeter.h"
#include "audioprobe.h"

#include <QFile>
#include <cmath>
#include <exception>
#include <vector>

namespace {

constexpr qint64 kCopyChunk = 1024 * 1024;
constexpr int kFramesPerBlock = 16384;
constexpr double kHighPassQ = 0.7071067811865476;   // Butterworth
constexpr float kGateBlockSeconds = 0.4f;
constexpr double kAbsoluteGateLufs = -70.0;
// Shares of the progress bar: analysis, loudness measurement, render.
constexpr double kAnalysisEnd = 0.4;
constexpr double kMeasureEnd = 0.5;

double toDb(double linear)
{
    return 20.0 * std::log10(linear);
}

} // namespace

PresetProcessor::PresetProcessor(const Preset& preset, Progress progress)
    : preset_(preset), progress_(std::move(progress))
{
}

bool PresetProcessor::fail(const QString& message)
{
    error_ = message;
    return false;
}

bool PresetProcessor::process(const QString& input, const QString& output)
{
    AudioFacts facts;
    if (!probeAudio(input, facts, error_))
        return false;
    sourceIsFloat_ = facts.sourceIsFloat;
    sourceBits_ = facts.sourceBits;
    if (preset_.isPassthrough())
        return facts.isWav ? copyFile(input, output) : render(input, output, 1.0f, 0.0);
    return normalise(input, output);
}

bool PresetProcessor::copyFile(const QString& input, const QString& output)
{
    QFile in(input);
    QFile out(output);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail("cannot open files: " + in.errorString() + " / " + out.errorString());
    const qint64 total = qMax<qint64>(1, in.size());
    qint64 done = 0;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(kCopyChunk);
        if (chunk.isEmpty() || out.write(chunk) != chunk.size())
            return fail("copy failed: " + out.errorString());
        done += chunk.size();
        if (!progress_(double(done) / total))
            return fail("stopped");
    }
    return true;
}

bool PresetProcessor::normalise(const QString& input, const QString& output)
{
    const QString filtered = preset_.highPassHz > 0 ? output + ".filtered.wav" : QString();
    const QString source = filtered.isEmpty() ? input : filtered;
    float peak = 0;
    double lufs = 0;
    const bool ok = analyse(input, filtered, peak) && measure(source, lufs);
    if (ok) {
        // Audio with nothing above the absolute gate (silence, a noise floor)
        // keeps unity gain rather than being raised by tens of dB.
        double gainDb = std::isfinite(lufs) && lufs > kAbsoluteGateLufs ? *preset_.targetLufs - lufs : 0.0;
        if (peak > 0)
            gainDb = std::min(gainDb, preset_.peakCeilingDb - toDb(peak));
        appliedGainDb_ = gainDb;
    }
    const bool rendered = ok && render(source, output, float(std::pow(10.0, appliedGainDb_ / 20.0)), kMeasureEnd);
    if (!filtered.isEmpty())
        QFile::remove(filtered);
    return rendered;
}

bool PresetProcessor::openStream(audiolib::DecodeStream& stream, const QString& path, audiolib::StreamInfo& info)
{
    return (stream.open(path.toUtf8(), audiolib::DecodeStream::Samples::Float, true) && stream.info(info))
           || fail("decoder error " + QString::number(audiolib::lastErrorCode()));
}

bool PresetProcessor::pump(audiolib::DecodeStream& stream, int channels, double progressFrom, double progressTo,
                           const BlockHandler& handle)
{
    const qint64 total = qMax<qint64>(1, stream.lengthBytes());
    std::vector<float> block(size_t(kFramesPerBlock) * size_t(channels));
    for (;;) {
        const qint64 got = stream.read(block.data(), qint64(block.size() * sizeof(float)));
        if (got < 0)
            return fail("decoding failed, error " + QString::number(audiolib::lastErrorCode()));
        if (got == 0)
            return true;
        if (!handle(block.data(), got))
            return false;
        const double done = double(stream.positionBytes()) / double(total);
        if (!progress_(progressFrom + (progressTo - progressFrom) * done))
            return fail("stopped");
    }
}

bool PresetProcessor::analyse(const QString& from, const QString& filtered, float& peak)
{
    audiolib::DecodeStream stream;
    audiolib::StreamInfo info;
    if (!openStream(stream, from, info))
        return false;
    std::vector<IIRFilter> filters;
    audiolib::WavWriter writer;
    if (!filtered.isEmpty()) {
        filters.emplace_back(0.0, kHighPassQ, preset_.highPassHz, double(info.sampleRate), "high_pass", 1.0);
        audiolib::StreamInfo floatInfo = info;
        floatInfo.sourceIsFloat = true;
        floatInfo.sourceBits = 32;
        if (!writer.open(filtered.toUtf8(), floatInfo, audiolib::WavFormat::SourceFormat))
            return fail("cannot write the filtered audio, error " + QString::number(audiolib::lastErrorCode()));
    }
    peak = 0;
    const bool ok = pump(stream, info.channels, 0.0, kAnalysisEnd, [&](float* samples, qint64 bytes) {
        const qint64 count = bytes / qint64(sizeof(float));
        for (IIRFilter& filter : filters)
            filter.apply(samples, count, info.channels);
        for (qint64 i = 0; i < count; ++i)
            peak = std::max(peak, std::fabs(samples[i]));
        return !writer.isOpen() || writer.write(samples, bytes) || fail("cannot write the filtered audio");
    });
    return ok && (!writer.isOpen() || writer.close() || fail("cannot complete the filtered audio"));
}

bool PresetProcessor::measure(const QString& path, double& lufs)
{
    try {
        LoudnessMeter meter(path.toUtf8(), "K-weighting", kGateBlockSeconds);
        meter.measure();
        lufs = meter.lufs();
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    return progress_(kMeasureEnd) || fail("stopped");
}

bool PresetProcessor::render(const QString& from, const QString& output, float gain, double progressFrom)
{
    audiolib::DecodeStream stream;
    audiolib::StreamInfo info;
    if (!openStream(stream, from, info))
        return false;
    stream.setVolume(gain);
    audiolib::StreamInfo outInfo = info;
    outInfo.sourceIsFloat = sourceIsFloat_;
    outInfo.sourceBits = sourceBits_;
    audiolib::WavWriter writer;
    if (!writer.open(output.toUtf8(), outInfo, audiolib::WavFormat::SourceFormat))
        return fail("cannot write the result, error " + QString::number(audiolib::lastErrorCode()));
    const bool ok = pump(stream, info.channels, progressFrom, 1.0, [&](float* samples, qint64 bytes) {
        return writer.write(samples, bytes) || fail("cannot write the result, error " + QString::number(audiolib::lastErrorCode()));
    });
    return ok && (writer.close() || fail("cannot complete the result"));
}
