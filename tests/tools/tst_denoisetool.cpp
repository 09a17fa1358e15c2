#include "audiofixtures.h"
#include "brokenaudio.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

const QString kTool = QStringLiteral(SONVIRA_BIN_DIR "/deepfilternet/deepfilternet");
const QString kModel = QStringLiteral(SONVIRA_BIN_DIR "/deepfilternet/model");

struct Run {
    int exitCode = -1;
    QList<QByteArray> reads;   // stdout, one entry per read
    QByteArray error;
};

// Runs the tool and keeps standard output in the pieces it arrived in.
Run runTool(const QStringList& arguments)
{
    Run run;
    QProcess tool;
    QObject::connect(&tool, &QProcess::readyReadStandardOutput, [&] { run.reads << tool.readAllStandardOutput(); });
    tool.start(kTool, arguments);
    if (!tool.waitForFinished(120000)) {
        tool.kill();
        tool.waitForFinished(10000);
        QTest::qFail("the denoise program did not end within 120 s", __FILE__, __LINE__);
        run.exitCode = -1;
        return run;
    }
    run.reads << tool.readAllStandardOutput();
    run.reads.removeAll(QByteArray());
    run.error = tool.readAllStandardError();
    run.exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return run;
}

// 2 s stretches alternating noise only / tone plus noise.
std::vector<float> toneAndNoise(const fixtures::Signal& sig, double seconds)
{
    auto samples = fixtures::whiteNoise(seconds, 0.05, sig, 9);
    for (size_t i = 0; i < samples.size(); ++i) {
        const size_t frame = i / size_t(sig.channels);
        if ((frame / size_t(2 * sig.sampleRate)) % 2 == 1)
            samples[i] += float(0.3 * std::sin(2 * M_PI * 1000.0 * double(frame) / sig.sampleRate));
    }
    return samples;
}

// Energy of the noise-only stretches and tone amplitude (by projection) in
// the tone stretches, leaving 0.25 s at every edge.
void analyse(const std::vector<float>& x, const fixtures::Signal& sig, double& noise, double& tone)
{
    const size_t segment = size_t(2 * sig.sampleRate), margin = size_t(sig.sampleRate / 4);
    double energy = 0, s = 0, c = 0;
    size_t n = 0, t = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const size_t frame = i / size_t(sig.channels), at = frame % segment;
        if (at < margin || at >= segment - margin)
            continue;
        if ((frame / segment) % 2 == 1) {
            const double phase = 2 * M_PI * 1000.0 * double(frame) / sig.sampleRate;
            s += x[i] * std::sin(phase);
            c += x[i] * std::cos(phase);
            ++t;
        } else {
            energy += double(x[i]) * x[i];
            ++n;
        }
    }
    noise = energy / double(n);
    tone = 2 * std::hypot(s, c) / double(t);
}

} // namespace

class TestDenoiseTool : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void reducesNoiseAndKeepsTheTone_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("48k stereo always on") << 48000 << 2 << QStringList{"--alwayson"};
        QTest::newRow("44.1k mono speech+music") << 44100 << 1 << QStringList{"-stmlength", "0.5", "-mtslength", "2.0"};
        QTest::newRow("16k mono defaults") << 16000 << 1 << QStringList{};
    }

    void reducesNoiseAndKeepsTheTone()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QStringList, options);
        const fixtures::Signal sig{rate, channels, fixtures::SampleFormat::Float32};
        const auto input = toneAndNoise(sig, 12.0);
        QVERIFY(fixtures::writeWav(path("in.wav"), input, sig));
        const Run run = runTool(QStringList{"-input", path("in.wav"), "-modelpath", kModel, "-output", path("out.wav")} + options);
        QCOMPARE(run.exitCode, 0);
        QVERIFY(!run.reads.isEmpty());
        QCOMPARE(run.reads.last().trimmed(), QByteArray("File Ready"));   // alone in its read
        QVERIFY(run.reads.first().contains("_of_"));

        std::vector<float> output;
        int outRate = 0, outChannels = 0;
        QVERIFY(fixtures::readAudio(path("out.wav"), output, outRate, outChannels));
        QCOMPARE(outRate, rate);
        QCOMPARE(outChannels, channels);
        QCOMPARE(output.size(), input.size());
        double noiseIn = 0, toneIn = 0, noiseOut = 0, toneOut = 0;
        analyse(input, sig, noiseIn, toneIn);
        analyse(output, sig, noiseOut, toneOut);
        const double reduction = 10 * std::log10(noiseIn / noiseOut);
        const double toneChange = 20 * std::log10(toneOut / toneIn);
        QVERIFY2(reduction >= 10.0, qPrintable(QString::number(reduction)));
        QVERIFY2(std::fabs(toneChange) <= 1.0, qPrintable(QString::number(toneChange)));
        QVERIFY(QDir(dir.path()).entryList({"*.part"}).isEmpty());
    }

    void keepsOddLengthsAndSixteenBitFiles()
    {
        const fixtures::Signal sig{22050, 2, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeNoise(path("odd.wav"), 0.0137, 0.3, sig));   // shorter than one window
        const Run run = runTool({"-input", path("odd.wav"), "-modelpath", kModel, "-output", path("odd-out.wav")});
        QCOMPARE(run.exitCode, 0);
        std::vector<float> in, out;
        int rate = 0, channels = 0;
        QVERIFY(fixtures::readAudio(path("odd.wav"), in, rate, channels));
        QVERIFY(fixtures::readAudio(path("odd-out.wav"), out, rate, channels));
        QCOMPARE(out, in);   // nothing to learn a noise floor from: unchanged

        QVERIFY(fixtures::writeSilence(path("zero.wav"), 1.0, sig));
        QCOMPARE(runTool({"-input", path("zero.wav"), "-modelpath", kModel, "-output", path("zero-out.wav")}).exitCode, 0);
        QVERIFY(fixtures::readAudio(path("zero-out.wav"), out, rate, channels));
        QCOMPARE(fixtures::peak(out), 0.0);
    }

    void nonFiniteSamplesAreSilenced()
    {
        const fixtures::Signal sig{48000, 1, fixtures::SampleFormat::Float32};
        std::vector<float> samples = toneAndNoise(sig, 4.0);
        samples[48000] = NAN;
        samples[96000] = -INFINITY;
        QVERIFY(fixtures::writeRawWav(path("nan.wav"), {3, 1, 48000, 32, true}, fixtures::floatBytes(samples)));
        const Run run = runTool({"-input", path("nan.wav"), "-modelpath", kModel, "-output", path("nan-out.wav")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.error.contains("warning: 2 non-finite samples taken as silence"), run.error.constData());
        std::vector<float> out;
        int rate = 0, channels = 0;
        QVERIFY(fixtures::readAudio(path("nan-out.wav"), out, rate, channels));
        QCOMPARE(out.size(), samples.size());
        QVERIFY(std::all_of(out.begin(), out.end(), [](float v) { return std::isfinite(v); }));
        QVERIFY(fixtures::peak(out) > 0.1);
    }

    void headersOutsideTheLimitsAreRefused_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<qint64>("rate");
        QTest::addColumn<QString>("message");
        QTest::newRow("1024 channels") << 1024 << qint64(48000) << "more than 64 channels (error 15)";
        QTest::newRow("2 GHz") << 1 << qint64(2000000000) << "sample rate outside 8000 to 768000 Hz (error 14)";
    }

    void headersOutsideTheLimitsAreRefused()
    {
        QFETCH(int, channels);
        QFETCH(qint64, rate);
        QFETCH(QString, message);
        QVERIFY(fixtures::writeRawWav(path("wild.wav"), {1, channels, rate, 16, true}, QByteArray(channels * 2 * 64, '\0')));
        const Run run = runTool({"-input", path("wild.wav"), "-modelpath", kModel, "-output", path("wild-out.wav")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.error.contains(message.toUtf8()), run.error.constData());
        QVERIFY(!QFile::exists(path("wild-out.wav")));
    }

    void badInputFailsCleanly_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString in = "IN", out = "OUT", model = kModel;
        QTest::newRow("missing input file") << QStringList{"-input", "MISSING", "-modelpath", model, "-output", out} << "Cannot read input file";
        QTest::newRow("corrupt input") << QStringList{"-input", "CORRUPT", "-modelpath", model, "-output", out} << "Cannot read input file";
        QTest::newRow("bad number") << QStringList{"-input", in, "-modelpath", model, "-output", out, "-stmlength", "abc"} << "Invalid value for -stmlength";
        QTest::newRow("negative number") << QStringList{"-input", in, "-modelpath", model, "-output", out, "-mtslength", "-1"} << "Invalid value for -mtslength";
        QTest::newRow("unknown option") << QStringList{"-input", in, "-modelpath", model, "-output", out, "--fast"} << "Unknown option: --fast";
        QTest::newRow("missing value") << QStringList{"-input", in, "-modelpath", model, "-output"} << "Missing value for -output";
        QTest::newRow("missing output") << QStringList{"-input", in, "-modelpath", model} << "Missing required option -output";
        QTest::newRow("missing model folder") << QStringList{"-input", in, "-modelpath", "NOMODEL", "-output", out} << "Model folder not found";
        QTest::newRow("empty model folder") << QStringList{"-input", in, "-modelpath", "EMPTYMODEL", "-output", out} << "Invalid model";
        QTest::newRow("unwritable output") << QStringList{"-input", in, "-modelpath", model, "-output", "NOFOLDER"} << "Cannot write output file";
    }

    void badInputFailsCleanly()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const fixtures::Signal sig{44100, 1, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeNoise(path("good.wav"), 0.5, 0.3, sig));
        QVERIFY(fixtures::writeCorruptFile(path("corrupt.wav")));
        QDir(dir.path()).mkpath("empty-model");
        const QHash<QString, QString> names{{"IN", path("good.wav")}, {"OUT", path("never.wav")},
            {"MISSING", path("missing.wav")}, {"CORRUPT", path("corrupt.wav")}, {"NOMODEL", path("no-model")},
            {"EMPTYMODEL", path("empty-model")}, {"NOFOLDER", path("no/such/folder/out.wav")}};
        for (QString& a : arguments)
            a = names.value(a, a);
        const Run run = runTool(arguments);
        QVERIFY(run.exitCode > 0);
        QVERIFY2(run.error.contains(message.toUtf8()), run.error.constData());
        QVERIFY(!run.reads.join().contains("File Ready"));
        QVERIFY(!QFile::exists(path("never.wav")));
        QVERIFY(QDir(dir.path()).entryList({"*.part"}).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDenoiseTool)
#include "tst_denoisetool.moc"
