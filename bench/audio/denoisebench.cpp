// Runs the noise-suppression program on a tone-plus-white-noise signal and
// reports the noise reduction in the noise-only stretches, the change of the
// tone's level and the speed against real time.
//   denoisebench PROGRAM MODELDIR SCRATCHDIR [RATE CHANNELS SECONDS [tool options...]]
#include <sndfile.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr double kTone = 1000.0;
constexpr double kToneAmplitude = 0.3;
constexpr double kNoiseAmplitude = 0.05;
constexpr double kSegment = 2.0;   // seconds: noise only, then tone plus noise, alternating

bool toneOn(long frame, int rate)
{
    return (long(frame / (kSegment * rate)) % 2) == 1;
}

std::vector<float> makeSignal(int rate, int channels, double seconds)
{
    const long frames = long(seconds * rate);
    std::vector<float> out(size_t(frames * channels));
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (long i = 0; i < frames; ++i) {
        const double tone = toneOn(i, rate) ? kToneAmplitude * std::sin(2 * M_PI * kTone * double(i) / rate) : 0.0;
        for (int c = 0; c < channels; ++c)
            out[size_t(i * channels + c)] = float(tone + kNoiseAmplitude * noise(rng));
    }
    return out;
}

bool writeFloatWav(const char* path, const std::vector<float>& data, int rate, int channels)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path, SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t frames = sf_count_t(data.size()) / channels;
    const bool ok = sf_writef_float(f, data.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

bool readWav(const char* path, std::vector<float>& data, SF_INFO& info)
{
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (!f)
        return false;
    data.resize(size_t(info.frames * info.channels));
    sf_readf_float(f, data.data(), info.frames);
    sf_close(f);
    return true;
}

// Energy of the noise-only stretches, and the amplitude of the tone found by
// projection onto it, leaving a quarter second at every edge.
void analyse(const std::vector<float>& x, int rate, int channels, double& noiseEnergy, double& toneAmplitude)
{
    const long frames = long(x.size()) / channels;
    const long margin = rate / 4;
    const long segment = long(kSegment * rate);
    double energy = 0, s = 0, c = 0;
    long noiseCount = 0, toneCount = 0;
    for (long i = 0; i < frames; ++i) {
        const long inSegment = i % segment;
        if (inSegment < margin || inSegment >= segment - margin)
            continue;
        for (int ch = 0; ch < channels; ++ch) {
            const double v = x[size_t(i * channels + ch)];
            if (toneOn(i, rate)) {
                const double phase = 2 * M_PI * kTone * double(i) / rate;
                s += v * std::sin(phase);
                c += v * std::cos(phase);
                ++toneCount;
            } else {
                energy += v * v;
                ++noiseCount;
            }
        }
    }
    noiseEnergy = energy / double(std::max(1L, noiseCount));
    toneAmplitude = 2.0 * std::hypot(s, c) / double(std::max(1L, toneCount));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: denoisebench PROGRAM MODELDIR SCRATCHDIR [RATE CHANNELS SECONDS [options]]\n");
        return 2;
    }
    const int rate = args.size() > 4 ? args[4].toInt() : 48000;
    const int channels = args.size() > 5 ? args[5].toInt() : 2;
    const double seconds = args.size() > 6 ? args[6].toDouble() : 60.0;
    const QStringList extra = args.mid(7);
    const QByteArray in = (args[3] + "/denoise-in.wav").toUtf8();
    const QByteArray out = (args[3] + "/denoise-out.wav").toUtf8();
    const auto signal = makeSignal(rate, channels, seconds);
    if (!writeFloatWav(in.constData(), signal, rate, channels))
        return 1;

    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    tool.start(args[1], QStringList{"-input", QString(in), "-modelpath", args[2], "-output", QString(out)} + extra);
    tool.waitForFinished(-1);
    const double elapsed = double(timer.nsecsElapsed()) / 1e9;
    const QByteArray printed = tool.readAllStandardOutput();
    if (tool.exitCode() != 0 || !printed.contains("File Ready")) {
        std::fprintf(stderr, "denoise failed: %s\n", printed.constData());
        return 1;
    }
    std::vector<float> result;
    SF_INFO info{};
    if (!readWav(out.constData(), result, info))
        return 1;
    double noiseIn = 0, toneIn = 0, noiseOut = 0, toneOut = 0;
    analyse(signal, rate, channels, noiseIn, toneIn);
    analyse(result, rate, channels, noiseOut, toneOut);
    std::printf("noise_reduction_db %.2f\ntone_change_db %.3f\nspeed_x_realtime %.1f\nseconds %.3f\nsame_shape %d\n",
        10 * std::log10(noiseIn / noiseOut), 20 * std::log10(toneOut / toneIn), seconds / elapsed, elapsed,
        int(info.frames == sf_count_t(signal.size() / size_t(channels)) && info.samplerate == rate && info.channels == channels));
    return 0;
}
