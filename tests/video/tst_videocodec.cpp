#include "settings/platform.h"
#include "video/ffmpegtool.h"
#include "video/videocodecprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <stdexcept>

// The ffmpeg check and one ffmpeg job, against stand-in programs that
// record what they were given and against the real ffmpeg.
class TestVideoCodec : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void folderWithoutFfmpegIsRefused();
    void programThatIsNotFfmpegIsRefused();
    void emptyFolderMeansTheFfmpegOnThePath();
    void silentProgramIsEndedAfterItsAnswer();
    void jobsPassTheirArgumentsInOrder();
    void secondInitThrows();
    void statusFollowsTheExitCode_data();
    void statusFollowsTheExitCode();
    void chattyJobKeepsOnlyTheTailOfItsOutput();

private:
    // Writes an executable shell script named like ffmpeg into a new folder.
    QString standIn(const QString& name, const QByteArray& body);
    QTemporaryDir dir;
};

void TestVideoCodec::initTestCase()
{
    QVERIFY(dir.isValid());
}

void TestVideoCodec::cleanup()
{
    ffmpegtool::setFfmpegFolder(QString());
}

QString TestVideoCodec::standIn(const QString& name, const QByteArray& body)
{
    const QString folder = dir.filePath(name);
    QDir().mkpath(folder);
    QFile script(ffmpegtool::programIn(folder));
    if (!script.open(QIODevice::WriteOnly))
        return QString();
    script.write("#!/bin/sh\n" + body + "\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

void TestVideoCodec::folderWithoutFfmpegIsRefused()
{
    const QString empty = dir.filePath(QStringLiteral("empty"));
    QDir().mkpath(empty);
    QString version = QStringLiteral("old");
    QVERIFY(!ffmpegtool::checkFfmpeg(empty, version));
    QVERIFY(version.isEmpty());
    ffmpegtool::setFfmpegFolder(empty);
    QVERIFY(ffmpegtool::ffmpegVersionText().isEmpty());
    QVERIFY(!ffmpegtool::isFfmpegAvailable());
    QCOMPARE(ffmpegtool::ffmpegFolder(), empty);
}

void TestVideoCodec::programThatIsNotFfmpegIsRefused()
{
    const QString folder = standIn(QStringLiteral("impostor"), "echo 'FFmpeg Version 6 (not really)'");
    QString version;
    QVERIFY(!ffmpegtool::checkFfmpeg(folder, version));
    QVERIFY(version.contains(QLatin1String("not really")));
}

void TestVideoCodec::emptyFolderMeansTheFfmpegOnThePath()
{
    const QString onPath = ffmpegtool::resolveFolder(QString());
    QVERIFY2(!onPath.isEmpty(), "ffmpeg is not on the PATH");
    QVERIFY(QFileInfo(ffmpegtool::programIn(onPath)).isExecutable());
    QString version;
    QVERIFY(ffmpegtool::checkFfmpeg(QString(), version));
    QVERIFY(version.startsWith(QLatin1String("ffmpeg version")));
    ffmpegtool::setFfmpegFolder(QString());
    QVERIFY(ffmpegtool::isFfmpegAvailable());
    QCOMPARE(ffmpegtool::ffmpegFolder(), onPath);
}

// The program answers and then stays alive with its output open: the check
// still ends, accepts the answer and leaves no process behind.
void TestVideoCodec::silentProgramIsEndedAfterItsAnswer()
{
    const QString pidFile = dir.filePath(QStringLiteral("silent.pid"));
    const QString folder = standIn(QStringLiteral("silent"), "echo $$ > '" + pidFile.toUtf8()
                                                                 + "'\necho 'ffmpeg version 9'\nexec sleep 60");
    QString version;
    QVERIFY(ffmpegtool::checkFfmpeg(folder, version));
    QFile pid(pidFile);
    QVERIFY(pid.open(QIODevice::ReadOnly));
    const int childPid = pid.readAll().trimmed().toInt();
    QVERIFY(childPid > 0);
    QVERIFY2(::kill(childPid, 0) != 0, "the checked program is still running");
}

void TestVideoCodec::jobsPassTheirArgumentsInOrder()
{
    const QString argsFile = dir.filePath(QStringLiteral("args.txt"));
    ffmpegtool::setFfmpegFolder(standIn(QStringLiteral("recorder"),
                                        "printf '%s\\n' \"$@\" > '" + argsFile.toUtf8() + "'"));

    const auto recorded = [&] {
        QFile file(argsFile);
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };

    videoCodec_Process decoder;
    QVERIFY(decoder.init_Decoder(4, QStringLiteral("C:/v/clip.mp4"), QStringLiteral("C:\\tmp\\x.wav")));
    QCOMPARE(decoder.id, 4);
    QCOMPARE(decoder.mode, 1);
    QTRY_COMPARE_WITH_TIMEOUT(decoder.getJobStatus(), 2, 10000);
    QCOMPARE(recorded().join(QLatin1Char(' ')),
             QStringLiteral("-i C:/v/clip.mp4 -nostdin -map 0:a:0 -vn -c:a pcm_s16le C:\\tmp\\x.wav -map 0:a:0 -c copy "
                            "-frames:a 1 -f framemd5 C:\\tmp\\x.wav.start"));

    videoCodec_Process encoder;
    QCOMPARE(encoder.getJobStatus(), 0);
    QVERIFY(encoder.init_Encoder(5, QStringLiteral("clip.mp4"), QStringLiteral("processed.wav"),
                                 QStringLiteral("out dir/clip - new.mp4")));
    QCOMPARE(encoder.mode, 2);
    QTRY_COMPARE_WITH_TIMEOUT(encoder.getJobStatus(), 2, 10000);
    QCOMPARE(recorded(), (QStringList{"-i", "clip.mp4", "-i", "processed.wav", "-y", "-nostdin", "-map", "0:v?", "-map",
                                      "1:a:0", "-map", "0:a?", "-map", "-0:a:0", "-map", "0:s?", "-map", "0:t?", "-c",
                                      "copy", "-c:a:0", "aac", "-map_chapters", "0", "-f", "mp4",
                                      "out dir/clip - new.mp4.part"}));
}

void TestVideoCodec::secondInitThrows()
{
    ffmpegtool::setFfmpegFolder(standIn(QStringLiteral("quick"), "exit 0"));
    videoCodec_Process job;
    QVERIFY(job.init_Decoder(1, QStringLiteral("a.mp4"), QStringLiteral("a.wav")));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, job.init_Decoder(2, QStringLiteral("a.mp4"), QStringLiteral("b.wav")));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, job.init_Encoder(3, QStringLiteral("a.mp4"), QStringLiteral("a.wav"),
                                                                  QStringLiteral("b.mp4")));
    QTRY_VERIFY_WITH_TIMEOUT(job.finished, 10000);

    ffmpegtool::setFfmpegFolder(dir.filePath(QStringLiteral("nowhere")));
    videoCodec_Process missing;
    QVERIFY(!missing.init_Decoder(6, QStringLiteral("a.mp4"), QStringLiteral("a.wav")));
}

void TestVideoCodec::statusFollowsTheExitCode_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::newRow("exit 0") << QByteArray("exit 0") << 2;
    QTest::newRow("exit 1") << QByteArray("echo 'Invalid data found' >&2; exit 1") << 3;
    QTest::newRow("crash") << QByteArray("kill -SEGV $$") << 3;
}

void TestVideoCodec::statusFollowsTheExitCode()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    ffmpegtool::setFfmpegFolder(standIn(QString::fromLatin1(QTest::currentDataTag()).remove(QLatin1Char(' ')), body));
    videoCodec_Process job;
    QVERIFY(job.init_Decoder(1, QStringLiteral("in.mp4"), QStringLiteral("out.wav")));
    QTRY_VERIFY_WITH_TIMEOUT(job.finished, 10000);
    QCOMPARE(job.getJobStatus(), status);
}

void TestVideoCodec::chattyJobKeepsOnlyTheTailOfItsOutput()
{
    ffmpegtool::setFfmpegFolder(standIn(QStringLiteral("chatty"),
                                        "head -c 3000000 /dev/zero | tr '\\0' x >&2\n"
                                        "head -c 3000000 /dev/zero | tr '\\0' y\n"
                                        "echo LAST >&2"));
    videoCodec_Process job;
    QVERIFY(job.init_Encoder(1, QStringLiteral("a.mp4"), QStringLiteral("a.wav"), QStringLiteral("b.mp4")));
    QTRY_COMPARE_WITH_TIMEOUT(job.getJobStatus(), 2, 20000);
    const QByteArray tail = job.standardErrorText();
    QVERIFY(tail.size() <= 64 * 1024);
    QVERIFY(tail.endsWith("xxxLAST\n"));
}

QTEST_GUILESS_MAIN(TestVideoCodec)
#include "tst_videocodec.moc"
