#include "audio/preprocessing.h"
#include "audiofixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>

namespace {

const QString kStandIn = QStringLiteral(SONVIRA_BIN_DIR "/testtools/standintool");

QStringList linesOf(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestPreProcessing : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

    // Source file and empty placeholder output, as the queue driver makes them.
    QString prepare(const QString& name, int channels, double seconds = 1.0)
    {
        const fixtures::Signal sig{44100, channels, fixtures::SampleFormat::Pcm16};
        const QString source = path(name);
        fixtures::writeNoise(source, seconds, 0.2, sig);
        QFile(source + ".temp").open(QIODevice::WriteOnly);
        return source;
    }

    std::unique_ptr<PreProcessing> started(const QString& source, const QString& arguments,
        const QString& tool = kStandIn)
    {
        auto job = std::make_unique<PreProcessing>();
        job->setArguments(arguments);
        job->setInputFile(source);
        job->setOutputFile(QDir::toNativeSeparators(source + ".temp"));
        job->setNoiseReductionExecutable(tool);
        job->setNoiseReductionModelPath(dir.path());
        job->setKillTimeouts(2000, 500);
        job->start();
        return job;
    }

    std::unique_ptr<PreProcessing> run(const QString& source, const QString& arguments,
        const QString& tool = kStandIn)
    {
        auto job = started(source, arguments, tool);
        if (!QTest::qWaitFor([&] { return job->isFinished(); }, 60000))
            QTest::qFail("pre-processing did not finish within 60 s", __FILE__, __LINE__);
        return job;
    }

    static int channelsOf(const QString& file)
    {
        std::vector<float> samples;
        int rate = 0, channels = 0;
        return fixtures::readAudio(file, samples, rate, channels) ? channels : 0;
    }

private slots:
    void skipRunsNothing()
    {
        const QString source = prepare("skip.wav", 2);
        auto job = run(source, "nredOp00: SKIP", path("no-such-tool"));
        QVERIFY(job->succeeded());
        QCOMPARE(job->operationsDone(), 0);
        QCOMPARE(QFileInfo(source + ".temp").size(), qint64(0));
        QCOMPARE(job->statusText(), QString("Pre processing finished"));
        QVERIFY(job->fileNameSuffix().isEmpty());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, job->start());
    }

    void noiseReductionCommandLineAndResult()
    {
        const QString source = prepare("song.wav", 2);
        auto job = run(source, "nredOp00: --mode ready   --alwayson");
        QVERIFY(job->succeeded());
        QCOMPARE(job->operationsDone(), 1);
        const QString out = QDir::toNativeSeparators(source + ".temp");
        QCOMPARE(linesOf(source + ".temp0.args"),
            QStringList({"-input", QDir::toNativeSeparators(source), "-modelpath", QDir::toNativeSeparators(dir.path()),
                "-output", out + "0", "--mode", "ready", "--alwayson"}));
        QVERIFY(!QFile::exists(source + ".temp0"));
        QCOMPARE(QFileInfo(out).size(), QFileInfo(source).size());
        QCOMPARE(job->fileNameSuffix(), QString("-nr"));
    }

    void chainsNoiseReductionAndMonoToStereo_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("conversions");
        QTest::newRow("mono") << 1 << 1;
        QTest::newRow("stereo") << 2 << 0;
    }

    void chainsNoiseReductionAndMonoToStereo()
    {
        QFETCH(int, channels);
        QFETCH(int, conversions);
        const QString source = prepare(QString("chain%1.wav").arg(channels), channels);
        auto job = run(source, "nredOp00: --mode ready\nmstOp00");
        QVERIFY(job->succeeded());
        QCOMPARE(job->operationsDone(), 2);
        QCOMPARE(job->stereoConversions(), conversions);
        QCOMPARE(job->fileNameSuffix(), QString("-nr-dualmono"));
        QCOMPARE(channelsOf(source + ".temp"), 2);
        QVERIFY(!QFile::exists(source + ".temp0"));
        QVERIFY(!QFile::exists(source + ".temp1"));
    }

    void ignoredLinesStillTakeAnIndex()
    {
        const QString source = prepare("index.wav", 1);
        auto job = run(source, "abc\nnredOp00: --mode ready");
        QVERIFY(job->succeeded());
        QVERIFY(QFile::exists(source + ".temp1.args"));
        QCOMPARE(QFileInfo(source + ".temp").size(), QFileInfo(source).size());
    }

    void toolThatStaysAliveIsKilledAndItsFileKept()
    {
        const QString source = prepare("hang.wav", 2);
        auto job = run(source, "nredOp00: --mode ready-hang");
        QVERIFY(job->succeeded());
        QCOMPARE(QFileInfo(source + ".temp").size(), QFileInfo(source).size());
        QCOMPARE(job->statusText(), QString("Pre processing finished"));
    }

    // "File Ready" counts as a line of its own, whatever the reads are: with
    // progress before or after it in the same read, or split over two reads.
    void fileReadyIsFoundWhateverTheReads_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("progress after it") << "ready-with-text";
        QTest::newRow("progress before it, tool stays alive") << "ready-hang-together";
        QTest::newRow("split over two reads") << "ready-in-pieces";
    }

    void fileReadyIsFoundWhateverTheReads()
    {
        QFETCH(QString, mode);
        const QString source = prepare("together-" + mode + ".wav", 2);
        auto job = run(source, "nredOp00: --mode " + mode);
        QVERIFY2(job->succeeded(), qPrintable(job->errorMessage()));
        QCOMPARE(job->operationsDone(), 1);
        QCOMPARE(QFileInfo(source + ".temp").size(), QFileInfo(source).size());
    }

    void toolFailuresBecomeTheErrorMessage_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("message");
        QTest::newRow("crash") << kStandIn << "crash" << "Process crashed.";
        QTest::newRow("exit code") << kStandIn << "exit3" << "stand-in failed on purpose\n";
        QTest::newRow("missing tool") << "/no/such/deepfilternet" << "ready" << "*";
    }

    void toolFailuresBecomeTheErrorMessage()
    {
        QFETCH(QString, tool);
        QFETCH(QString, mode);
        QFETCH(QString, message);
        const QString source = prepare("fail-" + mode + ".wav", 1);
        auto job = run(source, "nredOp00: --mode " + mode + "\nmstOp00", tool);
        QVERIFY(!job->succeeded());
        QCOMPARE(job->operationsDone(), 0);
        if (message == "*")
            QVERIFY(!job->errorMessage().isEmpty());
        else
            QCOMPARE(job->errorMessage(), message);
        QCOMPARE(QFileInfo(source + ".temp").size(), qint64(0));   // no operation produced anything
        QVERIFY(!QFile::exists(source + ".temp0"));
    }

    // A stop from another thread kills a tool that would work for an hour;
    // no later operation starts, and neither the tool's files nor ours stay.
    void stopKillsTheToolAndLeavesNoWorkFile()
    {
        const QString source = prepare("stopped.wav", 1);
        auto job = started(source, "nredOp00: --mode hang-working\nmstOp00");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(source + ".temp0.part"), 60000);
        job->stop();
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 60000);
        QVERIFY(!job->succeeded());
        QCOMPARE(job->errorMessage(), QString("Stopped"));
        QCOMPARE(job->operationsDone(), 0);
        QCOMPARE(QDir(dir.path()).entryList({"stopped.wav*"}, QDir::Files, QDir::Name),
            QStringList({"stopped.wav", "stopped.wav.temp"}));
    }

    void conversionWithoutMonoSourceLeavesThePlaceholder()
    {
        const fixtures::Signal sig{48000, 6, fixtures::SampleFormat::Pcm16};
        const QString source = path("six.wav");
        QVERIFY(fixtures::writeNoise(source, 0.5, 0.2, sig));
        QFile(source + ".temp").open(QIODevice::WriteOnly);
        auto job = run(source, "mstOp00\nmstOp00: SKIP");
        QVERIFY(job->succeeded());
        QCOMPARE(job->operationsDone(), 1);
        QCOMPARE(job->stereoConversions(), 0);
        QCOMPARE(QFileInfo(source + ".temp").size(), qint64(0));
        QCOMPARE(job->fileNameSuffix(), QString("-dualmono"));
    }

    void realNoiseSuppressionProgram()
    {
        const fixtures::Signal sig{48000, 1, fixtures::SampleFormat::Pcm16};
        const QString source = path("real.wav");
        QVERIFY(fixtures::writeNoise(source, 3.0, 0.1, sig));
        QFile(source + ".temp").open(QIODevice::WriteOnly);
        auto job = std::make_unique<PreProcessing>();   // default tool path next to the executable
        job->setArguments("nredOp00: -stmlength 0.5 -mtslength 2.0\nmstOp00");
        job->setInputFile(source);
        job->setOutputFile(source + ".temp");
        job->start();
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), 60000);
        QVERIFY2(job->succeeded(), qPrintable(job->errorMessage()));
        std::vector<float> in, out;
        int rate = 0, channels = 0;
        QVERIFY(fixtures::readAudio(source, in, rate, channels));
        QVERIFY(fixtures::readAudio(source + ".temp", out, rate, channels));
        QCOMPARE(channels, 2);
        QCOMPARE(out.size(), in.size() * 2);
        QVERIFY(fixtures::rmsDb(out) < fixtures::rmsDb(in) - 10);   // the noise is taken out
    }
};

QTEST_GUILESS_MAIN(TestPreProcessing)
#include "tst_preprocessing.moc"
