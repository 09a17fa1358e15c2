#include "audiofixtures.h"

#include "audio/loudnessmeter.h"
#include "audio/meterjob.h"

#include <QTemporaryDir>
#include <QTest>

#include <ebur128.h>

#include <cmath>
#include <memory>

// The loudness meter's series against libebur128 fed with the same samples
// in 0.1 s steps, on a signal whose loudness steps up and down, and the
// background meter job on good and bad files.
class TestLoudnessSeries : public QObject {
    Q_OBJECT

private slots:
    void init();
    void seriesFollowsTheReference();
    void seriesIsOffByDefaultAndLeavesTheResultAlone();
    void jobReportsFailures();

private:
    std::unique_ptr<QTemporaryDir> dir;
};

void TestLoudnessSeries::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

namespace {

// 4 s quiet, 4 s loud, 4 s quiet: 1 kHz in both channels.
std::vector<float> steppedSignal(const fixtures::Signal& signal)
{
    std::vector<float> samples;
    for (double amplitude : {0.05, 0.5, 0.1}) {
        const std::vector<float> part = fixtures::sine(4.0, 1000.0, amplitude, signal);
        samples.insert(samples.end(), part.begin(), part.end());
    }
    return samples;
}

} // namespace

void TestLoudnessSeries::seriesFollowsTheReference()
{
    fixtures::Signal signal;
    signal.format = fixtures::SampleFormat::Float32;
    const std::vector<float> samples = steppedSignal(signal);
    const QString path = dir->filePath(QStringLiteral("steps.wav"));
    QVERIFY(fixtures::writeWav(path, samples, signal));

    LoudnessMeter meter(path.toUtf8(), "K-weighting", 0.4f);
    meter.collectSeries(true);
    meter.measure();
    const LoudnessSeries& series = meter.series();
    QCOMPARE(series.times.size(), size_t(meter.blockCount()));
    QCOMPARE(series.momentary.size(), series.times.size());
    QCOMPARE(series.shortTerm.size(), series.times.size());
    QVERIFY(std::fabs(series.samplePeak - fixtures::peak(samples)) < 1e-6);

    ebur128_state* st = ebur128_init(2, 48000, EBUR128_MODE_S);
    const size_t hop = 4800;
    const size_t frames = samples.size() / 2;
    size_t point = 0;
    double maxMomentaryError = 0, maxShortTermError = 0;
    for (size_t fed = 0; fed + hop <= frames; fed += hop) {
        ebur128_add_frames_float(st, samples.data() + fed * 2, hop);
        const double t = double(fed + hop) / 48000.0;
        if (t < 0.4 - 1e-9)
            continue;
        QVERIFY(point < series.times.size());
        QVERIFY2(std::fabs(series.times[point] - t) < 1e-3, qPrintable(QString::number(series.times[point])));
        double momentary = 0, shortTerm = 0;
        ebur128_loudness_momentary(st, &momentary);
        maxMomentaryError = std::max(maxMomentaryError, std::fabs(series.momentary[point] - momentary));
        if (t >= 3.0 - 1e-9) {
            ebur128_loudness_shortterm(st, &shortTerm);
            maxShortTermError = std::max(maxShortTermError, std::fabs(series.shortTerm[point] - shortTerm));
        }
        ++point;
    }
    ebur128_destroy(&st);
    QCOMPARE(point, series.times.size());
    QVERIFY2(maxMomentaryError < 0.05, qPrintable(QString::number(maxMomentaryError)));
    QVERIFY2(maxShortTermError < 0.05, qPrintable(QString::number(maxShortTermError)));

    // Known levels: a 1 kHz stereo sine of peak a reads 20 log10(a) - 0.03
    // LUFS; the short-term value has settled 3 s into each step.
    auto at = [&](double seconds) {
        const size_t i = size_t(std::lround(seconds * 10.0)) - 4;
        return series.shortTerm[i];
    };
    QVERIFY(std::fabs(at(3.5) - (20 * std::log10(0.05) - 0.03)) < 0.1);
    QVERIFY(std::fabs(at(7.5) - (20 * std::log10(0.5) - 0.03)) < 0.1);
    QVERIFY(std::fabs(at(11.5) - (20 * std::log10(0.1) - 0.03)) < 0.1);
    // The first points count the time before the file as silence.
    QVERIFY(series.shortTerm[0] < series.momentary[0] - 8.0);
}

void TestLoudnessSeries::seriesIsOffByDefaultAndLeavesTheResultAlone()
{
    const QString path = dir->filePath(QStringLiteral("noise.wav"));
    QVERIFY(fixtures::writeNoise(path, 5.0, 0.5, fixtures::Signal()));
    LoudnessMeter plain(path.toUtf8(), "K-weighting", 0.4f);
    plain.measure();
    QVERIFY(plain.series().times.empty());
    LoudnessMeter withSeries(path.toUtf8(), "K-weighting", 0.4f);
    withSeries.collectSeries(true);
    withSeries.measure();
    QCOMPARE(withSeries.lufs(), plain.lufs());
    QCOMPARE(withSeries.dbRms(), plain.dbRms());
    // Measuring again starts a fresh series.
    const size_t points = withSeries.series().times.size();
    withSeries.measure();
    QCOMPARE(withSeries.series().times.size(), points);
}

void TestLoudnessSeries::jobReportsFailures()
{
    const QString good = dir->filePath(QStringLiteral("good.wav"));
    QVERIFY(fixtures::writeSine(good, 1.0, 1000.0, 0.5, fixtures::Signal()));
    const QString corrupt = dir->filePath(QStringLiteral("corrupt.wav"));
    QVERIFY(fixtures::writeCorruptFile(corrupt));

    MeterJob measured(good.toUtf8(), true);
    MeterJob broken(corrupt.toUtf8(), true);
    MeterJob missing(dir->filePath(QStringLiteral("missing.wav")).toUtf8(), false);
    for (MeterJob* job : {&measured, &broken, &missing})
        QVERIFY(job->start());
    QVERIFY(!measured.start());
    QVERIFY(QTest::qWaitFor([&] { return measured.isDone() && broken.isDone() && missing.isDone(); }, 30000));
    QVERIFY(measured.isMeasured());
    QVERIFY(measured.failure().isEmpty());
    QVERIFY(std::fabs(measured.meter()->lufs() + 6.05) < 0.05);
    QVERIFY(!measured.meter()->series().times.empty());
    for (MeterJob* job : {&broken, &missing}) {
        QVERIFY(!job->isMeasured());
        QVERIFY(job->meter() == nullptr);
        QVERIFY2(job->failure().startsWith(QStringLiteral("Can't load file, error ")), qPrintable(job->failure()));
    }
}

QTEST_GUILESS_MAIN(TestLoudnessSeries)
#include "tst_loudnessseries.moc"
