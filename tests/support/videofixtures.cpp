#include "videofixtures.h"

#include <QProcess>

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
    case Kind::PictureOnly:
        arguments << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
                  << QStringLiteral("ultrafast");
        break;
    }
    // The container comes from the path's suffix, whatever its letter case.
    const QString suffix = path.section(QLatin1Char('.'), -1).toLower();
    arguments << QStringLiteral("-f") << (suffix == QLatin1String("mkv") ? QStringLiteral("matroska") : suffix)
              << path;
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

int audioStreamCount(const QString& path)
{
    QByteArray output;
    if (!run(QStringLiteral("ffprobe"),
             {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), QStringLiteral("a"),
              QStringLiteral("-show_entries"), QStringLiteral("stream=index"), QStringLiteral("-of"),
              QStringLiteral("csv=p=0"), path},
             &output))
        return -1;
    return int(output.trimmed().isEmpty() ? 0 : output.trimmed().split('\n').size());
}

bool extractSound(const QString& video, const QString& wav)
{
    return run(QStringLiteral("ffmpeg"),
               {QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-v"), QStringLiteral("error"),
                QStringLiteral("-i"), video, QStringLiteral("-vn"), QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"),
                wav});
}

} // namespace videofixtures
