#include "driver/queuedriver.h"

#include "audio/postprocessing.h"
#include "audio/preprocessing.h"
#include "driver/cyclerunner.h"
#include "driver/errorretries.h"
#include "driver/folderscantick.h"
#include "driver/frontend.h"
#include "driver/localsteps.h"
#include "driver/outputregistry.h"
#include "driver/resultencoding.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuekeeper.h"
#include "pipeline/queuemanager.h"
#include "pipeline/queuerestorer.h"
#include "pipeline/queuestore.h"
#include "pipeline/sessionmanager.h"
#include "settings/naming.h"
#include "settings/settings.h"
#include "settings/settingskeeper.h"
#include "video/ffmpegtool.h"
#include "video/videosupport.h"

#include <QDebug>
#include <QDir>
#include <QTimer>

namespace {

constexpr int kUnseen = -1;

int stateOf(const QueueFile& file)
{
    return static_cast<int>(file.getState());
}

} // namespace

QueueDriver::QueueDriver(Settings& settings, QueueManager& queueManager, FrontEnd& frontEnd)
    : m_settings(settings)
    , m_queueManager(queueManager)
    , m_frontEnd(frontEnd)
    , m_commands(queueManager, [this] { requestCycle(); }, [this](QueueFile& file) { m_localSteps->abandonJobs(file); })
    , m_outputRegistry(std::make_unique<OutputRegistry>(&settings))
    , m_localSteps(std::make_unique<LocalSteps>(*m_outputRegistry))
    , m_mp3Jobs(std::make_unique<ResultEncoding>(
          m_deleteRequests, [this](audioEncoderParent* encoder) { m_frontEnd.showMp3Job(encoder); }))
    , m_videoQueue(std::make_unique<videoSupport>(ffmpegtool::isFfmpegAvailable(), naming::tempWorkFolder()))
{
    m_videoTasks = std::make_unique<VideoTasks>(
        *m_videoQueue, *m_outputRegistry,
        [this](const QList<QUrl>& sounds, const QList<QUrl>& videos) {
            return queueVideoSounds(sounds, videos);
        },
        [this](int processed, int errors) { m_frontEnd.filesReady(ReadyFiles::Video, processed, errors); });
    m_videoTasks->setSoundStateOf([this](const QString& sound) { return soundStateOf(sound); });
    m_videoTasks->setShowRecord([this](const videoFile& record) { m_frontEnd.showVideo(record); });
    // A local step's end is taken up at once, on this thread, as a cycle's end is.
    m_localSteps->setOnJobEnded(
        [this] { QMetaObject::invokeMethod(this, "afterQueueCycle", Qt::QueuedConnection); });
    m_followLater = new QTimer(this);
    m_followLater->setSingleShot(true);
    connect(m_followLater, &QTimer::timeout, this, [this] { followFiles(m_queueManager.snapshot()); });
}

QueueDriver::~QueueDriver()
{
    m_localSteps->setOnJobEnded(nullptr);
    for (QTimer* timer : std::as_const(m_timers))
        timer->stop();
    m_followLater->stop();
    // The queue first: a file it holds is then never missing from it while
    // settings.xml already records the file as seen.
    if (m_queueKeeper)
        m_queueKeeper->saveNow();
    m_queueKeeper.reset();
    // Its last copy is written before the final save below.
    m_settingsKeeper.reset();
    saveSettings();
    qDebug() << "delete video ";
    m_videoTasks.reset();
    m_videoQueue.reset();
    qDebug() << "manager.stop();";
    m_queueManager.setOnDestFileAdded(nullptr);
    m_queueManager.setOnSessionReady(nullptr);
    m_queueManager.stop();
    m_folderScanner.reset();
    m_mp3Jobs.reset();
    m_cycle.reset();
}

void QueueDriver::saveSettings()
{
    const QString folder = naming::appConfigFolder();
    QDir().mkpath(folder);
    m_settings.apiURL = m_queueManager.apiUrl();
    if (!m_settings.save(folder + QStringLiteral("/settings.xml"), true))
        qWarning() << "Error saving settings";
}

void QueueDriver::start()
{
    const OutputRegistry* registry = m_outputRegistry.get();
    m_queueManager.setOnDestFileAdded(
        [registry](const QByteArray& destPath) { registry->queue_newDestFileAdded(destPath); });
    m_queueManager.setCredentials(m_settings.wUsername, m_settings.wPassword);
    QList<StoredRecord> records;
    queuerestorer::restore(queuestore::load(queuestore::defaultPath(), &records), m_queueManager, m_settings);
    // What the last run told of these files is not told again: their state
    // as it was, and the upload of a job they still have.
    for (const QueueFile* file : m_queueManager.snapshot()) {
        m_restoredFiles.insert(file->fileId);
        if (file->resumeJobId.load() > 0)
            m_uploads.insert(file->fileId, file->resumeJobId.load());
    }
    if (m_frontEnd.retriesErrors()) {
        m_errorRetries = std::make_unique<ErrorRetries>(m_commands);
        m_errorRetries->retryAll(m_queueManager.snapshot());
    }
    m_videoTasks->restore(records);
    m_queueKeeper = std::make_unique<QueueKeeper>(m_queueManager, queuestore::defaultPath());
    const VideoTasks* keptVideos = m_videoTasks.get();
    m_queueKeeper->setRecords([keptVideos] { return keptVideos->storedRecords(); });
    m_queueKeeper->start();
    m_settingsKeeper = std::make_unique<SettingsKeeper>(m_settings,
        naming::appConfigFolder() + QStringLiteral("/settings.xml"),
        [this] { m_settings.apiURL = m_queueManager.apiUrl(); });
    m_settingsKeeper->start();

    QueueManager* manager = &m_queueManager;
    m_cycle = std::make_unique<CycleRunner>(
        [manager] {
            try {
                manager->cycle(false, false);
            } catch (const std::exception& error) {
                qWarning() << "Queue cycle failed:" << error.what();
            }
        },
        [this] { QMetaObject::invokeMethod(this, "afterQueueCycle", Qt::QueuedConnection); });

    m_folderScanner = std::make_unique<FolderScanTick>(&m_settings, &m_queueManager, m_frontEnd.newFilesOffer(),
        [this](const QStringList& sources) { m_frontEnd.filesQueued(sources); },
        [this](const QList<Refusal>& refusals) { m_frontEnd.filesRefused(refusals); });
    // A queued file goes to a session at once, not at the next queue tick,
    // and a session's result or error is taken up at once too.
    m_folderScanner->setOnQueued([this] { m_cycle->requestRun(); });
    CycleRunner* cycle = m_cycle.get();
    // A submitted job's id reaches queue.xml at once, not at the keeper's
    // next look: a client killed in between would upload the file again.
    m_queueManager.setOnSessionReady([this, cycle] {
        cycle->requestRun();
        QMetaObject::invokeMethod(this, [this] { if (m_queueKeeper) m_queueKeeper->saveChanges(); }, Qt::QueuedConnection);
    });
    VideoTasks* videos = m_videoTasks.get();
    m_folderScanner->setVideoHandoff([videos] { return videos->videoEnabled(); },
                                     [videos](const QString& path) { videos->addWatchedVideo(path); });
}

void QueueDriver::startTimers()
{
    const std::pair<void (QueueDriver::*)(), int> ticks[] = {{&QueueDriver::queueTick, 100},
        {&QueueDriver::folderScanTick, 1000}, {&QueueDriver::deleteRequestsTick, 1000},
        {&QueueDriver::videoTick, 1000}};
    for (const auto& [tick, interval] : ticks) {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, tick);
        timer->start(interval);
        m_timers.append(timer);
    }
}

void QueueDriver::requestCycle()
{
    if (m_cycle)
        m_cycle->requestRun();
}

void QueueDriver::applySetup()
{
    m_queueManager.setParallelJobs(m_settings.parallelJobs);
    m_videoTasks->updateVideoTool(QString::fromUtf8(m_settings.FFMPEGPath));
}

bool QueueDriver::queueVideoSounds(const QList<QUrl>& sounds, const QList<QUrl>& videos)
{
    QList<FileRequest> requests = m_commands.videoSoundRequests(sounds, videos);
    // The video each proposed sound comes from, for the person to see.
    QStringList shown;
    for (const FileRequest& request : std::as_const(requests)) {
        for (qsizetype i = 0; i < sounds.size(); ++i) {
            if (QDir::toNativeSeparators(sounds.at(i).toLocalFile()) == request.source) {
                shown << QDir::toNativeSeparators(videos.value(i).toLocalFile());
                break;
            }
        }
    }
    if (requests.isEmpty() || !m_frontEnd.chooseVideoSounds(requests, shown) || requests.isEmpty())
        return false;
    const QList<Refusal> refusals = m_commands.queueFiles(requests);
    if (!refusals.isEmpty())
        m_frontEnd.filesRefused(refusals);
    return refusals.size() < requests.size();
}

void QueueDriver::addDeleteRequest(const QString& path)
{
    m_deleteRequests.add(path);
}

void QueueDriver::folderScanTick()
{
    if (m_folderScanner)
        m_folderScanner->tick();
}

void QueueDriver::videoTick()
{
    m_videoTasks->tick();
}

void QueueDriver::deleteRequestsTick()
{
    const videoSupport* videos = m_videoQueue.get();
    m_deleteRequests.tick([videos](const QString& path) { return videos->isProcessedAudioInUse(path); });
}

void QueueDriver::queueTick()
{
    if (!m_cycle)
        return;
    m_cycle->startIfIdle();
    const QList<QueueFile*> files = m_queueManager.snapshot();
    if (runLocalSteps(files))
        m_cycle->requestRun();
    followFiles(files);
}

// A step that finished has renamed its outputs to their final names: the
// queue records that at once, so that a client killed now does not run the
// step again after a restart and make a second set of outputs.
bool QueueDriver::runLocalSteps(const QList<QueueFile*>& files)
{
    const bool finished = m_localSteps->runSteps(files);
    if (finished && m_queueKeeper)
        m_queueKeeper->saveChanges();
    return finished;
}

void QueueDriver::followSoon(const QList<QueueFile*>& files)
{
    if (m_followLater->isActive())
        return;
    const qint64 wait = m_sinceFollow.isValid() ? kFollowGapMs - m_sinceFollow.elapsed() : 0;
    if (wait <= 0)
        followFiles(files);
    else
        m_followLater->start(int(wait));
}

void QueueDriver::followFiles(const QList<QueueFile*>& files)
{
    m_followLater->stop();
    m_sinceFollow.start();
    bool anyRunning = false;
    QHash<int, int> states;
    states.reserve(files.size());
    for (QueueFile* file : files) {
        const int state = stateOf(*file);
        int previous = m_lastStates.value(file->fileId, kUnseen);
        if (previous == kUnseen && m_restoredFiles.remove(file->fileId))
            previous = FrontEnd::kRestored;
        states.insert(file->fileId, state);
        anyRunning = anyRunning || state == int(QueueFileState::Running);
        if (state == previous)
            continue;
        if (state == int(QueueFileState::Done)) {
            fileFinished(*file);
        } else if (state == int(QueueFileState::Error) || m_failedFiles.contains(file->fileId)) {
            // A failed file counts once, while its latest outcome is Error.
            if (state == int(QueueFileState::Error))
                m_failedFiles.insert(file->fileId);
            else
                m_failedFiles.remove(file->fileId);
            m_frontEnd.showCounts(m_doneCount, quint32(m_failedFiles.size()));
        }
        m_frontEnd.fileChanged(*file, previous);
    }
    // A failed file the user removed is no longer told of.
    m_failedFiles.removeIf([&states](int fileId) { return !states.contains(fileId); });
    m_lastStates = std::move(states);
    followSessions();
    followLoginPause();
    m_mp3Jobs->reportEnded([this](const mp3Encoder& encoder) { m_frontEnd.mp3Ended(encoder); });
    notifyWhenIdle(anyRunning);
    followBatch(files);
    if (m_errorRetries)
        m_errorRetries->tick(files, m_queueManager.getCredit(), m_queueManager.state() == QueueManager::Running);
    m_frontEnd.showQueue(files);
    if (!m_frontEnd.keepsFinishedFiles())
        releaseFinalFiles(files);
}

void QueueDriver::followSessions()
{
    for (int slot = 0; slot < QueueManager::kMaxSessions; ++slot) {
        const SessionManager* session = m_queueManager.session(slot);
        const int fileId = session ? session->currentFileId() : 0;
        const QueueFile* file = fileId != 0 ? m_queueManager.findFile(fileId) : nullptr;
        if (!file)
            continue;
        SessionManager::Retry retry;
        if (session->pendingRetry(retry) && m_retryRounds[slot] != retry.round) {
            m_retryRounds[slot] = retry.round;
            m_frontEnd.fileRetrying(*file, QString::fromUtf8(retry.reason), retry.seconds);
        }
        // A job taken up again after a restart (known since the start) was not uploaded now.
        const int jobId = session->submittedJobId();
        if (jobId <= 0 || m_uploads.value(fileId) == jobId)
            continue;
        m_uploads.insert(fileId, jobId);
        m_frontEnd.fileUploaded(*file, jobId);
    }
    for (auto upload = m_uploads.begin(); upload != m_uploads.end();) {
        if (m_lastStates.contains(upload.key()))
            ++upload;
        else
            upload = m_uploads.erase(upload);
    }
}

// A cycle that handed a file to a local step, or took one on from it, is
// followed by that step at once; a step that finished runs the cycle again,
// and so does a cycle that moved a file (a session it freed takes the next
// waiting file then, not at the next queue tick). Also runs when a local
// step's job ends.
void QueueDriver::afterQueueCycle()
{
    const QList<QueueFile*> files = m_queueManager.snapshot();
    QList<qint64> states;
    states.reserve(files.size());
    for (const QueueFile* file : files)
        states.append((qint64(file->fileId) << 8) | stateOf(*file));
    const bool moved = states != m_statesAfterCycle;
    m_statesAfterCycle = std::move(states);
    if (runLocalSteps(files) || moved)
        m_cycle->requestRun();
    // A file that moved is shown and handed on now (or within
    // kFollowGapMs), not at the next tick.
    if (moved)
        followSoon(files);
}

void QueueDriver::followLoginPause()
{
    const qint64 pauseMs = m_queueManager.loginPauseMs();
    if (pauseMs > 0 && !m_loginPaused)
        m_frontEnd.loginPaused(int((pauseMs + 999) / 1000));
    m_loginPaused = pauseMs > 0;
}

void QueueDriver::fileFinished(QueueFile& file)
{
    m_videoTasks->fileDone(file);
    m_mp3Jobs->encodeResults(file);
    LocalSteps::removeUploadedCopy(file);
    ++m_doneCount;
    m_failedFiles.remove(file.fileId);
    m_frontEnd.showCounts(m_doneCount, quint32(m_failedFiles.size()));
}

void QueueDriver::releaseFinalFiles(const QList<QueueFile*>& files)
{
    for (QueueFile* file : files) {
        // The state this pass reported, not the file's state now: a cycle
        // running meanwhile may have finished it since, and it must be
        // handed on and told before it goes.
        const int state = m_lastStates.value(file->fileId, kUnseen);
        const bool final = (state == int(QueueFileState::Done) && file->pendingMp3s->load() == 0)
            || state == int(QueueFileState::Canceled);
        if (!final)
            continue;
        // Their jobs have ended; they go here, on the thread that made them.
        file->preProcessor.reset();
        file->postProcessor.reset();
        m_lastStates.remove(file->fileId);
        m_batch.released(file->fileId);
        m_queueManager.releaseFile(file->fileId);
    }
}

void QueueDriver::notifyWhenIdle(bool anyRunning)
{
    if (anyRunning || (m_doneCount == 0 && m_failedFiles.isEmpty()))
        return;
    m_frontEnd.filesReady(ReadyFiles::Audio, int(m_doneCount), int(m_failedFiles.size()));
    m_doneCount = 0;
    m_failedFiles.clear();
}

void QueueDriver::followBatch(const QList<QueueFile*>& files)
{
    if (!m_batchClock.isValid())
        m_batchClock.start();
    const BatchFigures figures = m_batch.update(files, m_batchClock.elapsed());
    if (m_shownBatch == figures)
        return;
    m_shownBatch = figures;
    m_frontEnd.showBatch(figures);
}

VideoTasks::SoundState QueueDriver::soundStateOf(const QString& sound) const
{
    // The liveliest of the files made from this sound (it may have been queued more than once).
    VideoTasks::SoundState result = VideoTasks::SoundState::NotQueued;
    for (const QueueFile* file : m_queueManager.snapshot()) {
        if (!naming::isSamePath(QString::fromUtf8(file->originalSourceFile), sound))
            continue;
        const QueueFileState state = file->getState();
        if (state == QueueFileState::Error || state == QueueFileState::Canceled) {
            if (result == VideoTasks::SoundState::NotQueued)
                result = VideoTasks::SoundState::Failed;
        } else if (state == QueueFileState::Done) {
            if (result != VideoTasks::SoundState::InProgress)
                result = VideoTasks::SoundState::Done;
        } else {
            return VideoTasks::SoundState::InProgress;
        }
    }
    return result;
}
