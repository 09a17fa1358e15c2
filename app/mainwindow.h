#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

class QTimer;
class QueueManager;
class Settings;

namespace Ui {
class MainWindow;
}

// The client's only top-level window: the queue list, the Done and Error
// tabs, menus, tray icon and the timers that drive everything periodic.
// It holds plain pointers to the settings and the queue manager, which main
// owns for the whole run.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void setContext(Settings* settings, QueueManager* queueManager);
    // Tray icon, timers and menu hooks; called once before the window is shown.
    void initialise();

signals:
    // Every tray notification also goes out here, so it can be observed
    // where no system tray exists.
    void trayMessageShown(const QString& title, const QString& message);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_actionQuit_triggered();

private:
    void on_trayicon_activated(QSystemTrayIcon::ActivationReason reason);
    void saveSettings();

    bool quitChosen = false;
    Ui::MainWindow* ui = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    Settings* settings = nullptr;
    QueueManager* queueManager = nullptr;
    QList<QTimer*> timers;
};
