// Figures of normalisation under a true-peak ceiling, ours and any other
// tool's output alike:
//   limiterbench make-inputs DIR      writes the test programmes (48 kHz stereo float, 10 s):
//                                     sine50.wav, sine100.wav  steady sines at -12 dBFS
//                                     drums.wav   a 440 Hz bed at -30 dBFS with a 55 Hz kick every 0.5 s
//                                     clicks.wav  the same bed with a 1 ms 3 kHz click every 0.5 s
//                                     bright.wav  clipped bright noise (treble-heavy, hard-clipped, at -20 dBFS)
//                                     (quiet enough that every target stays within loudnorm's -5 LUFS)
//   limiterbench normalise IN OUT TARGET CEILING
//                                     our post-processing: measure, then render to TARGET LUFS through
//                                     the true-peak limiter at CEILING dBTP
//   limiterbench figures OUT IN TARGET CEILING KIND
//                                     KIND sine FREQ | bed | plain: integrated loudness error, true peak
//                                     against an 8x oversampled reconstruction (a 512-tap windowed sinc
//                                     flat to 0.47 of the rate), how far the loudest peak stays under the
//                                     ceiling; for sines THD+N after the first second; for programmes
//                                     with a bed its ducking (see ducking()): the share of time the bed's
//                                     gain sits more than 1 dB under its usual value, the longest time it
//                                     takes to come back within 1 dB after a transient stops needing
//                                     limiting, the share no limiter can avoid, and the earlier measure
// Prints one line of "name value" pairs.
#include "audio/audiolibrary.h"
#include "audio/ceilingrender.h"
#include "audio/loudnessmeter.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr double kSeconds = 10.0;
constexpr double kBedFrequency = 440.0;

constexpr double kBedAmplitude = 0.0316;

double bedSample(double t)
{
    return kBedAmplitude * std::sin(2 * M_PI * kBedFrequency * t);
}

bool writeFloatWav(const std::string& path, const std::vector<float>& stereo)
{
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t frames = sf_count_t(stereo.size() / 2);
    const bool ok = sf_writef_float(f, stereo.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

bool readStereo(const std::string& path, std::vector<float>& stereo, int& rate)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f || info.channels != 2)
        return false;
    rate = info.samplerate;
    stereo.resize(size_t(info.frames) * 2);
    const sf_count_t got = sf_readf_float(f, stereo.data(), info.frames);
    stereo.resize(size_t(got) * 2);
    sf_close(f);
    return true;
}

bool makeInputs(const std::string& dir)
{
    const size_t frames = size_t(kSeconds * kRate);
    auto programme = [&](auto sample) {
        std::vector<float> out(frames * 2);
        for (size_t i = 0; i < frames; ++i)
            out[2 * i] = out[2 * i + 1] = float(sample(double(i) / kRate, i));
        return out;
    };
    auto bed = [](double t) { return bedSample(t); };
    auto since = [](double t) { return std::fmod(t + 0.25, 0.5); };   // a transient at 0.25 s, 0.75 s, ...
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 1.0);
    double previous = 0;
    return writeFloatWav(dir + "/sine50.wav", programme([](double t, size_t) { return 0.25 * std::sin(2 * M_PI * 50 * t); }))
        && writeFloatWav(dir + "/sine100.wav", programme([](double t, size_t) { return 0.25 * std::sin(2 * M_PI * 100 * t); }))
        && writeFloatWav(dir + "/drums.wav", programme([&](double t, size_t) {
               const double k = since(t);
               return bed(t) + (k < 0.06 ? 0.285 * std::sin(2 * M_PI * 55 * k) * std::exp(-k / 0.01) : 0.0);
           }))
        && writeFloatWav(dir + "/clicks.wav", programme([&](double t, size_t) {
               const double k = since(t);
               return bed(t) + (k < 0.001 ? 0.285 * std::sin(2 * M_PI * 3000 * k) : 0.0);
           }))
        && writeFloatWav(dir + "/bright.wav", programme([&](double, size_t) {
               // First difference of white noise (treble-heavy), driven 6 dB into the clip.
               const double white = noise(rng);
               const double bright = 0.7 * (white - previous);
               previous = white;
               return 0.1 * std::clamp(bright, -1.0, 1.0);
           }));
}

// Windowed-sinc interpolation by 8, 64 taps per phase (Kaiser, beta 9),
// cut-off at the input's Nyquist frequency: the reference reconstruction.
double truePeak8x(const std::vector<float>& stereo)
{
    constexpr int phases = 8, taps = 64, length = phases * taps;
    static std::vector<double> h = [] {
        std::vector<double> t(length);
        const double centre = (length - 1) / 2.0, beta = 9.0;
        auto i0 = [](double x) {
            double sum = 1, term = 1;
            for (int k = 1; k < 50; ++k) {
                term *= (x / (2.0 * k)) * (x / (2.0 * k));
                sum += term;
            }
            return sum;
        };
        for (int j = 0; j < length; ++j) {
            const double x = (j - centre) / phases;
            const double r = (j - centre) / (centre + 0.5);
            t[size_t(j)] = (x == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x))
                * i0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0(beta);
        }
        return t;
    }();
    const size_t frames = stereo.size() / 2;
    double peak = 0;
    for (int c = 0; c < 2; ++c) {
        std::vector<double> x(frames + 2 * taps, 0.0);
        for (size_t i = 0; i < frames; ++i)
            x[i + taps] = stereo[2 * i + size_t(c)];
        for (size_t n = taps; n < frames + taps; ++n) {
            for (int p = 0; p < phases; ++p) {
                double y = 0;
                for (int k = 0; k < taps; ++k)
                    y += h[size_t(k * phases + p)] * x[n - size_t(taps / 2) + size_t(k)];
                peak = std::max(peak, std::fabs(y));
            }
        }
    }
    return 20 * std::log10(peak);
}

// Residual after the best fit of a sine at `frequency` (and a constant), as
// a percentage of the sine, over the left channel from 1 s to 0.5 s before the end.
double thdPlusNoise(const std::vector<float>& stereo, int rate, double frequency)
{
    const size_t from = size_t(rate), to = stereo.size() / 2 - size_t(rate / 2);
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0, xx = 0, sumX = 0;
    const double n = double(to - from);
    for (size_t i = from; i < to; ++i) {
        const double w = 2 * M_PI * frequency * double(i) / rate, c = std::cos(w), s = std::sin(w), x = stereo[2 * i];
        cc += c * c, ss += s * s, cs += c * s, xc += x * c, xs += x * s, xx += x * x, sumX += x;
    }
    const double det = cc * ss - cs * cs;
    const double a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
    const double mean = sumX / n;
    double residual = 0;
    for (size_t i = from; i < to; ++i) {
        const double w = 2 * M_PI * frequency * double(i) / rate;
        const double e = stereo[2 * i] - a * std::cos(w) - b * std::sin(w) - mean;
        residual += e * e;
    }
    return 100.0 * std::sqrt(residual / n) / std::sqrt((a * a + b * b) / 2);
}

// Level of the 440 Hz bed over time: quadrature demodulation with a 10 ms
// Hann window every millisecond (left channel).
std::vector<double> bedLevel(const std::vector<float>& stereo, int rate)
{
    const size_t window = size_t(rate / 100), hop = size_t(rate / 1000), frames = stereo.size() / 2;
    std::vector<double> level;
    for (size_t start = 0; start + window <= frames; start += hop) {
        double i = 0, q = 0, norm = 0;
        for (size_t k = 0; k < window; ++k) {
            const double w = 0.5 - 0.5 * std::cos(2 * M_PI * (double(k) + 0.5) / double(window));
            const double phase = 2 * M_PI * kBedFrequency * double(start + k) / rate;
            i += w * stereo[2 * (start + k)] * std::cos(phase);
            q += w * stereo[2 * (start + k)] * std::sin(phase);
            norm += w;
        }
        level.push_back(2 * std::hypot(i, q) / norm);
    }
    return level;
}

// The output's lag behind the input in frames (within +-20 ms): the largest
// correlation of the left channels over the first two seconds.
long outputLag(const std::vector<float>& out, const std::vector<float>& in, int rate)
{
    const long reach = rate / 50, frames = long(std::min(out.size(), in.size()) / 2);
    const long span = std::min<long>(frames - 2 * reach, 2L * rate);
    long best = 0;
    double bestSum = -1e300;
    for (long lag = -reach; lag <= reach; ++lag) {
        double sum = 0;
        for (long i = reach; i < reach + span; ++i)
            sum += double(out[size_t(2 * (i + lag))]) * in[size_t(2 * i)];
        if (sum > bestSum)
            bestSum = sum, best = lag;
    }
    return best;
}

// The bed's own gain over time, apart from the transients: every half
// millisecond the output (aligned with the input) is fitted over 2.5 ms by a
// 440 Hz sine of free phase plus the input's transient (the input minus its
// bed) at a free gain; the bed's gain is the fitted sine's amplitude over the
// bed's. A tool that rides one gain gets that gain, without the transient's
// own energy near 440 Hz and with little smear. Left channel.
std::vector<double> bedGain(const std::vector<float>& out, const std::vector<float>& in, int rate, long lag,
    size_t hop, size_t window)
{
    const size_t frames = std::min(in.size() / 2, out.size() / 2 - size_t(std::max(lag, 0L)));
    std::vector<double> gains;
    for (size_t start = size_t(std::max(-lag, 0L)); start + window <= frames; start += hop) {
        // Normal equations of y = a s + b c + d r.
        double m[3][3] = {}, v[3] = {};
        for (size_t k = start; k < start + window; ++k) {
            const double t = double(k) / rate, w = 2 * M_PI * kBedFrequency * t;
            const double x[3] = {std::sin(w), std::cos(w), in[2 * k] - bedSample(t)};
            const double y = out[2 * (k + size_t(lag))];
            for (int i = 0; i < 3; ++i) {
                v[i] += x[i] * y;
                for (int j = 0; j < 3; ++j)
                    m[i][j] += x[i] * x[j];
            }
        }
        // Without a transient in the window, the sine alone.
        const int n = m[2][2] > 1e-9 * m[0][0] ? 3 : 2;
        for (int col = 0; col < n; ++col)
            for (int row = col + 1; row < n; ++row) {
                const double f = m[row][col] / m[col][col];
                for (int j = col; j < n; ++j)
                    m[row][j] -= f * m[col][j];
                v[row] -= f * v[col];
            }
        double a[3] = {};
        for (int i = n - 1; i >= 0; --i) {
            double r = v[i];
            for (int j = i + 1; j < n; ++j)
                r -= m[i][j] * a[j];
            a[i] = r / m[i][i];
        }
        gains.push_back(std::hypot(a[0], a[1]) / kBedAmplitude);
    }
    return gains;
}

// The bed's ducking: the share of the time its gain sits more than 1 dB under
// its usual value (in percent, after the first second), and the longest time
// it takes to come back within 1 dB after a transient stops needing limiting
// (the input, at the usual gain, under the ceiling). Beside them: the share
// of the time that no limiter can keep within 1 dB (from the first to the
// last sample of each transient that passes the ceiling by more than 1 dB at
// the usual gain), and the share the earlier measure gave (the bed's level
// demodulated over 10 ms windows, the transient's own 440 Hz content
// included, and divided by the input's).
void ducking(const std::vector<float>& out, const std::vector<float>& in, int rate, double ceilingDb)
{
    const size_t hop = size_t(rate / 2000), window = size_t(rate / 400);
    const long lag = outputLag(out, in, rate);
    const std::vector<double> gain = bedGain(out, in, rate, lag, hop, window);
    const size_t n = gain.size(), first = size_t(rate) / hop;
    std::vector<double> sorted(gain);
    std::nth_element(sorted.begin(), sorted.begin() + long(n / 2), sorted.end());
    const double usual = sorted[n / 2], oneDb = std::pow(10.0, -1.0 / 20);
    size_t down = 0;
    for (size_t k = first; k < n; ++k)
        down += gain[k] < usual * oneDb ? 1 : 0;
    const double ceiling = std::pow(10.0, ceilingDb / 20);
    double worst = 0, unavoidable = 0, counted = 0;
    for (double t0 = 1.25; t0 + 0.5 < double(in.size() / 2) / rate; t0 += 0.5) {
        size_t end = size_t(t0 * rate), overFirst = 0, overLast = 0;
        for (size_t i = size_t(t0 * rate); i < size_t((t0 + 0.45) * rate); ++i) {
            const double at = std::fabs(in[2 * i]) * usual;
            if (at > ceiling)
                end = i;
            if (at > ceiling / oneDb) {
                overFirst = overFirst ? overFirst : i;
                overLast = i;
            }
        }
        unavoidable += overFirst ? double(overLast - overFirst + 1) : 0.0;
        counted += 0.5 * rate;
        // Gain points are centred half a window after their start.
        size_t k = (end > window / 2 ? end - window / 2 : 0) / hop;
        while (k < n && gain[k] < usual * oneDb)
            ++k;
        worst = std::max(worst, (double(k * hop + window / 2) - double(end)) * 1000.0 / rate);
    }
    const std::vector<double> outLevel = bedLevel(out, rate), inLevel = bedLevel(in, rate);
    const size_t m = std::min(outLevel.size(), inLevel.size());
    std::vector<double> ratio(m);
    for (size_t k = 0; k < m; ++k)
        ratio[k] = outLevel[k] / std::max(inLevel[k], 1e-12);
    std::vector<double> ratioSorted(ratio);
    std::nth_element(ratioSorted.begin(), ratioSorted.begin() + long(m / 2), ratioSorted.end());
    size_t demodulatedDown = 0;
    for (size_t k = 1000; k < m; ++k)
        demodulatedDown += ratio[k] < ratioSorted[m / 2] * oneDb ? 1 : 0;
    std::printf(" down_over_1db_percent %.1f worst_recovery_ms %.1f usual_gain_db %.2f unavoidable_percent %.1f"
                " demodulated_10ms_down_percent %.1f",
        100.0 * double(down) / double(n - first), worst, 20 * std::log10(usual), 100.0 * unavoidable / counted,
        100.0 * double(demodulatedDown) / double(m - 1000));
}

int figures(int argc, char** argv)
{
    const std::string outPath = argv[2], inPath = argv[3], kind = argv[6];
    const double target = std::atof(argv[4]), ceiling = std::atof(argv[5]);
    std::vector<float> out, in;
    int rate = 0, inRate = 0;
    if (!readStereo(outPath, out, rate) || !readStereo(inPath, in, inRate))
        return 1;
    LoudnessMeter meter(outPath.c_str(), "K-weighting", 0.4f);
    meter.measure();
    const double peak = truePeak8x(out);
    std::printf("target_error_lu %+.2f true_peak_8x_dbtp %.2f over_ceiling_db %+.2f", meter.lufs() - target, peak,
        peak - ceiling);
    if (kind == "sine" && argc > 7)
        std::printf(" thd_n_percent %.3f", thdPlusNoise(out, rate, std::atof(argv[7])));
    else if (kind == "bed" && rate == inRate)
        ducking(out, in, rate, ceiling);
    std::printf("\n");
    return 0;
}

int normalise(char** argv)
{
    LoudnessMeter meter(argv[2], "K-weighting", 0.4f);
    meter.collectReport(true);
    meter.measure();
    CeilingRender render;
    render.input = argv[2];
    render.output = argv[3];
    render.target = std::atof(argv[4]);
    render.ceilingDb = std::atof(argv[5]);
    render.measured = meter.lufs();
    render.truePeak = meter.report().truePeak;
    return render.run() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make-inputs" && argc > 2)
        return makeInputs(argv[2]) ? 0 : 1;
    if (mode == "normalise" && argc > 5)
        return normalise(argv);
    if (mode == "figures" && argc > 6)
        return figures(argc, argv);
    std::fprintf(stderr, "see the comment at the top of limiterbench.cpp\n");
    return 2;
}
