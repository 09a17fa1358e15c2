#include "audiofixtures.h"

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
        QCOMPARE(lines, QStringList({path("sine.wav") + ": -0.0 LUFS, -3.0 dB RMS",
                            path("silence.wav") + ": -inf LUFS, -160.0 dB RMS"}));
        const QString error = QString::fromLocal8Bit(tool.readAllStandardError());
        QVERIFY(error.contains("cannot measure " + path("missing.wav") + ": Can't load file, error 2"));
    }

    void helpExplainsTheOutput()
    {
        QProcess tool;
        tool.start(kTool, {"--help"});
        QVERIFY(tool.waitForFinished(10000));
        QCOMPARE(tool.exitCode(), 0);
        const QByteArray text = tool.readAllStandardOutput();
        QVERIFY(text.contains("LUFS") && text.contains("dB RMS"));
        tool.start(kTool, {});
        QVERIFY(tool.waitForFinished(10000));
        QCOMPARE(tool.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestLoudnessTool)
#include "tst_loudnesstool.moc"
