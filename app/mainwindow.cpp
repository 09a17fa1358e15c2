#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/newfilesdialogs.h"
#include "app/queuefilewidget.h"
#include "app/queuelists.h"
#include "app/severalfilesdrop.h"
#include "app/versioncheck.h"
#include "app/videorows.h"
#include "app/welcomewizard.h"
#include "app/windowstate.h"
#include "dialogs/dlgaddfile.h"
#include "dialogs/dlgencoder.h"
#include "dialogs/dlglogin.h"
#include "dialogs/dlgloudness.h"
#include "dialogs/dlgsetupwindow.h"
#include "dialogs/quitcheck.h"
#include "driver/account.h"
#include "driver/batchfigures.h"
#include "driver/destinationcheck.h"
#include "driver/fileactions.h"
#include "driver/folderscantick.h"
#include "driver/queuecommands.h"
#include "driver/queuedriver.h"
#include "driver/resultencoding.h"
#include "driver/shownnames.h"
#include "driver/videotasks.h"
#include "pipeline/queuefile.h"
#include "settings/folderwatcher.h"
#include "settings/naming.h"
#include "settings/platform.h"
#include "settings/settings.h"
#include "video/videosupport.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScreen>
#include <QMessageBox>
#include <QMimeData>
#include <QNetworkAccessManager>
#include <QTabBar>
#include <QTimer>

namespace {

// Panels of newly queued files are created for at most this long per
// showing of the queue; the rest follow in further runs posted at once, so that a
// watched folder that queues hundreds of files never freezes the window.
// A run always creates the first few, so that a handful of new files shows
// in one tick however slow the machine. While such a run is posted, the
// driver's ticks leave the panels to it, so that two batches never follow
// each other without the event loop in between.
constexpr qint64 kNewPanelsBudgetMs = 10;
constexpr int kNewPanelsAlways = 8;
// The first start shows room for this many queued files' panels above the
// tabs (fewer where the screen is smaller).
constexpr int kPanelsAtFirstStart = 4;
constexpr int kFirstStartWidth = 900;

QString text(const QByteArray& utf8)
{
    return QString::fromUtf8(utf8);
}

int stateOf(const QueueFile& file)
{
    return static_cast<int>(file.getState());
}

// A panel's bar: empty while the file waits, the share of its upload, job
// or download at the service, full once done; busy in the local steps and
// wherever the service tells no share; none for a failed, cancelled or
// paused file.
int barValueOf(const QueueFile& file)
{
    switch (file.getState()) {
    case QueueFileState::Waiting: return 0;
    case QueueFileState::Running: {
        const int percent = file.progress().percent;
        return percent < 0 ? QueueFileWidget::kBarBusy : percent;
    }
    case QueueFileState::PreProcessing:
    case QueueFileState::PostProcessing: return QueueFileWidget::kBarBusy;
    case QueueFileState::Done: return 100;
    default: return QueueFileWidget::kBarHidden;
    }
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), state(std::make_unique<WindowState>())
{
    ui->setupUi(this);
    // Developer aids of the form; not part of the product.
    ui->btnTest1->hide();
    ui->btnTest2->hide();
    ui->btnAddFile_Test->hide();
    ui->btnTestWizard->hide();
    queueWidgets = std::make_unique<QueueLists>(ui->verticalLayout, ui->verticalLayoutDone, ui->verticalLayoutError,
                                                [this] { showErrorTabCount(); });
    // The driver owns the finished files' MP3 jobs; the tab only shows them.
    ui->encoderList->setOwnsEncoders(false);
    installShortcuts();
    // The tabs themselves carry the tab widget's name for screen readers.
    ui->tabWidget->tabBar()->setAccessibleName(ui->tabWidget->accessibleName());
}

void MainWindow::installShortcuts()
{
    // The platform's standard keys, with the common ones where it has none.
    auto standard = [](QAction* action, QKeySequence::StandardKey key, const QKeySequence& fallback) {
        const QList<QKeySequence> keys = QKeySequence::keyBindings(key);
        action->setShortcuts(keys.isEmpty() ? QList<QKeySequence>{fallback} : keys);
    };
    standard(ui->actionAdd_file_to_queue, QKeySequence::Open, QKeySequence(Qt::CTRL | Qt::Key_O));
    standard(ui->actionSetup, QKeySequence::Preferences, QKeySequence(Qt::CTRL | Qt::Key_Comma));
    standard(ui->actionQuit, QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void MainWindow::restoreState()
{
    state->load(WindowState::defaultPath());
    growAtFirstShow = state->geometry.isEmpty() || !restoreGeometry(state->geometry);
    if (state->tab >= 0 && state->tab < ui->tabWidget->count())
        ui->tabWidget->setCurrentIndex(state->tab);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!growAtFirstShow)
        return;
    growAtFirstShow = false;
    // The layout is in place now: the queue list grows to the room it needs.
    const int spacing = std::max(0, ui->verticalLayout->spacing());
    const int needed = kPanelsAtFirstStart * (QueueFileWidget::kFullHeight + spacing);
    QSize size(std::max(width(), kFirstStartWidth), height() + std::max(0, needed - ui->scrollArea->viewport()->height()));
    if (const QScreen* shown = screen())
        size = size.boundedTo(shown->availableGeometry().size());
    resize(size);
}

void MainWindow::saveState() const
{
    state->geometry = saveGeometry();
    state->tab = ui->tabWidget->currentIndex();
    if (!state->save(WindowState::defaultPath()))
        qWarning() << "The window's state could not be written to" << WindowState::defaultPath();
}

MainWindow::~MainWindow()
{
    // Saves queue.xml and settings.xml, then ends the engine.
    driver.reset();
    if (settings)
        saveState();
    if (trayIcon)
        trayIcon->hide();
    qDebug() << "delete ui ";
    delete ui;
    ui = nullptr;
}

void MainWindow::setContext(Settings& settingsObject, QueueManager& queueManager, Account& accountObject)
{
    settings = &settingsObject;
    account = &accountObject;
    newFiles = std::make_unique<NewFilesDialogs>(settings, this);
    driver = std::make_unique<QueueDriver>(*settings, queueManager, *this);
}

void MainWindow::initialise()
{
    statusBar()->showMessage(tr("Initializing"));
    restoreState();

    trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/images/icon.png")), this);
    trayIcon->setVisible(true);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::on_trayicon_activated);
    connect(trayIcon, &QSystemTrayIcon::messageClicked, this, [this] { showOnTab(noticeTab); });
    batchLabel = new QLabel(BatchFigures().text(), this);
    batchLabel->setObjectName(QStringLiteral("lblBatch"));
    // Screen readers read a label's text as its name, and hear it change
    // (a name of its own would hide the text); what it is goes in the description.
    batchLabel->setAccessibleDescription(tr("Batch progress"));
    statusBar()->addPermanentWidget(batchLabel);

    setAcceptDrops(true);

    driver->start();
    driver->startTimers();
    statusTimer = new QTimer(this);
    connect(statusTimer, &QTimer::timeout, this, &MainWindow::tmr_windowStatus_Tick);
    statusTimer->start(1000);

    QTimer::singleShot(500, this, &MainWindow::tmr_ShowWelcome);
    QTimer::singleShot(500, this, &MainWindow::tmr_StartVersionCheck);

    connect(ui->menuAccount, &QMenu::aboutToShow, this, &MainWindow::followAccount);
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
    showWelcomeWizardIfFirstStart(this, *settings, *account);
}

FolderScanTick* MainWindow::folderScanTick() const
{
    return driver->folderScanner();
}

void MainWindow::on_videoTree_itemDoubleClicked(QTreeWidgetItem* item, int column)
{
    const int id = videorows::recordIdOf(*item);
    if (const videoFile* record = driver->videoQueue().findById(id)) {
        const bool lastColumn = column == ui->videoTree->columnCount() - 1;
        naming::showInExplorer(lastColumn ? record->outputVideo : record->sourceVideo, ui->videoTree);
    }
    qDebug() << "Clicked; " << id;
}

void MainWindow::updateVideoTool(const QString& ffmpegFolder)
{
    driver->videoTasks().updateVideoTool(ffmpegFolder);
}

// ---- status bar and account ------------------------------------------------

void MainWindow::tmr_windowStatus_Tick()
{
    statusBar()->showMessage(account->statusLine());
}

void MainWindow::followAccount()
{
    const bool loggedIn = account->loggedIn();
    ui->actionLog_in->setEnabled(!loggedIn);
    ui->actionLog_out->setEnabled(loggedIn);
}

void MainWindow::on_actionLog_in_triggered()
{
    if (!account->canLogIn())
        return;
    account->enableLogIn();
    dlgLogin::askForLogin(settings, account, false);
}

void MainWindow::on_actionLog_out_triggered()
{
    if (account->canLogOut())
        account->logOut();
}

// ---- tray and closing --------------------------------------------------------

void MainWindow::on_trayicon_activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick)
        return;
    qDebug() << "double click";
    showNormal();
}

void MainWindow::notify(const QString& title, const QString& message, int tab)
{
    noticeTab = tab;
    if (trayIcon && QSystemTrayIcon::isSystemTrayAvailable())
        trayIcon->showMessage(title, message, QSystemTrayIcon::Information, 10000);
    else
        platform::showDesktopNotice(title, message.trimmed(), [this, tab] { showOnTab(tab); });
    emit trayMessageShown(title, message);
}

void MainWindow::showOnTab(int tab)
{
    showNormal();
    raise();
    activateWindow();
    if (tab >= 0)
        ui->tabWidget->setCurrentIndex(tab);
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
    dialog.setWatchWarning([this](const QString& folder) { return folderScanTick()->watcher().warning(folder); });
    dialog.setContext(settings, account->presets(), account);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.applyTo(*settings);
    driver->applySetup();
    dialog.applyCredentials(*account);
}

void MainWindow::on_actionAbout_triggered()
{
    QMessageBox::about(this, tr("About"),
                       tr("Sonvira desktop client \n\nVersion: ") + text(settings->versionText)
                           + tr("\n\nCopyright (C) 2026 Sonvira. All rights reserved.\n\n"
                                "Developed by the Sonvira desktop team."));
}

// ---- the queue tick ------------------------------------------------------------

void MainWindow::showQueue(const QList<QueueFile*>& files)
{
    showPanels(files);
}

void MainWindow::showPanels(const QList<QueueFile*>& files)
{
    bool panelsMissing = false;
    int panelsCreated = 0;
    QElapsedTimer creatingPanels;
    creatingPanels.start();
    for (QueueFile* file : files) {
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
        refreshWidget(*widget, *file, stateOf(*file));
    }
    queueWidgets->followQueueOrder(files);
    if (panelsMissing && !panelTickPosted) {
        panelTickPosted = true;
        QTimer::singleShot(0, this, [this] {
            panelTickPosted = false;
            showPanels(driver->commands().files());
        });
    }
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
    widget->setSourceText(shownnames::source(file, &driver->videoQueue()));
    widget->setDestinationText(shownnames::destination(file));
    queueWidgets->add(widget);
    return widget;
}

void MainWindow::refreshWidget(QueueFileWidget& widget, QueueFile& file, int state)
{
    widget.followRecord(file.stateName(), file.details(), file.errorMessage());
    widget.setBarValue(barValueOf(file));
    if (state == widget.lastState())
        return;
    widget.setLastState(state);
    const FileActions actions = fileActions(QueueFileState(state), file.retryable());
    widget.setQueueControlsEnabled(actions.steer);
    widget.setRemoveEnabled(actions.cancel);
    switch (QueueFileState(state)) {
    case QueueFileState::Waiting:
    case QueueFileState::Running:
    // A file submitted again may reach a local step before a tick saw it wait.
    case QueueFileState::PreProcessing:
    case QueueFileState::PostProcessing:
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
    widget.setSourceText(shownnames::source(file, &driver->videoQueue()));
    widget.setDestinationText(shownnames::destination(file));
}

void MainWindow::showDone(QueueFileWidget& widget, QueueFile& file)
{
    widget.setDestinationText(shownnames::destination(file));
    QStringList outputs;
    for (const QByteArray& output : std::as_const(file.outputFiles))
        outputs << text(output);
    widget.setOutputs(outputs);
    widget.setStatusColour(QStringLiteral("black"));
    widget.showCompact(false, outputs.size() > 1);
    widget.setBackground(false, 210, 240, 210);
    queueWidgets->place(&widget, QueueLists::List::Done);
}

void MainWindow::showError(QueueFileWidget& widget, QueueFile& file)
{
    // Dark enough to read on the light status chip.
    widget.setStatusColour(QStringLiteral("darkred"));
    widget.showCompact(true, false);
    widget.setBackground(false, 240, 210, 210);
    widget.setErrorText(text(file.errorMessage()));
    queueWidgets->place(&widget, QueueLists::List::Error);
}

void MainWindow::showBatch(const BatchFigures& figures)
{
    batchLabel->setText(figures.text());
    platform::TaskbarProgress progress;
    progress.visible = figures.running;
    progress.percent = figures.percent;
    progress.waiting = figures.waiting;
    progress.error = figures.errors > 0;
    platform::showTaskbarProgress(winId(), progress);
}

// The Error tab counts the files it shows, not the errors since the last
// notice: a file submitted again, deleted or cleared leaves it.
void MainWindow::showCounts(quint32 done, quint32)
{
    doneCount = done;
    updateTabTitles(false);
}

void MainWindow::updateTabTitles(bool reset)
{
    const bool showDone = !reset && doneCount != 0;
    setTabTitle(0, showDone ? tr("Done (%1)").arg(doneCount) : tr("Done"));
    showErrorTabCount();
}

void MainWindow::showErrorTabCount()
{
    const int errors = queueWidgets->count(QueueLists::List::Error);
    setTabTitle(1, errors != 0 ? tr("Error (%1)").arg(errors) : tr("Error"));
}

// QTabBar::setTabText does not tell screen readers, which keep reading the
// tab's old name ("Done (2)" after the third file) until they are told.
void MainWindow::setTabTitle(int index, const QString& title)
{
    if (ui->tabWidget->tabText(index) == title)
        return;
    ui->tabWidget->setTabText(index, title);
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(ui->tabWidget->tabBar());
    if (QAccessibleInterface* tab = tabs ? tabs->child(index) : nullptr) {
        QAccessibleEvent event(tab, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

// ---- deletion requests -----------------------------------------------------

void MainWindow::addDeleteRequest(const QString& path)
{
    driver->addDeleteRequest(path);
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
    if (!presetsLoaded())
        return false;
    if (src.isEmpty()) {
        const QStringList chosen = dlgAddFile::chooseSources(this, state->addFolder);
        if (chosen.isEmpty())
            return false;
        state->addFolder = QFileInfo(chosen.first()).absolutePath();
        QList<QUrl> urls;
        for (const QString& path : chosen)
            urls << QUrl::fromLocalFile(path);
        return addFiles(urls);
    }
    FileRequest request{src, dest, QString::fromUtf8(account->lastPreset()), ProcessingOptions()};
    if (!chooseFile(request))
        return false;
    const std::optional<Refusal> refusal = driver->commands().queueFile(request);
    if (refusal)
        showRefusal(*refusal);
    return !refusal;
}

bool MainWindow::chooseFile(FileRequest& request, const QString& shownSource)
{
    dlgAddFile dialog(this);
    dialog.setModal(true);
    dialog.setContext(request.source, request.destination, account->presets(), request.preset.toUtf8());
    if (!shownSource.isEmpty())
        dialog.showSourceAs(shownSource);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    request.source = dialog.source();
    request.destination = dialog.destination();
    request.preset = dialog.preset();
    return true;
}

void MainWindow::showRefusal(const Refusal& refusal)
{
    // A destination that cannot be written is named; otherwise the source is.
    const QString named = refusal.reason == Refusal::Reason::Destination ? refusal.destination : refusal.source;
    QMessageBox::critical(this, tr("Error adding files"), named + QStringLiteral("\n") + text(refusal.text));
}

bool MainWindow::presetsLoaded()
{
    if (!account->presets().isEmpty())
        return true;
    QMessageBox::information(this, tr("Add file"), tr("No presets are loaded yet: log in first."));
    return false;
}

bool MainWindow::addFiles(const QList<QUrl>& dropped)
{
    if (!presetsLoaded())
        return false;
    // Videos go to the video queue, or nowhere while video support is off.
    const QList<QUrl> urls = driver->videoTasks().takeVideos(dropped);
    if (urls.isEmpty() && !dropped.isEmpty())
        return driver->videoTasks().videoEnabled();
    if (urls.size() > 1)
        return addSeveralAudioFiles(this, *account, driver->commands(), urls);
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
    return addFileWithDialog(source, QueueCommands::proposedDestination(source, sourceInfo.completeSuffix()));
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
        addFiles(urls);
        for (const QUrl& url : urls) {
            if (!driver->videoTasks().videoEnabled() || !videoSupport::isVideoFile(url.toLocalFile()))
                qDebug() << "Dropped file:" << url.toLocalFile();
        }
    });
}

// ---- queue menu -------------------------------------------------------------------

void MainWindow::removeFromQueue(QueueFileWidget* widget, int fileID)
{
    if (widget)
        queueWidgets->drop(widget);
    driver->commands().remove(fileID);
}

void MainWindow::on_actionClear_done_error_triggered()
{
    const auto answer = QMessageBox::question(
        this, tr("Clear done/error"),
        tr("Take every done and failed file out of the lists? Their files on disk stay."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    for (const int fileID : driver->commands().clearFinished()) {
        if (QueueFileWidget* widget = queueWidgets->find(fileID))
            queueWidgets->drop(widget);
    }
    updateTabTitles(true);
    EncoderListView* list = ui->encoderList;
    driver->mp3Jobs().clearFinished([list](const audioEncoderParent* encoder) { list->removeEncoder(encoder); });
}

void MainWindow::on_actionResubmit_files_with_errors_triggered()
{
    driver->commands().resubmitFailed();
}

// ---- tools menu ---------------------------------------------------------------------

void MainWindow::on_actionMP3_Encoder_triggered()
{
    auto* window = new dlgEncoder(this);
    window->setBitRate(text(settings->defaultMp3BitRate));
    showToolWindow(window);
}

void MainWindow::on_actionLoudness_normalizer_triggered()
{
    auto* window = new dlgLoudness(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    showToolWindow(window);
}

// A form's size may not fit a small screen, or one at 200 %: the window then
// opens at the screen's size, its layout squeezing the lists and the plot.
void MainWindow::showToolWindow(QWidget* window)
{
    if (const QScreen* shown = screen())
        window->resize(window->size().boundedTo(shown->availableGeometry().size()));
    window->show();
}

// ---- per-file clicks and context menu -------------------------------------------

void MainWindow::on_queueFileClick(int fileID, int buttonN, bool doubleClick)
{
    if (buttonN != 1 || !doubleClick)
        return;
    const QueueFile* file = driver->commands().file(fileID);
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
    QueueCommands& commands = driver->commands();
    if (places < 0 ? commands.moveUp(fileID) : commands.moveDown(fileID))
        queueWidgets->followQueueOrder(commands.files());
}

void MainWindow::on_queueFileContextMenuShow(QueueFileWidget* sender, int fileID, bool& show)
{
    const QueueFile* file = driver->commands().file(fileID);
    const FileActions actions = file ? driver->commands().actionsFor(*file) : FileActions();
    show = actions.any();
    sender->showOpenInput = actions.openInput;
    sender->showOpenOutput = actions.openOutput;
    sender->showPauseResume = actions.pause || actions.resume;
    sender->textPauseResume = actions.pause ? tr("Pause") : tr("Resume");
    sender->showReSubmit = actions.resubmit;
    sender->textReSubmit = actions.openOutput ? tr("Submit with another preset") : tr("Submit again");
    sender->showRemove = actions.remove || actions.cancel;
    sender->textRemove = actions.steer || actions.cancel ? tr("Cancel") : tr("Remove from list");
}

void MainWindow::on_queueFileContextMenuClicked(QueueFileWidget*, int fileID, QString mnuName)
{
    qDebug() << "clicked: " << mnuName;
    const QueueFile* file = driver->commands().file(fileID);
    if (!file)
        return;
    if (mnuName == QLatin1String("mnuRemove") && driver->commands().actionsFor(*file).cancel) {
        cancelProcessing(*file);
    } else if (mnuName == QLatin1String("mnuRemove") && confirmRemoval(*file)) {
        removeFromQueue(queueWidgets->find(fileID), fileID);
    } else if (mnuName == QLatin1String("mnuOpenOutput")) {
        QString path = text(file->destFile);
        if (path.isEmpty() && !file->outputFiles.isEmpty())
            path = text(file->outputFiles.first());
        naming::showInExplorer(path, this);
    } else if (mnuName == QLatin1String("mnuOpenInput")) {
        const QString original = text(file->originalSourceFile);
        naming::showInExplorer(original.isEmpty() ? text(file->srcFile) : original, this);
    } else if (mnuName == QLatin1String("mnuReSubmit") && file->getState() == QueueFileState::Done) {
        submitWithAnotherPreset(*file);
    } else if (mnuName == QLatin1String("mnuReSubmit")) {
        driver->commands().resubmit(fileID);
    } else if (mnuName == QLatin1String("mnuPauseResume")) {
        driver->commands().togglePause(fileID);
    }
}

bool MainWindow::confirmRemoval(const QueueFile& file)
{
    const QString name = QFileInfo(text(file.srcFile)).fileName();
    const bool waiting = driver->commands().actionsFor(file).steer;
    const QString question = waiting ? tr("Cancel %1? It leaves the queue before it is processed.").arg(name)
                                     : tr("Remove %1 from the list? Its files on disk stay.").arg(name);
    return QMessageBox::question(this, tr("Remove file"), question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No)
           == QMessageBox::Yes;
}

void MainWindow::cancelProcessing(const QueueFile& file)
{
    const int fileId = file.fileId;
    const QString name = QFileInfo(text(file.srcFile)).fileName();
    const auto answer = QMessageBox::question(
        this, tr("Cancel file"),
        tr("%1 is being processed.\n\nCancel it? Its local processing stops and the service's job is no longer "
           "followed. The file goes to the Error tab, where \"Submit again\" starts it afresh.")
            .arg(name),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes && !driver->commands().cancel(fileId))
        QMessageBox::information(this, tr("Cancel file"), tr("%1 has moved on meanwhile: it was not cancelled.").arg(name));
}

void MainWindow::submitWithAnotherPreset(const QueueFile& file)
{
    const int fileId = file.fileId;
    const QString source = driver->commands().originalSource(fileId);
    if (!presetsLoaded())
        return;
    dlgAddFile dialog(this);
    dialog.setContext(source, QueueCommands::proposedDestination(source, QFileInfo(source).completeSuffix()),
                      account->presets(),
                      file.presetName);
    dialog.focusPresetList();
    if (dialog.exec() != QDialog::Accepted)
        return;
    const std::optional<Refusal> refusal = driver->commands().submitWithAnotherPreset(
        fileId, {dialog.source(), dialog.destination(), dialog.preset(), ProcessingOptions()});
    if (refusal)
        showRefusal(*refusal);
}

// ---- the driver's front end ----------------------------------------------------

void MainWindow::filesQueued(const QStringList& sources)
{
    QString names;
    for (const QString& source : sources)
        names += QFileInfo(source).fileName() + QLatin1Char('\n');
    notify(QStringLiteral("Added to queue:"), names);
}

void MainWindow::filesRefused(const QList<Refusal>& refusals)
{
    QString errors;
    for (const Refusal& refusal : refusals)
        errors += refusalText(refusal.source, refusal.text);
    QMessageBox::critical(this, tr("Error adding files"), errors);
}

void MainWindow::filesReady(ReadyFiles kind, int processed, int errors)
{
    QString message;
    if (processed != 0)
        message += tr("\nFiles processed: ") + QString::number(processed);
    if (errors != 0)
        message += tr("\nErrors: ") + QString::number(errors);
    if (kind == ReadyFiles::Audio)
        notify(tr("Audio files ready"), message, ui->tabWidget->indexOf(ui->tabDone));
    else
        notify(QStringLiteral("Video files ready"), message, ui->tabWidget->indexOf(ui->tabExtra));
}

NewFilesOffer* MainWindow::newFilesOffer()
{
    return newFiles.get();
}

bool MainWindow::chooseVideoSounds(QList<FileRequest>& sounds, const QStringList& videos)
{
    if (!presetsLoaded())
        return false;
    if (sounds.size() == 1)
        return chooseFile(sounds.first(), videos.value(0));
    return chooseSeveralFiles(this, *account, sounds, videos);
}

void MainWindow::showVideo(const videoFile& record)
{
    videorows::show(*ui->videoTree, record);
}

void MainWindow::showMp3Job(audioEncoderParent* encoder)
{
    ui->encoderList->addEncoder(encoder);
}

void MainWindow::fileChanged(const QueueFile&, int)
{
    // The panels follow their files in the queue tick.
}
