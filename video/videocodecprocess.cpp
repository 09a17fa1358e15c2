#include "video/videocodecprocess.h"

#include "video/ffmpegtool.h"

#include <QDebug>
#include <QFileInfo>
#include <QHash>

#include <stdexcept>

namespace {

constexpr int kStartTimeoutMs = 30000;
constexpr qsizetype kKeptOutputBytes = 64 * 1024;
constexpr qsizetype kKeptHeadBytes = 32 * 1024;

void appendKeepingTail(QByteArray& buffer, const QByteArray& data)
{
    buffer += data;
    if (buffer.size() > kKeptOutputBytes)
        buffer.remove(0, buffer.size() - kKeptOutputBytes);
}

} // namespace

videoCodec_Process::videoCodec_Process(QObject* parent) : QObject(parent) {}

videoCodec_Process::~videoCodec_Process()
{
    if (process)
        process->disconnect(this);
    if (m_probe)
        m_probe->disconnect(this);
}

QStringList videoCodec_Process::decoderArguments(const QString& inputVideo, const QString& outputWav,
                                                 bool highResolution)
{
    return {QStringLiteral("-i"), inputVideo, QStringLiteral("-nostdin"), QStringLiteral("-map"), QStringLiteral("0:a:0"),
            QStringLiteral("-vn"), QStringLiteral("-c:a"),
            highResolution ? QStringLiteral("pcm_s24le") : QStringLiteral("pcm_s16le"), outputWav,
            QStringLiteral("-map"), QStringLiteral("0:a:0"), QStringLiteral("-c"), QStringLiteral("copy"),
            QStringLiteral("-frames:a"), QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("framemd5"),
            startChecksumsName(outputWav)};
}

QString videoCodec_Process::startChecksumsName(const QString& outputWav)
{
    return outputWav + QStringLiteral(".start");
}

QStringList videoCodec_Process::encoderArguments(const QString& inputVideo, const QString& inputAudio,
                                                 const QString& outputVideo, const SourceSound& sound)
{
    QStringList arguments{QStringLiteral("-i"), inputVideo};
    if (!sound.startSeconds.isEmpty())
        arguments << QStringLiteral("-itsoffset") << sound.startSeconds;
    arguments << QStringLiteral("-i") << inputAudio << QStringLiteral("-y") << QStringLiteral("-nostdin");
    // Pictures, then the processed sound in the first sound track's place,
    // then the source's other sound tracks, subtitles and attachments.
    for (const char* map : {"0:v?", "1:a:0", "0:a?", "-0:a:0", "0:s?", "0:t?"})
        arguments << QStringLiteral("-map") << QLatin1String(map);
    const QString muxer = muxerFor(outputVideo);
    arguments << QStringLiteral("-c") << QStringLiteral("copy") << sound.encodingArguments(muxer)
              << QStringLiteral("-map_chapters") << QStringLiteral("0");
    // AVI and ASF keep no negative timestamps: ffmpeg would shift the whole
    // file by the new sound's encoder delay, and the pictures would come
    // one frame late.
    if (muxer == QLatin1String("avi") || muxer == QLatin1String("asf"))
        arguments << QStringLiteral("-avoid_negative_ts") << QStringLiteral("disabled");
    if (!muxer.isEmpty())
        arguments << QStringLiteral("-f") << muxer;
    return arguments << partialVideoName(outputVideo);
}

QString videoCodec_Process::partialVideoName(const QString& outputVideo)
{
    return outputVideo + QStringLiteral(".part");
}

QString videoCodec_Process::muxerFor(const QString& videoPath)
{
    static const QHash<QString, QString> muxers = {
        {QStringLiteral("mp4"), QStringLiteral("mp4")},   {QStringLiteral("mov"), QStringLiteral("mov")},
        {QStringLiteral("mkv"), QStringLiteral("matroska")}, {QStringLiteral("avi"), QStringLiteral("avi")},
        {QStringLiteral("wmv"), QStringLiteral("asf")},   {QStringLiteral("mpg"), QStringLiteral("mpeg")},
        {QStringLiteral("mpeg"), QStringLiteral("mpeg")},
    };
    return muxers.value(QFileInfo(videoPath).suffix().toLower());
}

bool videoCodec_Process::init_Decoder(int jobId, const QString& inputVideo, const QString& outputWav)
{
    id = jobId;
    if (process || m_probe)
        throw std::runtime_error("init_Decoder::process pointer is not empty");
    mode = 1;
    finished = false;
    m_decoderInput = inputVideo;
    m_decoderOutput = outputWav;
    // ffmpeg describes the input and stops (it has no output to write); the
    // description tells the sound's resolution before the extraction starts.
    m_probe = std::make_unique<QProcess>();
    connect(m_probe.get(), &QProcess::finished, this, &videoCodec_Process::probeFinished);
    m_probe->setProcessChannelMode(QProcess::SeparateChannels);
    m_probe->start(ffmpegtool::programIn(ffmpegtool::ffmpegFolder()),
                   {QStringLiteral("-nostdin"), QStringLiteral("-i"), inputVideo}, QIODevice::ReadOnly);
    return m_probe->waitForStarted(kStartTimeoutMs);
}

void videoCodec_Process::probeFinished()
{
    m_stdErrHead = m_probe->readAllStandardError().left(kKeptHeadBytes);
    m_probe->readAllStandardOutput();
    const bool highResolution = SourceSound::fromFfmpeg(m_stdErrHead, QByteArray()).highResolution;
    if (!launch(decoderArguments(m_decoderInput, m_decoderOutput, highResolution))) {
        exitCode = -1;
        finished = true;
    }
}

bool videoCodec_Process::init_Encoder(int jobId, const QString& inputVideo, const QString& inputAudio,
                                      const QString& outputVideo, const SourceSound& sound)
{
    return start(jobId, 2, encoderArguments(inputVideo, inputAudio, outputVideo, sound),
                 "init_Encoder::process pointer is not empty");
}

bool videoCodec_Process::start(int jobId, int jobMode, const QStringList& arguments, const char* misuseText)
{
    id = jobId;
    if (process || m_probe)
        throw std::runtime_error(misuseText);
    mode = jobMode;
    finished = false;
    return launch(arguments);
}

bool videoCodec_Process::launch(const QStringList& arguments)
{
    process = std::make_unique<QProcess>();
    connect(process.get(), &QProcess::finished, this, &videoCodec_Process::processFinished);
    connect(process.get(), &QProcess::readyReadStandardOutput, this, &videoCodec_Process::readStandardOutput);
    connect(process.get(), &QProcess::readyReadStandardError, this, &videoCodec_Process::readStandardError);

    const QString program = ffmpegtool::programIn(ffmpegtool::ffmpegFolder());
    qDebug().noquote() << program << arguments.join(QLatin1Char(' '));
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->start(program, arguments, QIODevice::ReadWrite);
    return process->waitForStarted(kStartTimeoutMs);
}

int videoCodec_Process::getJobStatus()
{
    if (!process && !m_probe)
        return 0;
    if (!process)
        return finished ? 3 : 1;
    readStandardOutput();
    qDebug().noquote() << "getJobStatus std read" << QString::fromLocal8Bit(m_stdOutUnread);
    m_stdOutUnread.clear();
    if (!finished)
        return 1;
    return exitCode == 0 && !m_crashed ? 2 : 3;
}

void videoCodec_Process::processFinished(int code, QProcess::ExitStatus exitStatus)
{
    readStandardError();
    qDebug().noquote() << "Process finished with exit code" << code << "and exit status"
                       << (exitStatus == QProcess::NormalExit ? "NormalExit" : "CrashExit");
    qDebug().noquote() << "StdERR" << QString::fromLocal8Bit(m_stdErr) << "length" << m_stdErr.size();
    // A crash is a failure even where the system reports exit code 0.
    m_crashed = exitStatus == QProcess::CrashExit;
    exitCode = code;
    finished = true;
}

void videoCodec_Process::readStandardOutput()
{
    if (process)
        appendKeepingTail(m_stdOutUnread, process->readAllStandardOutput());
}

void videoCodec_Process::readStandardError()
{
    if (!process)
        return;
    const QByteArray data = process->readAllStandardError();
    if (m_stdErrHead.size() < kKeptHeadBytes)
        m_stdErrHead += data.left(kKeptHeadBytes - m_stdErrHead.size());
    appendKeepingTail(m_stdErr, data);
}
