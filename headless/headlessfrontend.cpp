#include "headless/headlessfrontend.h"

#include "audio/mp3encoder.h"
#include "driver/resultencoding.h"
#include "pipeline/queuefile.h"
#include "video/videofile.h"

#include <QStringList>

#include <iostream>

namespace {

QString sourceOf(const QueueFile& file)
{
    const QByteArray original = file.originalSourceFile.isEmpty() ? file.srcFile : file.originalSourceFile;
    return QString::fromUtf8(original);
}

// Several lines of a message on one log line.
QString oneLine(const QString& text)
{
    QStringList parts = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& part : parts)
        part = part.trimmed();
    return parts.join(QStringLiteral("; "));
}

// A result that its MP3 replaces is named by its MP3.
QStringList resultsOf(const QueueFile& file)
{
    QStringList results = resultFiles(file);
    const ProcessingOptions& options = file.options;
    if (options.fromWatchFolder && options.encodeToMP3 && options.deleteWAVafterMP3Encoding) {
        for (QString& result : results)
            result = mp3NameFor(result, options.encodeToMP3_suffix, options.preset);
    }
    return results;
}

} // namespace

void HeadlessFrontEnd::log(const QString& line)
{
    QString shown;
    for (const QChar c : line) {
        if (c == QLatin1Char('\n'))
            shown += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            shown += QStringLiteral("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    std::cout << shown.toLocal8Bit().constData() << std::endl;
}

void HeadlessFrontEnd::filesRefused(const QList<Refusal>& refusals)
{
    for (const Refusal& refusal : refusals)
        log(QStringLiteral("Refused: ") + refusal.source + QStringLiteral(": ") + oneLine(QString::fromUtf8(refusal.text)));
}

void HeadlessFrontEnd::filesReady(ReadyFiles kind, int processed, int errors)
{
    QStringList counts;
    if (processed != 0)
        counts << QStringLiteral("Files processed: ") + QString::number(processed);
    if (errors != 0)
        counts << QStringLiteral("Errors: ") + QString::number(errors);
    log((kind == ReadyFiles::Audio ? QStringLiteral("Audio") : QStringLiteral("Video"))
        + QStringLiteral(" files ready: ") + counts.join(QStringLiteral("; ")));
}

bool HeadlessFrontEnd::chooseVideoSounds(QList<FileRequest>&, const QStringList&)
{
    // Only a dropped video's sound comes here, and nothing is dropped here.
    return false;
}

void HeadlessFrontEnd::showVideo(const videoFile& record)
{
    const int previous = m_videoStates.value(record.id, 0);
    m_videoStates.insert(record.id, record.state);
    if (previous == record.state)
        return;
    if (previous == 0)
        log(QStringLiteral("Video queued: ") + record.sourceVideo);
    if (record.state == videoFile::Finished)
        log(QStringLiteral("Video done: ") + record.sourceVideo + QStringLiteral(" -> ") + record.outputVideo);
    else if (record.failed())
        log(QStringLiteral("Video error: ") + record.sourceVideo + QStringLiteral(": ") + record.failureReason);
}

void HeadlessFrontEnd::showMp3Job(audioEncoderParent* encoder)
{
    log(QStringLiteral("MP3 started: ") + encoder->outputFile());
}

void HeadlessFrontEnd::mp3Ended(const mp3Encoder& encoder)
{
    if (encoder.succeeded())
        log(QStringLiteral("MP3 done: ") + encoder.outputFile());
    else
        log(QStringLiteral("MP3 failed: ") + encoder.outputFile() + QStringLiteral(": ") + oneLine(encoder.failureReason()));
}

void HeadlessFrontEnd::fileChanged(const QueueFile& file, int previousState)
{
    if (previousState == kRestored)
        return;
    const auto state = file.getState();
    if (previousState < 0)
        log(QStringLiteral("Queued: ") + sourceOf(file));
    if (state == QueueFileState::Done) {
        log(QStringLiteral("Done: ") + sourceOf(file) + QStringLiteral(" -> ") + resultsOf(file).join(QStringLiteral(", ")));
    } else if (state == QueueFileState::Error) {
        log(QStringLiteral("Error: ") + sourceOf(file) + QStringLiteral(": ")
            + oneLine(QString::fromUtf8(file.errorMessage())));
    }
}

void HeadlessFrontEnd::fileUploaded(const QueueFile& file, int jobId)
{
    log(QStringLiteral("Uploaded: ") + sourceOf(file) + QStringLiteral(" (job ") + QString::number(jobId)
        + QLatin1Char(')'));
}

void HeadlessFrontEnd::fileRetrying(const QueueFile& file, const QString& reason, int seconds)
{
    log(QStringLiteral("Retrying: ") + sourceOf(file) + QStringLiteral(": ") + oneLine(reason) + QStringLiteral(" (in ")
        + QString::number(seconds) + QStringLiteral(" s)"));
}

void HeadlessFrontEnd::loginPaused(int seconds)
{
    log(QStringLiteral("Log-ins paused: the service refuses the new log-ins; the next in ") + QString::number(seconds)
        + QStringLiteral(" s"));
}
