#include "driver/folderscantick.h"

#include "driver/destinationcheck.h"
#include "driver/filedigests.h"
#include "driver/folderkey.h"
#include "driver/newfilesoffer.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuemanager.h"
#include "settings/naming.h"
#include "settings/folderwatcher.h"
#include "settings/platform.h"
#include "settings/settings.h"
#include "video/videosupport.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>

QString refusalText(const QString& source, const QByteArray& reason)
{
    return QStringLiteral("\nFile: ") + source + QStringLiteral("\n- ") + QString::fromUtf8(reason);
}

FolderScanTick::FolderScanTick(Settings* settings, QueueManager* queueManager, NewFilesOffer* offer,
                               ReportQueued reportQueued, ReportRefusals reportRefusals)
    : m_settings(settings)
    , m_queueManager(queueManager)
    , m_offer(offer)
    , m_reportQueued(std::move(reportQueued))
    , m_reportRefusals(std::move(reportRefusals))
    , m_watcher(std::make_unique<FolderWatcher>())
    , m_digests(std::make_unique<FileDigests>())
{
    m_relook.setSingleShot(true);
    m_relook.setInterval(kRelookMs);
    m_relook.callOnTimeout([this] { scanChanged(); });
    // A new file's verdict or digest is taken up at once. The worker starts
    // the timer by name: the call is then posted inside Qt.
    m_readDone.setSingleShot(true);
    m_readDone.setInterval(0);
    m_readDone.callOnTimeout([this] { scanSoon(); });
    QTimer* readDone = &m_readDone;
    m_digests->setOnProgress([readDone] { QMetaObject::invokeMethod(readDone, "start", Qt::QueuedConnection); });
    QObject::connect(m_watcher.get(), &FolderWatcher::changed, m_watcher.get(), [this] { scanSoon(); });
    m_paced.setSingleShot(true);
    m_paced.callOnTimeout([this] { scanChanged(); });
}

void FolderScanTick::scanSoon()
{
    if (m_paced.isActive())
        return;
    const qint64 pause = m_sinceScan.isValid() ? kPauseFactor * m_lastScanMs - m_sinceScan.elapsed() : 0;
    m_paced.start(int(std::max<qint64>(0, pause)));
}

FolderScanTick::~FolderScanTick() = default;

void FolderScanTick::setVideoHandoff(VideoEnabled enabled, VideoHandoff handoff)
{
    m_videoEnabled = std::move(enabled);
    m_videoHandoff = std::move(handoff);
}

void FolderScanTick::setOnQueued(std::function<void()> onQueued)
{
    m_onQueued = std::move(onQueued);
}

ScanPath& FolderScanTick::folderAt(int index) const
{
    return m_settings->scanPathRecords()[index];
}

bool FolderScanTick::readingFiles() const
{
    return m_digests->reading();
}

FolderScanTick::Outcome FolderScanTick::tick()
{
    return run(Pass::Poll);
}

FolderScanTick::Outcome FolderScanTick::scanChanged()
{
    return run(Pass::Changes);
}

QSet<QString> FolderScanTick::outputFolders() const
{
    QSet<QString> keys;
    for (const ScanPath& folder : std::as_const(m_settings->scanPathRecords())) {
        if (!folder.outputPath.isEmpty())
            keys.insert(platform::pathKey(QDir(folder.outputPath).path()));
    }
    return keys;
}

bool FolderScanTick::wantsScan(const ScanPath& folder, Pass pass) const
{
    if (!folder.enabled)
        return false;
    const bool changing = m_watcher->hasChanged(folder.path) || folder.hasUnsettledFiles();
    if (pass == Pass::Changes || changing)
        return changing;
    // A watched folder that reported nothing needs no listing; one look at
    // its folders' times catches a change whose notification got lost.
    return !m_watcher->isWatched(folder.path) || folder.hasOpenPlaceholders() || folder.hasIdleFiles()
        || !folder.listingIsCurrent();
}

FolderScanTick::Outcome FolderScanTick::run(Pass pass)
{
    Outcome outcome;
    // A refusal report in a message box runs its own event loop, in which
    // this timer fires again; that tick is skipped.
    if (m_running || !m_settings || !m_queueManager)
        return outcome;
    const QList<QByteArray> presets = m_queueManager->presets();
    if (presets.isEmpty())
        return outcome;
    QScopedValueRollback<bool> running(m_running, true);
    QElapsedTimer scanning;
    scanning.start();
    m_queued = false;

    queueAnswers(outcome.refusals);
    const QSet<QString> excluded = outputFolders();
    const int folderCount = int(m_settings->scanPathRecords().size());
    QStringList watched;
    bool unsettled = false;
    for (int i = 0; i < folderCount; ++i) {
        folderAt(i).setExcludedFolders(excluded);
        if (!folderAt(i).enabled)
            continue;
        watched.append(folderAt(i).path);
        if (wantsScan(folderAt(i), pass)) {
            m_watcher->takeChanged(folderAt(i).path);
            scanFolder(i, presets, outcome);
            m_watcher->watch(folderAt(i).path, folderAt(i).listedFolders());
        }
        unsettled = unsettled || folderAt(i).hasUnsettledFiles();
    }
    m_watcher->keepOnly(watched);
    m_lastScanMs = scanning.elapsed();
    m_sinceScan.start();
    if (unsettled && !m_relook.isActive())
        m_relook.start();
    if (m_queued && m_onQueued)
        m_onQueued();

    if (!outcome.added.isEmpty() && m_reportQueued)
        m_reportQueued(outcome.added);
    if (!outcome.refusals.isEmpty() && m_reportRefusals)
        m_reportRefusals(outcome.refusals);
    if (m_offer)
        m_offer->showOffers();
    return outcome;
}

void FolderScanTick::queueAnswers(QList<Refusal>& refusals)
{
    if (!m_offer)
        return;
    for (const NewFilesAnswer& answer : m_offer->takeAnswers()) {
        const FolderKeyParts key = splitFolderKey(answer.folderKey);
        ProcessingOptions options;
        if (ScanPath* folder = m_settings->findDialogScanPath(key.path)) {
            if (!answer.dominantPreset.isEmpty())
                folder->preset = answer.dominantPreset.toUtf8();
            folder->showDialog = answer.showAgain;
            folder->toOptions(options);
        }
        for (const NewFileEntry& entry : answer.entries) {
            if (!entry.selected)
                continue;
            makeDestinationFolder(answer.saveToFolder, entry.destination);
            const QByteArray refusal = naming::destinationRefusal(entry.destination);
            if (!refusal.isEmpty())
                refusals.append({Refusal::Reason::Destination, entry.source, entry.destination, refusal});
            else if (m_queueManager->addFileToQueue(entry.source, entry.priority, entry.destination,
                                                    entry.preset.toUtf8(), options))
                m_queued = true;
            else
                refusals.append({Refusal::Reason::Queue, entry.source, entry.destination, m_queueManager->lastError()});
        }
    }
}

void FolderScanTick::scanFolder(int index, const QList<QByteArray>& presets, Outcome& outcome)
{
    QStringList newFiles;
    QStringList vanishedFiles;
    const bool withVideo = m_videoEnabled && m_videoHandoff && m_videoEnabled();
    folderAt(index).scan(
        withVideo, newFiles, vanishedFiles,
        [this](const QString& path, bool takeIncomplete) { return m_digests->readOf(path, takeIncomplete); },
        QDeadlineTimer(kScanBudgetMs));

    // Outputs still being produced for a queued file stay known.
    QSet<QString> destinations;
    if (!vanishedFiles.isEmpty()) {
        for (const QueueFile* queued : m_queueManager->snapshot())
            destinations.insert(platform::pathKey(QString::fromUtf8(queued->lockedDestFile())));
    }
    QStringList forgotten;
    for (const QString& vanished : std::as_const(vanishedFiles)) {
        if (!destinations.contains(platform::pathKey(vanished)))
            forgotten.append(vanished);
    }
    folderAt(index).forgetScannedFiles(forgotten);

    for (const QString& file : std::as_const(newFiles)) {
        qDebug() << file;
        if (withVideo && videoSupport::isVideoFile(file)) {
            m_videoHandoff(file);
            continue;
        }
        ScanPath& folder = folderAt(index);
        if (!asksFirst(folder, presets)) {
            quickAdd(index, file, outcome);
            continue;
        }
        // The row proposes the file's name in its own subfolder of the output.
        m_offer->offer(folder, file, folder.resolveOutputPath(QFileInfo(file).fileName(), file), presets);
    }
}

bool FolderScanTick::asksFirst(ScanPath& folder, const QList<QByteArray>& presets)
{
    if (!m_offer) {
        if (folder.showDialog && !m_quickAddedAskingFolders.contains(folder.path)) {
            m_quickAddedAskingFolders.insert(folder.path);
            qInfo().noquote() << "Watched folder" << folder.path
                              << "asks before queuing; with no one to ask, its files are queued with its preset";
        }
        return false;
    }
    if (!folder.showDialog && presets.contains(folder.preset))
        return false;
    // A folder whose preset is not offered falls back to the dialog for good.
    folder.showDialog = true;
    return true;
}

void FolderScanTick::quickAdd(int index, const QString& file, Outcome& outcome)
{
    const ScanPath& folder = folderAt(index);
    const QByteArray preset = folder.preset;
    ProcessingOptions options;
    folder.toOptions(options);
    const QString name = naming::expandNameTemplate(naming::insertSuffix(file, folder.outputSuffix),
                                                    QString::fromUtf8(preset));
    const QString destination = folder.resolveOutputPath(name, file);
    makeDestinationFolder(folder.outputFolder(), destination);

    QueueFile* queued = m_queueManager->addFileToQueue(file, 100, destination, preset, options);
    ScanPath& current = folderAt(index);
    if (!queued) {
        qDebug() << "Quickadd: " << file;
        outcome.refusals.append({Refusal::Reason::Queue, file, destination, m_queueManager->lastError()});
        return;
    }
    m_queued = true;
    outcome.added.append(file);
    queued->watchFolder = current.path.toUtf8();
    // The result may be written into a watched folder: it is no new input.
    current.notePlaceholder(QString::fromUtf8(queued->destFile));
}
