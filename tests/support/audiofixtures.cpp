#include "audiofixtures.h"

#include <QFile>
#include <ebur128.h>
#include <sndfile.h>

#include <cmath>
#include <limits>
#include <random>

namespace fixtures {

namespace {

int sndFormat(SampleFormat f)
{
    switch (f) {
    case SampleFormat::Pcm16: return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case SampleFormat::Pcm24: return SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    case SampleFormat::Float32: return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    }
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

sf_count_t frameCount(double seconds, int sampleRate)
{
    return static_cast<sf_count_t>(std::llround(seconds * sampleRate));
}

} // namespace

bool writeWav(const QString& path, const std::vector<float>& interleaved, const Signal& signal)
{
    SF_INFO info{};
    info.samplerate = signal.sampleRate;
    info.channels = signal.channels;
    info.format = sndFormat(signal.format);
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / signal.channels;
    const bool ok = sf_writef_float(f, interleaved.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

std::vector<float> sine(double seconds, double frequency, double amplitude, const Signal& signal)
{
    const sf_count_t frames = frameCount(seconds, signal.sampleRate);
    std::vector<float> out(static_cast<size_t>(frames * signal.channels));
    for (sf_count_t i = 0; i < frames; ++i) {
        const float v = static_cast<float>(amplitude * std::sin(2.0 * M_PI * frequency * double(i) / signal.sampleRate));
        for (int c = 0; c < signal.channels; ++c)
            out[static_cast<size_t>(i * signal.channels + c)] = v;
    }
    return out;
}

std::vector<float> whiteNoise(double seconds, double amplitude, const Signal& signal, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> out(static_cast<size_t>(frameCount(seconds, signal.sampleRate) * signal.channels));
    for (float& v : out)
        v = static_cast<float>(amplitude) * dist(rng);
    return out;
}

std::vector<float> pinkNoise(double seconds, double amplitude, const Signal& signal, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    const sf_count_t frames = frameCount(seconds, signal.sampleRate);
    std::vector<float> out(static_cast<size_t>(frames * signal.channels));
    constexpr int rows = 16;
    for (int c = 0; c < signal.channels; ++c) {
        float values[rows] = {};
        float sum = 0;
        for (sf_count_t i = 0; i < frames; ++i) {
            // Voss-McCartney: row k changes every 2^k samples.
            const uint64_t n = static_cast<uint64_t>(i) + 1;
            int k = 0;
            while (k < rows - 1 && ((n >> k) & 1u) == 0)
                ++k;
            sum -= values[k];
            values[k] = dist(rng);
            sum += values[k];
            out[static_cast<size_t>(i * signal.channels + c)] = (sum + dist(rng)) / float(rows + 1);
        }
    }
    const double p = peak(out);
    if (p > 0)
        for (float& v : out)
            v = static_cast<float>(v * amplitude / p);
    return out;
}

std::vector<float> silence(double seconds, const Signal& signal)
{
    return std::vector<float>(static_cast<size_t>(frameCount(seconds, signal.sampleRate) * signal.channels), 0.0f);
}

bool writeSine(const QString& path, double seconds, double frequency, double amplitude, const Signal& signal)
{
    return writeWav(path, sine(seconds, frequency, amplitude, signal), signal);
}

bool writeNoise(const QString& path, double seconds, double amplitude, const Signal& signal)
{
    return writeWav(path, whiteNoise(seconds, amplitude, signal), signal);
}

bool writeSilence(const QString& path, double seconds, const Signal& signal)
{
    return writeWav(path, silence(seconds, signal), signal);
}

bool writeTruncatedWav(const QString& path, const Signal& signal)
{
    if (!writeSine(path, 1.0, 440.0, 0.5, signal))
        return false;
    QFile f(path);
    return f.resize(f.size() / 2);
}

bool writeCorruptFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray junk("this is not audio at all ");
    for (int i = 0; i < 200; ++i)
        f.write(junk);
    return true;
}

bool readAudio(const QString& path, std::vector<float>& interleaved, int& sampleRate, int& channels)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return false;
    interleaved.assign(static_cast<size_t>(info.frames * info.channels), 0.0f);
    const sf_count_t got = sf_readf_float(f, interleaved.data(), info.frames);
    interleaved.resize(static_cast<size_t>(got * info.channels));
    sampleRate = info.samplerate;
    channels = info.channels;
    sf_close(f);
    return true;
}

bool readFormat(const QString& path, SampleFormat& format)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return false;
    sf_close(f);
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16: format = SampleFormat::Pcm16; return true;
    case SF_FORMAT_PCM_24: format = SampleFormat::Pcm24; return true;
    case SF_FORMAT_FLOAT: format = SampleFormat::Float32; return true;
    default: return false;
    }
}

double peak(const std::vector<float>& samples)
{
    double p = 0;
    for (float v : samples)
        p = std::max(p, double(std::fabs(v)));
    return p;
}

double rmsDb(const std::vector<float>& samples)
{
    if (samples.empty())
        return -std::numeric_limits<double>::infinity();
    double sum = 0;
    for (float v : samples)
        sum += double(v) * v;
    return 10.0 * std::log10(sum / double(samples.size()));
}

double integratedLoudness(const QString& path)
{
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    if (!readAudio(path, samples, rate, channels))
        return NAN;
    ebur128_state* state = ebur128_init(unsigned(channels), unsigned(rate), EBUR128_MODE_I);
    ebur128_add_frames_float(state, samples.data(), samples.size() / size_t(channels));
    double lufs = NAN;
    ebur128_loudness_global(state, &lufs);
    ebur128_destroy(&state);
    return lufs;
}

} // namespace fixtures
