#include "app/folderscantick.h"

#include "app/destinationcheck.h"
#include "dialogs/dlgaddmultiplefileswrapper.h"
#include "pipeline/queuemanager.h"
#include "settings/naming.h"
#include "settings/folderwatcher.h"
#include "settings/platform.h"
#include "settings/settings.h"
#include "video/videosupport.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QScopedValueRollback>

QString refusalText(const QString& source, const QByteArray& reason)
{
    return QStringLiteral("\nFile: ") + source + QStringLiteral("\n- ") + QString::fromUtf8(reason);
}

FolderScanTick::FolderScanTick(Settings* settings, QueueManager* queueManager, QWidget* window, Notify notify)
    : m_settings(settings)
    , m_queueManager(queueManager)
    , m_window(window)
    , m_notify(std::move(notify))
    , m_watcher(std::make_unique<FolderWatcher>())
{
    m_relook.setSingleShot(true);
    m_relook.setInterval(kRelookMs);
    m_relook.callOnTimeout([this] { scanChanged(); });
    QObject::connect(m_watcher.get(), &FolderWatcher::changed, m_watcher.get(), [this] { scanChanged(); });
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
    return !m_watcher->isWatched(folder.path) || folder.hasOpenPlaceholders() || !folder.listingIsCurrent();
}

FolderScanTick::Outcome FolderScanTick::run(Pass pass)
{
    Outcome outcome;
    // The error box below runs its own event loop, in which this timer fires
    // again; that tick is skipped.
    if (m_running || !m_settings || !m_queueManager)
        return outcome;
    const QList<QByteArray> presets = m_queueManager->presets();
    if (presets.isEmpty())
        return outcome;
    QScopedValueRollback<bool> running(m_running, true);
    m_queued = false;

    queueAnsweredDialogs(outcome.errors);
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
    if (unsettled && !m_relook.isActive())
        m_relook.start();
    if (m_queued && m_onQueued)
        m_onQueued();

    if (!outcome.addedFiles.isEmpty() && m_notify)
        m_notify(QStringLiteral("Added to queue:"), outcome.addedFiles);
    if (!outcome.errors.isEmpty())
        QMessageBox::critical(m_window, QStringLiteral("Error adding files"), outcome.errors);
    showPendingDialogs();
    return outcome;
}

void FolderScanTick::queueAnsweredDialogs(QString& errors)
{
    for (const auto& wrapper : m_newFilesDialogs) {
        if (!wrapper->takeResultsReady())
            continue;
        const FolderKeyParts key = splitFolderKey(wrapper->folderKey());
        const QList<NewFileEntry> results = wrapper->takeResults();
        if (!wrapper->wasAccepted())
            continue;
        ProcessingOptions options;
        if (ScanPath* folder = m_settings->findDialogScanPath(key.path)) {
            QString dominant;
            if (wrapper->dominantPreset(dominant))
                folder->preset = dominant.toUtf8();
            folder->showDialog = wrapper->showAgain();
            folder->toOptions(options);
        }
        for (const NewFileEntry& entry : results) {
            if (!entry.selected)
                continue;
            makeDestinationFolder(wrapper->saveToFolder(), entry.destination);
            const QByteArray refusal = naming::destinationRefusal(entry.destination);
            if (!refusal.isEmpty())
                errors += refusalText(entry.source, refusal);
            else if (m_queueManager->addFileToQueue(entry.source, entry.priority, entry.destination,
                                                    entry.preset.toUtf8(), options))
                m_queued = true;
            else
                errors += refusalText(entry.source, m_queueManager->lastError());
        }
    }
}

void FolderScanTick::scanFolder(int index, const QList<QByteArray>& presets, Outcome& outcome)
{
    QStringList newFiles;
    QStringList vanishedFiles;
    const bool withVideo = m_videoEnabled && m_videoHandoff && m_videoEnabled();
    folderAt(index).scan(withVideo, newFiles, vanishedFiles);

    // Outputs still being produced for a queued file stay known.
    QStringList forgotten;
    for (const QString& vanished : std::as_const(vanishedFiles)) {
        if (!m_queueManager->findByDestFile(vanished.toUtf8()))
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
        if (!folder.showDialog && presets.contains(folder.preset)) {
            quickAdd(index, file, outcome);
            continue;
        }
        // A folder whose preset is not offered falls back to the dialog for good.
        folder.showDialog = true;
        offerInDialog(folder, file, presets);
    }
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
        outcome.errors += refusalText(file, m_queueManager->lastError());
        return;
    }
    m_queued = true;
    outcome.addedFiles += QFileInfo(file).fileName() + QLatin1Char('\n');
    queued->watchFolder = current.path.toUtf8();
    // The result may be written into a watched folder: it is no new input.
    current.notePlaceholder(QString::fromUtf8(queued->destFile));
}

void FolderScanTick::offerInDialog(const ScanPath& folder, const QString& file, const QList<QByteArray>& presets)
{
    dlgAddMultipleFiles_Wrapper& wrapper = dialogFor(folder);
    wrapper.setPresetNames(presets);
    // The row proposes the file's name in its own subfolder of the output.
    wrapper.addFile(file, folder.resolveOutputPath(QFileInfo(file).fileName(), file), QString::fromUtf8(folder.preset));
}

dlgAddMultipleFiles_Wrapper& FolderScanTick::dialogFor(const ScanPath& folder)
{
    const QString key = folder.duplicateKey();
    for (const auto& wrapper : m_newFilesDialogs) {
        if (sameFolderKey(wrapper->folderKey(), key))
            return *wrapper;
    }
    m_newFilesDialogs.push_back(std::make_unique<dlgAddMultipleFiles_Wrapper>());
    m_newFilesDialogs.back()->setFolder(folder);
    return *m_newFilesDialogs.back();
}

const ScanPath* FolderScanTick::folderOfDialog(const QString& folderKey) const
{
    const QList<ScanPath>& folders = m_settings->scanPathRecords();
    for (const ScanPath& folder : folders) {
        if (sameFolderKey(folder.duplicateKey(), folderKey))
            return &folder;
    }
    // The folder's preset may have changed since the rows were collected.
    const FolderKeyParts key = splitFolderKey(folderKey);
    for (const ScanPath& folder : folders) {
        if (folder.showDialog && platform::isSamePath(folder.path, key.path))
            return &folder;
    }
    return nullptr;
}

void FolderScanTick::showPendingDialogs()
{
    for (const auto& wrapper : m_newFilesDialogs) {
        if (!wrapper->hasPendingFiles())
            continue;
        if (const ScanPath* folder = folderOfDialog(wrapper->folderKey()))
            wrapper->show(m_window, *folder);
    }
}
