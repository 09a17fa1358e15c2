#include "pipeline/queuerestorer.h"

#include "pipeline/queuemanager.h"
#include "settings/platform.h"
#include "settings/settings.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <memory>

namespace queuerestorer {

namespace {

bool exists(const QByteArray& path)
{
    return !path.isEmpty() && QFileInfo::exists(QString::fromUtf8(path));
}

std::unique_ptr<QueueFile> recordOf(const StoredFile& stored)
{
    auto file = std::make_unique<QueueFile>(stored.presetName);
    file->srcFile = stored.srcFile;
    file->destFile = stored.destFile;
    file->setOriginalSourceFile(stored.originalSourceFile);
    file->priority = stored.priority;
    file->options = stored.options;
    file->watchFolder = stored.watchFolder;
    file->outputFiles = stored.outputFiles;
    file->convertedToStereo = stored.convertedToStereo;
    file->preProcessingStatus = stored.preProcessingStatus;
    file->deleteAfterSubmission = stored.deleteAfterSubmission;
    file->preProcessingOperations = stored.preProcessingOperations;
    file->setErrorMessage(stored.errorMessage);
    file->setRetryable(stored.retryable);
    file->setState(stored.state);
    return file;
}

// Back to the start of the local steps, from the file the user queued.
void removePartFiles(const QString& destination)
{
    if (destination.isEmpty())
        return;
    const QFileInfo target(destination);
    QDir folder = target.absoluteDir();
    const QStringList parts = folder.entryList({QLatin1Char('.') + target.fileName() + QStringLiteral(".*.part")},
                                               QDir::Files | QDir::Hidden);
    for (const QString& part : parts)
        folder.remove(part);
}

void startAgain(QueueFile& file)
{
    file.srcFile = file.originalSourceFile;
    file.convertedToStereo = false;
    file.preProcessingStatus = PreProcessingStatus::NotRun;
    file.deleteAfterSubmission = false;
    file.preProcessingOperations = 0;
    file.setState(QueueFileState::Waiting);
}

// A result is downloaded under a hidden part name and renamed when complete,
// so a result under the file's destination is whole; part files of a
// download cut off by the end of the client are dropped. The source keeps
// the name it was uploaded under, even when that copy is gone: the job is
// checked against it (the queue manager uploads the original if the service
// has forgotten the job).
void resumeSubmitted(QueueFile& file, int jobId)
{
    file.resumeJobId = jobId;
    file.resumeFromResult = exists(file.destFile);
    removePartFiles(QString::fromUtf8(file.destFile));
    file.setState(QueueFileState::Waiting);
}

// Pre-processing had finished: the file waits to be uploaded as it made it,
// without a second run that would process its output again and add the
// destination's suffix twice.
void resumePreProcessed(QueueFile& file)
{
    if (!exists(file.srcFile)) {
        startAgain(file);
        return;
    }
    file.resumePreProcessed = true;
    file.setState(QueueFileState::Waiting);
}

// The work file of a pre-processing cut off by the end of the client, which
// the client made next to the source ("<source>.temp", numbered if taken).
void removeWorkFile(const StoredFile& stored)
{
    const QString work = QString::fromUtf8(stored.workFile);
    const QString source = QString::fromUtf8(stored.srcFile);
    if (!source.isEmpty() && work.startsWith(source + QStringLiteral(".temp")) && QFileInfo(work).isFile())
        QFile::remove(work);
}

void failMissingSource(QueueFile& file)
{
    file.setErrorMessage("Source file no longer exists");
    file.setRetryable(false);
    file.setState(QueueFileState::Error);
}

// Puts the record into the state it resumes from.
void prepare(QueueFile& file, const StoredFile& stored)
{
    file.setResumeJobCreated(stored.jobCreated);
    switch (stored.state) {
    case QueueFileState::Waiting:
    case QueueFileState::Paused:
        // Saved again after an earlier restart, before it was taken up.
        if (stored.jobId > 0) {
            resumeSubmitted(file, stored.jobId);
            file.setState(stored.state);
        } else if (!exists(file.srcFile)) {
            failMissingSource(file);
        }
        file.resumePreProcessed = stored.preProcessed;
        break;
    case QueueFileState::PreProcessing:
        if (stored.preProcessed) {
            resumePreProcessed(file);
        } else {
            removeWorkFile(stored);
            startAgain(file);
        }
        break;
    case QueueFileState::Running:
        if (stored.jobId > 0)
            resumeSubmitted(file, stored.jobId);
        else
            resumePreProcessed(file);
        break;
    case QueueFileState::Error:
        // A job that kept failing: submitting the file again polls it first.
        file.resumeJobId = stored.jobId;
        break;
    case QueueFileState::PostProcessing:
        // Post-processing had finished: the file is done, its outputs are
        // there; running it again would make a second set.
        if (stored.postProcessed)
            file.setState(QueueFileState::Done);
        else if (stored.jobId > 0)
            resumeSubmitted(file, stored.jobId);
        else
            startAgain(file);
        break;
    default: break;
    }
    if (file.getState() == QueueFileState::Waiting && file.resumeJobId == 0 && !exists(file.srcFile))
        failMissingSource(file);
}

void noteSeenInWatchedFolder(const QueueFile& file, Settings& settings)
{
    if (!file.options.fromWatchFolder)
        return;
    ScanPath* folder =
        settings.findScanPath(file.options.watchFolderPath, file.options.outputPath, file.options.preset.toUtf8());
    const QString source = QString::fromUtf8(file.originalSourceFile);
    if (!folder || !QFileInfo::exists(source))
        return;
    const QString key = platform::pathKey(source);
    const bool known = std::any_of(folder->scannedFiles.cbegin(), folder->scannedFiles.cend(),
                                   [&key](const ScannedFile& seen) { return platform::pathKey(seen.filePath) == key; });
    if (!known)
        folder->scannedFiles.append({source, QFileInfo(source).size(), ScanPath::fileDigest(source)});
}

} // namespace

int restore(const QList<StoredFile>& files, QueueManager& manager, Settings& settings)
{
    int restored = 0;
    for (const StoredFile& stored : files) {
        if (stored.state == QueueFileState::Done || stored.state == QueueFileState::Canceled)
            continue;
        std::unique_ptr<QueueFile> file = recordOf(stored);
        prepare(*file, stored);
        noteSeenInWatchedFolder(*file, settings);
        manager.restoreFile(std::move(file));
        ++restored;
    }
    if (restored > 0)
        qDebug() << "Restored" << restored << "files of the saved queue";
    return restored;
}

} // namespace queuerestorer
