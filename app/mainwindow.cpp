#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/cyclerunner.h"
#include "app/destinationcheck.h"
#include "app/folderscantick.h"
#include "app/localsteps.h"
#include "app/outputregistry.h"
#include "app/queuefilewidget.h"
#include "app/queuelists.h"
#include "dialogs/quitcheck.h"
#include "app/resultencoding.h"
#include "app/severalfilesdrop.h"
#include "app/versioncheck.h"
#include "app/videotasks.h"
#include "app/welcomewizard.h"
#include "audio/postprocessing.h"
#include "dialogs/dlgaddfile.h"
#include "dialogs/dlgencoder.h"
#include "dialogs/dlglogin.h"
#include "dialogs/dlgloudness.h"
#include "dialogs/dlgsetupwindow.h"
#include "pipeline/queuefile.h"
#include "pipeline/queuekeeper.h"
#include "pipeline/queuemanager.h"
#include "pipeline/queuerestorer.h"
#include "pipeline/queuestore.h"
#include "settings/folderwatcher.h"
#include "settings/naming.h"
#include "settings/settings.h"
#include "settings/settingskeeper.h"
#include "video/ffmpegtool.h"
#include "video/videosupport.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QNetworkAccessManager>
#include <QTimer>

#include <cmath>

namespace {

constexpr int kWaitingForLoginInfo = 1027;
constexpr int kAddedByHandPriority = 10;
// Panels of newly queued files are created for at most this long per run of
// the queue tick; the rest follow in further runs posted at once, so that a
// watched folder that queues hundreds of files never freezes the window.
// A run always creates the first few, so that a handful of new files shows
// in one tick however slow the machine. While such a run is posted, the
// timer's own runs leave the panels to it, so that two batches never follow
// each other without the event loop in between.
constexpr qint64 kNewPanelsBudgetMs = 10;
constexpr int kNewPanelsAlways = 8;

QString text(const QByteArray& utf8)
{
    return QString::fromUtf8(utf8);
}

int stateOf(const QueueFile& file)
{
    return static_cast<int>(file.getState());
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    // Developer aids of the form; not part of the product.
    ui->btnTest1->hide();
    ui->btnTest2->hide();
    ui->btnAddFile_Test->hide();
    ui->btnTestWizard->hide();
    queueWidgets = std::make_unique<QueueLists>(ui->verticalLayout, ui->verticalLayoutDone, ui->verticalLayoutError);
    videoQueue = std::make_unique<videoSupport>(ffmpegtool::isFfmpegAvailable(), naming::tempWorkFolder());
}

MainWindow::~MainWindow()
{
    for (QTimer* timer : std::as_const(timers))
        timer->stop();
    // The queue first: a file it holds is then never missing from it while
    // settings.xml already records the file as seen.
    if (queueKeeper)
        queueKeeper->saveNow();
    queueKeeper.reset();
    // Its last copy is written before the final save below.
    settingsKeeper.reset();
    if (settings && queueManager)
        saveSettings();
    if (trayIcon)
        trayIcon->hide();
    qDebug() << "delete video ";
    videoTasks.reset();
    videoQueue.reset();
    if (queueManager) {
        qDebug() << "manager.stop();";
        queueManager->setOnDestFileAdded(nullptr);
        queueManager->stop();
    }
    qDebug() << "delete ui ";
    delete ui;
    ui = nullptr;
    queueCycle.reset();
}

void MainWindow::saveSettings()
{
    const QString folder = naming::appConfigFolder();
    QDir().mkpath(folder);
    settings->apiURL = queueManager->apiUrl();
    if (!settings->save(folder + QStringLiteral("/settings.xml"), true))
        qWarning() << "Error saving settings";
}

void MainWindow::setContext(Settings* settingsObject, QueueManager* manager)
{
    settings = settingsObject;
    queueManager = manager;
    outputRegistry = std::make_unique<OutputRegistry>(settings);
    localSteps = std::make_unique<LocalSteps>(*outputRegistry);
    videoTasks = std::make_unique<VideoTasks>(
        *videoQueue, ui->videoTree, *outputRegistry,
        [this](const QList<QUrl>& urls, const QList<QUrl>& destUrls) { return addFiles(urls, destUrls); },
        [this](const QString& title, const QString& text) { showTrayMessage(title, text); });
    videoTasks->setSoundStateOf([this](const QString& sound) { return soundStateOf(sound); });
}

VideoTasks::SoundState MainWindow::soundStateOf(const QString& sound) const
{
    // The liveliest of the files made from this sound (it may have been queued more than once).
    VideoTasks::SoundState result = VideoTasks::SoundState::NotQueued;
    for (const QueueFile* file : queueManager->snapshot()) {
        if (!naming::isSamePath(text(file->originalSourceFile), sound))
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

void MainWindow::initialise()
{
    statusBar()->showMessage(tr("Initializing"));

    trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/images/icon.png")), this);
    trayIcon->setVisible(true);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::on_trayicon_activated);

    setAcceptDrops(true);

    const OutputRegistry* registry = outputRegistry.get();
    queueManager->setOnDestFileAdded(
        [registry](const QByteArray& destPath) { registry->queue_newDestFileAdded(destPath); });
    queueManager->setCredentials(settings->wUsername, settings->wPassword);
    queuerestorer::restore(queuestore::load(queuestore::defaultPath()), *queueManager, *settings);
    queueKeeper = std::make_unique<QueueKeeper>(*queueManager, queuestore::defaultPath());
    queueKeeper->start();
    settingsKeeper = std::make_unique<SettingsKeeper>(*settings, naming::appConfigFolder() + QStringLiteral("/settings.xml"),
        [this] { settings->apiURL = queueManager->apiUrl(); });
    settingsKeeper->start();

    QueueManager* manager = queueManager;
    queueCycle = std::make_unique<CycleRunner>(
        [manager] {
            try {
                manager->cycle(false, false);
            } catch (const std::exception& error) {
                qWarning() << "Queue cycle failed:" << error.what();
            }
        },
        [this] { QMetaObject::invokeMethod(this, [this] { afterQueueCycle(); }, Qt::QueuedConnection); });

    startTimer(&MainWindow::tmr_windowStatus_Tick, 1000);
    startTimer(&MainWindow::tmr_queueManager_Tick, 100);
    folderScanner = std::make_unique<FolderScanTick>(settings, queueManager, this,
        [this](const QString& title, const QString& text) { showTrayMessage(title, text); });
    // A queued file goes to a session at once, not at the next queue tick.
    folderScanner->setOnQueued([this] { queueCycle->requestRun(); });
    VideoTasks* videos = videoTasks.get();
    folderScanner->setVideoHandoff([videos] { return videos->videoEnabled(); },
                                   [videos](const QString& path) { videos->addWatchedVideo(path); });
    startTimer(&MainWindow::tmr_folderScanner_Tick, 1000);
    startTimer(&MainWindow::tmr_deleteRequests_Tick, 1000);
    startTimer(&MainWindow::tmr_videoQueue_Tick, 1000);
    QTimer::singleShot(500, this, &MainWindow::tmr_ShowWelcome);
    QTimer::singleShot(500, this, &MainWindow::tmr_StartVersionCheck);

    connect(ui->menubar, &QMenuBar::hovered, this, &MainWindow::on_menuBar_hovered);
    ui->videoTree->setHeaderLabels({tr("Video name"), tr("Path"), tr("Status"), tr("Result")});
    setWindowTitle(windowTitle() + QStringLiteral(" (") + text(settings->versionText) + QStringLiteral(")"));

    networkManager = new QNetworkAccessManager(this);
    connect(networkManager, &QNetworkAccessManager::finished, this, &MainWindow::onDownloadCompleted);
    versionCheck = std::make_unique<VersionCheck>(*settings, *networkManager, *ui->lblNewVersion);
}

void MainWindow::tmr_StartVersionCheck()
{
    versionCheck->start();
}

void MainWindow::onDownloadCompleted(QNetworkReply* reply)
{
    versionCheck->evaluate(reply);
}

void MainWindow::tmr_ShowWelcome()
{
    showWelcomeWizardIfFirstStart(this, *settings, *queueManager);
}

void MainWindow::tmr_folderScanner_Tick()
{
    folderScanner->tick();
}

void MainWindow::tmr_videoQueue_Tick()
{
    videoTasks->tick();
}

void MainWindow::on_videoTree_itemDoubleClicked(QTreeWidgetItem* item, int column)
{
    videoTasks->showInFileManager(item, column);
}

void MainWindow::updateVideoTool(const QString& ffmpegFolder)
{
    videoTasks->updateVideoTool(ffmpegFolder);
}

void MainWindow::startTimer(void (MainWindow::*slot)(), int interval)
{
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, slot);
    timer->start(interval);
    timers.append(timer);
}

// ---- status bar and account ------------------------------------------------

void MainWindow::tmr_windowStatus_Tick()
{
    const int state = queueManager->state();
    QString status = QueueManager::stateName(state);
    const QByteArray notice = queueManager->serviceNotice();
    if (state == kWaitingForLoginInfo) {
        status = text(queueManager->statusMessage());
        // No failed log-in to report: after "Log out" that is the news.
        if (status.isEmpty())
            status = queueManager->loginEnabled() ? QueueManager::stateName(state) : tr("Logged out");
    } else if (!notice.isEmpty()) {
        status = text(notice);
    }
    const double credit = std::round(double(queueManager->getCredit()) * 100.0) / 100.0;
    apiIsHttps = queueManager->apiUrl().contains("https:");
    QString creditText = tr("Waiting for file submission");
    if (credit >= 0)
        creditText = QString::number(credit, 'g', 6);
    if (apiIsHttps)
        status += tr(" - Credit: ") + creditText;
    statusBar()->showMessage(status);
}

void MainWindow::on_menuBar_hovered(QAction* action)
{
    if (action->text() != ui->menuAccount->title())
        return;
    const bool loggedIn = queueManager->hasToken();
    ui->actionLog_in->setEnabled(!loggedIn);
    ui->actionLog_out->setEnabled(loggedIn);
}

void MainWindow::on_actionLog_in_triggered()
{
    if (queueManager->state() != kWaitingForLoginInfo)
        return;
    queueManager->enableLogin();
    dlgLogin::askForLogin(settings, queueManager, false);
}

void MainWindow::on_actionLog_out_triggered()
{
    if (!(queueManager->state() & 1))
        return;
    queueManager->setCredentials(settings->wUsername, QByteArray());
    settings->wPassword.clear();
    queueManager->logout();
}

// ---- tray and closing --------------------------------------------------------

void MainWindow::on_trayicon_activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick)
        return;
    qDebug() << "double click";
    showNormal();
}

void MainWindow::showTrayMessage(const QString& title, const QString& message)
{
    if (trayIcon)
        trayIcon->showMessage(title, message, QSystemTrayIcon::Information, 10000);
    emit trayMessageShown(title, message);
}

void MainWindow::on_actionQuit_triggered()
{
    quitChosen = true;
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (settings && settings->hideWhenClosed && !quitChosen) {
        event->ignore();
        // Without a tray icon a hidden window could never be reached again.
        if (QSystemTrayIcon::isSystemTrayAvailable())
            hide();
        else
            showMinimized();
        return;
    }
    if (!quitcheck::confirmQuit(*this, *ui->encoderList)) {
        quitChosen = false;
        event->ignore();
        return;
    }
    event->accept();
}

// ---- setup and about -----------------------------------------------------------

void MainWindow::on_actionSetup_triggered()
{
    dlgSetupWindow dialog(this);
    dialog.setCodecCheck(VideoTasks::isFfmpegFolder);
    dialog.setWatchWarning([this](const QString& folder) { return folderScanner->watcher().warning(folder); });
    dialog.setContext(settings, queueManager->presets(), queueManager);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.applyTo(*settings);
    updateVideoTool(text(settings->FFMPEGPath));
    dialog.applyCredentials(*settings, *queueManager);
}

void MainWindow::on_actionAbout_triggered()
{
    QMessageBox::about(this, tr("About"),
                       tr("Sonvira desktop client \n\nVersion: ") + text(settings->versionText)
                           + tr("\n\nCopyright (C) 2026 Sonvira. All rights reserved.\n\n"
                                "Developed by the Sonvira desktop team."));
}

// ---- the queue tick ------------------------------------------------------------

void MainWindow::tmr_queueManager_Tick()
{
    queueCycle->startIfIdle();
    bool anyRunning = false;
    bool panelsMissing = false;
    int panelsCreated = 0;
    QElapsedTimer creatingPanels;
    creatingPanels.start();
    const QList<QueueFile*> files = queueManager->snapshot();
    if (localSteps->runSteps(files))
        queueCycle->requestRun();
    for (QueueFile* file : files) {
        const int state = stateOf(*file);
        QueueFileWidget* widget = queueWidgets->find(file->fileId);
        const bool outOfTime = panelsCreated >= kNewPanelsAlways && creatingPanels.elapsed() >= kNewPanelsBudgetMs;
        if (!widget && (panelTickPosted || outOfTime)) {
            panelsMissing = true;
            continue;
        }
        if (!widget) {
            widget = createWidget(*file);
            ++panelsCreated;
        }
        refreshWidget(*widget, *file, state);
        anyRunning = anyRunning || state == int(QueueFileState::Running);
    }
    queueWidgets->followQueueOrder(files);
    if (!panelsMissing) {
        notifyWhenIdle(anyRunning);
    } else if (!panelTickPosted) {
        panelTickPosted = true;
        QTimer::singleShot(0, this, [this] {
            panelTickPosted = false;
            tmr_queueManager_Tick();
        });
    }
}

// A cycle that handed a file to a local step, or took one on from it, is
// followed by that step at once; a step that finished runs the cycle again.
void MainWindow::afterQueueCycle()
{
    if (localSteps->runSteps(queueManager->snapshot()))
        queueCycle->requestRun();
}

QueueFileWidget* MainWindow::createWidget(QueueFile& file)
{
    auto* widget = new QueueFileWidget(file.fileId, this);
    connect(widget, &QueueFileWidget::queueFileClick, this, &MainWindow::on_queueFileClick);
    connect(widget, &QueueFileWidget::queueFileContextMenuShow, this, &MainWindow::on_queueFileContextMenuShow);
    connect(widget, &QueueFileWidget::queueFileContextMenuClicked, this,
            &MainWindow::on_queueFileContextMenuClicked);
    connect(widget, &QueueFileWidget::queueFileMoveRequested, this, &MainWindow::on_queueFileMoveRequested);
    widget->setPriorityText(QString());
    widget->setDebugText(QString());
    // With its close button, which every queued file's panel offers.
    widget->showFull();
    widget->setSourceText(text(file.srcFile));
    widget->setDestinationText(text(file.destFile));
    queueWidgets->add(widget);
    return widget;
}

void MainWindow::refreshWidget(QueueFileWidget& widget, QueueFile& file, int state)
{
    widget.followRecord(file.stateName(), file.details(), file.errorMessage());
    if (state == widget.lastState())
        return;
    widget.setLastState(state);
    widget.setQueueControlsEnabled(state == int(QueueFileState::Waiting) || state == int(QueueFileState::Paused));
    switch (QueueFileState(state)) {
    case QueueFileState::Waiting:
    case QueueFileState::Running:
        showWaitingOrRunning(widget, file);
        break;
    case QueueFileState::Done:
        showDone(widget, file);
        break;
    case QueueFileState::Error:
        showError(widget, file);
        break;
    default:
        break;
    }
}

void MainWindow::showWaitingOrRunning(QueueFileWidget& widget, QueueFile& file)
{
    if (queueWidgets->listOf(&widget) != QueueLists::List::Queue) {
        widget.setStatusColour(QStringLiteral("blue"));
        widget.setBackground(true, 0, 0, 0);
        widget.setErrorText(QString());
        widget.showFull();
        queueWidgets->place(&widget, QueueLists::List::Queue);
    }
    widget.setSourceText(text(file.srcFile));
    widget.setDestinationText(text(file.destFile));
}

void MainWindow::showDone(QueueFileWidget& widget, QueueFile& file)
{
    widget.setDestinationText(text(file.destFile));
    videoTasks->fileDone(file);
    encodeResultToMp3(file, *ui->encoderList, deleteRequestsLock, deleteRequests);
    LocalSteps::removeUploadedCopy(file);
    QStringList outputs;
    for (const QByteArray& output : std::as_const(file.outputFiles))
        outputs << text(output);
    widget.setOutputs(outputs);
    widget.setStatusColour(QStringLiteral("black"));
    widget.showCompact(false, outputs.size() > 1);
    widget.setBackground(false, 210, 240, 210);
    queueWidgets->place(&widget, QueueLists::List::Done);
    ++doneCount;
    updateTabTitles(false);
}

void MainWindow::showError(QueueFileWidget& widget, QueueFile& file)
{
    widget.setStatusColour(QStringLiteral("red"));
    widget.showCompact(true, false);
    widget.setBackground(false, 240, 210, 210);
    widget.setErrorText(text(file.errorMessage()));
    queueWidgets->place(&widget, QueueLists::List::Error);
    ++errorCount;
    updateTabTitles(false);
}

void MainWindow::notifyWhenIdle(bool anyRunning)
{
    if (anyRunning || (doneCount == 0 && errorCount == 0))
        return;
    QString message;
    if (doneCount != 0)
        message += tr("\nFiles processed: ") + QString::number(doneCount);
    if (errorCount != 0)
        message += tr("\nErrors: ") + QString::number(errorCount);
    showTrayMessage(tr("Audio files ready"), message);
    doneCount = 0;
    errorCount = 0;
}

void MainWindow::updateTabTitles(bool reset)
{
    const bool showDone = !reset && doneCount != 0;
    const bool showErrors = !reset && errorCount != 0;
    ui->tabWidget->setTabText(0, showDone ? tr("Done (%1)").arg(doneCount) : tr("Done"));
    ui->tabWidget->setTabText(1, showErrors ? tr("Error (%1)").arg(errorCount) : tr("Error"));
}

// ---- deletion requests -----------------------------------------------------

void MainWindow::addDeleteRequest(const QString& path)
{
    const QMutexLocker locker(&deleteRequestsLock);
    deleteRequests.append(path);
}

void MainWindow::tmr_deleteRequests_Tick()
{
    const QMutexLocker locker(&deleteRequestsLock);
    for (qsizetype i = 0; i < deleteRequests.size(); ++i) {
        const QString path = deleteRequests.at(i);
        if (QFileInfo::exists(path)) {
            if (videoQueue->isProcessedAudioInUse(path))
                continue;
            qDebug() << "File-remove: " << path;
            QFile::remove(path);
            continue;
        }
        qDebug() << "Request removed: " << path;
        deleteRequests.removeAt(i);
        return;
    }
}

// ---- adding files ---------------------------------------------------------------

void MainWindow::on_btnAddSingleFile_clicked()
{
    addFileWithDialog(QString(), QString());
}

void MainWindow::on_actionAdd_file_to_queue_triggered()
{
    addFileWithDialog(QString(), QString());
}

bool MainWindow::addFileWithDialog(const QString& src, const QString& dest)
{
    const QList<QByteArray> presets = queueManager->presets();
    if (presets.isEmpty()) {
        QMessageBox::information(this, tr("Add file"), tr("No presets are loaded yet: log in first."));
        return false;
    }
    dlgAddFile dialog(this);
    dialog.setModal(true);
    dialog.setContext(src, dest, presets, queueManager->lastPreset());
    if (src.isEmpty() && !dialog.browseSourceNow(true))
        return false;
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QString destination = naming::expandNameTemplateInPath(dialog.destination(), dialog.preset());
    const QByteArray refusal = naming::destinationRefusal(destination);
    if (!refusal.isEmpty()) {
        QMessageBox::critical(this, tr("Error adding files"), destination + QStringLiteral("\n") + text(refusal));
        return false;
    }
    if (!queueManager->addFileToQueue(dialog.source(), kAddedByHandPriority, destination, dialog.preset().toUtf8(),
                                      ProcessingOptions())) {
        QMessageBox::critical(this, tr("Error adding files"),
                              dialog.source() + QStringLiteral("\n") + text(queueManager->lastError()));
        return false;
    }
    return true;
}

bool MainWindow::addFiles(const QList<QUrl>& dropped, const QList<QUrl>& destUrls)
{
    if (queueManager->presets().isEmpty()) {
        QMessageBox::information(this, tr("Add file"), tr("No presets are loaded yet: log in first."));
        return false;
    }
    // Videos go to the video queue, or nowhere while video support is off.
    const QList<QUrl> urls = videoTasks->takeVideos(dropped);
    if (urls.isEmpty() && !dropped.isEmpty())
        return videoTasks->videoEnabled();
    if (urls.size() > 1)
        return addSeveralAudioFiles(this, *queueManager, urls, destUrls);
    if (urls.size() != 1) {
        QMessageBox::information(this, tr("Add file"), tr("Drop one audio file at a time."));
        return false;
    }
    const QString source = QDir::toNativeSeparators(urls.first().toLocalFile());
    const QFileInfo sourceInfo(source);
    if (sourceInfo.isDir()) {
        QMessageBox::critical(this, tr("Error adding files"), refusalText(source, droppedFolderRefusal()));
        return false;
    }
    if (source.isEmpty() || !sourceInfo.isFile()) {
        QMessageBox::warning(this, tr("Add file"),
                             urls.first().toDisplayString() + QLatin1Char(' ') + tr("is not a file on this computer."));
        return false;
    }
    const QString namingPath = destUrls.isEmpty() ? source : destUrls.first().toLocalFile();
    const QString extension = destUrls.isEmpty() ? sourceInfo.completeSuffix() : QStringLiteral("wav");
    return addFileWithDialog(source, dlgAddFile::proposedDestination(namingPath, extension));
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    // The dialog must not run inside the platform's drag-and-drop handling.
    QTimer::singleShot(0, this, [this, urls] {
        addFiles(urls, {});
        for (const QUrl& url : urls) {
            if (!videoTasks->videoEnabled() || !videoSupport::isVideoFile(url.toLocalFile()))
                qDebug() << "Dropped file:" << url.toLocalFile();
        }
    });
}

// ---- queue menu -------------------------------------------------------------------

void MainWindow::removeFromQueue(QueueFileWidget* widget, int fileID)
{
    if (widget)
        queueWidgets->drop(widget);
    queueManager->removeFile(fileID);
}

void MainWindow::on_actionClear_done_error_triggered()
{
    bool removed = true;
    while (removed) {
        removed = false;
        for (QueueFileWidget* widget : queueWidgets->widgets()) {
            QueueFile* file = queueManager->findFile(widget->fileID());
            if (!file)
                continue;
            const auto state = file->getState();
            if (state == QueueFileState::Done || state == QueueFileState::Error || state == QueueFileState::Canceled) {
                removeFromQueue(widget, widget->fileID());
                removed = true;
                break;
            }
        }
    }
    updateTabTitles(true);
    ui->encoderList->clearFinished();
}

void MainWindow::on_actionResubmit_files_with_errors_triggered()
{
    for (QueueFile* file : queueManager->snapshot()) {
        if (file->getState() == QueueFileState::Error && file->retryable()) {
            LocalSteps::resetForResubmit(*file);
            file->setState(QueueFileState::Waiting);
        }
    }
}

// ---- tools menu ---------------------------------------------------------------------

void MainWindow::on_actionMP3_Encoder_triggered()
{
    auto* window = new dlgEncoder(this);
    window->setBitRate(text(settings->defaultMp3BitRate));
    window->show();
}

void MainWindow::on_actionLoudness_normalizer_triggered()
{
    auto* window = new dlgLoudness(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

// ---- per-file clicks and context menu -------------------------------------------

void MainWindow::on_queueFileClick(int fileID, int buttonN, bool doubleClick)
{
    if (buttonN != 1 || !doubleClick)
        return;
    QueueFile* file = queueManager->findFile(fileID);
    if (!file)
        return;
    QString path = text(file->srcFile);
    if (file->getState() == QueueFileState::Done) {
        path = text(file->destFile);
        if (path.isEmpty() && !file->outputFiles.isEmpty())
            path = text(file->outputFiles.last());
    }
    if (!path.isEmpty())
        naming::showInExplorer(path, this);
}

void MainWindow::on_queueFileMoveRequested(int fileID, int places)
{
    if (queueManager->moveFile(fileID, places))
        queueWidgets->followQueueOrder(queueManager->snapshot());
}

void MainWindow::on_queueFileContextMenuShow(QueueFileWidget* sender, int fileID, bool& show)
{
    show = false;
    QueueFile* file = queueManager->findFile(fileID);
    if (!file)
        return;
    sender->showOpenInput = true;
    sender->showOpenOutput = false;
    sender->showPauseResume = false;
    sender->showReSubmit = false;
    sender->showRemove = true;
    switch (file->getState()) {
    case QueueFileState::Waiting:
    case QueueFileState::Paused:
        sender->showPauseResume = true;
        sender->textPauseResume = file->getState() == QueueFileState::Waiting ? tr("Pause") : tr("Resume");
        sender->textRemove = tr("Cancel");
        break;
    case QueueFileState::Running:
        sender->showRemove = false;
        break;
    case QueueFileState::Done:
        sender->showOpenOutput = true;
        sender->showReSubmit = true;
        sender->textReSubmit = tr("Submit with another preset");
        sender->textRemove = tr("Remove from list");
        break;
    case QueueFileState::Error:
    case QueueFileState::Canceled:
        sender->showReSubmit = file->getState() == QueueFileState::Canceled || file->retryable();
        sender->textReSubmit = tr("Submit again");
        sender->textRemove = tr("Remove from list");
        break;
    default:
        qDebug() << "on_queueFileContextMenuShow: Unmanaged state";
        return;
    }
    show = true;
}

void MainWindow::on_queueFileContextMenuClicked(QueueFileWidget*, int fileID, QString mnuName)
{
    qDebug() << "clicked: " << mnuName;
    QueueFile* file = queueManager->findFile(fileID);
    if (!file)
        return;
    if (mnuName == QLatin1String("mnuRemove")) {
        removeFromQueue(queueWidgets->find(fileID), fileID);
    } else if (mnuName == QLatin1String("mnuOpenOutput")) {
        QString path = text(file->destFile);
        if (path.isEmpty() && !file->outputFiles.isEmpty())
            path = text(file->outputFiles.first());
        naming::showInExplorer(path, this);
    } else if (mnuName == QLatin1String("mnuOpenInput")) {
        const QString original = text(file->originalSourceFile);
        naming::showInExplorer(original.isEmpty() ? text(file->srcFile) : original, this);
    } else if (mnuName == QLatin1String("mnuReSubmit")) {
        if (file->getState() == QueueFileState::Done)
            return;
        LocalSteps::resetForResubmit(*file);
        file->setErrorMessage(QByteArray());
        file->setState(QueueFileState::Waiting);
    } else if (mnuName == QLatin1String("mnuPauseResume")) {
        if (!queueManager->pauseFile(fileID))
            queueManager->resumeFile(fileID);
    }
}
