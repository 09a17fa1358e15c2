#include "driver/resultencoding.h"

#include "audio/mp3encoder.h"
#include "driver/deleterequests.h"
#include "pipeline/queuefile.h"
#include "settings/naming.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

QString mp3NameFor(const QString& result, const QString& suffix, const QString& preset)
{
    const QFileInfo info(result);
    const QString name = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + suffix + QStringLiteral(".mp3");
    return QDir::toNativeSeparators(naming::expandNameTemplateInPath(name, preset));
}

QStringList resultFiles(const QueueFile& file)
{
    QStringList results;
    if (!file.destFile.isEmpty())
        results << QString::fromUtf8(file.destFile);
    for (const QByteArray& output : file.outputFiles)
        results << QString::fromUtf8(output);
    return results;
}

ResultEncoding::ResultEncoding(DeleteRequests& deleteRequests, Started started)
    : m_deleteRequests(deleteRequests), m_started(std::move(started))
{
}

ResultEncoding::~ResultEncoding() = default;

void ResultEncoding::encodeResults(const QueueFile& file)
{
    const ProcessingOptions& options = file.options;
    if (!options.fromWatchFolder || !options.encodeToMP3)
        return;
    const QStringList results = resultFiles(file);
    for (const QString& result : results) {
        qDebug() << "To encoder" << result << options.watchFolderPath;
        auto encoder = std::make_unique<mp3Encoder>();
        encoder->deleteRequests = &m_deleteRequests.paths;
        encoder->deleteRequestsLock = &m_deleteRequests.lock;
        encoder->deleteInputWhenDone = options.deleteWAVafterMP3Encoding;
        encoder->setInputFile(result);
        encoder->setOutputFile(mp3NameFor(result, options.encodeToMP3_suffix, options.preset));
        encoder->setSettings(QStringLiteral("-b") + options.encodeToMP3_bitRate);
        encoder->pendingEncodings = file.pendingMp3s;
        ++*file.pendingMp3s;
        mp3Encoder* started = encoder.get();
        m_jobs.push_back({std::move(encoder)});
        if (m_started)
            m_started(started);
        started->start();
    }
}

audioEncoderParent* ResultEncoding::at(int index) const
{
    return m_jobs.at(size_t(index)).encoder.get();
}

void ResultEncoding::reportEnded(const Ended& ended)
{
    for (Job& job : m_jobs) {
        if (job.told || !job.encoder->isFinished() || job.encoder->state() != mp3Encoder::Done)
            continue;
        job.told = true;
        ended(*job.encoder);
    }
}

void ResultEncoding::clearFinished(const std::function<void(const audioEncoderParent*)>& forget)
{
    for (auto job = m_jobs.begin(); job != m_jobs.end();) {
        if (!job->encoder->isFinished()) {
            ++job;
            continue;
        }
        forget(job->encoder.get());
        job = m_jobs.erase(job);
    }
}
