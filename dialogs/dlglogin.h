#pragma once

#include <QByteArray>
#include <QDialog>
#include <QPixmap>

class Account;
class QTimer;
class Settings;

namespace Ui {
class dlgLogin;
}

// Asks for the account's user name and password, hands them to the account
// and closes as accepted once the log-in went through. It never talks to
// the service itself. At start-up, before any queue driver runs, it has the
// account run the log-in rounds while it is open.
class dlgLogin : public QDialog {
    Q_OBJECT

public:
    explicit dlgLogin(QWidget* parent = nullptr);
    ~dlgLogin() override;

    // Runs a login dialog modally without parent. Accepted: the settings
    // get the user name, and the password too when "Remember login details"
    // is checked. With runRounds the account runs the log-in rounds while
    // the dialog is open (start-up, before any queue driver runs).
    static bool askForLogin(Settings* settings, Account* account, bool runRounds);

    void setContext(Settings* settings, Account* account, bool runRounds);
    bool isRememberChecked() const;
    QByteArray username() const { return m_username; }
    QByteArray password() const { return m_password; }

private slots:
    void on_btnOK_clicked();
    void on_btnCancel_clicked();
    void on_btnSettings_clicked();
    void on_chkShowPassword_stateChanged(int state);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void on_windowStatusTimer_Tick();
    // The splash at the label's size in device pixels, so that it stays
    // sharp on screens scaled above 100 %.
    void showSplash();
    // A refused log-in, told where a screen reader hears it: the password
    // field takes the focus, its text selected, with the reason as its description.
    void showRefusal(const QString& reason);

    QByteArray m_username;
    QByteArray m_password;
    Ui::dlgLogin* ui;
    QTimer* statusTimer;
    Settings* settings = nullptr;
    Account* account = nullptr;
    bool runsRounds = false;
    // Log in was pressed and the service has not answered yet.
    bool awaitingAnswer = false;
    QPixmap m_splash;
};
