#include "videofixtures.h"

#include "audiofixtures.h"

#include <QFile>
#include <QMap>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <limits>
#include <optional>

namespace {

constexpr int kTimeoutMs = 60000;

bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(kTimeoutMs) || !process.waitForFinished(kTimeoutMs)) {
        process.kill();
        process.waitForFinished(kTimeoutMs);
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// ffprobe's values of `entries` for the streams `streams` selects (all when
// empty), one CSV line each; nothing when ffprobe failed.
std::optional<QStringList> probeCsv(const QString& path, const QString& streams, const QString& entries)
{
    QStringList arguments{QStringLiteral("-v"), QStringLiteral("error")};
    if (!streams.isEmpty())
        arguments << QStringLiteral("-select_streams") << streams;
    arguments << QStringLiteral("-show_entries") << entries << QStringLiteral("-of") << QStringLiteral("csv=p=0") << path;
    QByteArray output;
    if (!run(QStringLiteral("ffprobe"), arguments, &output))
        return std::nullopt;
    return QString::fromLatin1(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

namespace videofixtures {

bool makeVideo(const QString& path, Kind kind, double seconds, double toneAmplitude)
{
    const QString duration = QString::number(seconds);
    QStringList arguments = {QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-v"),
                             QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                             QStringLiteral("-i"),
                             QStringLiteral("testsrc=size=160x120:rate=15:duration=") + duration};
    if (kind != Kind::PictureOnly)
        arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
                  << QStringLiteral("aevalsrc=%1*sin(2*PI*440*t)|%1*sin(2*PI*440*t):s=44100:d=%2")
                         .arg(toneAmplitude)
                         .arg(duration);
    switch (kind) {
    case Kind::Mp4H264Aac:
        arguments << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
                  << QStringLiteral("ultrafast") << QStringLiteral("-c:a") << QStringLiteral("aac");
        break;
    case Kind::Matroska:
        arguments << QStringLiteral("-c:v") << QStringLiteral("mpeg4") << QStringLiteral("-c:a")
                  << QStringLiteral("flac");
        break;
    case Kind::AviMp3:
        arguments << QStringLiteral("-c:v") << QStringLiteral("mpeg4") << QStringLiteral("-c:a")
                  << QStringLiteral("libmp3lame");
        break;
    case Kind::MovPcm24:
        arguments << QStringLiteral("-c:v") << QStringLiteral("mpeg4") << QStringLiteral("-c:a")
                  << QStringLiteral("pcm_s24le");
        break;
    case Kind::WmvWma:
        arguments << QStringLiteral("-c:v") << QStringLiteral("wmv2") << QStringLiteral("-c:a") << QStringLiteral("wmav2");
        break;
    case Kind::PictureOnly:
        arguments << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
                  << QStringLiteral("ultrafast");
        break;
    }
    // The container comes from the path's suffix, whatever its letter case.
    const QString suffix = path.section(QLatin1Char('.'), -1).toLower();
    const QString muxer = suffix == QLatin1String("mkv") ? QStringLiteral("matroska")
        : suffix == QLatin1String("wmv")                 ? QStringLiteral("asf")
                                                         : suffix;
    arguments << QStringLiteral("-f") << muxer << path;
    return run(QStringLiteral("ffmpeg"), arguments);
}

QStringList picturePackets(const QString& path)
{
    QByteArray output;
    if (!run(QStringLiteral("ffmpeg"),
             {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
              QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-c"), QStringLiteral("copy"),
              QStringLiteral("-f"), QStringLiteral("framemd5"), QStringLiteral("-")},
             &output))
        return {};
    // Lines: stream, dts, pts, duration, size, hash.
    QStringList packets;
    for (const QByteArray& line : output.split('\n')) {
        if (line.startsWith('#') || line.trimmed().isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() >= 6)
            packets << QString::fromLatin1(fields.at(4).trimmed() + ':' + fields.at(5).trimmed());
    }
    return packets;
}

bool makeRichVideo(const QString& path, double seconds, double soundStart, double toneAmplitude)
{
    const QString base = QFileInfo(path).absolutePath() + QLatin1Char('/') + QFileInfo(path).completeBaseName();
    QFile subtitles(base + QStringLiteral(".srt"));
    QFile chapters(base + QStringLiteral(".chapters"));
    if (!subtitles.open(QIODevice::WriteOnly) || !chapters.open(QIODevice::WriteOnly))
        return false;
    subtitles.write("1\n00:00:00,500 --> 00:00:01,500\nHello\n\n");
    subtitles.close();
    chapters.write(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=Opening\n");
    chapters.close();
    const QString duration = QString::number(seconds);
    const QString soundLength = QString::number(seconds - soundStart);
    const bool made = run(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-v"), QStringLiteral("error"),
         QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("testsrc=size=160x120:rate=25:duration=") + duration, QStringLiteral("-itsoffset"),
         QString::number(soundStart), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("aevalsrc=%1*sin(2*PI*440*t)|%1*sin(2*PI*440*t):s=48000:d=%2").arg(toneAmplitude).arg(soundLength),
         QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("aevalsrc=0.1*sin(2*PI*880*t):s=48000:d=") + duration, QStringLiteral("-i"), subtitles.fileName(),
         QStringLiteral("-i"), chapters.fileName(), QStringLiteral("-map"), QStringLiteral("0"), QStringLiteral("-map"),
         QStringLiteral("1"), QStringLiteral("-map"), QStringLiteral("2"), QStringLiteral("-map"), QStringLiteral("3"),
         QStringLiteral("-map_chapters"), QStringLiteral("4"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
         QStringLiteral("-preset"), QStringLiteral("ultrafast"), QStringLiteral("-c:a"), QStringLiteral("aac"),
         QStringLiteral("-b:a"), QStringLiteral("96k"), QStringLiteral("-c:s"), QStringLiteral("srt"),
         QStringLiteral("-metadata:s:a:0"), QStringLiteral("language=eng"), QStringLiteral("-metadata:s:a:1"),
         QStringLiteral("language=ger"), QStringLiteral("-metadata:s:a:1"), QStringLiteral("title=Commentary"),
         QStringLiteral("-metadata:s:s:0"), QStringLiteral("language=eng"), QStringLiteral("-f"),
         QStringLiteral("matroska"), path});
    subtitles.remove();
    chapters.remove();
    return made;
}

QStringList streamSummary(const QString& path)
{
    QByteArray output;
    if (!run(QStringLiteral("ffprobe"),
             {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
              QStringLiteral("stream=codec_type,codec_name:stream_tags=language,title"), QStringLiteral("-of"),
              QStringLiteral("default=noprint_wrappers=0"), path},
             &output))
        return {};
    QStringList streams;
    QMap<QString, QString> fields;
    for (const QByteArray& raw : output.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line == QLatin1String("[/STREAM]")) {
            streams << QStringList{fields.value(QStringLiteral("codec_type")), fields.value(QStringLiteral("codec_name")),
                                   fields.value(QStringLiteral("TAG:language")), fields.value(QStringLiteral("TAG:title"))}
                           .join(QLatin1Char(' '));
            fields.clear();
        } else if (line.contains(QLatin1Char('='))) {
            fields.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
        }
    }
    return streams;
}

double streamStart(const QString& path, int index)
{
    const std::optional<QStringList> lines = probeCsv(path, QString::number(index), QStringLiteral("stream=start_time"));
    bool ok = false;
    const double start = lines && !lines->isEmpty() ? lines->first().toDouble(&ok) : 0.0;
    return ok ? start : std::numeric_limits<double>::quiet_NaN();
}

QStringList pictureTimes(const QString& path)
{
    return probeCsv(path, QStringLiteral("v:0"), QStringLiteral("packet=pts_time")).value_or(QStringList());
}

int chapterCount(const QString& path)
{
    const std::optional<QStringList> lines = probeCsv(path, QString(), QStringLiteral("chapter=id"));
    return lines ? int(lines->size()) : -1;
}

int audioStreamCount(const QString& path)
{
    const std::optional<QStringList> lines = probeCsv(path, QStringLiteral("a"), QStringLiteral("stream=index"));
    return lines ? int(lines->size()) : -1;
}

bool extractSound(const QString& video, const QString& wav)
{
    return run(QStringLiteral("ffmpeg"),
               {QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-v"), QStringLiteral("error"),
                QStringLiteral("-i"), video, QStringLiteral("-vn"), QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"),
                wav});
}

double soundLevel(const QString& video)
{
    const QTemporaryDir scratch;
    const QString wav = scratch.filePath(QStringLiteral("sound.wav"));
    std::vector<float> samples;
    int rate = 0;
    int channels = 0;
    if (!scratch.isValid() || !extractSound(video, wav) || !fixtures::readAudio(wav, samples, rate, channels))
        return std::numeric_limits<double>::quiet_NaN();
    return fixtures::rmsDb(samples);
}

} // namespace videofixtures
