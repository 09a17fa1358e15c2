#include "audiofixtures.h"
#include "brokenaudio.h"

#include "audio/kweighting.h"
#include "audio/loudnessmeter.h"
#include "audio/truepeakdetector.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <complex>
#include <functional>
#include <limits>

// The meter's report against the EBU's loudness and loudness-range test
// signals, generated here from their published definitions at 44.1, 48 and
// 96 kHz, the 1 kHz reference tone at every rate, channel layouts with and
// without a WAV channel mask, files shorter than the meter's windows, and
// its true peak against sines whose peak is known exactly.
namespace {

constexpr double kUnchecked = std::numeric_limits<double>::quiet_NaN();
// A figure that must not exist (null in the tool's JSON).
constexpr double kNone = -std::numeric_limits<double>::infinity();

// A piece of a programme: a sine at `dbfs` peak level (per channel, the
// last value repeated) for `seconds`; a level of -inf is silence.
struct Piece {
    double seconds;
    std::vector<double> dbfs;
    double frequency = 1000.0;   // Hz; below 1 a fraction of the sample rate
    double phaseDegrees = 0.0;   // of a cosine, at the first sample
};

using Programme = std::vector<Piece>;

// Interleaved samples. The phase runs on across pieces of the same
// frequency, as in a tone whose level is switched; true-peak pieces start
// and end with 10 ms fades, so that switching on does not itself make a
// peak between the samples.
std::vector<float> render(const Programme& programme, int rate, int channels, bool fade)
{
    std::vector<float> out;
    double time = 0;
    for (const Piece& piece : programme) {
        const double f = piece.frequency < 1 ? piece.frequency * rate : piece.frequency;
        const qint64 frames = qint64(std::llround(piece.seconds * rate));
        const qint64 fadeFrames = fade ? rate / 100 : 0;
        for (qint64 i = 0; i < frames; ++i) {
            const double t = time + double(i) / rate;
            double envelope = 1;
            if (fadeFrames > 0) {
                const double edge = std::min(1.0, double(std::min(i, frames - 1 - i)) / double(fadeFrames));
                envelope = 0.5 - 0.5 * std::cos(M_PI * edge);
            }
            const double wave = envelope * std::cos(2 * M_PI * f * t + piece.phaseDegrees * M_PI / 180.0);
            for (int c = 0; c < channels; ++c) {
                const double db = piece.dbfs[size_t(std::min<int>(c, int(piece.dbfs.size()) - 1))];
                out.push_back(float(std::isinf(db) ? 0.0 : std::pow(10.0, db / 20.0) * wave));
            }
        }
        time += double(frames) / rate;
    }
    return out;
}

const double kSilent = -std::numeric_limits<double>::infinity();

// n repetitions of a loud and a quiet tone.
Programme alternating(int n, double loudSeconds, double quietSeconds)
{
    Programme p;
    for (int i = 0; i < n; ++i) {
        p.push_back({loudSeconds, {-20}});
        p.push_back({quietSeconds, {-30}});
    }
    return p;
}

struct Expected {
    double integrated = kUnchecked;
    double maxMomentary = kUnchecked;
    double maxShortTerm = kUnchecked;
    double range = kUnchecked;
    double truePeak = kUnchecked;
    double loudnessTolerance = 0.1;
};

// The 1 kHz reference tone of -23 dBFS in both channels reads -23.00 at
// every rate.
Expected reference()
{
    Expected e;
    e.integrated = -23;
    e.loudnessTolerance = 0.02;
    return e;
}

// The loudness of a 1 kHz tone of -23 dBFS in one channel of weight w.
double oneChannel(double w)
{
    return w > 0 ? -23.0 - 3.0103 + 10 * std::log10(w) : kNone;
}

// A -23 dBFS tone in channel `on` of `channels`, silence in the others.
Programme toneIn(int on, int channels, double seconds = 5)
{
    std::vector<double> levels(size_t(channels), kSilent);
    levels[size_t(on)] = -23;
    return {{seconds, levels}};
}

// Magnitude in dB of a section at frequency f.
double responseDb(const IIRFilter::Design& d, double f, double fs)
{
    const std::complex<double> zi = std::polar(1.0, -2 * M_PI * f / fs);
    return 20 * std::log10(std::abs((d.b0 + zi * (d.b1 + zi * d.b2)) / (1.0 + zi * (d.a1 + zi * d.a2))));
}

Expected truePeak(double dbtp)
{
    Expected e;
    e.truePeak = dbtp;
    return e;
}

Expected range(double lu)
{
    Expected e;
    e.range = lu;
    return e;
}

} // namespace

class TestLoudnessConformance : public QObject {
    Q_OBJECT

private slots:
    void ebuCases_data();
    void ebuCases();
    void kWeightingFollowsTheStandardAtEveryRate_data();
    void kWeightingFollowsTheStandardAtEveryRate();
    void truePeakOfSinesUpToNearlyHalfTheRate();
    void truePeakScreeningMissesNothing_data();
    void truePeakScreeningMissesNothing();

private:
    QTemporaryDir dir;
};

Q_DECLARE_METATYPE(Programme)
Q_DECLARE_METATYPE(Expected)

void TestLoudnessConformance::ebuCases_data()
{
    QTest::addColumn<Programme>("programme");
    QTest::addColumn<int>("channels");
    QTest::addColumn<Expected>("expected");
    QTest::addColumn<uint>("mask");
    const std::vector<int> ebuRates = {44100, 48000, 96000};
    const std::vector<int> everyRate = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 192000, 384000};
    struct Case {
        const char* name;
        Programme programme;
        int channels;
        Expected expected;
        std::vector<int> rates = {44100, 48000, 96000};
        quint32 mask = 0;   // a WAV channel mask, 0 for none
    };
    Expected nothing;   // silence to the meter, or under 0.4 s: no gated block, no window
    nothing.integrated = nothing.maxMomentary = nothing.maxShortTerm = nothing.range = kNone;
    Expected underThree;   // 0.4 s to 3 s: no short-term window
    underThree.integrated = underThree.maxMomentary = -23;
    underThree.maxShortTerm = underThree.range = kNone;
    // Stereo 1 kHz tones unless said otherwise; every level in dBFS.
    const std::vector<Case> cases = {
        {"3341-1", {{20, {-23}}}, 2, {-23, -23, -23}},
        {"3341-2", {{20, {-33}}}, 2, {-33, -33, -33}},
        {"3341-3", {{10, {-36}}, {60, {-23}}, {10, {-36}}}, 2, {-23}},
        {"3341-4", {{10, {-72}}, {10, {-36}}, {60, {-23}}, {10, {-36}}, {10, {-72}}}, 2, {-23}},
        {"3341-5", {{20, {-26}}, {20.1, {-20}}, {20, {-26}}}, 2, {-23}},
        {"3341-6 five channels", {{20, {-28, -28, -24, -30, -30}}}, 5, {-23}},
        {"3341-9 short-term steady", alternating(20, 1.34, 1.66), 2, {kUnchecked, kUnchecked, -23}},
        {"3341-10 a 3 s burst off the 10 ms grid", {{1.2345, {kSilent}}, {3, {-23}}, {2, {kSilent}}}, 2,
            {kUnchecked, kUnchecked, -23}},
        {"3341-12 a 0.4 s burst off the 10 ms grid", {{1.0057, {kSilent}}, {0.4, {-23}}, {1, {kSilent}}}, 2,
            {kUnchecked, -23}},
        {"3341-13 momentary steady", [] {
             Programme p;
             for (int i = 0; i < 20; ++i) {
                 p.push_back({0.18, {-20}});
                 p.push_back({0.22, {-30}});
             }
             return p;
         }(), 2, {kUnchecked, -23}},
        {"3341-15", {{2, {-6}, 0.25, 0}}, 2, truePeak(-6)},
        {"3341-16", {{2, {-6}, 0.25, 45}}, 2, truePeak(-6)},
        {"3341-17", {{2, {-6}, 1.0 / 6, 60}}, 2, truePeak(-6)},
        {"3341-18", {{2, {-6}, 0.125, 67.5}}, 2, truePeak(-6)},
        {"3341-19", {{2, {3.0103}, 0.25, 45}}, 2, truePeak(3.0103)},
        {"3341-20", {{2, {0}, 0.25, 0}}, 2, truePeak(0)},
        {"3341-21", {{2, {0}, 1.0 / 6, 60}}, 2, truePeak(0)},
        {"3341-22", {{2, {0}, 0.125, 67.5}}, 2, truePeak(0)},
        {"3341-23", {{2, {-1}, 0.45, 17}}, 2, truePeak(-1)},
        {"3342-1", {{20, {-20}}, {20, {-30}}}, 2, range(10)},
        {"3342-2", {{20, {-20}}, {20, {-15}}}, 2, range(5)},
        {"3342-3", {{20, {-40}}, {20, {-20}}}, 2, range(20)},
        {"3342-4", {{20, {-50}}, {20, {-35}}, {20, {-20}}, {20, {-35}}, {20, {-50}}}, 2, range(15)},
        {"1 kHz reference", {{4, {-23}}}, 2, reference(), everyRate},
        // Layouts by channel count: L R C 1.0, surround and back 1.41, LFE out.
        {"mono", toneIn(0, 1), 1, {oneChannel(1.0)}},
        {"3.0 centre", toneIn(2, 3), 3, {oneChannel(1.0)}},
        {"quad back left", toneIn(2, 4), 4, {oneChannel(1.41)}},
        {"quad back right", toneIn(3, 4), 4, {oneChannel(1.41)}},
        {"5.0 right surround", toneIn(4, 5), 5, {oneChannel(1.41)}},
        {"5.1 LFE", toneIn(3, 6), 6, nothing, ebuRates},
        {"7.1 LFE", toneIn(3, 8), 8, nothing},
        {"7.1 back left", toneIn(4, 8), 8, {oneChannel(1.41)}},
        {"7.1 back right", toneIn(5, 8), 8, {oneChannel(1.41)}},
        {"7.1 side right", toneIn(7, 8), 8, {oneChannel(1.41)}},
        // Layouts a channel mask names.
        {"mask 7.1 LFE", toneIn(3, 8), 8, nothing, ebuRates, 0x63F},
        {"mask 7.1 side left", toneIn(6, 8), 8, {oneChannel(1.41)}, ebuRates, 0x63F},
        {"mask L R C BC: back centre", toneIn(3, 4), 4, {oneChannel(1.41)}, ebuRates, 0x107},
        {"mask L R LFE: LFE", toneIn(2, 3), 3, nothing, ebuRates, 0xB},
        {"mask L R C LFE in quad's count: C", toneIn(2, 4), 4, {oneChannel(1.0)}, ebuRates, 0xF},
        {"mask mono as right", toneIn(0, 1), 1, {oneChannel(1.0)}, ebuRates, 0x2},
        // Shorter than the windows.
        {"0.3 s", {{0.3, {-23}}}, 2, nothing},
        {"0.39 s", {{0.39, {-23}}}, 2, nothing},
        {"0.5 s", {{0.5, {-23}}}, 2, underThree},
        {"2.9 s", {{2.9, {-23}}}, 2, underThree},
    };
    for (const Case& c : cases)
        for (int rate : c.rates)
            QTest::addRow("%s at %d Hz", c.name, rate) << c.programme << c.channels << c.expected << uint(c.mask);
}

void TestLoudnessConformance::ebuCases()
{
    QFETCH(Programme, programme);
    QFETCH(int, channels);
    QFETCH(Expected, expected);
    QFETCH(uint, mask);
    const int rate = QString::fromLatin1(QTest::currentDataTag()).section(' ', -2, -2).toInt();
    const bool peakCase = !std::isnan(expected.truePeak);
    const QString path = dir.filePath(QStringLiteral("case.wav"));
    fixtures::RawWav header{3, channels, rate, 32, true};
    header.channelMask = mask;
    QVERIFY(fixtures::writeRawWav(path, header, fixtures::floatBytes(render(programme, rate, channels, peakCase))));

    LoudnessMeter meter(path.toUtf8(), "K-weighting", 0.4f);
    meter.collectReport(true);
    meter.measure();
    const LoudnessReport& report = meter.report();
    // A figure that must not exist reads minus infinity (a range NaN).
    auto near = [](double measured, double wanted, double below, double above) {
        if (wanted == kNone)
            return std::isnan(measured) || measured == kNone;
        return std::isnan(wanted) || (measured >= wanted - below && measured <= wanted + above);
    };
    const double tolerance = expected.loudnessTolerance;
    QVERIFY2(near(meter.lufs(), expected.integrated, tolerance, tolerance), qPrintable(QString::number(meter.lufs(), 'f', 3)));
    QVERIFY2(near(report.maxMomentary, expected.maxMomentary, 0.1, 0.1), qPrintable(QString::number(report.maxMomentary)));
    QVERIFY2(near(report.maxShortTerm, expected.maxShortTerm, 0.1, 0.1), qPrintable(QString::number(report.maxShortTerm)));
    QVERIFY2(near(report.loudnessRange, expected.range, 0.2, 0.2), qPrintable(QString::number(report.loudnessRange)));
    QVERIFY2(near(report.truePeak, expected.truePeak, 0.15, 0.2), qPrintable(QString::number(report.truePeak)));
    QVERIFY(report.samplePeak <= report.truePeak);
}

void TestLoudnessConformance::kWeightingFollowsTheStandardAtEveryRate_data()
{
    QTest::addColumn<double>("rate");
    for (double rate : {8000.0, 11025.0, 16000.0, 22050.0, 32000.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0, 384000.0})
        QTest::addRow("%.0f Hz", rate) << rate;
}

// The chain's response lies within 0.05 dB of the standard's from 20 Hz to
// 0.45 of the rate: the published 48 kHz sections up to 21.6 kHz, the flat
// top of their shelf above.
void TestLoudnessConformance::kWeightingFollowsTheStandardAtEveryRate()
{
    QFETCH(double, rate);
    const IIRFilter::Design shelf{1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241, 0.73248077421585};
    const IIRFilter::Design highPass{1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621};
    auto standard = [&](double f) {
        f = std::min(f, 21600.0);
        return responseDb(shelf, f, 48000) + responseDb(highPass, f, 48000);
    };
    const auto chain = kweighting::chain(rate);
    double worst = 0, at = 0;
    for (double f = 20; f <= 0.45 * rate; f *= 1.005) {
        double ours = 0;
        for (const IIRFilter& s : chain)
            ours += responseDb({s.b0(), s.b1(), s.b2(), s.a1(), s.a2()}, f, rate);
        if (std::fabs(ours - standard(f)) > std::fabs(worst)) {
            worst = ours - standard(f);
            at = f;
        }
    }
    QVERIFY2(std::fabs(worst) <= 0.05, qPrintable(QStringLiteral("%1 dB at %2 Hz").arg(worst).arg(at)));
}

// Any sine up to 0.45 of the sample rate, at any phase, reads at most
// 0.15 dB under its peak and never more than 0.2 dB over it.
void TestLoudnessConformance::truePeakOfSinesUpToNearlyHalfTheRate()
{
    const int rate = 48000;
    double lowest = 0, highest = -100;
    for (double fraction = 0.02; fraction <= 0.4501; fraction += 0.0137)
        for (double phase = 0; phase < 90; phase += 11.25) {
            const fixtures::Signal signal{rate, 1, fixtures::SampleFormat::Float32};
            const QString path = dir.filePath(QStringLiteral("sine.wav"));
            QVERIFY(fixtures::writeWav(path, render({{0.1, {-3}, fraction, phase}}, rate, 1, true), signal));
            LoudnessMeter meter(path.toUtf8(), "K-weighting", 0.4f);
            meter.collectReport(true);
            meter.measure();
            lowest = std::min(lowest, meter.report().truePeak + 3);
            highest = std::max(highest, meter.report().truePeak + 3);
        }
    QVERIFY2(lowest >= -0.15 && highest <= 0.2, qPrintable(QStringLiteral("%1 to %2 dB").arg(lowest).arg(highest)));
}

void TestLoudnessConformance::truePeakScreeningMissesNothing_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("kind");
    for (int channels : {1, 2, 3})
        for (int kind = 0; kind < 3; ++kind)
            QTest::addRow("%d channels, signal %d", channels, kind) << channels << kind;
}

// The detector skips positions whose bound cannot beat the peak so far; fed
// in pieces of every size, it still reads at least the largest value of the
// interpolator at every position of every channel (and at most what the
// refinement between them can add), and the same as when fed at once.
void TestLoudnessConformance::truePeakScreeningMissesNothing()
{
    QFETCH(int, channels);
    QFETCH(int, kind);
    const qint64 frames = 24000;
    std::vector<float> samples(size_t(frames * channels));
    uint32_t seed = 7;
    auto noise = [&] {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1 << 24) * 2.0f - 1.0f;
    };
    for (qint64 i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            float v = 0;
            if (kind == 0)   // noise whose level steps up and down, with two-sample clicks
                v = noise() * (0.1f + 0.3f * float((i / 3000) % 3)) + ((i - 17 * c) % 5003 < 2 ? 0.9f : 0.0f);
            else if (kind == 1)   // a smooth loud sine, a short burst near half the rate in one channel
                v = 0.8f * float(std::sin(0.01 * double(i) + c)) + (c == channels - 1 && i > 12000 && i < 12040 ? 0.3f * float(std::cos(2.9 * double(i))) : 0.0f);
            else   // silence, then a quarter-rate sine whose peaks fall between the samples, at the very end
                v = i >= frames - 6 ? 0.5f * float(std::sin(M_PI / 2 * double(i) + M_PI / 4)) : 0.0f;
            samples[size_t(i * channels + c)] = v;
        }

    double everyPosition = 0;
    for (int c = 0; c < channels; ++c) {
        std::vector<float> x(size_t(TruePeakDetector::kTaps - 1), 0.0f);
        for (qint64 i = 0; i < frames; ++i)
            x.push_back(samples[size_t(i * channels + c)]);
        x.insert(x.end(), size_t(TruePeakDetector::kTaps), 0.0f);
        for (size_t n = TruePeakDetector::kTaps - 1; n < x.size(); ++n)
            for (int p = 0; p < TruePeakDetector::kPhases; ++p)
                everyPosition = std::max(everyPosition, double(std::fabs(TruePeakDetector::interpolate(x.data() + n, p))));
    }

    TruePeakDetector whole(channels);
    whole.process(samples.data(), frames);
    whole.finish();
    TruePeakDetector pieces(channels);
    const qint64 sizes[] = {1, 2, 3, 5, 7, 13, 64, 1001, 4096};
    for (qint64 at = 0, k = 0; at < frames; ++k) {
        const qint64 n = std::min(sizes[k % 9], frames - at);
        pieces.process(samples.data() + at * channels, n);
        at += n;
    }
    pieces.finish();
    QVERIFY2(whole.peak() >= everyPosition * (1 - 1e-6) && whole.peak() <= everyPosition * 1.0825,
             qPrintable(QStringLiteral("%1 against %2").arg(whole.peak()).arg(everyPosition)));
    QVERIFY2(std::fabs(pieces.peak() - whole.peak()) <= 1e-6 * whole.peak(),
             qPrintable(QStringLiteral("%1 against %2").arg(pieces.peak()).arg(whole.peak())));
}

QTEST_GUILESS_MAIN(TestLoudnessConformance)
#include "tst_loudnessconformance.moc"
