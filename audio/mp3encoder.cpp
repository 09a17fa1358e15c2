#include "audio/mp3encoder.h"

#include "audio/audiolibrary.h"
#include "audio/outputclaims.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <iostream>
#include <vector>

namespace {

constexpr qint64 kPullBytes = 20000;

QString reasonOf(audiolib::ErrorCode code)
{
    return QString::fromLatin1(audiolib::errorText(code));
}

} // namespace

mp3Encoder::mp3Encoder()
    : m_stream(std::make_unique<audiolib::DecodeStream>())
{
}

mp3Encoder::~mp3Encoder()
{
    cancel();
    outputclaims::release(m_outputFile);
}

void mp3Encoder::setInputFile(const QString& path)
{
    m_inputFile = QDir::toNativeSeparators(path);
}

void mp3Encoder::setOutputFile(const QString& path)
{
    outputclaims::release(m_outputFile);
    m_outputFile = outputclaims::claim(path);
}

QString mp3Encoder::inputFile() const
{
    return m_inputFile;
}

QString mp3Encoder::outputFile() const
{
    return m_outputFile;
}

QString mp3Encoder::partialFileName(const QString& outputFile)
{
    return outputFile + QStringLiteral(".part");
}

bool mp3Encoder::start()
{
    if (m_worker.joinable())
        return false;
    m_finished = false;
    m_succeeded = false;
    m_cancelRequested = false;
    m_worker = std::thread(&mp3Encoder::work, this, m_inputFile, m_outputFile);
    return true;
}

QString mp3Encoder::openStreams(const QString& input, const QString& partial)
{
    if (m_outputFile.isEmpty())
        return QStringLiteral("no free name for the MP3");
    if (!m_stream->open(QDir::fromNativeSeparators(input).toUtf8(), audiolib::DecodeStream::Samples::Native)) {
        std::cerr << "Error creating stream from file: " << audiolib::lastErrorCode() << std::endl;
        return QStringLiteral("cannot open the source: ") + reasonOf(audiolib::lastError());
    }
    if (!m_stream->startMp3Writer(partial.toUtf8(), m_settings.toLatin1())) {
        const audiolib::ErrorCode code = audiolib::lastError();
        std::cerr << "Error starting MP3 encoder: " << int(code) << std::endl;
        m_stream->close();
        QFile::remove(partial);
        return QStringLiteral("cannot start the MP3 encoder: ") + reasonOf(code);
    }
    return QString();
}

void mp3Encoder::setFailureReason(const QString& reason)
{
    const QMutexLocker locker(&m_reasonLock);
    m_failureReason = reason;
}

void mp3Encoder::work(const QString& input, const QString& output)
{
    const QString notStarted = openStreams(input, partialFileName(QDir::fromNativeSeparators(output)));
    if (!notStarted.isEmpty()) {
        setFailureReason(notStarted);
        end(false);
        return;
    }
    m_state = Encoding;
    const qint64 length = m_stream->lengthBytes();
    std::vector<char> block(kPullBytes);
    qint64 got = 0;
    while (!m_cancelRequested) {
        m_progress = float(double(m_stream->positionBytes()) / double(length + 1));
        got = m_stream->read(block.data(), kPullBytes);
        if (got <= 0)
            break;
    }
    const QString reason = finishOutput(output, got < 0);
    setFailureReason(reason);
    const bool complete = reason.isEmpty() && !m_cancelRequested;
    m_succeeded = complete;
    if (complete)
        requestSourceDeletion(input);
    end(m_cancelRequested);
}

void mp3Encoder::end(bool cancelled)
{
    if (!cancelled) {
        m_state = Done;
        if (pendingEncodings)
            --*pendingEncodings;
    }
    // Last: an owner that sees the encoder finished may destroy it at once.
    m_finished = true;
}

QString mp3Encoder::finishOutput(const QString& output, bool readFailed)
{
    const audiolib::ErrorCode readError = audiolib::lastError();
    const bool written = m_stream->stopWriter();
    const audiolib::ErrorCode writeError = audiolib::lastError();
    m_stream->close();
    const QString target = QDir::fromNativeSeparators(output);
    const QString partial = partialFileName(target);
    QString reason;
    if (readFailed)
        reason = reasonOf(readError);
    else if (!written)
        reason = reasonOf(writeError);
    if (reason.isEmpty() && !m_cancelRequested) {
        QFile::remove(target);
        if (QFile::rename(partial, target))
            return QString();
        reason = QStringLiteral("cannot rename the MP3 to its final name");
    }
    QFile::remove(partial);
    return reason;
}

void mp3Encoder::requestSourceDeletion(const QString& input)
{
    if (!deleteInputWhenDone || deleteRequests == nullptr || deleteRequestsLock == nullptr)
        return;
    const QMutexLocker locker(deleteRequestsLock);
    deleteRequests->append(input);
    qDebug().noquote() << "Delete Request added: " + input;
}

bool mp3Encoder::cancel()
{
    if (!m_worker.joinable())
        return false;
    m_cancelRequested = true;
    m_worker.join();
    m_worker = std::thread();
    if (m_state.load() != Done)
        m_state = Cancelled;
    return true;
}

void mp3Encoder::setSettings(const QString& settings)
{
    static const QRegularExpression pattern(QStringLiteral("^\\-b(32|64|96|128|160|192|224|256|320)$"));
    if (!pattern.match(settings).hasMatch()) {
        qDebug() << "Invalid encoder settings. Only '-b' followed by a bitrate between 32 and 320 is allowed.";
        return;
    }
    m_settings = settings;
    qDebug() << "Encoder settings updated to:" << settings;
}

QString mp3Encoder::settings() const
{
    return m_settings;
}

QString mp3Encoder::failureReason() const
{
    const QMutexLocker locker(&m_reasonLock);
    return m_failureReason;
}

QString mp3Encoder::statusText() const
{
    QString text = QStringLiteral("MP3: ") + QFileInfo(QDir::fromNativeSeparators(m_outputFile)).fileName()
        + QStringLiteral(": ");
    switch (m_state.load()) {
    case Waiting:
        return text + QStringLiteral("Waiting");
    case Encoding:
        return text + QStringLiteral("Encoding: ") + QString::number(double(m_progress.load()), 'f', 2);
    case Cancelled:
        return text + QStringLiteral("Cancelled");
    default:
        break;
    }
    const QString reason = failureReason();
    return text + (reason.isEmpty() ? QStringLiteral("Finished") : QStringLiteral("Failed: ") + reason);
}
