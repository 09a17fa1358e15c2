#include "headless/headlessfrontend.h"

#include "audio/audioencoderparent.h"
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

} // namespace

// Control characters of a name are written as \n, \t and \xHH, so that no
// name can split an event line or forge one.
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

void HeadlessFrontEnd::notify(const QString& title, const QString& message)
{
    // Each queued file has its own line already.
    if (title == QLatin1String("Added to queue:"))
        return;
    log(title + QStringLiteral(": ") + oneLine(message));
}

void HeadlessFrontEnd::reportRefusals(const QString& errors)
{
    // "\nFile: <source>\n- <reason>" per file.
    const QStringList parts = errors.split(QStringLiteral("\nFile: "), Qt::SkipEmptyParts);
    for (const QString& part : parts)
        log(QStringLiteral("Refused: ") + oneLine(QString(part).replace(QStringLiteral("\n- "), QStringLiteral(": "))));
}

bool HeadlessFrontEnd::queueVideoSounds(const QList<QUrl>&, const QList<QUrl>&)
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

void HeadlessFrontEnd::fileChanged(const QueueFile& file, int previousState)
{
    const auto state = file.getState();
    if (previousState < 0)
        log(QStringLiteral("Queued: ") + sourceOf(file));
    if (state == QueueFileState::Done) {
        QStringList results;
        if (!file.destFile.isEmpty())
            results << QString::fromUtf8(file.destFile);
        for (const QByteArray& output : file.outputFiles)
            results << QString::fromUtf8(output);
        log(QStringLiteral("Done: ") + sourceOf(file) + QStringLiteral(" -> ") + results.join(QStringLiteral(", ")));
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
