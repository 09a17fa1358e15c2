#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class LoginRounds;
class QueueManager;
class Settings;

// The account towards the service, as both clients and their dialogs see
// it: log in and out, the credentials and the service's address, and the
// service status text. Writes the credentials into the settings (and so
// into the keychain or settings.xml) and hands them to the queue manager.
// Lives on the main thread; the settings and the queue manager outlive it.
class Account {
public:
    Account(Settings& settings, QueueManager& queueManager);
    ~Account();
    Account(const Account&) = delete;
    Account& operator=(const Account&) = delete;

    // The queue manager waits for log-in details ("Log in" is offered).
    bool canLogIn() const;
    // The queue manager's cycle works, so there is something to log out of.
    bool canLogOut() const;
    // The service has handed out a token.
    bool loggedIn() const;
    // The log-in went through: the manager runs, or loads the presets.
    bool logInAccepted() const;
    // The service refused the last log-in's user name or password.
    bool credentialsRefused() const;
    // The manager logs in at its next cycle with what was last given.
    void enableLogIn();
    // Credentials typed into the login dialog: the next cycle logs in with them.
    void tryCredentials(const QByteArray& user, const QByteArray& password);
    // Keeps the user name, forgets the password (in the settings too) and
    // logs out: files being uploaded or followed wait again.
    void logOut();
    // Credentials changed in the setup window: stored and tried. False when
    // they are the ones already stored.
    bool changeCredentials(const QByteArray& user, const QByteArray& password);

    // The service's presets, empty until they are loaded; the one to propose.
    QList<QByteArray> presets() const;
    QByteArray lastPreset() const;

    QByteArray apiUrl() const;
    void setApiUrl(const QByteArray& url);

    // "Waiting For Login Info" and the like, or why the work cannot go on:
    // the failed log-in's message, "Logged out" after a log-out, a notice
    // of the service.
    QString statusText() const;
    // The status text with " - Credit: <credit>" over https.
    QString statusLine() const;

    // The manager's cycle in rounds on a thread of the account's, while no
    // queue driver runs it (the login dialog at start-up).
    void startLoginRounds();
    void stopLoginRounds();

private:
    Settings& m_settings;
    QueueManager& m_queueManager;
    std::unique_ptr<LoginRounds> m_loginRounds;
};
