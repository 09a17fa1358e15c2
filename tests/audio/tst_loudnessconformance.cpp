#include "audiofixtures.h"

#include "audio/loudnessmeter.h"
#include "audio/truepeakdetector.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>
#include <limits>

// The meter's report against the EBU's loudness and loudness-range test
// signals, generated here from their published definitions at 44.1, 48 and
// 96 kHz, and its true peak against sines whose peak is known exactly.
namespace {

constexpr double kUnchecked = std::numeric_limits<double>::quiet_NaN();

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
};

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
    struct Case {
        const char* name;
        Programme programme;
        int channels;
        Expected expected;
    };
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
    };
    for (const Case& c : cases)
        for (int rate : {44100, 48000, 96000})
            QTest::addRow("%s at %d Hz", c.name, rate) << c.programme << c.channels << c.expected;
}

void TestLoudnessConformance::ebuCases()
{
    QFETCH(Programme, programme);
    QFETCH(int, channels);
    QFETCH(Expected, expected);
    const int rate = QString::fromLatin1(QTest::currentDataTag()).section(' ', -2, -2).toInt();
    const bool peakCase = !std::isnan(expected.truePeak);
    const fixtures::Signal signal{rate, channels, fixtures::SampleFormat::Float32};
    const QString path = dir.filePath(QStringLiteral("case.wav"));
    QVERIFY(fixtures::writeWav(path, render(programme, rate, channels, peakCase), signal));

    LoudnessMeter meter(path.toUtf8(), "K-weighting", 0.4f);
    meter.collectReport(true);
    meter.measure();
    const LoudnessReport& report = meter.report();
    auto near = [](double measured, double wanted, double below, double above) {
        return std::isnan(wanted) || (measured >= wanted - below && measured <= wanted + above);
    };
    QVERIFY2(near(meter.lufs(), expected.integrated, 0.1, 0.1), qPrintable(QString::number(meter.lufs())));
    QVERIFY2(near(report.maxMomentary, expected.maxMomentary, 0.1, 0.1), qPrintable(QString::number(report.maxMomentary)));
    QVERIFY2(near(report.maxShortTerm, expected.maxShortTerm, 0.1, 0.1), qPrintable(QString::number(report.maxShortTerm)));
    QVERIFY2(near(report.loudnessRange, expected.range, 0.2, 0.2), qPrintable(QString::number(report.loudnessRange)));
    QVERIFY2(near(report.truePeak, expected.truePeak, 0.15, 0.2), qPrintable(QString::number(report.truePeak)));
    QVERIFY(report.samplePeak <= report.truePeak);
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
