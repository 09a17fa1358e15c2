#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class Account;

// Logs the account's service status text each time it changes ("Service:
// Running", "Service: Can't log in: ..."), the text the desktop client's
// status bar shows; looked at once a second. The first refusal of the
// stored log-in details is also a warning, with what to do.
class ServiceStatusLog : public QObject {
    Q_OBJECT

public:
    explicit ServiceStatusLog(const Account& account);

private:
    void check();

    const Account& m_account;
    QTimer m_timer;
    QString m_last;
    bool m_warnedRefusal = false;
};
