#include "driver/localsteps.h"

#include "driver/outputregistry.h"
#include "audio/postprocessing.h"
#include "audio/preprocessing.h"
#include "pipeline/queuefile.h"
#include "settings/naming.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <filesystem>

namespace {

constexpr int kKeepProcessedCopy = 2;      // bit: keep the pre-processed file under a new name
constexpr int kDeleteCopyAfterUpload = 6;  // keep it only until the upload is done

QString text(const QByteArray& utf8)
{
    return QString::fromUtf8(utf8);
}

QByteArray nativeUtf8(const QString& path)
{
    return QDir::toNativeSeparators(path).toUtf8();
}

bool hasNonEmptyLine(const QString& lines)
{
    for (const QString& line : lines.split(QLatin1Char('\n'))) {
        if (!line.isEmpty())
            return true;
    }
    return false;
}

// Moves `from` onto `to`, replacing `to` in one step: at every moment one
// of the two files holds complete audio under the target's name.
bool replaceFile(const QString& from, const QString& to)
{
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()), std::filesystem::path(to.toStdU16String()),
                            error);
    return !error;
}

void failPreProcessing(QueueFile& file, const QString& reason)
{
    file.preProcessingStatus = PreProcessingStatus::Failed;
    file.setErrorMessage(QByteArrayLiteral("Error pre processing: ") + reason.toUtf8());
}

// One call of a local step on the file's job: the first call starts it,
// later ones show its status while it runs. Once it has finished (also in
// the call that started it: nothing to run), `finish` adopts its results
// and the job is dropped; true then. A job that cannot start ends its step
// in `start`.
template <typename Job, typename Start, typename Finish>
bool followJob(QueueFile& file, std::unique_ptr<Job>& job, Start start, Finish finish)
{
    if (!job) {
        start();
        if (!job || !job->isFinished())
            return false;
    } else if (!job->isFinished()) {
        file.setDetails(job->statusText().toUtf8());
        return false;
    }
    finish();
    job.reset();
    return true;
}

} // namespace

struct LocalSteps::JobEnded {
    QMutex lock;
    std::function<void()> call;
};

LocalSteps::LocalSteps(const OutputRegistry& registry)
    : m_registry(registry), m_jobEnded(std::make_shared<JobEnded>())
{
}

LocalSteps::~LocalSteps()
{
    setOnJobEnded(nullptr);
}

void LocalSteps::setOnJobEnded(std::function<void()> ended)
{
    const QMutexLocker lock(&m_jobEnded->lock);
    m_jobEnded->call = std::move(ended);
}

template <typename Job>
void LocalSteps::announceEnd(Job& job) const
{
    job.setOnFinished([ended = m_jobEnded] {
        const QMutexLocker lock(&ended->lock);
        if (ended->call)
            ended->call();
    });
}

bool LocalSteps::runSteps(const QList<QueueFile*>& files)
{
    sweepAbandoned();
    bool finished = false;
    for (QueueFile* file : files) {
        if (file->getState() == QueueFileState::PostProcessing && !file->postProcessingDone()) {
            postProcessStep(*file);
            finished = finished || file->postProcessingDone();
        }
        if (file->getState() == QueueFileState::PreProcessing && !file->preProcessingDone()) {
            preProcessStep(*file);
            finished = finished || file->preProcessingDone();
        }
    }
    return finished;
}

void LocalSteps::abandonJobs(QueueFile& file)
{
    if (file.preProcessor) {
        file.preProcessor->stop();
        m_abandonedPre.push_back(std::move(file.preProcessor));
    }
    if (file.postProcessor) {
        file.postProcessor->stop();
        m_abandonedPost.push_back(std::move(file.postProcessor));
    }
}

void LocalSteps::sweepAbandoned()
{
    auto sweep = [](auto& jobs, auto removeWorkFiles) {
        for (auto job = jobs.begin(); job != jobs.end();) {
            if (!(*job)->isFinished()) {
                ++job;
                continue;
            }
            removeWorkFiles(**job);
            job = jobs.erase(job);
        }
    };
    // A stopped job has removed its work files; one that ended before the
    // stop reached it leaves its results, which nobody takes now.
    sweep(m_abandonedPre, [](const PreProcessing& job) { QFile::remove(job.outputFile()); });
    sweep(m_abandonedPost, [](const PostProcessing& job) {
        for (const QString& output : job.outputFiles())
            QFile::remove(output);
    });
}

// ---- pre-processing ----------------------------------------------------------

void LocalSteps::preProcessStep(QueueFile& file) const
{
    if (file.preProcessingDone())
        return;
    if (!file.preProcessor && file.resumePreProcessed.exchange(false)) {
        file.markPreProcessingDone();
        return;
    }
    if (followJob(file, file.preProcessor, [&] { startPreProcessing(file); }, [&] { finishPreProcessing(file); }))
        file.markPreProcessingDone();
}

void LocalSteps::startPreProcessing(QueueFile& file) const
{
    qDebug() << "Pre processing starting at tmr_queue_tick";
    QString arguments = file.options.preProcessing_Arguments;
    if (file.options.monoProcessing_ConvertToDualStereo)
        arguments += QStringLiteral("\nmstOp00");
    const QString output = naming::uniqueFileName(text(file.srcFile) + QStringLiteral(".temp"), true);
    if (output.isEmpty()) {
        failPreProcessing(file, QStringLiteral("cannot create a work file next to ") + text(file.srcFile));
        file.markPreProcessingDone();
        return;
    }
    m_registry.registerOutputInWatchedFolders(output);
    file.preProcessor = std::make_unique<PreProcessing>();
    file.preProcessor->setArguments(arguments);
    file.preProcessor->setInputFile(text(file.srcFile));
    file.preProcessor->setOutputFile(output);
    announceEnd(*file.preProcessor);
    file.preProcessor->start();
    file.setDetails(QByteArrayLiteral("Pre processing started"));
}

void LocalSteps::finishPreProcessing(QueueFile& file) const
{
    PreProcessing& pre = *file.preProcessor;
    const QString output = pre.outputFile();
    if (!pre.succeeded()) {
        // The work file is the client's own; the source is untouched.
        QFile::remove(output);
        failPreProcessing(file, pre.errorMessage());
        return;
    }
    const QFileInfo result(output);
    if (result.exists()) {
        file.preProcessingOperations = pre.operationsDone();
        if (result.size() <= 0)
            QFile::remove(output);
        else if (!adoptPreProcessedFile(file))
            return;
    }
    if (file.options.cleanUpIntermediate && hasNonEmptyLine(file.options.postProcessing_Arguments))
        file.setDestFile(naming::withExtension(text(file.destFile), QStringLiteral("tmp")).toUtf8());
    file.convertedToStereo = pre.stereoConversions() > 0;
}

bool LocalSteps::adoptPreProcessedFile(QueueFile& file) const
{
    PreProcessing& pre = *file.preProcessor;
    const QString output = pre.outputFile();
    const QString suffix = pre.fileNameSuffix();
    const int resultMode = file.options.preProcessing_Result;
    const bool keepOriginal = resultMode & kKeepProcessedCopy;

    QString target;
    if (keepOriginal) {
        const QFileInfo input(pre.inputFile());
        target = naming::uniqueFileName(input.absolutePath() + QLatin1Char('/') + input.completeBaseName() + suffix
                                            + QStringLiteral(".wav"),
                                        false);
    } else {
        // "Replace original file": the processed copy takes the source's name.
        target = pre.inputFile();
    }
    if (target.isEmpty()) {
        QFile::remove(output);
        failPreProcessing(file, QStringLiteral("no free file name next to ") + pre.inputFile());
        return false;
    }
    m_registry.registerOutputInWatchedFolders(target);
    const bool moved = keepOriginal ? QFile::rename(output, target) : replaceFile(output, target);
    if (!moved) {
        QFile::remove(output);
        failPreProcessing(file, QStringLiteral("cannot move the processed file to ") + target);
        return false;
    }
    file.deleteAfterSubmission = keepOriginal && resultMode == kDeleteCopyAfterUpload;
    file.setSrcFile(nativeUtf8(target));

    const QString destination = naming::uniqueFileName(naming::pathWithSuffix(text(file.destFile), suffix), false);
    if (!destination.isEmpty()) {
        file.setDestFile(nativeUtf8(destination));
        m_registry.registerOutputInWatchedFolders(destination);
    }
    return true;
}

void LocalSteps::removeUploadedCopy(QueueFile& file)
{
    const bool unwanted = file.deleteAfterSubmission || (file.convertedToStereo && file.preProcessingOperations == 1);
    if (!unwanted || naming::isSamePath(text(file.srcFile), text(file.originalSourceFile)))
        return;
    QFile::remove(text(file.srcFile));
}

void LocalSteps::resetForResubmit(QueueFile& file)
{
    file.preProcessor.reset();
    file.postProcessor.reset();
    file.preProcessingStatus = PreProcessingStatus::Reset;
    file.lostUploadAnswers = 0;
    file.notBeforeMs = 0;
}

// ---- post-processing -------------------------------------------------------------

void LocalSteps::postProcessStep(QueueFile& file) const
{
    if (file.postProcessingDone())
        return;
    if (followJob(file, file.postProcessor, [&] { startPostProcessing(file); }, [&] { finishPostProcessing(file); }))
        file.markPostProcessingDone();
}

void LocalSteps::startPostProcessing(QueueFile& file) const
{
    qDebug() << "Post processing starting at tmr_queue_tick";
    file.adoptResultPath();
    file.postProcessor = std::make_unique<PostProcessing>();
    file.postProcessor->setInputFile(text(file.destFile));
    file.postProcessor->setArguments(file.options.postProcessing_Arguments);
    file.postProcessor->setTruePeakCeiling(file.options.truePeakCeiling);
    if (file.convertedToStereo) {
        file.postProcessor->setConvertToMono(true);
        file.postProcessor->setKeepStereo(file.options.monoProcessing_KeepConverted);
    }
    announceEnd(*file.postProcessor);
    file.postProcessor->start();
    file.setDetails(QByteArrayLiteral("Post processing started"));
}

void LocalSteps::finishPostProcessing(QueueFile& file) const
{
    PostProcessing& post = *file.postProcessor;
    file.outputFiles.clear();
    QStringList unmoved;
    for (const QString& output : post.outputFiles()) {
        const QString name = naming::uniqueFileName(output.left(output.size() - 3) + QStringLiteral("wav"), false);
        if (!name.isEmpty())
            m_registry.registerOutputInWatchedFolders(name);
        if (!name.isEmpty() && QFile::rename(output, name))
            file.outputFiles.append(nativeUtf8(name));
        else
            unmoved << output;
    }
    // Intermediates go only once a final output exists, and never when the
    // intermediate is itself an output that could not be moved.
    auto removeIntermediate = [&unmoved](const QString& path) {
        if (!unmoved.contains(path))
            QFile::remove(path);
    };
    if (file.options.cleanUpIntermediate) {
        if (!file.outputFiles.isEmpty() && !unmoved.contains(text(file.destFile))) {
            QFile::remove(text(file.destFile));
            file.setDestFile(QByteArray());
        }
        if (post.convertedToMono())
            removeIntermediate(post.monoFile());
    }
    // An output that stays away from its target says so on the file's line.
    if (!post.notes().isEmpty())
        file.setDetails(post.notes().toUtf8());
    // A result that could not be post-processed ends the file in Error; the
    // downloaded result stays where it is and the file may be submitted again.
    if (!post.failureText().isEmpty()) {
        file.setErrorMessage(QByteArrayLiteral("Error post processing: ") + post.failureText().trimmed().toUtf8());
        file.setRetryable(true);
        file.setState(QueueFileState::Error);
    }
}
