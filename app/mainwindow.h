#pragma once

#include "app/videotasks.h"

#include <QMainWindow>
#include <QMutex>
#include <QNetworkReply>
#include <QStringList>
#include <QSystemTrayIcon>

#include <memory>

class CycleRunner;
class QNetworkAccessManager;
class VersionCheck;
class FolderScanTick;
class LocalSteps;
class OutputRegistry;
class QTimer;
class QueueFile;
class QueueFileWidget;
class QueueKeeper;
class SettingsKeeper;
class QueueLists;
class QueueManager;
class Settings;
class QTreeWidgetItem;
class videoSupport;

namespace Ui {
class MainWindow;
}

// The client's only top-level window: the queue list, the Done and Error
// tabs, menus, tray icon and the timers that drive everything periodic.
// It holds plain pointers to the settings and the queue manager, which main
// owns for the whole run. Every slot and timer runs on the GUI thread; the
// queue manager's cycle runs on the window's background runner and is never
// waited for.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void setContext(Settings* settings, QueueManager* queueManager);
    // Tray icon, timers and menu hooks; called once before the window is shown.
    void initialise();

    // Queues dropped files: one audio file goes through the add-file dialog,
    // several through the new-files dialog.
    bool addFiles(const QList<QUrl>& urls, const QList<QUrl>& destUrls);
    // Opens the add-file dialog (with the source browser first when `src`
    // is empty) and queues the accepted file with default options.
    bool addFileWithDialog(const QString& src, const QString& dest);
    void updateTabTitles(bool reset);
    // Asks for `path` to be deleted once nothing needs it; any thread.
    void addDeleteRequest(const QString& path);
    // Re-checks ffmpeg in `ffmpegFolder` and switches video support on or off.
    void updateVideoTool(const QString& ffmpegFolder);
    // The watched-folder scanner; exists once initialised.
    FolderScanTick* folderScanTick() const { return folderScanner.get(); }

signals:
    // Every tray notification also goes out here, so it can be observed
    // where no system tray exists.
    void trayMessageShown(const QString& title, const QString& message);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private slots:
    void tmr_StartVersionCheck();
    void onDownloadCompleted(QNetworkReply* reply);
    void tmr_ShowWelcome();
    void tmr_windowStatus_Tick();
    void tmr_queueManager_Tick();
    void tmr_folderScanner_Tick();
    void tmr_deleteRequests_Tick();
    void tmr_videoQueue_Tick();
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
    void on_menuBar_hovered(QAction* action);
    void on_trayicon_activated(QSystemTrayIcon::ActivationReason reason);
    void on_queueFileClick(int fileID, int buttonN, bool doubleClick);
    void on_queueFileContextMenuShow(QueueFileWidget* sender, int fileID, bool& show);
    void on_queueFileContextMenuClicked(QueueFileWidget* sender, int fileID, QString mnuName);
    void on_queueFileMoveRequested(int fileID, int places);

    void startTimer(void (MainWindow::*slot)(), int interval);
    VideoTasks::SoundState soundStateOf(const QString& sound) const;
    void afterQueueCycle();
    QueueFileWidget* createWidget(QueueFile& file);
    void refreshWidget(QueueFileWidget& widget, QueueFile& file, int state);
    void showWaitingOrRunning(QueueFileWidget& widget, QueueFile& file);
    void showDone(QueueFileWidget& widget, QueueFile& file);
    void showError(QueueFileWidget& widget, QueueFile& file);
    void notifyWhenIdle(bool anyRunning);
    void removeFromQueue(QueueFileWidget* widget, int fileID);
    void showTrayMessage(const QString& title, const QString& message);
    void saveSettings();

    bool quitChosen = false;
    // A queue tick that ran out of time for new panels has posted the next.
    bool panelTickPosted = false;
    // Used only by the version check.
    QNetworkAccessManager* networkManager = nullptr;
    QMutex deleteRequestsLock;
    QStringList deleteRequests;
    Ui::MainWindow* ui = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    std::unique_ptr<QueueLists> queueWidgets;
    Settings* settings = nullptr;
    QueueManager* queueManager = nullptr;
    QList<QTimer*> timers;
    bool apiIsHttps = true;
    quint32 doneCount = 0;
    quint32 errorCount = 0;
    std::unique_ptr<OutputRegistry> outputRegistry;
    std::unique_ptr<LocalSteps> localSteps;
    std::unique_ptr<CycleRunner> queueCycle;
    // Watched-folder scans and their new-files dialogs.
    std::unique_ptr<FolderScanTick> folderScanner;
    std::unique_ptr<videoSupport> videoQueue;
    std::unique_ptr<VideoTasks> videoTasks;
    std::unique_ptr<VersionCheck> versionCheck;
    // queue.xml: the queue kept across restarts.
    std::unique_ptr<QueueKeeper> queueKeeper;
    std::unique_ptr<SettingsKeeper> settingsKeeper;
};
