#include "video/sourcesound.h"

#include <QHash>
#include <QRegularExpression>

namespace {

// Codecs ffmpeg can encode, by the name it shows when decoding, with the
// encoder to ask for and whether a bit rate applies.
struct Encoder {
    QString name;
    bool lossy = true;
};

const QHash<QString, Encoder>& knownEncoders()
{
    static const QHash<QString, Encoder> encoders = {
        {QStringLiteral("aac"), {QStringLiteral("aac")}},
        {QStringLiteral("mp3"), {QStringLiteral("libmp3lame")}},
        {QStringLiteral("mp2"), {QStringLiteral("mp2")}},
        {QStringLiteral("ac3"), {QStringLiteral("ac3")}},
        {QStringLiteral("eac3"), {QStringLiteral("eac3")}},
        {QStringLiteral("opus"), {QStringLiteral("libopus")}},
        {QStringLiteral("vorbis"), {QStringLiteral("libvorbis")}},
        {QStringLiteral("wmav1"), {QStringLiteral("wmav1")}},
        {QStringLiteral("wmav2"), {QStringLiteral("wmav2")}},
        {QStringLiteral("flac"), {QStringLiteral("flac"), false}},
        {QStringLiteral("alac"), {QStringLiteral("alac"), false}},
    };
    return encoders;
}

// What ffmpeg itself would choose for each container.
QString containerDefault(const QString& muxer)
{
    static const QHash<QString, QString> defaults = {
        {QStringLiteral("mp4"), QStringLiteral("aac")},       {QStringLiteral("mov"), QStringLiteral("aac")},
        {QStringLiteral("matroska"), QStringLiteral("libvorbis")}, {QStringLiteral("avi"), QStringLiteral("libmp3lame")},
        {QStringLiteral("asf"), QStringLiteral("wmav2")},     {QStringLiteral("mpeg"), QStringLiteral("mp2")},
    };
    return defaults.value(muxer, QStringLiteral("aac"));
}

QString inputPart(const QString& log)
{
    qsizetype end = log.size();
    for (const QLatin1String marker : {QLatin1String("\nOutput #"), QLatin1String("\nStream mapping:")}) {
        const qsizetype at = log.indexOf(marker);
        if (at >= 0 && at < end)
            end = at;
    }
    return log.left(end);
}

// Seconds of the first packet's pts in the stream's time base, or empty.
QString firstPacketStart(const QString& checksums)
{
    static const QRegularExpression timeBase(QStringLiteral("^#tb 0: (\\d+)/(\\d+)\\s*$"),
                                             QRegularExpression::MultilineOption);
    static const QRegularExpression packet(QStringLiteral("^0,\\s*(-?\\d+),\\s*(-?\\d+),"),
                                           QRegularExpression::MultilineOption);
    const QRegularExpressionMatch base = timeBase.match(checksums);
    const QRegularExpressionMatch first = packet.match(checksums);
    if (!base.hasMatch() || !first.hasMatch())
        return QString();
    const double numerator = base.captured(1).toDouble();
    const double denominator = base.captured(2).toDouble();
    if (denominator <= 0.0)
        return QString();
    return QString::number(first.captured(2).toDouble() * numerator / denominator, 'f', 6);
}

bool isHighResolution(const QString& codec, const QString& details)
{
    if (details.contains(QLatin1String("(24 bit)")))
        return true;
    if (!codec.startsWith(QLatin1String("pcm_")))
        return false;
    static const QRegularExpression narrow(QStringLiteral("^pcm_(s16|u16|s8|u8|alaw|mulaw)"));
    return !narrow.match(codec).hasMatch();
}

} // namespace

SourceSound SourceSound::fromFfmpeg(const QByteArray& log, const QByteArray& firstPacketChecksums)
{
    static const QRegularExpression audioLine(
        QStringLiteral("^\\s*Stream #0:\\d+(?:\\[[^\\]]*\\])?(?:\\((\\w+)\\))?: Audio: ([A-Za-z0-9_]+)([^\\n]*)$"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression bitRate(QStringLiteral(", (\\d+) kb/s"));
    SourceSound sound;
    const QRegularExpressionMatch line = audioLine.match(inputPart(QString::fromUtf8(log)));
    if (line.hasMatch()) {
        sound.codec = line.captured(2);
        if (line.captured(1) != QLatin1String("und"))
            sound.language = line.captured(1);
        const QRegularExpressionMatch rate = bitRate.match(line.captured(3));
        if (rate.hasMatch())
            sound.bitRateKbps = rate.captured(1).toInt();
        sound.highResolution = isHighResolution(sound.codec, line.captured(3));
    }
    sound.startSeconds = firstPacketStart(QString::fromUtf8(firstPacketChecksums));
    return sound;
}

QStringList SourceSound::encodingArguments(const QString& muxer) const
{
    QStringList arguments;
    if (codec.startsWith(QLatin1String("pcm_"))) {
        arguments << QStringLiteral("-c:a:0") << codec;
    } else if (knownEncoders().contains(codec)) {
        const Encoder& encoder = knownEncoders()[codec];
        arguments << QStringLiteral("-c:a:0") << encoder.name;
        if (encoder.lossy && bitRateKbps > 0)
            arguments << QStringLiteral("-b:a:0") << QStringLiteral("%1k").arg(bitRateKbps);
    } else {
        arguments << QStringLiteral("-c:a:0") << containerDefault(muxer);
    }
    if (!language.isEmpty())
        arguments << QStringLiteral("-metadata:s:a:0") << QStringLiteral("language=") + language;
    return arguments;
}
