#pragma once

#include <QByteArray>
#include <QDialog>

#include <atomic>
#include <thread>

class QTimer;
class QueueManager;
class Settings;

namespace Ui {
class dlgLogin;
}

// Asks for the account's user name and password, hands them to the queue
// manager and closes as accepted once the manager reports a logged-in
// state. It never talks to the service itself. At start-up, before any
// main-window timer runs, it drives the manager's cycle on a worker thread
// of its own; the destructor stops and joins that thread.
class dlgLogin : public QDialog {
    Q_OBJECT

public:
    explicit dlgLogin(QWidget* parent = nullptr);
    ~dlgLogin() override;

    // Runs a login dialog modally without parent. Accepted: the settings
    // get the user name, and the password too when "Remember login details"
    // is checked. With startThread the dialog drives the manager's cycle
    // itself (start-up, before any main-window timer runs).
    static bool askForLogin(Settings* settings, QueueManager* queueManager, bool startThread);

    void setContext(Settings* settings, QueueManager* queueManager, bool startThread);
    bool isRememberChecked() const;
    QByteArray username() const { return m_username; }
    QByteArray password() const { return m_password; }

private slots:
    void on_btnOK_clicked();
    void on_btnCancel_clicked();
    void on_btnSettings_clicked();
    void on_chkShowPassword_stateChanged(int state);

private:
    void on_windowStatusTimer_Tick();
    void createThread();
    void threadFunc();

    QByteArray m_username;
    QByteArray m_password;
    Ui::dlgLogin* ui;
    std::thread workerThread;
    QTimer* statusTimer;
    Settings* settings = nullptr;
    QueueManager* queueManager = nullptr;
    std::atomic<bool> stopFlag{false};
};
