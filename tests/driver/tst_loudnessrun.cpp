#include "audiofixtures.h"
#include "filesizelimit.h"
#include "peakyprogramme.h"

#include "audio/loudnessmeter.h"
#include "driver/loudnessrun.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>
#include <vector>

namespace {

// Loudness of a 1 kHz stereo sine of peak `amplitude`.
double sineLufs(double amplitude)
{
    return 20.0 * std::log10(amplitude) - 0.03;
}

} // namespace

// The loudness tool's runs on real files, without its window: targets and
// output names, the gain of every audible file, silent and unmeasured files
// left out, failing and cut-off outputs that leave nothing under their
// names, clipping reported with the level reached, and the true-peak
// ceiling.
class TestLoudnessRun : public QObject {
    Q_OBJECT

private slots:
    void init();
    void targetsParseAndNameOutputs();
    void writesEveryAudibleFileOnce();
    void failedOutputsLeaveNothingUnderTheirNames();
    void clippingIsReported();
    void ceilingHoldsTheTruePeak();

private:
    QString sine(const QString& name, double amplitude, double seconds = 2.0);
    // Measures the files as the window does (null for one that cannot be).
    void measure(const QStringList& paths);
    // Runs to the end; the lines the window logs ("<output>... ", " OK", ...).
    QStringList run(const char* targetText, bool limit = false);

    std::unique_ptr<QTemporaryDir> dir;
    std::vector<std::unique_ptr<LoudnessMeter>> meters;
};

void TestLoudnessRun::init()
{
    meters.clear();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

QString TestLoudnessRun::sine(const QString& name, double amplitude, double seconds)
{
    const QString path = dir->filePath(name);
    if (!fixtures::writeSine(path, seconds, 1000.0, amplitude, fixtures::Signal()))
        return {};
    return QDir::toNativeSeparators(path);
}

void TestLoudnessRun::measure(const QStringList& paths)
{
    for (const QString& path : paths) {
        try {
            auto meter = std::make_unique<LoudnessMeter>(path.toUtf8(), "K-weighting", 0.4f);
            meter->collectReport(true);
            meter->measure();
            meters.push_back(std::move(meter));
        } catch (...) {
            meters.push_back(nullptr);
        }
    }
}

QStringList TestLoudnessRun::run(const char* targetText, bool limit)
{
    LoudnessTarget target;
    if (!LoudnessTarget::parse(QString::fromLatin1(targetText), target))
        return {QStringLiteral("bad target")};
    std::vector<const LoudnessMeter*> measured;
    for (const auto& meter : meters)
        measured.push_back(meter.get());
    LoudnessRun run(target, limit, measured);
    QStringList log;
    const bool ended = QTest::qWaitFor(
        [&] {
            const LoudnessRun::Step step = run.tick();
            if (!step.started.isEmpty())
                log << step.started + QStringLiteral("... ");
            if (!step.ended.isEmpty())
                log << step.ended;
            return run.isDone();
        },
        60000);
    return ended ? log : QStringList{QStringLiteral("timed out")};
}

void TestLoudnessRun::targetsParseAndNameOutputs()
{
    LoudnessTarget target;
    QVERIFY(LoudnessTarget::parse(QStringLiteral(" -16 LUFS "), target));
    QVERIFY(target.lufs);
    QCOMPARE(target.value, -16.0f);
    QCOMPARE(target.outputPath(QStringLiteral("/audio/song.wav")),
             QDir::toNativeSeparators(QStringLiteral("/audio/song -16 LUFS.wav")));
    QVERIFY(LoudnessTarget::parse(QStringLiteral("-20 dB"), target));
    QVERIFY(!target.lufs);
    QCOMPARE(target.outputPath(QStringLiteral("/audio/my.song.wav")),
             QDir::toNativeSeparators(QStringLiteral("/audio/my.song -20 dB RMS.wav")));
    QVERIFY(LoudnessTarget::parse(QStringLiteral("-14 lufs"), target));
    QVERIFY(std::fabs(target.gain(-20.0, -30.0) - std::pow(10.0, 6.0 / 20.0)) < 1e-5);
    QVERIFY(std::fabs(target.gain(-20.0, -30.0) - 1.995f) < 0.001f);
    QVERIFY(!LoudnessTarget::parse(QStringLiteral("loud LUFS"), target));
    QVERIFY(!LoudnessTarget::parse(QStringLiteral("-16 dBFS"), target));
}

void TestLoudnessRun::writesEveryAudibleFileOnce()
{
    // 0.1 reads about -20 LUFS: -14 LUFS needs a gain of about 2.
    const QString a = sine(QStringLiteral("a.wav"), 0.1);
    const QString quiet = sine(QStringLiteral("quiet.wav"), 0.01);
    const QString silent = dir->filePath(QStringLiteral("silent.wav"));
    const QString corrupt = dir->filePath(QStringLiteral("corrupt.wav"));
    QVERIFY(fixtures::writeSilence(silent, 1.0, fixtures::Signal()));
    QVERIFY(fixtures::writeCorruptFile(corrupt));
    measure({a, quiet, silent, corrupt});
    QVERIFY(!meters.back());

    const QString aOut = QDir::toNativeSeparators(dir->filePath(QStringLiteral("a -14 LUFS.wav")));
    const QString quietOut = QDir::toNativeSeparators(dir->filePath(QStringLiteral("quiet -14 LUFS.wav")));
    QCOMPARE(run("-14 LUFS"), (QStringList{aOut + QStringLiteral("... "), QStringLiteral(" OK"),
                                           quietOut + QStringLiteral("... "), QStringLiteral(" OK")}));
    QVERIFY(!QFileInfo::exists(dir->filePath(QStringLiteral("silent -14 LUFS.wav"))));
    std::vector<float> samples;
    int rate = 0, channels = 0;
    QVERIFY(fixtures::readAudio(aOut, samples, rate, channels));
    // Gain 10^((-14 - L) / 20) on the measured L: the copy's peak shows it.
    const double expectedPeak = 0.1 * std::pow(10.0, (-14.0 - sineLufs(0.1)) / 20.0);
    QVERIFY2(std::fabs(fixtures::peak(samples) - expectedPeak) < 0.005, qPrintable(QString::number(fixtures::peak(samples))));

    // An RMS target: the copy reads that RMS.
    QCOMPARE(run("-20 dB").size(), 4);
    QVERIFY(fixtures::readAudio(dir->filePath(QStringLiteral("quiet -20 dB RMS.wav")), samples, rate, channels));
    QVERIFY(std::fabs(fixtures::rmsDb(samples) + 20.0) < 0.1);
}

void TestLoudnessRun::failedOutputsLeaveNothingUnderTheirNames()
{
    const QString good = sine(QStringLiteral("good.wav"), 0.2);
    measure({good});
    // A folder where the output should go: the renderer cannot write it.
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("good -16 LUFS.wav")));
    const QString out = QDir::toNativeSeparators(dir->filePath(QStringLiteral("good -16 LUFS.wav")));
    QStringList log = run("-16 LUFS");
    QCOMPARE(log.value(0), out + QStringLiteral("... "));
    QVERIFY2(log.value(1).startsWith(QLatin1String(" failed: ")), qPrintable(log.join(QLatin1Char('|'))));

    // A disk that fills up in the middle of a render: nothing under the
    // output's name, no partial file left.
    QDir(dir->path()).rmdir(QStringLiteral("good -16 LUFS.wav"));
    const QString before = QDir(dir->path()).entryList(QDir::Files).join(QLatin1Char(','));
    {
        const fixtures::FileSizeLimit full(64 * 1024);
        QVERIFY(full.isActive());
        log = run("-16 LUFS");
    }
    QCOMPARE(log.value(1), QStringLiteral(" failed: the output could not be written completely"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files).join(QLatin1Char(',')), before);
}

void TestLoudnessRun::clippingIsReported()
{
    // A quiet tone with 40 spikes near full scale: -20 dB RMS needs a gain
    // that clips every spike and nothing else.
    fixtures::Signal signal;
    std::vector<float> samples = fixtures::sine(2.0, 1000.0, 0.05, signal);
    for (size_t i = 0; i < 40; ++i)
        samples[2000 + i * 2000] = 0.9f;
    const QString peaky = QDir::toNativeSeparators(dir->filePath(QStringLiteral("peaky.wav")));
    QVERIFY(fixtures::writeWav(peaky, samples, signal));
    measure({peaky, sine(QStringLiteral("plain.wav"), 0.05)});
    const QStringList log = run("-20 dB");
    const QRegularExpression report(QStringLiteral("^ OK, but (\\d+) samples clipped; it reached (-?\\d+\\.\\d) dB RMS$"));
    const QRegularExpressionMatch match = report.match(log.value(1));
    QVERIFY2(match.hasMatch(), qPrintable(log.join(QLatin1Char('|'))));
    QCOMPARE(match.captured(1).toInt(), 40);
    std::vector<float> written;
    int rate = 0;
    int channels = 0;
    QVERIFY(fixtures::readAudio(dir->filePath(QStringLiteral("peaky -20 dB RMS.wav")), written, rate, channels));
    QVERIFY(std::fabs(match.captured(2).toDouble() - fixtures::rmsDb(written)) <= 0.06);
    QVERIFY(match.captured(2).toDouble() < -20.0);
    // The plain tone reaches its target untouched.
    QCOMPARE(log.value(3), QStringLiteral(" OK"));
}

void TestLoudnessRun::ceilingHoldsTheTruePeak()
{
    // At -14 LUFS the bursts of the first file would pass -1 dBTP by a few
    // dB, those of the second by far more than 12 dB; the third stays under.
    const QStringList peaky = fixtures::writePeakyPair(dir->path());
    QVERIFY(!peaky.isEmpty());
    const QString& few = peaky.at(0);
    const QString& many = peaky.at(1);
    measure({few, many, sine(QStringLiteral("plain.wav"), 0.1)});
    const QStringList log = run("-14 LUFS", true);
    QCOMPARE(log.value(1), QStringLiteral(" OK"));
    QVERIFY2(log.value(3).startsWith(QLatin1String(" OK, but ")), qPrintable(log.join(QLatin1Char('|'))));
    QVERIFY2(log.value(3).endsWith(QLatin1String(" LU under the target of -14 LUFS, which needs more than 12 dB of "
                                                 "true-peak limiting to stay at or below -1.0 dBTP")),
             qPrintable(log.value(3)));
    QCOMPARE(log.value(5), QStringLiteral(" OK"));
    for (const QString& name : {QStringLiteral("few -14 LUFS.wav"), QStringLiteral("many -14 LUFS.wav")}) {
        const QString out = dir->filePath(name);
        LoudnessMeter meter(out.toUtf8(), "K-weighting", 0.4f);
        meter.collectReport(true);
        meter.measure();
        QVERIFY2(meter.report().truePeak <= -1.0, qPrintable(name + QString::number(meter.report().truePeak)));
        std::vector<float> written;
        int rate = 0, channels = 0;
        QVERIFY(fixtures::readAudio(out, written, rate, channels));
        QVERIFY(20.0 * std::log10(fixtures::peak(written)) < -1.0);
        const double reached = fixtures::integratedLoudness(out);
        if (name.startsWith(QLatin1String("few")))
            QVERIFY2(std::fabs(reached + 14.0) <= 0.1, qPrintable(QString::number(reached)));
        else
            QCOMPARE(log.value(3).section(QLatin1Char(' '), 3, 3), QString::number(-14.0 - meter.lufs(), 'f', 1));
    }
}

QTEST_GUILESS_MAIN(TestLoudnessRun)
#include "tst_loudnessrun.moc"
