#include "denoisejob.h"

#include "audio/audiolibrary.h"
#include "noiseprofile.h"
#include "spectralgate.h"
#include "stftchannel.h"

#include <QCoreApplication>
#include <QFile>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int kProgressSteps = 10;
constexpr long kBlockFrames = 4096;

int frameSizeFor(double seconds, int sampleRate)
{
    const double wanted = std::ceil(seconds * sampleRate);
    int size = 64;
    while (size < wanted && size < 16384)
        size *= 2;
    return size;
}

QString layerError(const QString& what, const QString& path)
{
    return QStringLiteral("%1 %2: %3 (error %4)")
        .arg(what, path, QString::fromLatin1(audiolib::errorText(audiolib::lastError())))
        .arg(audiolib::lastErrorCode());
}

// Counts decoded frames over both passes into progress steps.
class ProgressMeter {
public:
    ProgressMeter(const DenoiseJob::Progress& report, qint64 totalFrames)
        : m_report(report)
        , m_total(std::max<qint64>(1, totalFrames * 2))
    {
    }
    void advance(qint64 frames)
    {
        m_done += frames;
        const int step = int(std::min<qint64>(kProgressSteps, m_done * kProgressSteps / m_total));
        if (step > m_step && m_report) {
            m_step = step;
            m_report(step, kProgressSteps);
        }
    }

private:
    const DenoiseJob::Progress& m_report;
    qint64 m_total;
    qint64 m_done = 0;
    int m_step = 0;
};

// Replaces NaN and infinite samples with silence; returns how many there were.
qint64 silenceNonFinite(float* samples, qint64 count)
{
    qint64 found = 0;
    for (qint64 i = 0; i < count; ++i) {
        if (!std::isfinite(samples[i])) {
            samples[i] = 0.0f;
            ++found;
        }
    }
    return found;
}

// Decodes the whole stream in blocks, handing each block to `take`, with
// non-finite samples silenced and counted into `nonFinite`.
bool forEachBlock(audiolib::DecodeStream& stream, int channels, ProgressMeter& meter, qint64& nonFinite,
    const std::function<bool(const float*, long)>& take)
{
    std::vector<float> block(size_t(kBlockFrames * channels));
    qint64 got = 0;
    while ((got = stream.read(block.data(), qint64(block.size() * sizeof(float)))) > 0) {
        const long frames = long(got / qint64(sizeof(float) * size_t(channels)));
        nonFinite += silenceNonFinite(block.data(), qint64(frames) * channels);
        if (!take(block.data(), frames))
            return false;
        meter.advance(frames);
    }
    return got == 0;
}

using ChannelStep = std::function<void(int channel, const float* block, long frames, std::vector<float>& out)>;
using ChannelFinish = std::function<void(int channel, std::vector<float>& out)>;

// Decodes the stream once more, turns each block into output per channel
// with `step` (and `finish` at the end) and writes the output WAV under a
// temporary name that replaces the output only when it is complete.
bool writeOutput(audiolib::DecodeStream& stream, const audiolib::StreamInfo& info, const DenoiseOptions& options,
    ProgressMeter& meter, qint64& nonFinite, const ChannelStep& step, const ChannelFinish& finish, QString& error)
{
    const QString& outputPath = options.output;
    const int channels = info.channels;
    const QString temporary = QStringLiteral("%1.%2.part").arg(outputPath).arg(QCoreApplication::applicationPid());
    audiolib::WavWriter writer;
    if (!writer.open(temporary.toUtf8(), info, audiolib::WavFormat::SourceFormat, stream.lengthFrames())) {
        error = layerError(QStringLiteral("Cannot write output file"), outputPath);
        return false;
    }
    std::vector<std::vector<float>> outputs(static_cast<size_t>(channels));
    std::vector<float> interleaved;
    auto flush = [&]() {
        const size_t frames = outputs[0].size();
        interleaved.resize(frames * size_t(channels));
        for (int c = 0; c < channels; ++c) {
            for (size_t i = 0; i < frames; ++i)
                interleaved[i * size_t(channels) + size_t(c)] = outputs[size_t(c)][i];
            outputs[size_t(c)].clear();
        }
        return writer.write(interleaved.data(), qint64(interleaved.size() * sizeof(float)));
    };
    bool writeFailed = false;
    bool written = forEachBlock(stream, channels, meter, nonFinite, [&](const float* block, long frames) {
        for (int c = 0; c < channels; ++c)
            step(c, block, frames, outputs[size_t(c)]);
        writeFailed = !flush();
        return !writeFailed;
    });
    const bool decoded = written || writeFailed;
    if (written) {
        for (int c = 0; c < channels; ++c)
            finish(c, outputs[size_t(c)]);
        written = flush();
    }
    written = writer.close() && written;
    if (!written) {
        error = decoded ? layerError(QStringLiteral("Cannot write output file"), outputPath)
                        : layerError(QStringLiteral("Cannot decode input file"), options.input);
        QFile::remove(temporary);
        return false;
    }
    QFile::remove(outputPath);
    if (!QFile::rename(temporary, outputPath)) {
        error = QStringLiteral("Cannot write output file %1: renaming the finished file failed").arg(outputPath);
        QFile::remove(temporary);
        return false;
    }
    return true;
}

} // namespace

DenoiseJob::DenoiseJob(const DenoiseOptions& options, const DenoiseParameters& parameters)
    : m_options(options)
    , m_parameters(parameters)
{
}

bool DenoiseJob::run(const Progress& progress, QString& error)
{
    const QByteArray input = m_options.input.toUtf8();
    audiolib::DecodeStream stream;
    if (!stream.open(input, audiolib::DecodeStream::Samples::Float, true)) {
        error = layerError(QStringLiteral("Cannot read input file"), m_options.input);
        return false;
    }
    audiolib::StreamInfo info;
    stream.info(info);
    const int channels = info.channels;
    const int frameSize = frameSizeFor(m_parameters.frameSeconds, info.sampleRate);
    ProgressMeter meter(progress, stream.lengthFrames());
    m_nonFinite = 0;
    // Too short for one analysis frame there is no noise floor to learn:
    // the input goes through as it is.
    if (stream.lengthFrames() < frameSize) {
        meter.advance(stream.lengthFrames());
        const auto copy = [channels](int c, const float* block, long frames, std::vector<float>& out) {
            for (long i = 0; i < frames; ++i)
                out.push_back(block[i * channels + c]);
        };
        return writeOutput(stream, info, m_options, meter, m_nonFinite, copy, [](int, std::vector<float>&) {}, error);
    }

    // Pass 1: the noise floor of every channel.
    const int bins = frameSize / 2 + 1;
    std::vector<NoiseProfile> profiles(static_cast<size_t>(channels), NoiseProfile(bins));
    std::vector<std::unique_ptr<StftChannel>> analysis;
    for (int c = 0; c < channels; ++c)
        analysis.push_back(std::make_unique<StftChannel>(frameSize, false,
            [&profile = profiles[size_t(c)]](std::vector<std::complex<float>>& s) { profile.add(s); }));
    std::vector<float> unused;
    const bool analysed = forEachBlock(stream, channels, meter, m_nonFinite, [&](const float* block, long frames) {
        for (int c = 0; c < channels; ++c)
            analysis[size_t(c)]->push(block + c, frames, channels, unused);
        return true;
    });
    if (!analysed) {
        error = layerError(QStringLiteral("Cannot decode input file"), m_options.input);
        return false;
    }
    for (auto& channel : analysis)
        channel->finish(unused);

    // Pass 2: suppression.
    const double hopSeconds = double(frameSize / 2) / info.sampleRate;
    GateSettings gate;
    gate.snrSmoothing = m_parameters.snrSmoothing;
    gate.speechFloor = std::pow(10.0, m_parameters.speechFloorDb / 20.0);
    gate.musicFloor = std::pow(10.0, m_parameters.musicFloorDb / 20.0);
    gate.floorStepDb = m_parameters.floorSlewDbPerSecond * hopSeconds;
    gate.musicPeakPower = std::pow(10.0, m_parameters.musicPeakDb / 10.0);
    gate.musicPeakShare = m_parameters.musicPeakShare;
    gate.alwaysOn = m_options.alwaysOn;
    const double stm = m_options.stmLength >= 0 ? m_options.stmLength : m_parameters.defaultStmLength;
    const double mts = m_options.mtsLength >= 0 ? m_options.mtsLength : m_parameters.defaultMtsLength;
    gate.speechToMusicFrames = int(std::ceil(stm / hopSeconds));
    gate.musicToSpeechFrames = int(std::ceil(mts / hopSeconds));

    std::vector<std::unique_ptr<SpectralGate>> gates;
    std::vector<std::unique_ptr<StftChannel>> synthesis;
    for (int c = 0; c < channels; ++c) {
        const auto noise = profiles[size_t(c)].estimate(m_parameters.noisePercentile, m_parameters.toneGuardBins,
            m_parameters.toneGuardDb);
        gates.push_back(std::make_unique<SpectralGate>(noise, gate));
        synthesis.push_back(std::make_unique<StftChannel>(frameSize, true,
            [g = gates.back().get()](std::vector<std::complex<float>>& s) { g->process(s); }));
    }
    profiles.clear();

    if (!stream.open(input, audiolib::DecodeStream::Samples::Float, true)) {
        error = layerError(QStringLiteral("Cannot read input file"), m_options.input);
        return false;
    }
    // The second pass sees the same samples again; they are counted once.
    qint64 again = 0;
    return writeOutput(stream, info, m_options, meter, again,
        [&](int c, const float* block, long frames, std::vector<float>& out) {
            synthesis[size_t(c)]->push(block + c, frames, channels, out);
        },
        [&](int c, std::vector<float>& out) { synthesis[size_t(c)]->finish(out); }, error);
}
