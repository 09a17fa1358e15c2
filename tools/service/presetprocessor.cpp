#include "presetprocessor.h"

#include "audioprobe.h"

#include <QFile>
#include <sndfile.h>
#include <vector>

namespace {

constexpr qint64 kCopyChunk = 1024 * 1024;
constexpr sf_count_t kFramesPerBlock = 16384;

} // namespace

PresetProcessor::PresetProcessor(const Preset& preset, Progress progress)
    : preset_(preset), progress_(std::move(progress))
{
}

bool PresetProcessor::process(const QString& input, const QString& output)
{
    AudioFacts facts;
    if (!probeAudio(input, facts, error_))
        return false;
    if (facts.isWav)
        return copyFile(input, output);
    return transcode(input, output);
}

bool PresetProcessor::copyFile(const QString& input, const QString& output)
{
    QFile in(input);
    QFile out(output);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error_ = "cannot open files: " + in.errorString() + " / " + out.errorString();
        return false;
    }
    const qint64 total = qMax<qint64>(1, in.size());
    qint64 done = 0;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(kCopyChunk);
        if (chunk.isEmpty() || out.write(chunk) != chunk.size()) {
            error_ = "copy failed: " + out.errorString();
            return false;
        }
        done += chunk.size();
        if (!progress_(double(done) / total)) {
            error_ = "stopped";
            return false;
        }
    }
    return true;
}

bool PresetProcessor::transcode(const QString& input, const QString& output)
{
    SF_INFO inInfo{};
    SNDFILE* in = sf_open(QFile::encodeName(input).constData(), SFM_READ, &inInfo);
    if (!in) {
        error_ = QString::fromUtf8(sf_strerror(nullptr));
        return false;
    }
    SF_INFO outInfo{};
    outInfo.samplerate = inInfo.samplerate;
    outInfo.channels = inInfo.channels;
    outInfo.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* out = sf_open(QFile::encodeName(output).constData(), SFM_WRITE, &outInfo);
    if (!out) {
        error_ = QString::fromUtf8(sf_strerror(nullptr));
        sf_close(in);
        return false;
    }
    sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    std::vector<float> block(size_t(kFramesPerBlock) * size_t(inInfo.channels));
    const double total = double(qMax<sf_count_t>(1, inInfo.frames));
    sf_count_t done = 0;
    bool ok = true;
    for (;;) {
        const sf_count_t frames = sf_readf_float(in, block.data(), kFramesPerBlock);
        if (frames <= 0)
            break;
        if (sf_writef_float(out, block.data(), frames) != frames) {
            error_ = QString::fromUtf8(sf_strerror(out));
            ok = false;
            break;
        }
        done += frames;
        if (!progress_(qMin(1.0, double(done) / total))) {
            error_ = "stopped";
            ok = false;
            break;
        }
    }
    sf_close(out);
    sf_close(in);
    return ok;
}
