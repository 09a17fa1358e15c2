#pragma once

#include "driver/frontend.h"

#include <QLabel>
#include <QMainWindow>
#include <QNetworkReply>
#include <QStringList>
#include <QSystemTrayIcon>

#include <memory>

class Account;
class FolderScanTick;
class NewFilesDialogs;
class QNetworkAccessManager;
class QTimer;
class QTreeWidgetItem;
class QueueDriver;
class QueueFile;
class QueueFileWidget;
class QueueLists;
class QueueManager;
struct Refusal;
class Settings;
class VersionCheck;
class WindowState;

namespace Ui {
class MainWindow;
}

// The client's only top-level window: the queue list, the Done and Error
// tabs, menus, tray icon, dialogs and status bar. It shows what the queue
// driver (the run of the engine) tells it, asks a person what the driver
// needs to know, and forwards every choice to the driver's commands or to
// the account; it holds no rule of the engine. It owns the driver, whose
// timers drive everything periodic. The settings, the queue manager and the
// account are main's for the whole run. Every slot and timer runs on the
// GUI thread.
class MainWindow : public QMainWindow, public FrontEnd {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Makes the queue driver on the queue manager, with this window as its front end.
    void setContext(Settings& settings, QueueManager& queueManager, Account& account);
    // Tray icon, timers and menu hooks; called once before the window is shown.
    void initialise();

    // Queues dropped files: one audio file goes through the add-file dialog,
    // several through the new-files dialog.
    bool addFiles(const QList<QUrl>& urls);
    // Opens the add-file dialog and queues the accepted file with default
    // options. With an empty `src` a file browser comes first, in which
    // several files may be chosen: these go on as a drop of them does.
    bool addFileWithDialog(const QString& src, const QString& dest);
    void updateTabTitles(bool reset);
    void showErrorTabCount();
    void setTabTitle(int index, const QString& title);
    // Asks for `path` to be deleted once nothing needs it; any thread.
    void addDeleteRequest(const QString& path);
    // Re-checks ffmpeg in `ffmpegFolder` and switches video support on or off.
    void updateVideoTool(const QString& ffmpegFolder);
    // The watched-folder scanner; exists once initialised.
    FolderScanTick* folderScanTick() const;
    // The new-files dialogs of the watched folders.
    NewFilesDialogs& newFilesDialogs() const { return *newFiles; }
    // The run of the engine; exists once the context is set.
    QueueDriver& queueDriver() const { return *driver; }

    // The driver's front end.
    void filesQueued(const QStringList& sources) override;
    void filesRefused(const QList<Refusal>& refusals) override;
    void filesReady(ReadyFiles kind, int processed, int errors) override;
    NewFilesOffer* newFilesOffer() override;
    bool chooseVideoSounds(QList<FileRequest>& sounds, const QStringList& videos) override;
    void showVideo(const videoFile& record) override;
    void showMp3Job(audioEncoderParent* encoder) override;
    // The "Audio encoder" tab shows how each job ended.
    void mp3Ended(const mp3Encoder&) override {}
    // A person submits files again.
    bool retriesErrors() const override { return false; }
    bool keepsFinishedFiles() const override { return true; }
    void showQueue(const QList<QueueFile*>& files) override;
    void fileChanged(const QueueFile& file, int previousState) override;
    void fileUploaded(const QueueFile&, int) override {}
    // The file's line and the status bar say these.
    void fileRetrying(const QueueFile&, const QString&, int) override {}
    void loginPaused(int) override {}
    void showCounts(quint32 done, quint32 errors) override;
    void showBatch(const BatchFigures& figures) override;

signals:
    // Every tray notification also goes out here, so it can be observed
    // where no system tray exists.
    void trayMessageShown(const QString& title, const QString& message);

protected:
    void closeEvent(QCloseEvent* event) override;
    // At the first start (no remembered geometry) the window grows to show
    // several queued files at once.
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private slots:
    void tmr_StartVersionCheck();
    void onDownloadCompleted(QNetworkReply* reply);
    void tmr_ShowWelcome();
    void tmr_windowStatus_Tick();
    void on_videoTree_itemDoubleClicked(QTreeWidgetItem* item, int column);
    void on_btnAddSingleFile_clicked();
    void on_actionQuit_triggered();
    void on_actionAdd_file_to_queue_triggered();
    void on_actionClear_done_error_triggered();
    void on_actionLog_in_triggered();
    void on_actionLog_out_triggered();
    void on_actionResubmit_files_with_errors_triggered();
    void on_actionSetup_triggered();
    void on_actionAbout_triggered();
    void on_actionMP3_Encoder_triggered();
    void on_actionLoudness_normalizer_triggered();

private:
    // Shows a tool window no larger than the screen's free area.
    void showToolWindow(QWidget* window);
    // A tray message, information icon, for 10 s; where there is no tray, a
    // desktop notice. Clicking it shows the window on `tab` (none: -1).
    void notify(const QString& title, const QString& message, int tab = -1);
    void showOnTab(int tab);
    void followAccount();
    void installShortcuts();
    void restoreState();
    void saveState() const;
    // "Submit with another preset" on a Done file: the add-file dialog for
    // its source, queued with the preset chosen there.
    void submitWithAnotherPreset(const QueueFile& file);
    // Asks before a file leaves the queue or the lists.
    bool confirmRemoval(const QueueFile& file);
    // Asks first; a file being processed stops and goes to Error.
    void cancelProcessing(const QueueFile& file);
    void showRefusal(const Refusal& refusal);
    // The add-file dialog on `request`; accepted, the request takes the
    // dialog's source, destination and preset.
    // `shownSource` names a video whose sound the request's source is.
    bool chooseFile(FileRequest& request, const QString& shownSource = QString());
    // Files are queued with a preset: false, after saying so, while the
    // service's presets have not been loaded.
    bool presetsLoaded();
    void on_trayicon_activated(QSystemTrayIcon::ActivationReason reason);
    void on_queueFileClick(int fileID, int buttonN, bool doubleClick);
    void on_queueFileContextMenuShow(QueueFileWidget* sender, int fileID, bool& show);
    void on_queueFileContextMenuClicked(QueueFileWidget* sender, int fileID, QString mnuName);
    void on_queueFileMoveRequested(int fileID, int places);

    // Panels for the files, created within a time budget per run.
    void showPanels(const QList<QueueFile*>& files);
    QueueFileWidget* createWidget(QueueFile& file);
    void refreshWidget(QueueFileWidget& widget, QueueFile& file, int state);
    void showWaitingOrRunning(QueueFileWidget& widget, QueueFile& file);
    void showDone(QueueFileWidget& widget, QueueFile& file);
    void showError(QueueFileWidget& widget, QueueFile& file);
    void removeFromQueue(QueueFileWidget* widget, int fileID);

    bool quitChosen = false;
    bool growAtFirstShow = false;
    // A queue tick that ran out of time for new panels has posted the next.
    bool panelTickPosted = false;
    // Used only by the version check.
    QNetworkAccessManager* networkManager = nullptr;
    Ui::MainWindow* ui = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    // The batch at a glance, on the right of the status bar.
    QLabel* batchLabel = nullptr;
    // The tab the last notice's click shows.
    int noticeTab = -1;
    std::unique_ptr<QueueLists> queueWidgets;
    Settings* settings = nullptr;
    Account* account = nullptr;
    QTimer* statusTimer = nullptr;
    // The files done since the last notice, shown in the Done tab's title.
    quint32 doneCount = 0;
    std::unique_ptr<NewFilesDialogs> newFiles;
    std::unique_ptr<QueueDriver> driver;
    std::unique_ptr<VersionCheck> versionCheck;
    std::unique_ptr<WindowState> state;
};
