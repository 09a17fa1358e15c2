#include "audio/audiolibrary.h"
#include "audio/gainrenderer.h"
#include "audio/loudnessmeter.h"
#include "audio/postprocessing.h"
#include "audio/truepeaklimiter.h"
#include "audiofixtures.h"
#include "brokenaudio.h"
#include "peakyprogramme.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

double loudnessOf(const QString& file, bool lufs = true)
{
    LoudnessMeter meter(file.toUtf8(), "K-weighting", 0.4f);
    meter.measure();
    return lufs ? meter.lufs() : meter.dbRms();
}

int channelsOf(const QString& file)
{
    std::vector<float> samples;
    int rate = 0, channels = 0;
    return fixtures::readAudio(file, samples, rate, channels) ? channels : 0;
}

} // namespace

class TestPostProcessing : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
    QString native(const QString& name) const { return QDir::toNativeSeparators(path(name)); }

    std::unique_ptr<PostProcessing> run(const QString& input, const QString& arguments, bool toMono = false,
        bool keepStereo = false, double ceiling = std::numeric_limits<double>::quiet_NaN())
    {
        auto job = std::make_unique<PostProcessing>();
        job->setTruePeakCeiling(ceiling);
        job->setInputFile(input);
        job->setArguments(arguments);
        job->setConvertToMono(toMono);
        job->setKeepStereo(keepStereo);
        job->start();
        if (!QTest::qWaitFor([&] { return job->isFinished(); }, 60000))
            QTest::qFail("post-processing did not finish within 60 s", __FILE__, __LINE__);
        return job;
    }

    QString dualMonoInput(const QString& name)
    {
        const fixtures::Signal sig{44100, 2, fixtures::SampleFormat::Pcm16};
        fixtures::writeWav(path(name), fixtures::pinkNoise(3.0, 0.3, sig), sig);
        return path(name);
    }

private slots:
    void rendererAppliesTheGainInTheSourceFormat_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("bits");
        QTest::newRow("16-bit") << int(fixtures::SampleFormat::Pcm16) << 16;
        QTest::newRow("24-bit") << int(fixtures::SampleFormat::Pcm24) << 24;
        QTest::newRow("float") << int(fixtures::SampleFormat::Float32) << 32;
    }

    void rendererAppliesTheGainInTheSourceFormat()
    {
        QFETCH(int, format);
        QFETCH(int, bits);
        const fixtures::Signal sig{48000, 2, fixtures::SampleFormat(format)};
        QVERIFY(fixtures::writeSine(path("r.wav"), 1.5, 440.0, 0.4, sig));
        GainRenderer renderer;
        renderer.inputFile = path("r.wav").toUtf8();
        renderer.outputFile = path("r-out.wav").toUtf8();
        renderer.gain = 0.5f;
        QVERIFY(renderer.start());
        QVERIFY(!renderer.start());
        QTRY_VERIFY_WITH_TIMEOUT(renderer.isFinished(), 10000);
        QVERIFY(renderer.stop());
        QVERIFY(renderer.succeeded());
        std::vector<float> in, out;
        int rate = 0, channels = 0;
        QVERIFY(fixtures::readAudio(path("r.wav"), in, rate, channels));
        QVERIFY(fixtures::readAudio(path("r-out.wav"), out, rate, channels));
        QCOMPARE(out.size(), in.size());
        for (size_t i = 0; i < in.size(); i += 37)
            QVERIFY(std::fabs(out[i] - in[i] * 0.5f) <= 1.0f / 32768);
        audiolib::DecodeStream check;
        audiolib::StreamInfo info;
        QVERIFY(check.open(path("r-out.wav").toUtf8(), audiolib::DecodeStream::Samples::Native));
        QVERIFY(check.info(info));
        QCOMPARE(info.sourceBits, bits);
    }

    void rendererRefusesWhatItCannotDo()
    {
        GainRenderer missing;
        missing.inputFile = path("none.wav").toUtf8();
        missing.outputFile = path("none-out.wav").toUtf8();
        QVERIFY(missing.start());
        QVERIFY(QTest::qWaitFor([&] { return missing.isFinished(); }, 10000));
        QVERIFY(!missing.succeeded());
        QVERIFY(missing.failureReason().startsWith(QLatin1String("cannot open the source: ")));

        const fixtures::Signal sig{44100, 1, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeSine(path("w.wav"), 0.2, 440.0, 0.4, sig));
        GainRenderer unwritable;
        unwritable.inputFile = path("w.wav").toUtf8();
        unwritable.outputFile = path("no/folder/out.wav").toUtf8();
        QVERIFY(unwritable.start());
        QVERIFY(QTest::qWaitFor([&] { return unwritable.isFinished(); }, 10000));
        QVERIFY(!unwritable.succeeded());
        QVERIFY(unwritable.failureReason().startsWith(QLatin1String("cannot create the output: ")));
    }

    void targetsGainsAndNames()
    {
        float target = 0;
        QString unit;
        QVERIFY(PostProcessing::parseTarget("-14 LUFS", target, unit));
        QCOMPARE(target, -14.0f);
        QCOMPARE(unit, QString("lufs"));
        QVERIFY(PostProcessing::parseTarget(" -23 dBrms ", target, unit));
        QCOMPARE(unit, QString("dbrms"));
        QVERIFY(PostProcessing::parseTarget("-18.5lufs", target, unit));
        QCOMPARE(target, -18.5f);
        QVERIFY(!PostProcessing::parseTarget("loud LUFS", target, unit));
        QVERIFY(!PostProcessing::parseTarget("-14", target, unit));
        for (const char* notANumber : {"nan LUFS", "-nan lufs", "inf dBrms", "+inf LUFS", "-inf dbrms", "infinity LUFS"})
            QVERIFY2(!PostProcessing::parseTarget(notANumber, target, unit), notANumber);

        QVERIFY(std::fabs(PostProcessing::gainFor(-14.0f, -20.0) - 1.99526f) < 1e-4f);
        QCOMPARE(PostProcessing::gainFor(-14.0f, -INFINITY), 1.0f);
        QVERIFY(std::fabs(PostProcessing::gainFor(-23.0f, -160.0) / std::pow(10.0f, 137.0f / 20.0f) - 1.0f) < 1e-5f);

        QCOMPARE(PostProcessing::outputName("/out/song.tmp", -19.0f, "lufs"), QDir::toNativeSeparators("/out/song -19 lufs.tmp"));
        QCOMPARE(PostProcessing::outputName("/out/a.b.tmp", -18.5f, "dbrms"), QDir::toNativeSeparators("/out/a.b -18.5 dbrms.tmp"));
    }

    void normalisesToEveryTarget()
    {
        const fixtures::Signal sig{48000, 2, fixtures::SampleFormat::Float32};
        QVERIFY(fixtures::writeWav(path("song.tmp"), fixtures::pinkNoise(4.0, 0.2, sig), sig));
        auto job = run(path("song.tmp"), "normOp00: -14 LUFS\nnormOp00: junk\nnormOp00: -23 dBrms\n\nother line");
        QCOMPARE(job->outputFiles(), QStringList({native("song -14 lufs.tmp"), native("song -23 dbrms.tmp")}));
        QVERIFY(std::fabs(loudnessOf(path("song -14 lufs.tmp")) + 14.0) < 0.05);
        QVERIFY(std::fabs(loudnessOf(path("song -23 dbrms.tmp"), false) + 23.0) < 0.05);
        QVERIFY(job->failureText().isEmpty());
        QCOMPARE(job->statusText(), QString("Post processing finished"));
        QVERIFY(!job->convertedToMono());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, job->start());
    }

    // With a ceiling the output reaches its target (measured by the
    // reference meter) with its true peak at or below the ceiling, its
    // limited peaks within 0.2 dB of it, and no sample at full scale; where
    // that needs more than 12 dB of limiting the output stays under the
    // target and the notes say by how much.
    void ceilingLimitsTruePeakAndStillReachesTheTarget_data()
    {
        QTest::addColumn<double>("bursts");
        QTest::addColumn<bool>("reachable");
        QTest::newRow("a few dB of limiting") << 0.5 << true;
        QTest::newRow("more than 12 dB") << 8.0 << false;
    }
    void ceilingLimitsTruePeakAndStillReachesTheTarget()
    {
        QFETCH(double, bursts);
        QFETCH(bool, reachable);
        const fixtures::Signal sig{48000, 2, fixtures::SampleFormat::Pcm16};
        const std::vector<float> samples = fixtures::peakyProgramme(bursts, sig);
        QVERIFY(fixtures::writeWav(path("peaky.tmp"), samples, sig));
        auto job = run(path("peaky.tmp"), "normOp00: -14 LUFS", false, false, -1.0);
        QCOMPARE(job->outputFiles(), QStringList({native("peaky -14 lufs.tmp")}));
        QVERIFY2(job->failureText().isEmpty(), qPrintable(job->failureText()));
        const QString output = path("peaky -14 lufs.tmp");
        LoudnessMeter meter(output.toUtf8(), "K-weighting", 0.4f);
        meter.collectReport(true);
        meter.measure();
        QVERIFY2(meter.report().truePeak <= -1.0 && meter.report().truePeak >= -1.2,
            qPrintable(QString::number(meter.report().truePeak)));
        std::vector<float> written;
        int rate = 0, channels = 0;
        QVERIFY(fixtures::readAudio(output, written, rate, channels));
        QVERIFY(20.0 * std::log10(fixtures::peak(written)) < -1.0);
        const double reached = fixtures::integratedLoudness(output);
        if (reachable) {
            QVERIFY2(std::fabs(reached + 14.0) <= 0.1, qPrintable(QString::number(reached)));
            QVERIFY(job->notes().isEmpty());
        } else {
            QVERIFY2(reached < -14.5, qPrintable(QString::number(reached)));
            const QString under = QString::number(-14.0 - loudnessOf(output), 'f', 1);
            QVERIFY2(job->notes().contains("peaky -14 lufs.tmp: " + under + " LU under the target of -14 LUFS"),
                qPrintable(job->notes()));
        }
    }

    // The limiter's gain between peaks: one constant gain over a steady bass
    // tone (no distortion), but a decaying drum hit is ducked only as long
    // as each of its cycles needs: the second cycle, 8 dB quieter than the
    // first, gets nearly its own gain, not the first one's, and the gain is
    // back within 1 dB soon after the last cycle over the ceiling.
    void limiterHoldsForSteadyToneAndFollowsADecayingHit()
    {
        const int rate = 48000;
        auto limited = [&](const std::vector<float>& in) {
            TruePeakLimiter limiter(rate, 1, 1.0, 0.0);
            std::vector<float> out;
            limiter.process(in.data(), qint64(in.size()), out);
            limiter.flush(out);
            return out;
        };
        std::vector<float> tone(static_cast<size_t>(rate));
        for (size_t i = 0; i < tone.size(); ++i)
            tone[i] = float(2.0 * std::sin(2 * M_PI * 50.0 * double(i) / rate));
        const std::vector<float> toneOut = limited(tone);
        QCOMPARE(toneOut.size(), tone.size());
        double low = 1, high = 0;
        for (size_t i = size_t(rate / 4); i < tone.size() - size_t(rate / 10); ++i) {
            if (std::fabs(tone[i]) > 0.2) {
                low = std::min(low, double(toneOut[i] / tone[i]));
                high = std::max(high, double(toneOut[i] / tone[i]));
            }
        }
        QVERIFY2(high / low < 1.0001, qPrintable(QString("%1 .. %2").arg(low).arg(high)));
        QVERIFY(high < 0.5);

        // 55 Hz, 10 ms decay: peaks of 2.55 at 4.5 ms and 1.03 at 13.6 ms
        // against a ceiling of 1, then under it.
        std::vector<float> hit(size_t(rate / 5), 0.0f);
        const size_t start = size_t(rate / 20);
        for (size_t i = start; i < start + size_t(rate / 10); ++i) {
            const double t = double(i - start) / rate;
            hit[i] = float(4.0 * std::sin(2 * M_PI * 55.0 * t) * std::exp(-t / 0.01));
        }
        const std::vector<float> hitOut = limited(hit);
        QVERIFY(fixtures::peak(hitOut) <= 1.0f);
        auto gainAt = [&](double ms) {
            const size_t i = start + size_t(ms * rate / 1000);
            return 20 * std::log10(std::fabs(hitOut[i] / hit[i]));
        };
        QVERIFY2(gainAt(4.5) < -7.5, qPrintable(QString::number(gainAt(4.5))));
        QVERIFY2(gainAt(13.6) > -2.0, qPrintable(QString::number(gainAt(13.6))));
        QVERIFY2(gainAt(25.0) > -1.0, qPrintable(QString::number(gainAt(25.0))));
    }

    void silentInputKeepsUnitGainForLoudness()
    {
        const fixtures::Signal sig{44100, 2, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeSilence(path("quiet.tmp"), 2.0, sig));
        auto job = run(path("quiet.tmp"), "normOp00: -16 LUFS");
        QCOMPARE(job->outputFiles().size(), 1);
        std::vector<float> out;
        int rate = 0, channels = 0;
        QVERIFY(fixtures::readAudio(path("quiet -16 lufs.tmp"), out, rate, channels));
        QCOMPARE(fixtures::peak(out), 0.0);
    }

    void backToMonoWithAndWithoutTheStereoFile()
    {
        QFile(path("song.tmp")).open(QIODevice::WriteOnly);   // taken: the mono file gets " (1)"
        const QString input = dualMonoInput("song-dualmono.tmp");
        auto job = run(input, "normOp00: -18 LUFS", true, false);
        QVERIFY(job->convertedToMono());
        QCOMPARE(job->monoFile(), native("song (1).tmp"));
        QVERIFY(!QFile::exists(input));
        QCOMPARE(job->outputFiles(), QStringList({native("song (1) -18 lufs.tmp")}));
        QCOMPARE(channelsOf(path("song (1) -18 lufs.tmp")), 1);

        const QString kept = dualMonoInput("keep-dualmono.tmp");
        auto both = run(kept, "normOp00: -18 LUFS", true, true);
        QVERIFY(QFile::exists(kept));
        QCOMPARE(both->outputFiles(), QStringList({native("keep-dualmono -18 lufs.tmp"), native("keep -18 lufs.tmp")}));
        QCOMPARE(channelsOf(path("keep-dualmono -18 lufs.tmp")), 2);

        const QString plain = dualMonoInput("plain-dualmono.tmp");
        auto converted = run(plain, QString(), true, false);
        QCOMPARE(converted->outputFiles(), QStringList({native("plain.tmp")}));
    }

    void monoConversionWithoutOutputKeepsTheStereoResult_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::newRow("no unit") << "normOp00: -18";
        QTest::newRow("nan target") << "normOp00: nan LUFS";
        QTest::newRow("gain not finite") << "normOp00: 1e38 LUFS";
    }

    void monoConversionWithoutOutputKeepsTheStereoResult()
    {
        QFETCH(QString, arguments);
        const QString input = dualMonoInput("lost-dualmono.tmp");
        auto job = run(input, arguments, true, false);
        QVERIFY(job->convertedToMono());
        QVERIFY(job->outputFiles().isEmpty());
        QVERIFY(QFile::exists(input));
        QVERIFY(!job->failureText().isEmpty());
        QVERIFY(QFile::remove(input));
        QVERIFY(QFile::remove(job->monoFile()));
    }

    void nonFiniteSamplesAreSilenceAndAGainThatIsNoNumberFails()
    {
        const fixtures::Signal sig{48000, 1, fixtures::SampleFormat::Float32};
        std::vector<float> samples = fixtures::pinkNoise(3.0, 0.2, sig);
        samples[1000] = NAN;
        samples[2000] = INFINITY;
        samples[3000] = -INFINITY;
        QVERIFY(fixtures::writeRawWav(path("nan.tmp"), {3, 1, 48000, 32, true}, fixtures::floatBytes(samples)));
        LoudnessMeter meter(path("nan.tmp").toUtf8(), "K-weighting", 0.4f);
        meter.measure();
        QCOMPARE(meter.nonFiniteSamples(), qint64(3));
        samples[1000] = samples[2000] = samples[3000] = 0.0f;
        QVERIFY(fixtures::writeWav(path("clean.tmp"), samples, sig));
        QVERIFY(std::fabs(meter.lufs() - loudnessOf(path("clean.tmp"))) < 0.01);

        auto job = run(path("nan.tmp"), "normOp00: -20 LUFS");
        QCOMPARE(job->outputFiles(), QStringList({native("nan -20 lufs.tmp")}));
        QVERIFY(std::fabs(loudnessOf(path("nan -20 lufs.tmp")) + 20.0) < 0.05);

        auto huge = run(path("clean.tmp"), "normOp00: 1e38 LUFS");
        QVERIFY(huge->outputFiles().isEmpty());
        QVERIFY(huge->failureText().startsWith("Error normalising " + native("clean.tmp") + ": the gain"));
    }

    void monoInputIsNormalisedAsItIs()
    {
        const fixtures::Signal sig{44100, 1, fixtures::SampleFormat::Pcm16};
        QVERIFY(fixtures::writeNoise(path("one-dualmono.tmp"), 1.0, 0.3, sig));
        auto job = run(path("one-dualmono.tmp"), "normOp00: -20 LUFS", true, false);
        QVERIFY(!job->convertedToMono());
        QVERIFY(QFile::exists(path("one-dualmono.tmp")));
        QCOMPARE(job->outputFiles(), QStringList({native("one-dualmono -20 lufs.tmp")}));
    }

    void unreadableFileIsReportedAndTheRestGoesOn()
    {
        QVERIFY(fixtures::writeCorruptFile(path("broken.tmp")));
        auto job = run(path("broken.tmp"), "normOp00: -14 LUFS\nnormOp00: -16 LUFS");
        QVERIFY(job->outputFiles().isEmpty());
        QCOMPARE(job->failureText().count('\n'), 1);
        QVERIFY(job->failureText().startsWith("Error measuring " + native("broken.tmp") + ": Can't load file, error 3 (not a supported audio file)"));
        QCOMPARE(job->statusText(), QString("Post processing finished"));
    }
};

QTEST_GUILESS_MAIN(TestPostProcessing)
#include "tst_postprocessing.moc"
