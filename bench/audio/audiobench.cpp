// Timing and memory figures of the audio engine, one figure per call:
//   audiobench make-wav FILE SECONDS          writes a 48 kHz stereo 16-bit test WAV
//   audiobench make-peaky-wav FILE SECONDS    the same programme 10 dB down with 1 ms bursts near full
//                                             scale every half second: at -14 LUFS its true peak passes
//                                             -1 dBTP by about 8 dB, so the limiter works throughout
//   audiobench meter FILE                     our LoudnessMeter, decode included
//   audiobench ebur128 FILE                   libebur128 (integrated) on the same decoded samples
//   audiobench meter-report FILE              our full report (range, maxima, true and sample peak)
//   audiobench ebur128-report FILE            libebur128 computing integrated, range, true and sample peak
//   rss-meter-report FILE                     (below) the same with the full report
//   normalise-ceiling FILE                    post-processing to -14 LUFS with a -1 dBTP ceiling
//                                             (measure, then render through the limiter); writes
//                                             "FILE-base -14 lufs.tmp" next to FILE
//   audiobench render FILE OUT GAIN           our GainRenderer
//   audiobench rss-meter FILE / rss-render FILE OUT
//                                             peak resident memory above idle, in MiB
// Prints "<seconds or MiB> <result>" on one line.
#include "audio/audiolibrary.h"
#include "audio/gainrenderer.h"
#include "audio/loudnessmeter.h"
#include "audio/postprocessing.h"

#include <QElapsedTimer>

#include <ebur128.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return -1;
}

// Speech-like programme material: pink-ish noise bursts and a melody; when
// `peaky`, 10 dB quieter with 1 ms bursts of 3 kHz near full scale every
// half second.
bool makeWav(const char* path, double seconds, bool peaky)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    if (seconds * 48000 * 4 > 4.0e9)
        info.format = SF_FORMAT_RF64 | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path, SFM_WRITE, &info);
    if (!f)
        return false;
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<short> block(48000 * 2);
    const long total = long(seconds * 48000);
    float lowpass = 0;
    for (long done = 0; done < total;) {
        const long n = std::min<long>(48000, total - done);
        for (long i = 0; i < n; ++i) {
            const long t = done + i;
            lowpass = 0.97f * lowpass + 0.03f * noise(rng);
            const bool burst = (t / 9600) % 5 != 4;
            const double tone = 0.2 * std::sin(2 * M_PI * (220.0 + 110.0 * ((t / 24000) % 4)) * double(t) / 48000);
            double v = (burst ? 2.0 * lowpass : 0.0) + tone;
            if (peaky) {
                const long inBurst = t % 24000;
                v = 0.3 * v + (inBurst < 48 ? 0.7 * std::sin(2 * M_PI * 3000.0 * double(inBurst) / 48000) : 0.0);
            }
            block[size_t(2 * i)] = short(std::lrint(std::clamp(v, -1.0, 1.0) * 32000));
            block[size_t(2 * i + 1)] = short(std::lrint(std::clamp(0.8 * v, -1.0, 1.0) * 32000));
        }
        if (sf_writef_short(f, block.data(), n) != n) {
            sf_close(f);
            return false;
        }
        done += n;
    }
    return sf_close(f) == 0;
}

// libebur128 in `mode` fed with every decoded sample of the file; null when
// the file cannot be opened.
ebur128_state* ebur128Measure(const char* path, int mode, int& channels)
{
    audiolib::DecodeStream stream;
    if (!stream.open(path, audiolib::DecodeStream::Samples::Float))
        return nullptr;
    audiolib::StreamInfo info;
    stream.info(info);
    channels = info.channels;
    ebur128_state* st = ebur128_init(unsigned(info.channels), unsigned(info.sampleRate), mode);
    std::vector<float> block(5000);
    qint64 got = 0;
    while ((got = stream.read(block.data(), 20000)) > 0)
        ebur128_add_frames_float(st, block.data(), size_t(got) / sizeof(float) / size_t(info.channels));
    return st;
}

double ebur128Loudness(const char* path)
{
    int channels = 0;
    ebur128_state* st = ebur128Measure(path, EBUR128_MODE_I, channels);
    if (!st)
        return NAN;
    double lufs = NAN;
    ebur128_loudness_global(st, &lufs);
    ebur128_destroy(&st);
    return lufs;
}

// Prints the figures on standard error and returns the true peak.
double ebur128Report(const char* path)
{
    int channels = 0;
    ebur128_state* st = ebur128Measure(path,
        EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_SAMPLE_PEAK, channels);
    if (!st)
        return NAN;
    double lufs = NAN, range = NAN, truePeak = 0, samplePeak = 0;
    ebur128_loudness_global(st, &lufs);
    ebur128_loudness_range(st, &range);
    for (unsigned c = 0; c < unsigned(channels); ++c) {
        double v = 0;
        ebur128_true_peak(st, c, &v);
        truePeak = std::max(truePeak, v);
        ebur128_sample_peak(st, c, &v);
        samplePeak = std::max(samplePeak, v);
    }
    ebur128_destroy(&st);
    std::fprintf(stderr, "libebur128: %.2f LUFS, LRA %.2f LU, TP %.3f dBTP, SP %.3f dBFS\n", lufs, range,
        20 * std::log10(truePeak), 20 * std::log10(samplePeak));
    return 20 * std::log10(truePeak);
}

double ourLoudness(const char* path, bool report)
{
    LoudnessMeter meter(path, "K-weighting", 0.4f);
    meter.collectReport(report);
    meter.measure();
    if (!report)
        return meter.lufs();
    const LoudnessReport& r = meter.report();
    std::fprintf(stderr, "ours: %.2f LUFS, LRA %.2f LU, TP %.3f dBTP, SP %.3f dBFS\n", meter.lufs(), r.loudnessRange,
        r.truePeak, r.samplePeak);
    return r.truePeak;
}

bool render(const char* in, const char* out, float gain)
{
    GainRenderer renderer;
    renderer.inputFile = in;
    renderer.outputFile = out;
    renderer.gain = gain;
    if (!renderer.start())
        return false;
    while (!renderer.isFinished())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    renderer.stop();
    return renderer.succeeded();
}

bool normaliseWithCeiling(const char* path)
{
    PostProcessing job;
    job.setInputFile(QString::fromUtf8(path));
    job.setArguments(QStringLiteral("normOp00: -14 LUFS"));
    job.setTruePeakCeiling(-1.0);
    job.start();
    while (!job.isFinished())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return job.outputFiles().size() == 1 && job.failureText().isEmpty();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "see the comment at the top of audiobench.cpp\n");
        return 2;
    }
    const std::string mode = argv[1];
    const long idleKiB = statusKiB("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    double result = 0;
    bool ok = true;
    if ((mode == "make-wav" || mode == "make-peaky-wav") && argc > 3)
        ok = makeWav(argv[2], std::atof(argv[3]), mode == "make-peaky-wav");
    else if (mode == "meter" || mode == "rss-meter")
        result = ourLoudness(argv[2], false);
    else if (mode == "meter-report" || mode == "rss-meter-report")
        result = ourLoudness(argv[2], true);
    else if (mode == "ebur128")
        result = ebur128Loudness(argv[2]);
    else if (mode == "normalise-ceiling")
        ok = normaliseWithCeiling(argv[2]);
    else if (mode == "ebur128-report")
        result = ebur128Report(argv[2]);
    else if ((mode == "render" && argc > 4) || (mode == "rss-render" && argc > 3))
        ok = render(argv[2], argv[3], mode == "render" ? float(std::atof(argv[4])) : 0.5f);
    else
        return 2;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!ok)
        return 1;
    if (mode.rfind("rss-", 0) == 0)
        std::printf("%.1f %.2f\n", double(statusKiB("VmHWM:") - idleKiB) / 1024.0, result);
    else
        std::printf("%.3f %.2f\n", seconds, result);
    return 0;
}
