#include "audiofixtures.h"
#include "brokenaudio.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kTool = QStringLiteral(SONVIRA_BIN_DIR "/sonvira-loudness");

} // namespace

class TestLoudnessTool : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void measuresEveryFileAndReportsFailuresLast()
    {
        const fixtures::Signal stereo{48000, 2, fixtures::SampleFormat::Float32};
        QVERIFY(fixtures::writeSine(path("sine.wav"), 3.0, 1000.0, 1.0, stereo));
        QVERIFY(fixtures::writeSilence(path("silence.wav"), 1.0, stereo));
        QProcess tool;
        tool.start(kTool, {path("sine.wav"), path("missing.wav"), path("silence.wav")});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 1);
        const QStringList lines = QString::fromLocal8Bit(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines, QStringList({path("sine.wav") + ": 0.0 LUFS, -3.0 dB RMS",
                            path("silence.wav") + ": -inf LUFS, -160.0 dB RMS"}));
        const QString error = QString::fromLocal8Bit(tool.readAllStandardError());
        QVERIFY(error.contains("cannot measure " + path("missing.wav") + ": Can't load file, error 2"));
    }

    void brokenFilesAreMeasuredSafelyOrRefusedClearly()
    {
        const fixtures::Signal mono{48000, 1, fixtures::SampleFormat::Float32};
        std::vector<float> samples = fixtures::sine(3.0, 1000.0, 0.5, mono);
        samples[500] = NAN;
        samples[501] = INFINITY;
        QVERIFY(fixtures::writeRawWav(path("nan.wav"), {3, 1, 48000, 32, true}, fixtures::floatBytes(samples)));
        QVERIFY(fixtures::writeRawWav(path("rate.wav"), {1, 1, 2000000000, 16, true}, QByteArray(4096, '\0')));
        QVERIFY(fixtures::writeRawWav(path("wide.wav"), {1, 65, 48000, 16, true}, QByteArray(65 * 20, '\0')));
        QVERIFY(fixtures::writeRawWav(path("nodata.wav"), {1, 1, 48000, 16, false}, QByteArray()));
        QProcess tool;
        tool.start(kTool, {path("nan.wav"), path("rate.wav"), path("wide.wav"), path("nodata.wav")});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(tool.readAllStandardOutput()), path("nan.wav") + ": -9.0 LUFS, -9.0 dB RMS\n");
        const QString error = QString::fromLocal8Bit(tool.readAllStandardError());
        QVERIFY2(error.contains("warning: " + path("nan.wav") + ": 2 non-finite samples measured as silence"), qPrintable(error));
        QVERIFY(error.contains(path("rate.wav") + ": Can't load file, error 14 (sample rate outside 8000 to 768000 Hz)"));
        QVERIFY(error.contains(path("wide.wav") + ": Can't load file, error 15 (more than 64 channels)"));
        QVERIFY(error.contains(path("nodata.wav") + ": Can't load file, error 12 (malformed audio file)"));
    }

    // One object per line with exactly the named keys; figures that do not
    // exist are null; the plain text line is unchanged beside it.
    void jsonReportsEveryFigure()
    {
        const fixtures::Signal stereo{48000, 2, fixtures::SampleFormat::Float32};
        QVERIFY(fixtures::writeSine(path("sine.wav"), 4.0, 1000.0, 0.5, stereo));
        QVERIFY(fixtures::writeSilence(path("silence.wav"), 1.0, stereo));
        QProcess tool;
        tool.start(kTool, {"--json", path("sine.wav"), path("silence.wav")});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        const QList<QByteArray> lines = tool.readAllStandardOutput().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[2].isEmpty());
        const QStringList keys = {"file", "integrated_lufs", "rms_db", "loudness_range_lu", "max_momentary_lufs",
            "max_short_term_lufs", "true_peak_dbtp", "sample_peak_dbfs"};
        const QJsonObject sine = QJsonDocument::fromJson(lines[0]).object();
        QStringList sorted = keys;
        sorted.sort();
        QCOMPARE(sine.keys(), sorted);
        QCOMPARE(sine["file"].toString(), path("sine.wav"));
        // A sine of amplitude 0.5 (-6.02 dBFS) in both channels: -6.01 LUFS
        // (the K-weighting adds 0.698 dB at 1 kHz, the offset takes 0.691),
        // steady, so no range, and its peak on the samples is its true peak.
        QVERIFY(std::fabs(sine["integrated_lufs"].toDouble() + 6.01) < 0.02);
        QVERIFY(std::fabs(sine["rms_db"].toDouble() + 9.03) < 0.05);
        QVERIFY(std::fabs(sine["loudness_range_lu"].toDouble()) < 0.1);
        QVERIFY(std::fabs(sine["max_momentary_lufs"].toDouble() + 6.01) < 0.02);
        QVERIFY(std::fabs(sine["max_short_term_lufs"].toDouble() + 6.01) < 0.02);
        QVERIFY(std::fabs(sine["true_peak_dbtp"].toDouble() + 6.02) < 0.05);
        QVERIFY(std::fabs(sine["sample_peak_dbfs"].toDouble() + 6.02) < 0.05);
        const QJsonObject silence = QJsonDocument::fromJson(lines[1]).object();
        QCOMPARE(silence.keys(), sorted);
        for (const QString& key : {"integrated_lufs", "loudness_range_lu", "max_momentary_lufs", "max_short_term_lufs",
                 "true_peak_dbtp", "sample_peak_dbfs"})
            QVERIFY2(silence[key].isNull(), qPrintable(key));
        QCOMPARE(silence["rms_db"].toDouble(), -160.0);
    }

    // A huge sample gives large but finite figures; NaNs anywhere, the last
    // samples too, are counted once; an empty file has no figure at all.
    void extremeSamplesAndEmptyFilesGiveNumbersOrNull()
    {
        const fixtures::Signal stereo{48000, 2, fixtures::SampleFormat::Float32};
        std::vector<float> samples = fixtures::sine(4.0, 1000.0, 0.5, stereo);
        samples[1000] = 1e20f;
        samples[2001] = 3.4e38f;
        samples[samples.size() - 1] = NAN;
        samples[samples.size() - 4] = -INFINITY;
        QVERIFY(fixtures::writeRawWav(path("huge.wav"), {3, 2, 48000, 32, true}, fixtures::floatBytes(samples)));
        QVERIFY(fixtures::writeWav(path("empty.wav"), {}, stereo));
        QProcess tool;
        tool.start(kTool, {"--json", path("huge.wav"), path("empty.wav")});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        const QList<QByteArray> lines = tool.readAllStandardOutput().split('\n');
        QCOMPARE(lines.size(), 3);
        const QJsonObject huge = QJsonDocument::fromJson(lines[0]).object();
        for (const char* key : {"integrated_lufs", "rms_db", "loudness_range_lu", "max_momentary_lufs",
                 "max_short_term_lufs", "true_peak_dbtp", "sample_peak_dbfs"})
            QVERIFY2(huge[key].isDouble(), key);
        QVERIFY(huge["integrated_lufs"].toDouble() > 300);
        QVERIFY(std::fabs(huge["sample_peak_dbfs"].toDouble() - 770.6) < 0.1);
        QVERIFY(huge["true_peak_dbtp"].toDouble() >= huge["sample_peak_dbfs"].toDouble());
        const QString error = QString::fromLocal8Bit(tool.readAllStandardError());
        QCOMPARE(error.count("non-finite"), 1);
        QVERIFY2(error.contains(path("huge.wav") + ": 2 non-finite samples"), qPrintable(error));
        const QJsonObject empty = QJsonDocument::fromJson(lines[1]).object();
        QCOMPARE(empty.size(), 8);
        for (auto it = empty.begin(); it != empty.end(); ++it)
            QVERIFY2(it.key() == "file" || it.value().isNull(), qPrintable(it.key()));
    }

    void helpExplainsTheOutput()
    {
        QProcess tool;
        tool.start(kTool, {"--help"});
        QVERIFY(tool.waitForFinished(10000));
        QCOMPARE(tool.exitCode(), 0);
        const QByteArray text = tool.readAllStandardOutput();
        QVERIFY(text.contains("LUFS") && text.contains("dB RMS"));
        QVERIFY(text.contains("--json") && text.contains("true_peak_dbtp") && text.contains("loudness_range_lu"));
        tool.start(kTool, {});
        QVERIFY(tool.waitForFinished(10000));
        QCOMPARE(tool.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestLoudnessTool)
#include "tst_loudnesstool.moc"
